// Files as the vendor tool uses them: whole regular input files read in
// order or at a position, and an output that appears complete or not at all.
// Paths are the byte strings given on the command line (the ANSI code page
// on Windows), passed to the system unchanged.
#ifndef TOOLS_CARRIER_FILES_H
#define TOOLS_CARRIER_FILES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace carrier_tool {

// A failure the tool reports as "carrier: <message>" and exits with code.
struct ToolError : std::runtime_error {
    ToolError(const std::string &message, int exitCode) : std::runtime_error(message), code(exitCode) {}
    int code;
};

enum ExitCode { kExitOk = 0, kExitProblems = 1, kExitFailure = 2 };

// True for the characters that end a directory part of a path here.
bool IsPathSeparator(char c);

// A regular file opened for reading.
class InputFile {
public:
    explicit InputFile(const std::string &path);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    const std::string &path() const { return path_; }
    std::uint64_t size() const { return size_; }
    // Reads exactly n bytes at position; throws when they can't be had.
    void ReadAt(std::uint64_t position, void *buffer, std::size_t n);
    // Reads up to n bytes from the current position; 0 at the end.
    std::size_t ReadSome(void *buffer, std::size_t n);

private:
    std::string path_;
    std::FILE *file_ = nullptr;
    std::uint64_t size_ = 0;
};

// An output written to a fresh temporary file beside the target and renamed
// over it by Commit. Until then the target is untouched; destroyed without
// Commit, the temporary file is removed.
class AtomicOutput {
public:
    explicit AtomicOutput(const std::string &target);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    void Write(const void *data, std::size_t n);
    void Commit();

private:
    void Discard();

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
};

} // namespace carrier_tool

#endif
