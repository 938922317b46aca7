// An entry far larger than the copy block extracts byte-identically, and the
// memory extraction takes does not grow with the entry's size.
#include <gtest/gtest.h>

#include <cstdio>

#include "carrier_fixture.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

// Runs the probe on carrier into tmp; returns its peak resident set in KiB.
long ExtractInChild(const fs::path &carrier, const fs::path &tmp)
{
    std::string command = std::string(CARRIER_PROBE) + " '" + carrier.string() + "' '" + tmp.string() + "/'";
    FILE *probe = popen(command.c_str(), "r");
    if (probe == nullptr)
        return -1;
    long peak = -1;
    if (fscanf(probe, "%ld", &peak) != 1)
        peak = -1;
    EXPECT_EQ(pclose(probe), 0);
    return peak;
}

TEST(CarrierLarge, EntryOf64MiBPlusOneExtractsWithFlatMemory)
{
    test::ScratchDir scratch;
    const std::vector<test::CarrierFile> small = {{"entry.bin", test::SyntheticBytes(1000, 5)}};
    const std::vector<test::CarrierFile> large = {{"entry.bin", test::SyntheticBytes(64 * 1024 * 1024 + 1, 6)}};
    fs::create_directory(scratch.path() / "small");
    fs::create_directory(scratch.path() / "large");
    test::WriteBytes(scratch.path() / "small.exe", test::PackedCarrier(4096, small));
    test::WriteBytes(scratch.path() / "large.exe", test::PackedCarrier(4096, large));

    long smallPeak = ExtractInChild(scratch.path() / "small.exe", scratch.path() / "small");
    long largePeak = ExtractInChild(scratch.path() / "large.exe", scratch.path() / "large");
    ASSERT_GT(smallPeak, 0);
    ASSERT_GT(largePeak, 0);

    EXPECT_EQ(test::FilesUnder(scratch.path() / "small"), test::FileMap(small));
    EXPECT_EQ(test::Digests(test::FilesUnder(scratch.path() / "large")), test::Digests(test::FileMap(large)));
    // A block as large as the entry would add 64 MiB; the copy block adds
    // at most a few.
    EXPECT_LT(largePeak - smallPeak, 8 * 1024) << "peak " << smallPeak << " KiB vs " << largePeak << " KiB";
    RecordProperty("peak_kib_small", std::to_string(smallPeak));
    RecordProperty("peak_kib_large", std::to_string(largePeak));
}

} // namespace
