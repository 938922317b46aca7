// Extraction of well-formed carriers: every entry lands in the temporary
// directory under its stored name with exactly its bytes, in directory order.
#include <gtest/gtest.h>

#include "carrier.h"
#include "carrier_fixture.h"
#include "support.h"

namespace fs = std::filesystem;
using test::CarrierBytes;
using test::CarrierRecord;
using Files = std::map<std::string, std::string>;

namespace {

// A scratch area holding the carrier beside an empty temporary directory.
class Extraction {
public:
    Extraction() { fs::create_directory(tmp()); }

    fs::path tmp() const { return scratch_.path() / "tmp"; }
    fs::path carrier() const { return scratch_.path() / "carrier.exe"; }

    Files Run(const std::string &carrierBytes)
    {
        test::WriteBytes(carrier(), carrierBytes);
        std::string tempDir = tmp().string() + static_cast<char>(fs::path::preferred_separator);
        ExtractPayload(carrier().string().c_str(), tempDir.c_str());
        return test::FilesUnder(tmp());
    }

    void Put(const Files &files)
    {
        for (const auto &[name, data] : files)
            test::WriteBytes(tmp() / name, data);
    }

private:
    test::ScratchDir scratch_;
};

TEST(CarrierExtract, ReleaseLayoutExtractsByteIdentically)
{
    std::vector<CarrierRecord> records;
    std::vector<test::CarrierFile> files = test::ReleaseFiles();
    std::string carrier = test::PackedCarrier(test::kReleaseImageSize, files, &records);

    const std::uint32_t releaseOffsets[] = {40960,   805325,  876128,  4073731,
                                            4420333, 4420750, 4586638, 4586751};
    ASSERT_EQ(records.size(), 8u);
    for (std::size_t i = 0; i < records.size(); i++)
        EXPECT_EQ(records[i].offset, releaseOffsets[i]) << records[i].name;
    EXPECT_EQ(carrier.size(), 4733788u);

    Extraction extraction;
    EXPECT_EQ(test::Digests(extraction.Run(carrier)), test::Digests(test::FileMap(files)));
}

const std::string kImage = "IMAGE";
// Entry data used by the cases below, after the five-byte image.
const std::string kBody = kImage + "0123456789" + "gap" + "ABCDEFGHIJ";

std::uint32_t At(const std::string &text) { return static_cast<std::uint32_t>(kBody.find(text)); }

TEST(CarrierExtract, EdgeCasesOfWellFormedCarriers)
{
    const CarrierRecord a = {At("0123"), 4, "a"};
    const struct {
        const char *what;
        std::string carrier;
        Files before;
        Files after;
    } cases[] = {
        {"count 0 extracts nothing", CarrierBytes(kBody, {a}, 0), {{"keep", "old"}}, {{"keep", "old"}}},
        {"count 0x8000 is negative", CarrierBytes(kBody, {a}, 0x8000), {}, {}},
        {"count 0xFFFF is negative", CarrierBytes(kBody, {a}, 0xFFFF), {}, {}},
        {"size 0 truncates an existing file", CarrierBytes(kBody, {{At("gap"), 0, "a"}}), {{"a", "old content"}},
         {{"a", ""}}},
        {"an existing file is overwritten", CarrierBytes(kBody, {{At("ABC"), 3, "a"}}),
         {{"a", "older and longer content"}}, {{"a", "ABC"}}},
        {"the later of two equal names wins", CarrierBytes(kBody, {{At("012"), 3, "a"}, {At("ABC"), 3, "a"}}), {},
         {{"a", "ABC"}}},
        {"entries out of order, overlapping, with gaps",
         CarrierBytes(kBody, {{At("ABC"), 10, "last"}, {At("0123"), 4, "first"}, {At("2345"), 6, "overlap"},
                              {At("0"), 23, "all"}, {0, 5, "image"}}),
         {},
         {{"last", "ABCDEFGHIJ"},
          {"first", "0123"},
          {"overlap", "234567"},
          {"all", "0123456789gapABCDEFGHIJ"},
          {"image", "IMAGE"}}},
        {"a subdirectory part works when the subdirectory exists",
         CarrierBytes(kBody, {{At("ABC"), 2, "sub\\x"}, {At("012"), 2, "sub/y"}, {At("gap"), 3, "none\\z"}}),
         {},
         {{"sub/x", "AB"}, {"sub/y", "01"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Extraction extraction;
        fs::create_directory(extraction.tmp() / "sub");
        extraction.Put(c.before);
        EXPECT_EQ(extraction.Run(c.carrier), c.after);
        // No directory is made for a name's subdirectory part.
        EXPECT_FALSE(fs::exists(extraction.tmp() / "none"));
    }
}

TEST(CarrierExtract, AnEntryMayReachIntoTheDirectoryAndCount)
{
    // The launcher asks only that an entry lie inside the file; the bytes of
    // the directory and the count are as good as any.
    std::string carrier = CarrierBytes(kBody, {{static_cast<std::uint32_t>(kBody.size()), 42, "tail"}});
    Extraction extraction;
    EXPECT_EQ(extraction.Run(carrier), (Files{{"tail", carrier.substr(kBody.size())}}));
}

TEST(CarrierExtract, NothingForAMissingOrTinyCarrier)
{
    Extraction extraction;
    std::string tempDir = extraction.tmp().string() + static_cast<char>(fs::path::preferred_separator);
    ExtractPayload((extraction.tmp() / "absent.exe").string().c_str(), tempDir.c_str());
    ExtractPayload("", tempDir.c_str());
    EXPECT_TRUE(test::FilesUnder(extraction.tmp()).empty());
    for (const std::string tiny : {"", "\x01"}) {
        EXPECT_TRUE(extraction.Run(tiny).empty());
    }
}

} // namespace
