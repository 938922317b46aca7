// What the POSIX emulation of the file services adds to the Windows
// contract: permissions and descriptor flags of created files, refusal of
// special files, a failed write that leaves the file as it was, and handles
// counted so that a failed open leaks nothing.
#include "fault.h"
#include "platform.h"
#include "support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

namespace {

HFILE Open(const fs::path &path, UINT style)
{
    OFSTRUCT of{};
    return OpenFile(path.string().c_str(), &of, style);
}

// Windows has no execute bit, so a created file gets read and write for
// whoever the umask allows; the descriptor does not leak into started
// programs.
TEST(PlatformFilesPosix, CreatedFilesFollowTheUmaskAndCloseOnExec)
{
    ScratchDir dir;
    const struct {
        mode_t umask;
        mode_t mode;
    } cases[] = {{022, 0644}, {077, 0600}, {0, 0666}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.umask);
        fs::path target = dir.path() / ("u" + std::to_string(c.umask));
        mode_t old = umask(c.umask);
        HFILE h = Open(target, OF_CREATE | OF_WRITE);
        umask(old);
        ASSERT_NE(h, HFILE_ERROR);
        EXPECT_TRUE(fcntl(h, F_GETFD) & FD_CLOEXEC);
        EXPECT_EQ(fcntl(h, F_GETFL) & O_NONBLOCK, 0);
        EXPECT_EQ(_lclose(h), 0);
        struct stat st;
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
}

// A FIFO planted under an output name must neither block the open nor be
// written: Windows file names never name one.
TEST(PlatformFilesPosix, SpecialFilesAreRefusedWithoutBlocking)
{
    ScratchDir dir;
    fs::path fifo = dir.path() / "data1.cab";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (UINT style : {(UINT)OF_READ, (UINT)(OF_CREATE | OF_WRITE)}) {
        SCOPED_TRACE(style);
        EXPECT_EQ(Open(fifo, style), HFILE_ERROR);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_FILE), 0);
}

// Windows' read-only attribute is a file without write permission bits. Root
// would bypass those, so the emulation checks the bits itself: the file can
// be read but neither replaced, opened for writing nor deleted, under any
// spelling of its name.
TEST(PlatformFilesPosix, ReadOnlyFileRefusesWritingAndDeletion)
{
    ScratchDir dir;
    fs::path target = dir.path() / "Setup.ini";
    WriteBytes(target, "keep");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);

    for (UINT style : {(UINT)(OF_CREATE | OF_WRITE), (UINT)OF_CREATE, (UINT)OF_WRITE,
                       (UINT)OF_READWRITE}) {
        SCOPED_TRACE(style);
        EXPECT_EQ(Open(dir.path() / "SETUP.INI", style), HFILE_ERROR);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(DeleteFileA((dir.path() / "setup.ini").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    HFILE in = Open(target, OF_READ);
    EXPECT_NE(in, HFILE_ERROR);
    EXPECT_EQ(_lclose(in), 0);
    EXPECT_EQ(ReadBytes(target), "keep");
}

// A write cut short by a file size limit (as by a full disk) fails as a
// whole: the file keeps its old length and the position does not move.
TEST(PlatformFilesPosix, FailedWriteLeavesLengthAndPositionAlone)
{
    ScratchDir dir;
    fs::path target = dir.path() / "big.bin";
    HFILE h = Open(target, OF_CREATE | OF_WRITE);
    ASSERT_NE(h, HFILE_ERROR);
    ASSERT_EQ(_hwrite(h, "head", 4), 4);

    std::string data(64 * 1024, 'x');
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limit = old;
    limit.rlim_cur = 16 * 1024;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    LONG written = _hwrite(h, data.data(), (LONG)data.size());
    DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(written, HFILE_ERROR);
    EXPECT_EQ(error, (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)h, NULL), 4u);
    EXPECT_EQ(_llseek(h, 0, FILE_CURRENT), 4);
    EXPECT_EQ(_lclose(h), 0);
    EXPECT_EQ(ReadBytes(target), "head");
}

// Counts the platform would give Windows as huge unsigned values are refused.
TEST(PlatformFilesPosix, NegativeCountsAreRefused)
{
    ScratchDir dir;
    HFILE h = Open(dir.path() / "f.bin", OF_CREATE | OF_READWRITE);
    ASSERT_NE(h, HFILE_ERROR);
    char buffer[4];
    EXPECT_EQ(_hread(h, buffer, -1), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(_hwrite(h, buffer, -1), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(_lclose(h), 0);
}

TEST(PlatformFilesPosix, FailedOpenHoldsNothingAndReleasesBalance)
{
    ScratchDir dir;
    WriteBytes(dir.path() / "in.bin", "data");

    OFSTRUCT of{};
    PlatformFaultArm(1, FALSE);
    HFILE failed = OpenFile((dir.path() / "in.bin").c_str(), &of, OF_READ);
    EXPECT_TRUE(PlatformFaultFired());
    PlatformFaultArm(0, FALSE);
    EXPECT_EQ(failed, HFILE_ERROR);
    EXPECT_EQ(of.nErrCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_FILE), 0);

    HFILE h = Open(dir.path() / "in.bin", OF_READ);
    HGLOBAL block = GlobalAlloc(GHND, 16);
    ASSERT_NE(h, HFILE_ERROR);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_FILE), 1);
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_BLOCK), 1);
    EXPECT_EQ(_lclose(h), 0);
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_FILE), 0);
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_BLOCK), 0);
}

} // namespace
