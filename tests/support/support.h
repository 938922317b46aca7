// Small helpers shared by the tests: scratch directories, whole-file reads
// and writes, environment variables. Portable to the Windows test builds.
#ifndef TESTS_SUPPORT_SUPPORT_H
#define TESTS_SUPPORT_SUPPORT_H

#include <filesystem>
#include <string>

#include "platform.h"

namespace test {

// Closes an HFILE at the end of a test, whatever the test asserted.
struct File {
    HFILE h;
    explicit File(HFILE handle) : h(handle) {}
    ~File()
    {
        if (h != HFILE_ERROR)
            _lclose(h);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
};

// A fresh, empty directory removed with everything in it when it goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // The directory as the services take it: native form with a trailing separator.
    std::string withSeparator() const;

private:
    std::filesystem::path path_;
};

std::string ReadBytes(const std::filesystem::path &file);
void WriteBytes(const std::filesystem::path &file, const std::string &bytes);

// Sets (or with value == nullptr, removes) an environment variable.
void SetEnv(const char *name, const char *value);

// Sets a variable for the life of the object, then restores the old value.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_;
};

} // namespace test

#endif
