// The OEM report stage when a service fails, on the emulation's fault
// injection: each service call of a run is failed in turn, from a first run
// (marker key absent) and from a later one (marker key present).
//
// Whatever fails, no key stays open, a marker key is never set without the
// file name's code having reached the report, an existing marker is never
// lost, and the next, undisturbed run reports what the marker then says.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fault.h"
#include "oem_support.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using namespace oem_test;

// The value of key in a report file, or "(none)".
std::string ValueOf(const std::string &report, const std::string &key)
{
    const std::string start = "\n" + key + "=";
    size_t at = report.find(start);
    if (at == std::string::npos)
        return "(none)";
    at += start.size();
    return report.substr(at, report.find('\r', at) - at);
}

struct Outcome {
    bool marker;
    std::string report;
};

class OemReportFaults : public testing::TestWithParam<bool> {
protected:
    void TearDown() override { PlatformFaultArm(0, FALSE); }

    // Sets the starting state with every service working.
    void Prepare(bool markerPresent)
    {
        PlatformFaultArm(0, FALSE);
        ResetMarker();
        if (markerPresent)
            ASSERT_TRUE(CreateKey(OEM_MARKER_KEY));
        fs::remove(temp_.path() / "Analysis.ini");
    }

    void Run() { WriteOemReport(kCodedPath, temp_.withSeparator().c_str()); }

    Outcome Observe()
    {
        PlatformFaultArm(0, FALSE);
        fs::path file = temp_.path() / "Analysis.ini";
        return {KeyExists(OEM_MARKER_KEY), fs::exists(file) ? test::ReadBytes(file) : ""};
    }

    test::ScratchDir config_;
    test::ScopedEnv xdg_{"XDG_CONFIG_HOME", config_.path().string().c_str()};
    test::ScratchDir temp_;
};

TEST_P(OemReportFaults, EveryFailingCallLeavesAConsistentState)
{
    const bool markerPresent = GetParam();

    Prepare(markerPresent);
    PlatformFaultArm(0, FALSE);
    Run();
    const unsigned long calls = PlatformFaultCalls();
    ASSERT_GT(calls, 0u);

    bool sawCreationFail = false;
    for (unsigned long nth = 1; nth <= calls; nth++) {
        SCOPED_TRACE("failing call " + std::to_string(nth) + " of " + std::to_string(calls));
        Prepare(markerPresent);
        PlatformFaultArm(nth, FALSE);
        Run();
        EXPECT_TRUE(PlatformFaultFired());
        EXPECT_EQ(PlatformResourcesHeld(RESOURCE_KEY), 0);
        Outcome after = Observe();

        if (markerPresent)
            EXPECT_TRUE(after.marker) << "the marker key was lost";
        else if (after.marker)
            EXPECT_EQ(ValueOf(after.report, "OEM"), kCodedName) << "marker set, code not delivered";
        // The marker key could not be created, though the report is complete:
        // the next run must report the file name's code again.
        if (!markerPresent && !after.marker && after.report == NewReport(kCodedName))
            sawCreationFail = true;

        Run();
        const std::string next = Observe().report;
        EXPECT_EQ(ValueOf(next, "OEM"), after.marker ? kRepeatCode : kCodedName);
        EXPECT_EQ(ValueOf(next, "Times"), "1");
    }
    if (!markerPresent)
        EXPECT_TRUE(sawCreationFail) << "no run failed to create the marker key alone";
}

INSTANTIATE_TEST_SUITE_P(Start, OemReportFaults, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "MarkerPresent" : "MarkerAbsent");
                         });

// Every fault point of a run failing at once: nothing is left open and
// nothing half-written.
TEST(OemReportAllFaults, NothingHeldNothingWritten)
{
    test::ScratchDir config;
    test::ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string().c_str());
    test::ScratchDir temp;
    ResetMarker();

    PlatformFaultArm(1, TRUE);
    WriteOemReport(kCodedPath, temp.withSeparator().c_str());
    PlatformFaultArm(0, FALSE);

    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_KEY), 0);
    EXPECT_TRUE(fs::is_empty(temp.path()));
    EXPECT_FALSE(KeyExists(OEM_MARKER_KEY));
}

} // namespace
