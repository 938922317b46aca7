// The whole launch sequence, in this process, with each platform call of a
// run failed in turn: the Nth call alone, and every call from the Nth on,
// for every N until a run ends without reaching the Nth call.
//
// The carrier holds a no-op setup program, an entry larger than two copy
// blocks, and two entries whose older copies are already in the temporary
// directory, next to the report a previous run left. Whatever fails, a run
// must leave a state the setup program and the next run can live with:
// - the exit code is 0;
// - nothing changed outside the temporary directory and the key store;
// - each entry's file is the entry's bytes, the older copy untouched, or
//   absent: never short, never padded;
// - "Analysis.ini" is whole. The report is two profile writes, "OEM" then
//   "Times", each replacing the file atomically, and either can fail on its
//   own. So each of the two keys holds the previous value or this run's, and
//   every other byte is the previous file's: the previous file, the complete
//   new one, or one of the two states between. Nothing else: no cut-off
//   file, no lost section;
// - the marker key exists only when the report carries the file name's code,
//   or that code would never be reported;
// - no file handle, memory block or key is still held, and no descriptor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "evidence_support.h"
#include "fault.h"
#include "module.h"
#include "platform.h"

namespace {

namespace fs = std::filesystem;
using namespace evidence;

struct Outcome {
    int exitCode;
    bool fired;
    unsigned long calls;
    int children;
};

// Copies of two entries left by an older version of the payload.
const std::map<std::string, std::string> kOlderCopies = {
    {"data1.hdr", "older header"},
    {"layout.bin", "older layout"},
};

std::vector<test::CarrierFile> Payload()
{
    return {
        // A real program that exits at once: the sweep starts it hundreds of
        // times, and each start must do nothing.
        {"Setup.exe", ReadFile("/bin/true")},
        // More than two copy blocks: a failure can strike between blocks.
        {"data1.cab", test::SyntheticBytes(2 * 1024 * 1024 + 12345, 1)},
        {"data1.hdr", test::SyntheticBytes(70803, 2)},
        // Empty: an empty file replaces the older copy.
        {"layout.bin", ""},
    };
}

class LaunchUnderFaults : public testing::Test {
protected:
    void SetUp() override
    {
        BecomeSubreaper();
        carrierPath_ = (sandbox_.dist / kCarrierName).string();
        test::WriteBytes(carrierPath_, Carrier(test::SyntheticBytes(4096, 7), payload_));
        PlatformSetModulePath(carrierPath_.c_str());
        ASSERT_EQ(chdir(sandbox_.cwd.c_str()), 0);
    }

    void TearDown() override
    {
        PlatformFaultArm(0, FALSE);
        PlatformSetModulePath(NULL);
        ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
    }

    // The state before every run: the previous report and the older copies
    // in the temporary directory, no marker key.
    void Prepare()
    {
        for (const auto &entry : fs::directory_iterator(sandbox_.temp))
            fs::remove_all(entry.path());
        test::WriteBytes(sandbox_.temp / "Analysis.ini", Report(kPreviousOem, kPreviousTimes));
        for (const auto &[name, bytes] : kOlderCopies)
            test::WriteBytes(sandbox_.temp / name, bytes);
        fs::remove_all(sandbox_.KeyStore());
    }

    // One run with the nth call armed to fail (0: none), checked.
    Outcome Launch(unsigned long nth, bool persistent)
    {
        Tree before = Snapshot(sandbox_.root.path());
        int descriptors = OpenDescriptors();

        PlatformFaultArm(nth, persistent ? TRUE : FALSE);
        int exitCode = LauncherMain(NULL, NULL, (LPSTR) "", SW_SHOWDEFAULT);
        Outcome run{exitCode, PlatformFaultFired() != FALSE, PlatformFaultCalls(), 0};
        PlatformFaultArm(0, FALSE);
        run.children = ReapChildren();

        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(PlatformResourcesHeld(RESOURCE_FILE), 0);
        EXPECT_EQ(PlatformResourcesHeld(RESOURCE_BLOCK), 0);
        EXPECT_EQ(PlatformResourcesHeld(RESOURCE_KEY), 0);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        ExpectChangesConfined(before, Snapshot(sandbox_.root.path()));
        ExpectEntriesWholeOrAbsent();
        ExpectReportWhole();
        return run;
    }

    void ExpectChangesConfined(const Tree &before, const Tree &after)
    {
        const std::string temp = "tmp/";
        const std::string store = fs::relative(sandbox_.KeyStore(), sandbox_.root.path()).string();
        for (const std::string &path : Changes(before, after)) {
            bool inTemp = path.compare(0, temp.size(), temp) == 0;
            bool inStore = path == store || path.compare(0, store.size() + 1, store + "/") == 0;
            EXPECT_TRUE(inTemp || inStore) << "changed outside: " << path;
        }
    }

    void ExpectEntriesWholeOrAbsent()
    {
        std::set<std::string> known = {"Analysis.ini"};
        for (const test::CarrierFile &entry : payload_) {
            known.insert(entry.name);
            fs::path file = sandbox_.temp / entry.name;
            if (!fs::exists(file))
                continue;
            std::string bytes = ReadFile(file);
            auto older = kOlderCopies.find(entry.name);
            bool untouched = older != kOlderCopies.end() && bytes == older->second;
            EXPECT_TRUE(bytes == entry.data || untouched)
                << entry.name << ": " << bytes.size() << " bytes, neither the entry nor the older copy";
        }
        // Nothing else: no leftover temporary file, no output under another name.
        for (const auto &entry : fs::directory_iterator(sandbox_.temp))
            EXPECT_TRUE(known.count(entry.path().filename().string())) << "left behind: " << entry.path();
    }

    void ExpectReportWhole()
    {
        fs::path file = sandbox_.temp / "Analysis.ini";
        ASSERT_TRUE(fs::exists(file)) << "the previous report was lost";
        std::string report = ReadFile(file);
        bool marker = MarkerExists(sandbox_.config);

        std::set<std::string> valid;
        // The file name's code; the fallback when the launcher could not
        // learn its own path.
        for (const char *code : {kNameCode, kFallbackCode}) {
            for (const char *oem : {kPreviousOem, code}) {
                for (const char *times : {kPreviousTimes, "1"})
                    valid.insert(Report(oem, times));
            }
        }
        EXPECT_TRUE(valid.count(report)) << "torn report:\n" << report;
        if (marker) {
            EXPECT_TRUE(report == Report(kNameCode, "1") || report == Report(kNameCode, kPreviousTimes))
                << "the marker is set but the report does not carry the code:\n" << report;
        }
    }

    Sandbox sandbox_;
    test::ScopedEnv tmpdir_{"TMPDIR", sandbox_.TempDir().c_str()};
    test::ScopedEnv home_{"HOME", sandbox_.home.c_str()};
    test::ScopedEnv xdg_{"XDG_CONFIG_HOME", sandbox_.config.c_str()};
    test::ScopedEnv locale_{"LC_ALL", "C"};
    fs::path oldCwd_ = fs::current_path();
    std::vector<test::CarrierFile> payload_ = Payload();
    std::string carrierPath_;
};

TEST_F(LaunchUnderFaults, UndisturbedRunDoesEverything)
{
    Prepare();
    Outcome run = Launch(0, false);

    EXPECT_GT(run.calls, 0u);
    EXPECT_EQ(run.children, 1) << "the setup program was not started";
    for (const test::CarrierFile &entry : payload_)
        EXPECT_EQ(ReadFile(sandbox_.temp / entry.name), entry.data) << entry.name;
    EXPECT_EQ(ReadFile(sandbox_.temp / "Analysis.ini"), Report(kNameCode, "1"));
    EXPECT_TRUE(MarkerExists(sandbox_.config));
}

TEST_F(LaunchUnderFaults, EveryFailingCallLeavesAUsableState)
{
    Prepare();
    const unsigned long calls = Launch(0, false).calls;
    ASSERT_GT(calls, 0u);

    for (bool persistent : {false, true}) {
        unsigned long covered = 0;
        for (unsigned long nth = 1;; nth++) {
            SCOPED_TRACE(std::string(persistent ? "every call from " : "only call ") + std::to_string(nth) +
                         " failing");
            Prepare();
            if (!Launch(nth, persistent).fired)
                break;
            covered++;
            ASSERT_LE(nth, calls) << "a call was failed that an undisturbed run does not make";
            if (HasFailure())
                return;
        }
        // The calls before the failing one are those of an undisturbed run,
        // so the sweep reaches each of its calls exactly once.
        EXPECT_EQ(covered, calls);
        std::printf("fault sweep (%s): %lu fault points failed in turn\n",
                    persistent ? "failing from then on" : "single failure", covered);
        RecordProperty(persistent ? "fault_points_persistent" : "fault_points_single", (int)covered);
    }
}

} // namespace
