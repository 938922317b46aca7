// A signed carrier's payload ends where its certificate table starts. The
// launcher finds that end in its PE header and reads the count and the
// directory back from there; anything odd in the header means "not signed",
// and the payload then ends at the end of the file, as for any carrier.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "carrier.h"
#include "carrier_fixture.h"
#include "carrier_pe.h"
#include "signature.h"
#include "support.h"

namespace fs = std::filesystem;
using test::PeForm;

namespace {

const std::vector<test::CarrierFile> kFiles = {
    {"Setup.exe", test::SyntheticBytes(3001, 1)},
    {"data1.cab", test::SyntheticBytes(70803, 2)},
    {"layout.bin", ""},
};
const std::size_t kTableBytes = 512;

// A PE image with kFiles packed behind it as carrier pack packs them, and
// then signed.
std::string SignedCarrier(PeForm form)
{
    return test::SignCarrier(test::PackedBehind(test::PeImage(form), kFiles, nullptr, 8), form,
                             test::RogueTable(kTableBytes));
}

// What FindPayloadEnd finds for a file holding bytes.
DWORD PayloadEndOf(const std::string &bytes)
{
    test::ScratchDir scratch;
    std::string path = (scratch.path() / "carrier.exe").string();
    test::WriteBytes(path, bytes);
    OFSTRUCT openInfo;
    HFILE file = OpenFile(path.c_str(), &openInfo, OF_READ);
    EXPECT_NE(file, HFILE_ERROR);
    DWORD high = 0;
    DWORD size = GetFileSize((HANDLE)(LONG_PTR)file, &high);
    DWORD end = 0xFFFFFFFF;
    EXPECT_TRUE(FindPayloadEnd(file, size, &end));
    _lclose(file);
    return end;
}

std::string Changed(std::string bytes, const std::function<void(std::string &)> &change)
{
    change(bytes);
    return bytes;
}

TEST(SignedCarrier, PayloadEndsAtTheTableOnlyWhenTheHeaderIsSound)
{
    const std::string signed32 = SignedCarrier(PeForm::Pe32);
    const std::string signed64 = SignedCarrier(PeForm::Pe32Plus);
    const std::uint32_t end = static_cast<std::uint32_t>(signed32.size());
    const std::uint32_t table = end - kTableBytes;
    ASSERT_EQ(signed64.size(), signed32.size());
    const std::size_t security = test::SecurityDirectoryAt(PeForm::Pe32);
    const std::string cutInDirectory = signed32.substr(0, security + 6);
    const std::string notPe = test::PackedCarrier(4096, kFiles);
    auto put32 = [](std::size_t at, std::uint32_t value) {
        return [=](std::string &s) { test::PutLe32(s, at, value); };
    };
    auto put16 = [](std::size_t at, std::uint16_t value) {
        return [=](std::string &s) { test::PutLe16(s, at, value); };
    };

    const struct {
        const char *what;
        std::string carrier;
        std::uint32_t payloadEnd;
    } cases[] = {
        {"PE32, table ending the file", signed32, table},
        {"PE32+, table ending the file", signed64, table},
        {"no MZ", Changed(signed32, [](std::string &s) { s[0] = 'X'; }), end},
        {"no PE signature", Changed(signed32, [](std::string &s) { s[test::kPeHeadersAt + 1] = 'X'; }), end},
        {"PE headers' offset past the end", Changed(signed32, put32(0x3C, end + 8)), end},
        {"PE headers' offset in the last bytes", Changed(signed32, put32(0x3C, end - 4)), end},
        {"file ends inside the security directory", cutInDirectory,
         static_cast<std::uint32_t>(cutInDirectory.size())},
        {"optional header declared too short for the directory",
         Changed(signed32, put16(test::SizeOfOptionalHeaderAt(), 96 + 4 * 8)), end},
        {"four data directories", Changed(signed32, put32(test::DirectoryCountAt(PeForm::Pe32), 4)), end},
        {"unknown optional header magic", Changed(signed32, put16(test::OptionalMagicAt(), 0x107)), end},
        // The PE32+ directories lie 16 bytes further on, where this image's
        // are empty.
        {"PE32 fields under the PE32+ magic", Changed(signed32, put16(test::OptionalMagicAt(), 0x20B)), end},
        {"table of size 0", Changed(signed32, put32(security + 4, 0)), end},
        {"table at offset 0", Changed(Changed(signed32, put32(security, 0)), put32(security + 4, end)), end},
        {"table inside the headers",
         Changed(Changed(signed32, put32(security, 0x100)), put32(security + 4, end - 0x100)), end},
        {"headers declared to reach past the table", Changed(signed32, put32(test::SizeOfHeadersAt(), table + 8)),
         end},
        {"table past the end", Changed(Changed(signed32, put32(security, end + 8)), put32(security + 4, 8)), end},
        {"table larger than the file", Changed(signed32, put32(security + 4, 0xFFFFFFF8)), end},
        {"bytes appended after signing", signed32 + "appended", end + 8},
        {"table cut short", signed32.substr(0, end - 8), end - 8},
        {"an image that is not PE", notPe, static_cast<std::uint32_t>(notPe.size())},
        {"two bytes", std::string("\x01\x00", 2), 2},
        {"empty", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PayloadEndOf(c.carrier), c.payloadEnd);
    }
}

class SignedExtraction : public ::testing::Test {
protected:
    SignedExtraction() { fs::create_directory(tmp()); }

    fs::path tmp() const { return scratch_.path() / "tmp"; }

    std::map<std::string, std::string> Extract(const std::string &carrier)
    {
        fs::path path = scratch_.path() / "carrier.exe";
        test::WriteBytes(path, carrier);
        for (const fs::directory_entry &entry : fs::directory_iterator(tmp()))
            fs::remove_all(entry.path());
        std::string tempDir = tmp().string() + static_cast<char>(fs::path::preferred_separator);
        ExtractPayload(path.string().c_str(), tempDir.c_str());
        return test::FilesUnder(tmp());
    }

    test::ScratchDir scratch_;
};

// Every entry, and nothing read from the certificate table: its last bytes
// would read as a directory naming "rogue".
TEST_F(SignedExtraction, ExtractsEveryEntryOfASignedCarrier)
{
    for (PeForm form : {PeForm::Pe32, PeForm::Pe32Plus}) {
        SCOPED_TRACE(form == PeForm::Pe32 ? "PE32" : "PE32+");
        EXPECT_EQ(test::Digests(Extract(SignedCarrier(form))), test::Digests(test::FileMap(kFiles)));
    }
}

// An image signed before packing: its table lies inside the carrier and does
// not end the file, so the carrier is read from the end of the file.
TEST_F(SignedExtraction, ATableThatDoesNotEndTheFileIsIgnored)
{
    std::string image = test::PeImage(PeForm::Pe32);
    test::PutLe32(image, test::SecurityDirectoryAt(PeForm::Pe32), test::kPeSizeOfHeaders);
    test::PutLe32(image, test::SecurityDirectoryAt(PeForm::Pe32) + 4, 0x100);
    EXPECT_EQ(test::Digests(Extract(test::PackedBehind(image, kFiles, nullptr, 8))),
              test::Digests(test::FileMap(kFiles)));
}

// The bytes after the payload are the certificate's: an entry that reaches
// into them is skipped, like one that reaches past the end of the file.
TEST_F(SignedExtraction, AnEntryReachingIntoTheTableIsSkipped)
{
    std::string body = test::PeImage(PeForm::Pe32) + "abcdefgh";
    body.append((8 - (body.size() + 2 * 40 + 2) % 8) % 8, '\0');
    const std::uint32_t image = 1024;
    const std::uint32_t payloadEnd = static_cast<std::uint32_t>(body.size() + 2 * 40 + 2);
    std::string carrier = test::CarrierBytes(body, {{image, 8, "inside"}, {image, payloadEnd - image + 1, "over"}});
    ASSERT_EQ(carrier.size(), payloadEnd);
    EXPECT_EQ(Extract(test::SignCarrier(carrier, PeForm::Pe32, test::RogueTable())),
              (std::map<std::string, std::string>{{"inside", "abcdefgh"}}));
}

} // namespace
