// The OEM report stage as the launch sequence runs it: the marker key
// decides between the file name's code and the repeat code, and section
// "Setup" of "Analysis.ini" receives "OEM" and "Times".
//
// Runs on the emulation and on the real services alike; the marker key is
// removed before and after every case.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "oem_support.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using namespace oem_test;

// The real services rewrite a whole profile file when they change it,
// dropping blank lines and normalising line endings and spacing; the
// emulation keeps every byte it does not change.
#ifdef _WIN32
constexpr bool kRewritesWholeProfile = true;
#else
constexpr bool kRewritesWholeProfile = false;
#endif

class OemReport : public testing::Test {
protected:
    void SetUp() override
    {
        ResetMarker();
        ASSERT_FALSE(KeyExists(OEM_MARKER_KEY));
    }
    void TearDown() override { ResetMarker(); }

    std::string Report() const { return test::ReadBytes(ReportFile()); }
    fs::path ReportFile() const { return temp_.path() / "Analysis.ini"; }
    void Run(const char *launcherPath) { WriteOemReport(launcherPath, temp_.withSeparator().c_str()); }

    // Emulation: the key store lives in a scratch directory. Ignored by the
    // real services.
    test::ScratchDir config_;
    test::ScopedEnv xdg_{"XDG_CONFIG_HOME", config_.path().string().c_str()};
    test::ScratchDir temp_;
};

TEST_F(OemReport, FirstRunReportsTheFileNameCodeThenTheRepeatCode)
{
    Run(kCodedPath);
    EXPECT_EQ(Report(), NewReport(kCodedName));
    EXPECT_TRUE(KeyExists(OEM_MARKER_KEY));

    // Later runs by the same account: the repeat code whatever the name, and
    // "Times" stays "1".
    const char *laterPaths[] = {
        kCodedPath,
        "C:\\Downloads\\Quillmere_12345678901.exe",
        "C:\\Downloads\\QuillmereSetup.exe",
        "C:\\Downloads\\Quillmere_",
    };
    for (const char *path : laterPaths) {
        SCOPED_TRACE(path);
        Run(path);
        EXPECT_EQ(Report(), NewReport(kRepeatCode));
    }
}

TEST_F(OemReport, PresentMarkerKeyIsLeftAlone)
{
    // A key below the marker shows that the marker was neither removed nor
    // replaced.
    const std::string child = std::string(OEM_MARKER_KEY) + "\\Child";
    ASSERT_TRUE(CreateKey(child.c_str()));

    Run(kCodedPath);
    EXPECT_EQ(Report(), NewReport(kRepeatCode));
    EXPECT_TRUE(KeyExists(child.c_str()));
}

TEST_F(OemReport, FirstRunWithoutAValidCode)
{
    const struct {
        const char *path;
        const char *code;
    } rows[] = {
        {"C:\\Downloads\\QuillmereSetup.exe", kFallbackCode},
        {"C:\\Downloads\\Quillmere_", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        ResetMarker();
        Run(row.path);
        EXPECT_EQ(Report(), NewReport(row.code));
        EXPECT_TRUE(KeyExists(OEM_MARKER_KEY));
    }
}

// A launcher that could not learn its own path has no name to take a code
// from: it reports the fallback code but leaves the first run to come.
TEST_F(OemReport, UnknownLauncherPathKeepsTheFirstRun)
{
    Run("");
    EXPECT_EQ(Report(), NewReport(kFallbackCode));
    EXPECT_FALSE(KeyExists(OEM_MARKER_KEY));

    Run(kCodedPath);
    EXPECT_EQ(Report(), NewReport(kCodedName));
}

// "Analysis.ini" does not fit after the temporary directory: a report path
// cut short would name another file in that directory. Nothing is written,
// and the marker is not set, so a later run still delivers the code.
TEST_F(OemReport, ReportPathTooLongIsSkipped)
{
    std::string tempDir = temp_.withSeparator();
    tempDir += std::string(MAX_PATH - 8 - tempDir.size(), 'd');
    fs::create_directory(tempDir);
    tempDir += temp_.withSeparator().back();
    ASSERT_GT(tempDir.size() + std::string("Analysis.ini").size(), (size_t)MAX_PATH - 1);

    WriteOemReport(kCodedPath, tempDir.c_str());
    EXPECT_TRUE(fs::is_empty(tempDir));
    EXPECT_FALSE(KeyExists(OEM_MARKER_KEY));
}

// Only "OEM" and "Times" of section "Setup" change; every other section and
// key stays. Names match case-insensitively and keep the file's spelling.
struct ExistingRow {
    const char *label;
    bool emulationOnly;
    const char *before;
    const char *after;
};

const ExistingRow kExistingRows[] = {
    {"KeysReplacedInPlace", false,
     "[Product]\r\nName=Quillmere\r\n[setup]\r\nLang=2052\r\noem=00000000042\r\nPath=C:\\Q\r\n"
     "TIMES=7\r\n[Tail]\r\nx=1\r\n",
     "[Product]\r\nName=Quillmere\r\n[setup]\r\nLang=2052\r\noem=20261211001\r\nPath=C:\\Q\r\n"
     "TIMES=1\r\n[Tail]\r\nx=1\r\n"},
    {"MissingKeyAddedAfterTheSectionsLastKey", false,
     "[Setup]\r\nLang=2052\r\nOEM=1\r\n[Tail]\r\nx=1\r\n",
     "[Setup]\r\nLang=2052\r\nOEM=20261211001\r\nTimes=1\r\n[Tail]\r\nx=1\r\n"},
    {"MissingSectionAppended", false, "[Product]\r\nName=Quillmere\r\n",
     "[Product]\r\nName=Quillmere\r\n[Setup]\r\nOEM=20261211001\r\nTimes=1\r\n"},
    {"EmptyFile", false, "", "[Setup]\r\nOEM=20261211001\r\nTimes=1\r\n"},
    {"BlankLinesCommentsSpacingAndLineFeeds", true,
     "; written by setup\n\n[Product]\nName = Quillmere\n\n[Setup]\nOEM = 1\nTimes=3\n\n"
     "[Tail]\nx=1",
     "; written by setup\n\n[Product]\nName = Quillmere\n\n[Setup]\nOEM=20261211001\nTimes=1\n\n"
     "[Tail]\nx=1"},
};

void PrintTo(const ExistingRow &row, std::ostream *os) { *os << row.label; }

class ExistingReport : public OemReport, public testing::WithParamInterface<ExistingRow> {};

TEST_P(ExistingReport, KeepsEverythingElse)
{
    const ExistingRow &row = GetParam();
    if (row.emulationOnly && kRewritesWholeProfile)
        GTEST_SKIP() << "the real service rewrites the whole file";

    test::WriteBytes(ReportFile(), row.before);
    Run(kCodedPath);
    EXPECT_EQ(Report(), row.after);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExistingReport, testing::ValuesIn(kExistingRows),
                         [](const testing::TestParamInfo<ExistingRow> &info) {
                             return std::string(info.param.label);
                         });

} // namespace
