// WritePrivateProfileStringA as the OEM report uses it: the bytes a file
// holds after setting or deleting a key, and what happens to it on failure.
// Runs against the emulation and, in the Windows build, the real service.
#include "platform.h"
#include "platform_services_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

struct ProfileCase {
    const char *name;
    std::optional<std::string> before; // no file when empty
    const char *section;
    const char *key;
    const char *value;
    BOOL result;
    std::optional<std::string> after; // no file when empty
    // Rows the real service handles differently, and why. Wine rewrites the
    // whole file: it drops blank lines, normalises spacing and line endings
    // to CRLF; and it writes names and values that forge other lines.
    const char *emulationOnly = nullptr;
};

const ProfileCase kCases[] = {
    {"NewFile", std::nullopt, "Setup", "OEM", "12345678901", TRUE, "[Setup]\r\nOEM=12345678901\r\n"},
    {"EmptyFile", "", "Setup", "OEM", "1", TRUE, "[Setup]\r\nOEM=1\r\n"},
    {"NewSectionAfterCrlf", "[A]\r\nx=1\r\n", "Setup", "OEM", "1", TRUE, "[A]\r\nx=1\r\n[Setup]\r\nOEM=1\r\n"},
    {"NewSectionAfterUnendedLine", "[A]\r\nx=1", "Setup", "OEM", "1", TRUE,
     "[A]\r\nx=1\r\n[Setup]\r\nOEM=1\r\n"},
    {"NewSectionInLfFile", "[A]\nx=1\n", "Setup", "OEM", "1", TRUE, "[A]\nx=1\n[Setup]\r\nOEM=1\r\n",
     "line endings"},
    {"NewKeyAfterLastEntry", "[Setup]\r\n;note\r\nOEM=1\r\n[B]\r\ny=2\r\n", "Setup", "Times", "1", TRUE,
     "[Setup]\r\n;note\r\nOEM=1\r\nTimes=1\r\n[B]\r\ny=2\r\n"},
    {"NewKeyBeforeBlankLines", "[Setup]\r\nOEM=1\r\n\r\n\r\n[B]\r\ny=2\r\n", "Setup", "Times", "1", TRUE,
     "[Setup]\r\nOEM=1\r\nTimes=1\r\n\r\n\r\n[B]\r\ny=2\r\n", "blank lines"},
    // A comment line is an entry to Windows, so the key follows it.
    {"NewKeyAfterTrailingComment", "[A]\r\nx=1\r\n;c\r\n[B]\r\ny=2\r\n", "a", "z", "9", TRUE,
     "[A]\r\nx=1\r\n;c\r\nz=9\r\n[B]\r\ny=2\r\n"},
    {"NewKeyAfterUnendedLastLine", "[Setup]\r\nOEM=1", "Setup", "Times", "1", TRUE,
     "[Setup]\r\nOEM=1\r\nTimes=1\r\n"},
    {"NewKeyUnderBareHeader", "[Setup]", "Setup", "Times", "1", TRUE, "[Setup]\r\nTimes=1\r\n"},
    {"ReplaceIgnoringCaseAndBlanks", "[A]\r\nq=1\r\n[setup]\r\n  oem  =  old  \r\nTimes=0\r\n", "Setup", "OEM",
     "new", TRUE, "[A]\r\nq=1\r\n[setup]\r\noem=new\r\nTimes=0\r\n"},
    {"ReplaceWithTabs", "[Setup]\r\n\tOEM\t=1\r\n", "Setup", "OEM", "2", TRUE, "[Setup]\r\nOEM=2\r\n"},
    {"ReplaceKeepsEveryOtherByte",
     "; report\r\n\r\n [ setup ] ; note\n\n  oem = old\r\n\r\n; trailing\rTimes=0\n[Other]\r\n k = v \r\n\r\n",
     "SETUP", "Oem", "new", TRUE,
     "; report\r\n\r\n [ setup ] ; note\n\noem=new\r\n\r\n; trailing\rTimes=0\n[Other]\r\n k = v \r\n\r\n",
     "spacing, blank lines and line endings"},
    {"ReplaceInCrOnlyFile", "[Setup]\rOEM=1\rTimes=1\r", "Setup", "OEM", "2", TRUE, "[Setup]\rOEM=2\rTimes=1\r",
     "line endings"},
    {"ReplaceFirstOfDuplicates", "[Setup]\r\nOEM=1\r\nOEM=3\r\n[setup]\r\nOEM=4\r\n", "Setup", "OEM", "2", TRUE,
     "[Setup]\r\nOEM=2\r\nOEM=3\r\n[setup]\r\nOEM=4\r\n"},
    {"ReplaceAfterByteOrderMark", "\xEF\xBB\xBF[Setup]\r\nOEM=1\r\n", "Setup", "OEM", "2", TRUE,
     "\xEF\xBB\xBF[Setup]\r\nOEM=2\r\n"},
    {"ReplaceLineWithoutEquals", "[Setup]\r\nOEM\r\n", "Setup", "OEM", "v", TRUE, "[Setup]\r\nOEM=v\r\n"},
    {"ReplaceEmptyValue", "[Setup]\r\nOEM=1\r\n", "Setup", "OEM", "", TRUE, "[Setup]\r\nOEM=\r\n"},
    {"UnclosedHeaderIsNoSection", "[Setup\r\nOEM=1\r\n", "Setup", "OEM", "v", TRUE,
     "[Setup\r\nOEM=1\r\n[Setup]\r\nOEM=v\r\n"},
    {"SectionNameEndsAtLastBracket", "[a]b]\r\nk=1\r\n", "a]b", "k", "2", TRUE, "[a]b]\r\nk=2\r\n"},
    {"DeleteKey", "[Setup]\r\nOEM=1\r\nT=2\r\n[X]\r\nq=1\r\n", "setup", "oem", nullptr, TRUE,
     "[Setup]\r\nT=2\r\n[X]\r\nq=1\r\n"},
    {"DeleteSection", "[Setup]\r\nOEM=1\r\nT=2\r\n[X]\r\nq=1\r\n", "SETUP", nullptr, nullptr, TRUE,
     "[X]\r\nq=1\r\n"},
    {"DeleteSectionWithItsBlankLines", "[X]\r\nq=1\r\n\r\n[Setup]\r\nOEM=1\r\n\r\n;end\r\n", "Setup", nullptr,
     nullptr, TRUE, "[X]\r\nq=1\r\n\r\n", "blank lines"},
    {"DeleteMissingSection", "[X]\r\nq=1\r\n", "Setup", nullptr, nullptr, TRUE, "[X]\r\nq=1\r\n"},
    {"DeleteInMissingFile", std::nullopt, "Setup", "OEM", nullptr, TRUE, std::nullopt},
    {"LineBreakInValueRefused", "[Setup]\r\nOEM=1\r\n", "Setup", "OEM", "1\r\nTimes=9", FALSE,
     "[Setup]\r\nOEM=1\r\n", "writes the forged line"},
    {"LineFeedInKeyRefused", "[Setup]\r\nOEM=1\r\n", "Setup", "X\nOEM", "9", FALSE, "[Setup]\r\nOEM=1\r\n",
     "writes the forged line"},
    {"LineBreakInSectionRefused", std::nullopt, "Setup]\r\n[Other", "k", "v", FALSE, std::nullopt,
     "writes the forged line"},
    {"EqualsInKeyRefused", "[Setup]\r\nOEM=1\r\n", "Setup", "OEM=2\r\nx", "v", FALSE, "[Setup]\r\nOEM=1\r\n",
     "writes the forged line"},
    {"KeyReadingAsSectionRefused", "[Setup]\r\nOEM=1\r\n", "Setup", "[Other]", "v", FALSE,
     "[Setup]\r\nOEM=1\r\n", "writes the forged line"},
};

class ProfileTable : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileTable, LeavesTheExpectedBytes)
{
    const ProfileCase &c = GetParam();
    if (!test::kEmulated && c.emulationOnly)
        GTEST_SKIP() << "the real service differs: " << c.emulationOnly;
    test::ScratchDir dir;
    fs::path file = dir.path() / "Analysis.ini";
    if (c.before)
        test::WriteBytes(file, *c.before);

    std::string name = dir.withSeparator() + "Analysis.ini";
    EXPECT_EQ(WritePrivateProfileStringA(c.section, c.key, c.value, name.c_str()), c.result);
    if (c.after) {
        EXPECT_EQ(test::ReadBytes(file), *c.after);
    } else {
        EXPECT_FALSE(fs::exists(file));
    }
    // Nothing but the file itself is left in the directory.
    for (const auto &entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), "Analysis.ini");
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileTable, ::testing::ValuesIn(kCases),
                         [](const auto &row) { return std::string(row.param.name); });

class ProfileTest : public ::testing::Test {
protected:
    void TearDown() override { test::DisarmFaults(); }

    std::string Name(const char *file) const { return dir_.withSeparator() + file; }

    test::ScratchDir dir_;
};

TEST_F(ProfileTest, TheReportIsWrittenKeyAfterKey)
{
    std::string name = Name("Analysis.ini");
    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "OEM", "99999999999", name.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "Times", "1", name.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "OEM", "00000000000", name.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "Times", "1", name.c_str()));
    EXPECT_EQ(test::ReadBytes(dir_.path() / "Analysis.ini"), "[Setup]\r\nOEM=00000000000\r\nTimes=1\r\n");
}

TEST_F(ProfileTest, TheFileNameIgnoresCase)
{
    test::WriteBytes(dir_.path() / "Analysis.ini", "[Setup]\r\nOEM=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "OEM", "2", Name("ANALYSIS.ini").c_str()));
    EXPECT_EQ(test::ReadBytes(dir_.path() / "Analysis.ini"), "[Setup]\r\nOEM=2\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, BadCallsFailAndWriteNothing)
{
    std::string missingDir = dir_.withSeparator() + "missing" + static_cast<char>(fs::path::preferred_separator) +
                             "Analysis.ini";
    EXPECT_FALSE(WritePrivateProfileStringA("Setup", "OEM", "1", missingDir.c_str()));
    if (test::kEmulated) {
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    }
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "OEM", "1", Name("Analysis.ini").c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, Name("Analysis.ini").c_str()))
        << "a flush reports zero";
    EXPECT_FALSE(WritePrivateProfileStringA("Setup", "OEM", "1", dir_.path().string().c_str()))
        << "a directory is no profile";
    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(ProfileTest, AReadOnlyFileIsLeftAlone)
{
    if (!test::kEmulated)
        GTEST_SKIP() << "Wine run by root writes into read-only files; Windows refuses, as the emulation does";
    fs::path file = dir_.path() / "Analysis.ini";
    test::WriteBytes(file, "[Setup]\r\nOEM=1\r\n");
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(WritePrivateProfileStringA("Setup", "OEM", "2", Name("Analysis.ini").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(test::ReadBytes(file), "[Setup]\r\nOEM=1\r\n");
}

#ifndef _WIN32
TEST_F(ProfileTest, EmulationTakesNativeFullPathsOnly)
{
    fs::path file = dir_.path() / "Analysis.ini";
    std::string backslashed = dir_.path().string() + "\\sub\\..\\Analysis.ini";
    fs::create_directory(dir_.path() / "sub");
    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "OEM", "1", backslashed.c_str()));
    EXPECT_EQ(test::ReadBytes(file), "[Setup]\r\nOEM=1\r\n");

    // Windows would look in its own directory; here a relative name is refused.
    EXPECT_FALSE(WritePrivateProfileStringA("Setup", "OEM", "1", "Analysis.ini"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(ProfileTest, TheReplacedFileKeepsItsModeAndLinks)
{
    fs::path target = dir_.path() / "Target.ini";
    fs::path link = dir_.path() / "Analysis.ini";
    test::WriteBytes(target, "[Setup]\r\nOEM=1\r\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    fs::create_symlink(target, link);

    EXPECT_TRUE(WritePrivateProfileStringA("Setup", "OEM", "2", link.c_str()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::ReadBytes(target), "[Setup]\r\nOEM=2\r\n");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A write that fails half-way (the disk full) leaves the old file as it was
// and no temporary file behind.
TEST_F(ProfileTest, AFailedWriteLeavesTheOldFile)
{
    fs::path file = dir_.path() / "Analysis.ini";
    const std::string before = "[Setup]\r\nOEM=1\r\n";
    test::WriteBytes(file, before);

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = before.size();
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    BOOL written = WritePrivateProfileStringA("Setup", "OEM", "12345678901", Name("Analysis.ini").c_str());
    DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(test::ReadBytes(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, AnInjectedFaultChangesNothing)
{
    fs::path file = dir_.path() / "Analysis.ini";
    test::WriteBytes(file, "[Setup]\r\nOEM=1\r\n");
    test::ArmFault(1);
    EXPECT_FALSE(WritePrivateProfileStringA("Setup", "OEM", "2", Name("Analysis.ini").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(test::ReadBytes(file), "[Setup]\r\nOEM=1\r\n");
}
#endif

} // namespace
