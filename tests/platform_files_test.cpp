// The file services as extraction uses them: open for reading, create or
// truncate for writing, seek, read with short counts at the end of a file,
// write, size, delete. Built for Windows too, so the emulation is held to
// what the real services do.
#include "platform.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

namespace {

using File = test::File;

HFILE Open(const std::string &path, UINT style)
{
    OFSTRUCT of{};
    return OpenFile(path.c_str(), &of, style);
}

std::string Native(const fs::path &p) { return p.string(); }

// The path with every separator written as '\'.
std::string Backslashed(const fs::path &p)
{
    std::string s = p.string();
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return s;
}

std::vector<std::string> Names(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(PlatformFiles, OpenSucceedsOrFailsWithTheWindowsError)
{
    ScratchDir dir;
    WriteBytes(dir.path() / "data.bin", "payload");
    fs::create_directory(dir.path() / "sub");

    struct Case {
        const char *what;
        std::string path;
        UINT style;
        DWORD error; // 0: the open succeeds
    };
    const Case cases[] = {
        {"read an existing file", Native(dir.path() / "data.bin"), OF_READ, 0},
        {"read through '\\' separators", Backslashed(dir.path() / "data.bin"), OF_READ, 0},
        {"read in another letter case", Native(dir.path() / "DATA.BIN"), OF_READ, 0},
        {"create a new file", Native(dir.path() / "new.bin"), OF_CREATE | OF_WRITE, 0},
        {"read a missing file", Native(dir.path() / "missing.bin"), OF_READ, ERROR_FILE_NOT_FOUND},
        {"read in a missing directory", Native(dir.path() / "nodir" / "a.bin"), OF_READ,
         ERROR_PATH_NOT_FOUND},
        {"create in a missing directory", Native(dir.path() / "nodir" / "a.bin"),
         OF_CREATE | OF_WRITE, ERROR_PATH_NOT_FOUND},
        {"read a directory", Native(dir.path() / "sub"), OF_READ, ERROR_ACCESS_DENIED},
        {"create over a directory", Native(dir.path() / "sub"), OF_CREATE | OF_WRITE,
         ERROR_ACCESS_DENIED},
        {"a path longer than MAX_PATH", Native(dir.path() / std::string(300, 'n')), OF_READ,
         ~0u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OFSTRUCT of{};
        SetLastError(0);
        File file(OpenFile(c.path.c_str(), &of, c.style));
        EXPECT_EQ(of.cBytes, sizeof(OFSTRUCT));
        if (c.error == 0) {
            EXPECT_NE(file.h, HFILE_ERROR);
            EXPECT_EQ(of.nErrCode, 0);
        } else {
            EXPECT_EQ(file.h, HFILE_ERROR);
            EXPECT_NE(GetLastError(), 0u);
            EXPECT_EQ(of.nErrCode, (WORD)GetLastError());
            if (c.error != ~0u)
                EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

// Paths between the 128 bytes of the open-file record and MAX_PATH open; the
// record keeps a terminated prefix of the path.
TEST(PlatformFiles, PathsLongerThanTheOpenRecordOpen)
{
    ScratchDir dir;
    fs::path sub = dir.path() / std::string(40, 'd');
    fs::create_directory(sub);
    std::string base = Native(sub / "");
    ASSERT_LT(base.size(), 200u);
    std::string path = base + std::string(240 - base.size(), 'f');
    ASSERT_GT(path.size(), (size_t)OFS_MAXPATHNAME);

    OFSTRUCT of{};
    {
        File out(OpenFile(path.c_str(), &of, OF_CREATE | OF_WRITE));
        ASSERT_NE(out.h, HFILE_ERROR);
        EXPECT_EQ(_hwrite(out.h, "long", 4), 4);
    }
    EXPECT_LT(strnlen(of.szPathName, OFS_MAXPATHNAME), (size_t)OFS_MAXPATHNAME);

    File in(Open(path, OF_READ));
    ASSERT_NE(in.h, HFILE_ERROR);
    char buffer[8] = {};
    EXPECT_EQ(_lread(in.h, buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "long");
}

TEST(PlatformFiles, CreateTruncatesAnExistingFile)
{
    ScratchDir dir;
    fs::path target = dir.path() / "out.bin";
    WriteBytes(target, "an older and longer content");
    {
        File out(Open(Native(target), OF_CREATE | OF_WRITE));
        ASSERT_NE(out.h, HFILE_ERROR);
        EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)out.h, NULL), 0u);
        EXPECT_EQ(_hwrite(out.h, "new", 3), 3);
    }
    EXPECT_EQ(ReadBytes(target), "new");
}

// An entry stored as "Setup.exe" and started as "setup.exe" must be one file.
TEST(PlatformFiles, CreateReusesAFileNamedInAnotherCase)
{
    ScratchDir dir;
    WriteBytes(dir.path() / "Setup.exe", "old");
    {
        File out(Open(Native(dir.path() / "setup.EXE"), OF_CREATE | OF_WRITE));
        ASSERT_NE(out.h, HFILE_ERROR);
        EXPECT_EQ(_hwrite(out.h, "fresh", 5), 5);
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"Setup.exe"});
    EXPECT_EQ(ReadBytes(dir.path() / "Setup.exe"), "fresh");
}

// Each case starts at position 2 of a 10-byte file, seeks, then reads up to
// 5 bytes. A failed seek leaves the position where it was.
TEST(PlatformFiles, SeekThenReadGivesShortCountsAtTheEnd)
{
    ScratchDir dir;
    fs::path source = dir.path() / "digits.bin";
    WriteBytes(source, "0123456789");

    struct Case {
        int origin;
        LONG offset;
        LONG position; // HFILE_ERROR: the seek fails
        DWORD error;
        const char *read; // what a read of 5 bytes gets next
    };
    const Case cases[] = {
        {FILE_BEGIN, 0, 0, 0, "01234"},
        {FILE_BEGIN, 7, 7, 0, "789"},
        {FILE_BEGIN, 10, 10, 0, ""},
        {FILE_BEGIN, 25, 25, 0, ""},
        {FILE_CURRENT, 3, 5, 0, "56789"},
        {FILE_CURRENT, -2, 0, 0, "01234"},
        {FILE_END, -3, 7, 0, "789"},
        {FILE_END, 0, 10, 0, ""},
        {FILE_CURRENT, -3, HFILE_ERROR, ERROR_NEGATIVE_SEEK, "23456"},
        {FILE_END, -11, HFILE_ERROR, ERROR_NEGATIVE_SEEK, "23456"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "origin " << c.origin << " offset " << c.offset);
        File in(Open(Native(source), OF_READ));
        ASSERT_NE(in.h, HFILE_ERROR);
        ASSERT_EQ(_llseek(in.h, 2, FILE_BEGIN), 2);
        EXPECT_EQ(_llseek(in.h, c.offset, c.origin), c.position);
        if (c.position == HFILE_ERROR)
            EXPECT_EQ(GetLastError(), c.error);

        char buffer[8] = {};
        size_t expected = strlen(c.read);
        EXPECT_EQ(_hread(in.h, buffer, 5), (LONG)expected);
        EXPECT_EQ(std::string(buffer, expected), c.read);
        // Once at the end, both reads give 0, not a failure.
        EXPECT_EQ(_llseek(in.h, 0, FILE_END), 10);
        EXPECT_EQ(_lread(in.h, buffer, 5), 0u);
    }
}

// _hwrite with a count of 0 sets the end of the file at the current position.
TEST(PlatformFiles, WriteOfZeroBytesSetsTheEndOfTheFile)
{
    ScratchDir dir;
    fs::path target = dir.path() / "out.bin";
    File out(Open(Native(target), OF_CREATE | OF_WRITE));
    ASSERT_NE(out.h, HFILE_ERROR);
    ASSERT_EQ(_hwrite(out.h, "abcdefgh", 8), 8);
    EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)out.h, NULL), 8u);

    ASSERT_EQ(_llseek(out.h, 3, FILE_BEGIN), 3);
    EXPECT_EQ(_hwrite(out.h, NULL, 0), 0);
    EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)out.h, NULL), 3u);

    ASSERT_EQ(_llseek(out.h, 6, FILE_BEGIN), 6);
    EXPECT_EQ(_hwrite(out.h, "", 0), 0);
    EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)out.h, NULL), 6u);
    EXPECT_EQ(_lclose(out.h), 0);
    out.h = HFILE_ERROR;
    EXPECT_EQ(ReadBytes(target), std::string("abc\0\0\0", 6));
}

// The high part comes through the pointer; a low part of all ones is told
// from a failure by the last error.
TEST(PlatformFiles, FileSizeSplitsIntoLowAndHighParts)
{
    ScratchDir dir;
    struct Case {
        uint64_t size;
        DWORD low;
        DWORD high;
    };
    const Case cases[] = {
        {0, 0, 0},
        {5, 5, 0},
        {0xFFFFFFFFull, 0xFFFFFFFFu, 0},
        {0x100000003ull, 3, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        fs::path target = dir.path() / ("size" + std::to_string(c.size));
        WriteBytes(target, "");
        fs::resize_file(target, c.size); // sparse: no disk space taken
        File in(Open(Native(target), OF_READ));
        ASSERT_NE(in.h, HFILE_ERROR);
        DWORD high = 0xDEADBEEF;
        SetLastError(ERROR_INVALID_PARAMETER);
        EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)in.h, &high), c.low);
        EXPECT_EQ(high, c.high);
        if (c.low == INVALID_FILE_SIZE)
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)in.h, NULL), c.low);
    }
}

TEST(PlatformFiles, TransfersFailOnHandlesThatCannotDoThem)
{
    ScratchDir dir;
    fs::path target = dir.path() / "f.bin";
    WriteBytes(target, "data");
    File reader(Open(Native(target), OF_READ));
    File writer(Open(Native(dir.path() / "g.bin"), OF_CREATE | OF_WRITE));
    ASSERT_NE(reader.h, HFILE_ERROR);
    ASSERT_NE(writer.h, HFILE_ERROR);
    char buffer[4];

    EXPECT_EQ(_hwrite(reader.h, "x", 1), HFILE_ERROR);
    EXPECT_EQ(_lread(writer.h, buffer, sizeof buffer), (UINT)HFILE_ERROR);
    EXPECT_EQ(_hread(writer.h, buffer, sizeof buffer), HFILE_ERROR);
    EXPECT_EQ(_lread(HFILE_ERROR, buffer, sizeof buffer), (UINT)HFILE_ERROR);
    EXPECT_EQ(_llseek(reader.h, 0, 7), HFILE_ERROR);
    SetLastError(0);
    EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)HFILE_ERROR, NULL), INVALID_FILE_SIZE);
    EXPECT_NE(GetLastError(), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(target), "data");
}

TEST(PlatformFiles, DeleteRemovesFilesOnly)
{
    ScratchDir dir;
    WriteBytes(dir.path() / "Report.ini", "x");
    fs::create_directory(dir.path() / "sub");

    struct Case {
        const char *name;
        BOOL result;
        DWORD error;
    };
    const Case cases[] = {
        {"report.INI", TRUE, 0},
        {"report.INI", FALSE, ERROR_FILE_NOT_FOUND},
        {"sub", FALSE, ERROR_ACCESS_DENIED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DeleteFileA(Native(dir.path() / c.name).c_str()), c.result);
        if (!c.result)
            EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"sub"});
}

} // namespace
