// The release-layout carrier round-trips through the vendor tool and the
// launcher's extraction: pack lays it out exactly as the release carrier,
// list and check read it back, extraction gives back every file.
#include <gtest/gtest.h>

#include "carrier.h"
#include "carrier_fixture.h"
#include "carrier_tool_run.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

TEST(CarrierTool, ReleaseLayoutRoundTrips)
{
    test::ScratchDir scratch;
    fs::path in = scratch.path() / "in";
    fs::path tmp = scratch.path() / "tmp";
    fs::path out = scratch.path() / "out.exe";
    fs::create_directory(in);
    fs::create_directory(tmp);

    const std::vector<test::CarrierFile> files = test::ReleaseFiles();
    std::vector<test::CarrierRecord> records;
    // Four zero bytes before the directory make the size a multiple of 8.
    const std::string expected = test::PackedCarrier(test::kReleaseImageSize, files, &records, 8);
    test::WriteBytes(in / "launcher.exe", expected.substr(0, test::kReleaseImageSize));
    std::vector<std::string> args = {"pack", "--image", (in / "launcher.exe").string(), "-o", out.string()};
    for (const test::CarrierFile &file : files) {
        test::WriteBytes(in / file.name, file.data);
        args.push_back((in / file.name).string());
    }

    test::ToolRun pack = test::RunTool(CARRIER_TOOL, args);
    ASSERT_EQ(pack.code, 0) << pack.err;
    // Byte for byte what the release carrier's layout gives, entries at the
    // release offsets: the same inputs always give the same carrier.
    ASSERT_TRUE(test::ReadBytes(out) == expected) << "packed carrier differs from the release layout";

    test::ToolRun list = test::RunTool(CARRIER_TOOL, {"list", out.string()});
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("8 entries, directory at 4733470, 4733792 bytes"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("    2      876128     3197603  \"data2.cab\""), std::string::npos) << list.out;

    test::ToolRun json = test::RunTool(CARRIER_TOOL, {"list", "--json", out.string()});
    EXPECT_EQ(json.code, 0) << json.err;
    for (std::size_t i = 0; i < records.size(); i++) {
        std::string row = "{\"index\": " + std::to_string(i) + ", \"offset\": " + std::to_string(records[i].offset) +
                          ", \"size\": " + std::to_string(records[i].size) + ", \"name\": \"" + records[i].name + "\"}";
        EXPECT_NE(json.out.find(row), std::string::npos) << row << "\n" << json.out;
    }
    EXPECT_NE(json.out.find("\"signed\": false, \"payloadEnd\": 4733792, \"count\": 8, \"directory\": 4733470"),
              std::string::npos)
        << json.out;

    test::ToolRun check = test::RunTool(CARRIER_TOOL, {"check", out.string()});
    EXPECT_EQ(check.code, 0) << check.out << check.err;
    EXPECT_EQ(check.out, out.string() + ": sound, 8 entries\n");

    std::string tempDir = tmp.string() + static_cast<char>(fs::path::preferred_separator);
    ExtractPayload(out.string().c_str(), tempDir.c_str());
    EXPECT_EQ(test::Digests(test::FilesUnder(tmp)), test::Digests(test::FileMap(files)));

    // Nothing but the carrier was left beside it.
    std::size_t entries = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator(scratch.path()))
        entries += entry.path() != in && entry.path() != tmp && entry.path() != out;
    EXPECT_EQ(entries, 0u);
}

} // namespace
