// The tool's file access: the one part of the tool that differs between
// POSIX systems and Windows.
#include "files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace carrier_tool {

namespace {

std::string SystemMessage(int error) { return std::strerror(error); }

#ifdef _WIN32
typedef struct _stat64 StatBuffer;
int StatOpenFile(int fd, StatBuffer *buffer) { return _fstat64(fd, buffer); }
int SeekFile(std::FILE *file, std::uint64_t position) { return _fseeki64(file, (__int64)position, SEEK_SET); }
int OpenExclusive(const std::string &path)
{
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const void *data, std::size_t n)
{
    unsigned chunk = n > 0x40000000 ? 0x40000000u : (unsigned)n;
    return _write(fd, data, chunk);
}
int FlushToDisk(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
int ProcessId() { return _getpid(); }
// rename() on Windows refuses an existing target; this replaces it.
bool ReplaceFile(const std::string &from, const std::string &to, int *error)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}
void FlushDirectoryOf(const std::string &) {}
#else
typedef struct stat StatBuffer;
int StatOpenFile(int fd, StatBuffer *buffer) { return fstat(fd, buffer); }
int SeekFile(std::FILE *file, std::uint64_t position) { return fseeko(file, (off_t)position, SEEK_SET); }
// A carrier is a program: it gets the execute bits, less the umask.
int OpenExclusive(const std::string &path)
{
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
}
long WriteSome(int fd, const void *data, std::size_t n) { return (long)write(fd, data, n); }
int FlushToDisk(int fd) { return fsync(fd); }
int CloseFile(int fd) { return close(fd); }
int ProcessId() { return (int)getpid(); }
bool ReplaceFile(const std::string &from, const std::string &to, int *error)
{
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return true;
    *error = errno;
    return false;
}
// Makes the rename itself durable; a failure here loses nothing already done.
void FlushDirectoryOf(const std::string &path)
{
    std::string directory = ".";
    std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos)
        directory = slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(directory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}
#endif

} // namespace

bool IsPathSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

InputFile::InputFile(const std::string &path) : path_(path)
{
    StatBuffer status;

    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
        throw ToolError(path + ": cannot open: " + SystemMessage(errno), kExitFailure);
    if (StatOpenFile(fileno(file_), &status) != 0) {
        int error = errno;
        std::fclose(file_);
        throw ToolError(path + ": cannot read: " + SystemMessage(error), kExitFailure);
    }
    if ((status.st_mode & S_IFMT) != S_IFREG) {
        std::fclose(file_);
        throw ToolError(path + ": not a regular file", kExitFailure);
    }
    size_ = (std::uint64_t)status.st_size;
}

InputFile::~InputFile() { std::fclose(file_); }

void InputFile::ReadAt(std::uint64_t position, void *buffer, std::size_t n)
{
    if (SeekFile(file_, position) != 0)
        throw ToolError(path_ + ": cannot read: " + SystemMessage(errno), kExitFailure);
    if (std::fread(buffer, 1, n, file_) != n) {
        if (std::ferror(file_))
            throw ToolError(path_ + ": cannot read: " + SystemMessage(errno), kExitFailure);
        throw ToolError(path_ + ": file became shorter while being read", kExitFailure);
    }
}

std::size_t InputFile::ReadSome(void *buffer, std::size_t n)
{
    std::size_t got = std::fread(buffer, 1, n, file_);
    if (got < n && std::ferror(file_))
        throw ToolError(path_ + ": cannot read: " + SystemMessage(errno), kExitFailure);
    return got;
}

AtomicOutput::AtomicOutput(const std::string &target) : target_(target)
{
    int error = 0;

    // The temporary file sits beside the target so that the final rename
    // stays within one file system.
    for (int attempt = 0; attempt < 100 && fd_ < 0; attempt++) {
        temporary_ = target + ".tmp-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt);
        fd_ = OpenExclusive(temporary_);
        error = errno;
        if (fd_ < 0 && error != EEXIST)
            break;
    }
    if (fd_ < 0)
        throw ToolError(target + ": cannot create " + temporary_ + ": " + SystemMessage(error),
                        kExitFailure);
}

AtomicOutput::~AtomicOutput() { Discard(); }

void AtomicOutput::Write(const void *data, std::size_t n)
{
    const char *bytes = static_cast<const char *>(data);

    while (n > 0) {
        long written = WriteSome(fd_, bytes, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw ToolError(target_ + ": cannot write " + temporary_ + ": " +
                                SystemMessage(written < 0 ? errno : ENOSPC),
                            kExitFailure);
        bytes += written;
        n -= (std::size_t)written;
    }
}

void AtomicOutput::Commit()
{
    int error = 0;

    if (FlushToDisk(fd_) != 0)
        error = errno;
    if (CloseFile(fd_) != 0 && error == 0)
        error = errno;
    fd_ = -1;
    if (error != 0) {
        ToolError failure(target_ + ": cannot write " + temporary_ + ": " + SystemMessage(error),
                          kExitFailure);
        Discard();
        throw failure;
    }
    if (!ReplaceFile(temporary_, target_, &error)) {
        ToolError failure(target_ + ": cannot replace it with " + temporary_ + ": " +
                              SystemMessage(error),
                          kExitFailure);
        Discard();
        throw failure;
    }
    temporary_.clear();
    FlushDirectoryOf(target_);
}

void AtomicOutput::Discard()
{
    if (fd_ >= 0)
        CloseFile(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
    temporary_.clear();
}

} // namespace carrier_tool
