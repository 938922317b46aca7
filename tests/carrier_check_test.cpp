// carrier check and carrier list read a carrier as the launcher does: check
// names every problem that would make the launcher skip an entry, one line
// each, and warns of what the launcher copes with; list shows the directory
// and escapes whatever bytes a name holds.
#include <gtest/gtest.h>

#include "carrier_fixture.h"
#include "carrier_tool_run.h"
#include "support.h"

namespace fs = std::filesystem;
using test::CarrierBytes;

namespace {

const std::string kBody = "IMAGE" + std::string("0123456789") + "ABCDEFGHIJ";
const std::uint32_t kData = 5;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(CarrierCheck, ReportsEachProblemOnItsOwnLine)
{
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "c.exe").string();
    // Two records: the file ends 82 bytes after the body; the directory
    // starts at the body's end.
    const std::uint32_t end = static_cast<std::uint32_t>(kBody.size()) + 82;
    const std::uint32_t directory = static_cast<std::uint32_t>(kBody.size());
    const struct {
        const char *what;
        std::string carrier;
        int code;
        std::vector<std::string> lines;
    } cases[] = {
        {"sound", CarrierBytes(kBody, {{kData, 10, "a"}, {kData + 10, 10, "sub\\b"}}), 0, {"sound, 2 entries"}},
        {"count 0", CarrierBytes(kBody, {}, 0), 1, {"entry count is 0: the launcher extracts nothing"}},
        {"count 0x8000", CarrierBytes(kBody, {{kData, 1, "a"}}, 0x8000), 1,
         {"entry count is -32768 (stored as 0x8000 or more): the launcher extracts nothing"}},
        {"directory larger than the file", CarrierBytes("", {{0, 1, "a"}}, 2), 1,
         {"directory of 2 records (80 bytes) and the count do not fit in the file of 42 bytes"}},
        {"too small for a count", "x", 1, {"file is too small to hold an entry count"}},
        {"entries past the end and into the directory",
         CarrierBytes(kBody, {{kData, end - kData + 1, "a"}, {kData, directory - kData + 1, "b"}}), 1,
         {"entry 0 (\"a\"): bytes 5 to " + std::to_string(end + 1) + " lie past the end of the file (" +
              std::to_string(end) + " bytes)",
          "entry 1 (\"b\"): bytes 5 to " + std::to_string(directory + 1) + " reach into the directory at " +
              std::to_string(directory),
          "warning: entries 0 and 1 overlap"}},
        {"unsafe names", CarrierBytes(kBody, {{kData, 1, std::string(32, 'n')}, {kData + 1, 1, "..\\x"}}), 1,
         {"entry 0 (\"" + std::string(32, 'n') + "\"): name has no terminating NUL within its 32 bytes",
          "entry 1 (\"..\\\\x\"): name has a \".\" or \"..\" component (or one made only of dots and spaces)"}},
        {"empty name and a drive", CarrierBytes(kBody, {{kData, 1, ""}, {kData + 1, 1, "C:x"}}), 1,
         {"entry 0 (\"\"): name is empty", "entry 1 (\"C:x\"): name holds ':' (a drive or another data stream)"}},
        {"overlap and equal names are warnings",
         CarrierBytes(kBody, {{kData, 10, "a"}, {kData + 20, 0, "e"}, {kData + 5, 10, "A"}}), 0,
         {"warning: entries 0 and 2 overlap",
          "warning: entries 0 and 2 have the same name when case is ignored; the later one's data remains",
          "sound, 3 entries"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteBytes(path, c.carrier);
        test::ToolRun run = test::RunTool(CARRIER_TOOL, {"check", path});
        EXPECT_EQ(run.code, c.code) << run.err;
        std::vector<std::string> expected;
        for (const std::string &line : c.lines)
            expected.push_back(path + ": " + line);
        EXPECT_EQ(Lines(run.out), expected);
    }
}

TEST(CarrierCheck, ListShowsEmptyPayloadsAndRefusesUnreadableDirectories)
{
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "c.exe").string();

    test::WriteBytes(path, CarrierBytes(kBody, {}, 0));
    test::ToolRun run = test::RunTool(CARRIER_TOOL, {"list", path});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, path + ": entry count 0, no entries\n");
    run = test::RunTool(CARRIER_TOOL, {"list", "--json", path});
    EXPECT_EQ(run.out, "{\"carrier\": \"" + path + "\", \"size\": " + std::to_string(kBody.size() + 2) +
                           ", \"count\": 0, \"directory\": null, \"entries\": []}\n");

    test::WriteBytes(path, CarrierBytes("", {{0, 1, "a"}}, 2));
    run = test::RunTool(CARRIER_TOOL, {"list", path});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "carrier: " + path + ": directory of 2 records (80 bytes) and the count do not fit in the file of 42 bytes\n");

    run = test::RunTool(CARRIER_TOOL, {"list", (scratch.path() / "none.exe").string()});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err.rfind("carrier: " + (scratch.path() / "none.exe").string() + ": cannot open: ", 0), 0u)
        << run.err;
}

TEST(CarrierCheck, ListEscapesNameBytes)
{
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "c.exe").string();
    test::WriteBytes(path, CarrierBytes(kBody, {{kData, 3, "q\"b\\s\x01\xff\xc3\xa9"}}));

    test::ToolRun run = test::RunTool(CARRIER_TOOL, {"list", path});
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.out.find("  \"q\\\"b\\\\s\\x01\\xff\xc3\xa9\"\n"), std::string::npos) << run.out;
    run = test::RunTool(CARRIER_TOOL, {"list", "--json", path});
    EXPECT_NE(run.out.find("\"name\": \"q\\\"b\\\\s\\u0001\\u00ff\xc3\xa9\"}"), std::string::npos) << run.out;
}

} // namespace
