// carrier check and carrier list read a carrier as the launcher does: check
// names every problem that would make the launcher skip an entry, one line
// each, and warns of what the launcher copes with; list shows the directory
// and escapes whatever bytes a name holds.
#include <gtest/gtest.h>

#include "carrier_fixture.h"
#include "carrier_pe.h"
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

// One carrier and what `check` must say of it: its exit code and its lines,
// each prefixed with the carrier's path.
struct CheckCase {
    const char *what;
    std::string carrier;
    int code;
    std::vector<std::string> lines;
};

void ExpectCheck(const std::string &path, const CheckCase &c)
{
    SCOPED_TRACE(c.what);
    test::WriteBytes(path, c.carrier);
    test::ToolRun run = test::RunTool(CARRIER_TOOL, {"check", path});
    EXPECT_EQ(run.code, c.code) << run.err;
    std::vector<std::string> expected;
    for (const std::string &line : c.lines)
        expected.push_back(path + ": " + line);
    EXPECT_EQ(Lines(run.out), expected);
}

TEST(CarrierCheck, ReportsEachProblemOnItsOwnLine)
{
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "c.exe").string();
    // Two records: the file ends 82 bytes after the body; the directory
    // starts at the body's end.
    const std::uint32_t end = static_cast<std::uint32_t>(kBody.size()) + 82;
    const std::uint32_t directory = static_cast<std::uint32_t>(kBody.size());
    const CheckCase cases[] = {
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
    for (const auto &c : cases)
        ExpectCheck(path, c);
}

// A signed carrier is read from where its certificate table starts, and
// check explains a carrier whose payload does not end there.
TEST(CarrierCheck, ReadsSignedCarriersFromTheirCertificateTable)
{
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "c.exe").string();
    const std::vector<test::CarrierFile> files = {{"a", "0123456789"}, {"b", "xyz"}};
    const std::string image = test::PeImage(test::PeForm::Pe32);
    const std::size_t security = test::SecurityDirectoryAt(test::PeForm::Pe32);
    auto sign = [](const std::string &carrier) {
        return test::SignCarrier(carrier, test::PeForm::Pe32, test::RogueTable());
    };
    auto str = [](std::size_t n) { return std::to_string(n); };

    const std::string packed = test::PackedBehind(image, files, nullptr, 8);
    const std::string signedNote = "signed: the payload ends at " + str(packed.size()) +
                                   ", where a certificate table of 512 bytes starts";

    // Signed when its size was not a multiple of 8: the signer's zeros stand
    // between the count and the table.
    const std::string unaligned = test::PackedBehind(image, files);
    ASSERT_NE(unaligned.size() % 8, 0u);
    const std::size_t tableAfterPadding = unaligned.size() + 8 - unaligned.size() % 8;

    // An image signed before packing: its table is inside the carrier.
    std::string signedImage = image;
    test::PutLe32(signedImage, security, 512);
    test::PutLe32(signedImage, security + 4, 256);
    const std::string packedSignedImage = test::PackedBehind(signedImage, files, nullptr, 8);

    // A table that starts inside the file and runs past its end.
    std::string cutShort = packed;
    test::PutLe32(cutShort, security, static_cast<std::uint32_t>(packed.size() - 8));
    test::PutLe32(cutShort, security + 4, 16);

    // A record reaching one byte into the certificate table.
    std::string body = image + "abcdefgh";
    body.append((8 - (body.size() + 82) % 8) % 8, '\0');
    const std::uint32_t payloadEnd = static_cast<std::uint32_t>(body.size() + 82);
    const std::string intoTable = CarrierBytes(body, {{1024, 8, "inside"}, {1024, payloadEnd - 1024 + 1, "over"}});

    const CheckCase cases[] = {
        {"signed after packing", sign(packed), 0, {"sound, 2 entries, " + signedNote}},
        {"signed at a size that is not a multiple of 8", sign(unaligned), 1,
         {"the payload ends at " + str(unaligned.size()) + ", " + str(tableAfterPadding - unaligned.size()) +
              " zero bytes before the certificate table at " + str(tableAfterPadding) +
              ": the carrier was signed when its size was not a multiple of 8, and the launcher reads the count "
              "only where the table starts. Pack it again with this carrier pack, which pads the carrier to a "
              "multiple of 8 bytes, and sign the new carrier",
          "entry count is 0 (read just before the certificate table at " + str(tableAfterPadding) +
              "): the launcher extracts nothing"}},
        {"image signed before packing", packedSignedImage, 1,
         {"the PE header names a certificate table at 512 (256 bytes) that ends at 768, before the end of the "
          "file (" + str(packedSignedImage.size()) +
          " bytes): the file was changed after signing, or its image was signed before packing; the launcher "
          "reads the payload from the end of the file, which the signature does not cover. Sign the carrier "
          "after packing"}},
        {"table running past the end", cutShort, 1,
         {"the PE header names a certificate table at " + str(packed.size() - 8) +
          " (16 bytes) that runs past the end of the file (" + str(packed.size()) +
          " bytes): the file is cut short or was changed after signing; the launcher reads the payload from the "
          "end of the file"}},
        {"entry reaching into the table", sign(intoTable), 1,
         {"entry 1 (\"over\"): bytes 1024 to " + str(payloadEnd + 1) + " lie past the end of the payload at " +
              str(payloadEnd) + ", where the certificate table starts",
          "warning: entries 0 and 1 overlap"}},
    };
    for (const auto &c : cases)
        ExpectCheck(path, c);

    test::WriteBytes(path, sign(packed));
    test::ToolRun run = test::RunTool(CARRIER_TOOL, {"list", path});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(Lines(run.out).at(0), path + ": 2 entries, directory at " + str(packed.size() - 82) + ", " +
                                        str(packed.size() + 512) + " bytes, " + signedNote);
    run = test::RunTool(CARRIER_TOOL, {"list", "--json", path});
    EXPECT_NE(run.out.find("\"signed\": true, \"payloadEnd\": " + str(packed.size()) + ", \"count\": 2"),
              std::string::npos)
        << run.out;
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
    const std::string size = std::to_string(kBody.size() + 2);
    EXPECT_EQ(run.out, "{\"carrier\": \"" + path + "\", \"size\": " + size + ", \"signed\": false, \"payloadEnd\": " +
                           size + ", \"count\": 0, \"directory\": null, \"entries\": []}\n");

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
