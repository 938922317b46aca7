// Extraction when the services fail: whichever call fails, every handle and
// block taken is released, no output is left short or half-written, and only
// the piece of work the failure hit is left undone.
#include <gtest/gtest.h>

#include "carrier.h"
#include "carrier_fixture.h"
#include "carrier_pe.h"
#include "fault.h"
#include "support.h"

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

namespace {

// Larger than any copy block, so its copy takes several reads and writes.
const std::size_t kBigEntry = 2 * 1024 * 1024 + 17;

struct FaultRun {
    Files files;
    unsigned long calls;
    bool fired;
};

// Extracts carrier into a fresh temporary directory holding before, with the
// nth fault point from now failing (0: none).
FaultRun ExtractWithFault(const std::string &carrier, const Files &before, unsigned long nth, bool persistent)
{
    test::ScratchDir scratch;
    fs::path tmp = scratch.path() / "tmp";
    fs::create_directory(tmp);
    for (const auto &[name, data] : before)
        test::WriteBytes(tmp / name, data);
    fs::path carrierPath = scratch.path() / "carrier.exe";
    test::WriteBytes(carrierPath, carrier);
    std::string tempDir = tmp.string() + "/";

    PlatformFaultArm(nth, persistent);
    ExtractPayload(carrierPath.string().c_str(), tempDir.c_str());
    FaultRun run = {{}, PlatformFaultCalls(), PlatformFaultFired() != FALSE};
    PlatformFaultArm(0, FALSE);

    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_FILE), 0);
    EXPECT_EQ(PlatformResourcesHeld(RESOURCE_BLOCK), 0);
    run.files = test::FilesUnder(tmp);
    return run;
}

TEST(CarrierFaults, EveryFailingCallLeavesOnlyCompleteFilesAndNoLeaks)
{
    const std::vector<test::CarrierFile> entries = {
        {"small", test::SyntheticBytes(100, 1)},
        {"big", test::SyntheticBytes(kBigEntry, 2)},
        {"empty", ""},
        {"pre", test::SyntheticBytes(300, 3)},
    };
    const Files before = {{"pre", "old"}};
    const std::string carrier = test::PackedCarrier(4096, entries);
    const Files expected = test::FileMap(entries);

    FaultRun clean = ExtractWithFault(carrier, before, 0, FALSE);
    ASSERT_EQ(test::Digests(clean.files), test::Digests(expected));
    ASSERT_GT(clean.calls, 10u);

    for (bool persistent : {false, true}) {
        for (unsigned long nth = 1; nth <= clean.calls; nth++) {
            SCOPED_TRACE("fault point " + std::to_string(nth) + (persistent ? " onwards" : ""));
            FaultRun run = ExtractWithFault(carrier, before, nth, persistent);
            EXPECT_TRUE(run.fired);
            std::size_t complete = 0;
            for (const auto &[name, data] : run.files) {
                ASSERT_TRUE(expected.count(name)) << "unexpected file " << name;
                bool untouched = before.count(name) && before.at(name) == data;
                EXPECT_TRUE(data == expected.at(name) || untouched) << name << " holds " << data.size() << " bytes";
                complete += data == expected.at(name);
            }
            // A single failure undoes one entry, or all when it hits the
            // carrier or its directory.
            if (!persistent) {
                EXPECT_TRUE(complete + 1 >= entries.size() || complete == 0) << complete << " complete";
            }
        }
    }
}

// An entry is copied into a temporary file and moved over its name only when
// whole: a copy or a move that fails leaves the older copy byte for byte, or
// no file when there was none, and never a temporary file.
TEST(CarrierFaults, FailingCopyKeepsTheOlderCopy)
{
    const std::vector<test::CarrierFile> entries = {{"big", test::SyntheticBytes(kBigEntry, 7)}};
    const std::string carrier = test::PackedCarrier(512, entries);

    for (const Files &before : {Files{{"big", "an older copy"}}, Files{}}) {
        FaultRun clean = ExtractWithFault(carrier, before, 0, FALSE);
        ASSERT_EQ(test::Digests(clean.files), test::Digests(test::FileMap(entries)));
        // The last fault points of the run are the final read and write of
        // the copy, after earlier blocks have already been written, and the
        // move into place.
        for (unsigned long nth : {clean.calls, clean.calls - 1, clean.calls - 2}) {
            for (bool persistent : {false, true}) {
                SCOPED_TRACE("fault point " + std::to_string(nth) + (persistent ? " onwards" : "") +
                             (before.empty() ? ", no older copy" : ", an older copy"));
                FaultRun run = ExtractWithFault(carrier, before, nth, persistent);
                EXPECT_TRUE(run.fired);
                EXPECT_EQ(test::Digests(run.files), test::Digests(before));
            }
        }
    }
}

// A signed carrier is read from where its certificate table starts or not at
// all, whichever call fails: a header that can't be read must not turn into
// "not signed", or the table's last bytes, which read as a directory naming
// "rogue", would be taken for the payload's.
TEST(CarrierFaults, SignedCarrierNeverReadsItsTableAsTheDirectory)
{
    const std::vector<test::CarrierFile> entries = {
        {"small", test::SyntheticBytes(100, 4)},
        {"empty", ""},
    };
    const std::string carrier =
        test::SignCarrier(test::PackedBehind(test::PeImage(test::PeForm::Pe32), entries, nullptr, 8),
                          test::PeForm::Pe32, test::RogueTable());
    const Files expected = test::FileMap(entries);

    FaultRun clean = ExtractWithFault(carrier, {}, 0, FALSE);
    ASSERT_EQ(clean.files, expected);
    for (bool persistent : {false, true}) {
        for (unsigned long nth = 1; nth <= clean.calls; nth++) {
            SCOPED_TRACE("fault point " + std::to_string(nth) + (persistent ? " onwards" : ""));
            FaultRun run = ExtractWithFault(carrier, {}, nth, persistent);
            EXPECT_TRUE(run.fired);
            for (const auto &[name, data] : run.files) {
                ASSERT_TRUE(expected.count(name)) << "unexpected file " << name;
                EXPECT_EQ(data, expected.at(name));
            }
        }
    }
}

} // namespace
