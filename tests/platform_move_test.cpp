// Temporary file names and replacing moves, as extraction uses them: a fresh
// unique file in a directory, then a move over the final name in one step.
// Built for Windows too, so the emulation is held to what the real services
// do.
#include "platform.h"
#include "platform_services_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return s;
}

std::vector<std::string> Names(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The directory given with or without its trailing separator: either way
// each name is a new, empty file "<pre><hex>.tmp" in it (the case of the
// letters is the system's), whose number is the one returned.
TEST(PlatformMove, TempFileNamesAreNewEmptyAndUnique)
{
    ScratchDir dir;
    const std::string forms[] = {dir.withSeparator(), dir.path().string()};
    std::set<std::string> seen;
    for (const std::string &form : forms) {
        SCOPED_TRACE(form);
        for (int i = 0; i < 20; i++) {
            CHAR name[MAX_PATH];
            UINT number = GetTempFileNameA(form.c_str(), "abcdef", 0, name);
            ASSERT_NE(number, 0u) << GetLastError();
            EXPECT_LE(number, 0xFFFFu);
            fs::path file(name);
            EXPECT_TRUE(fs::equivalent(file.parent_path(), dir.path())) << name;
            EXPECT_TRUE(fs::is_regular_file(file)) << name;
            EXPECT_EQ(fs::file_size(file), 0u) << name;

            std::string leaf = Lower(file.filename().string());
            ASSERT_GT(leaf.size(), 7u) << leaf;
            EXPECT_EQ(leaf.substr(0, 3), "abc");
            EXPECT_EQ(leaf.substr(leaf.size() - 4), ".tmp");
            EXPECT_EQ(std::stoul(leaf.substr(3, leaf.size() - 7), nullptr, 16), number) << leaf;
            EXPECT_TRUE(seen.insert(leaf).second) << "given twice: " << leaf;
        }
    }
    EXPECT_EQ(Names(dir.path()).size(), seen.size());
}

// A number of the caller's makes the name only: nothing is created.
TEST(PlatformMove, TempFileNameWithAGivenNumberCreatesNothing)
{
    ScratchDir dir;
    CHAR name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(dir.withSeparator().c_str(), "q", 0x2A, name), 0x2Au);
    EXPECT_EQ(Lower(fs::path(name).filename().string()), "q2a.tmp");
    EXPECT_TRUE(fs::equivalent(fs::path(name).parent_path(), dir.path()));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(PlatformMove, TempFileNameFailsWithoutADirectory)
{
    ScratchDir dir;
    WriteBytes(dir.path() / "file", "x");
    struct Case {
        const char *what;
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {"a missing directory", (dir.path() / "missing").string(), ERROR_DIRECTORY},
        {"a file", (dir.path() / "file").string(), ERROR_DIRECTORY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CHAR name[MAX_PATH];
        SetLastError(0);
        EXPECT_EQ(GetTempFileNameA(c.path.c_str(), "abc", 0, name), 0u);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"file"});
}

// The directory's path may take up to MAX_PATH - 14 bytes, leaving room for
// the prefix, the number, ".tmp" and the NUL.
TEST(PlatformMove, TempFileNameTakesADirectoryOfUpToMaxPathLessFourteen)
{
    ScratchDir dir;
    std::string base = dir.withSeparator();
    ASSERT_LT(base.size(), 200u);
    fs::path longest = dir.path() / std::string(MAX_PATH - 15 - base.size(), 'd');
    fs::path tooLong = dir.path() / std::string(MAX_PATH - 14 - base.size(), 'e');
    fs::create_directory(longest);
    fs::create_directory(tooLong);
    std::string longestPath = longest.string() + (char)fs::path::preferred_separator;
    std::string tooLongPath = tooLong.string() + (char)fs::path::preferred_separator;
    ASSERT_EQ(longestPath.size(), (size_t)MAX_PATH - 14);

    CHAR name[MAX_PATH];
    EXPECT_NE(GetTempFileNameA(longestPath.c_str(), "abc", 0, name), 0u);
    EXPECT_TRUE(fs::is_regular_file(name));
    // Wine 8 does not check the limit; Windows documents the failure.
    if (test::kEmulated) {
        EXPECT_EQ(GetTempFileNameA(tooLongPath.c_str(), "abc", 0, name), 0u);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUFFER_OVERFLOW);
        EXPECT_TRUE(fs::is_empty(tooLong));
    }
}

// Each case moves "part" (holding "new") to target in a fresh directory
// prepared by setup; after it, the directory holds exactly files.
TEST(PlatformMove, MoveReplacesOrFailsWithTheWindowsError)
{
    using Files = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char *what;
        void (*setup)(const fs::path &dir);
        const char *target;
        DWORD flags;
        DWORD error; // 0: the move succeeds
        Files files;
    };
    const auto nothing = [](const fs::path &) {};
    const auto old = [](const fs::path &dir) { WriteBytes(dir / "Setup.exe", "old"); };
    const auto directory = [](const fs::path &dir) { fs::create_directory(dir / "Setup.exe"); };
    const auto noPart = [](const fs::path &dir) { fs::remove(dir / "part"); };
    const Case cases[] = {
        {"to a new name", nothing, "Setup.exe", MOVEFILE_REPLACE_EXISTING, 0, {{"Setup.exe", "new"}}},
        {"over an existing file", old, "Setup.exe", MOVEFILE_REPLACE_EXISTING, 0, {{"Setup.exe", "new"}}},
        {"over an existing file, not asked to replace", old, "Setup.exe", 0, ERROR_ALREADY_EXISTS,
         {{"Setup.exe", "old"}, {"part", "new"}}},
        // "setup.exe" names the file "Setup.exe": one file remains.
        {"over a file named in another case", old, "setup.exe", MOVEFILE_REPLACE_EXISTING, 0,
         {{"setup.exe", "new"}}},
        {"a missing source", noPart, "Setup.exe", MOVEFILE_REPLACE_EXISTING, ERROR_FILE_NOT_FOUND, {}},
        {"into a missing directory", nothing, "sub/Setup.exe", MOVEFILE_REPLACE_EXISTING,
         ERROR_PATH_NOT_FOUND, {{"part", "new"}}},
        {"over a directory", directory, "Setup.exe", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED,
         {{"part", "new"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        WriteBytes(dir.path() / "part", "new");
        c.setup(dir.path());
        std::string target = (dir.path() / fs::path(c.target).make_preferred()).string();

        SetLastError(0);
        BOOL moved = MoveFileExA((dir.path() / "part").string().c_str(), target.c_str(), c.flags);
        if (c.error == 0) {
            EXPECT_TRUE(moved);
        } else {
            EXPECT_FALSE(moved);
            EXPECT_EQ(GetLastError(), c.error);
        }
        // Regular files by name, letter case ignored; "Setup.exe" as a
        // directory stays a directory.
        Files files;
        for (const std::string &name : Names(dir.path())) {
            if (fs::is_regular_file(dir.path() / name))
                files.push_back({Lower(name), ReadBytes(dir.path() / name)});
        }
        Files expected;
        for (const auto &[name, data] : c.files)
            expected.push_back({Lower(name), data});
        EXPECT_EQ(files, expected);
    }
}

// The read-only attribute protects a file from being replaced. Wine run by
// root replaces it all the same; Windows refuses, as the emulation does.
TEST(PlatformMove, MoveDoesNotReplaceAReadOnlyFile)
{
    if (!test::kEmulated)
        GTEST_SKIP() << "Wine run by root replaces read-only files";
    ScratchDir dir;
    WriteBytes(dir.path() / "part", "new");
    WriteBytes(dir.path() / "Setup.ini", "keep");
    fs::permissions(dir.path() / "Setup.ini",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(MoveFileExA((dir.path() / "part").string().c_str(), (dir.path() / "SETUP.INI").string().c_str(),
                             MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadBytes(dir.path() / "Setup.ini"), "keep");
    EXPECT_EQ(ReadBytes(dir.path() / "part"), "new");
}

// Another program reading the file keeps reading the bytes it opened.
// Windows refuses to replace a file open without delete sharing, as OpenFile
// opens it; the emulation replaces it, as rename(2) does.
TEST(PlatformMove, MoveOverAFileOpenForReading)
{
    ScratchDir dir;
    WriteBytes(dir.path() / "part", "new");
    WriteBytes(dir.path() / "Setup.exe", "old");
    OFSTRUCT of{};
    test::File reader(OpenFile((dir.path() / "Setup.exe").string().c_str(), &of, OF_READ));
    ASSERT_NE(reader.h, HFILE_ERROR);

    BOOL moved = MoveFileExA((dir.path() / "part").string().c_str(), (dir.path() / "Setup.exe").string().c_str(),
                             MOVEFILE_REPLACE_EXISTING);
    if (test::kEmulated) {
        EXPECT_TRUE(moved);
        EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"Setup.exe"});
        EXPECT_EQ(ReadBytes(dir.path() / "Setup.exe"), "new");
    } else {
        EXPECT_FALSE(moved);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_EQ(ReadBytes(dir.path() / "part"), "new");
    }
    char buffer[8] = {};
    EXPECT_EQ(_lread(reader.h, buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "old");
}

} // namespace
