// Malformed carriers: a record that fails its checks gets no file at all,
// not even an empty or truncated one, and every sound record beside it is
// still extracted. Nothing is ever written outside the temporary directory.
#include <gtest/gtest.h>

#include "carrier.h"
#include "carrier_fixture.h"
#include "support.h"

namespace fs = std::filesystem;
using test::CarrierBytes;
using test::CarrierRecord;
using Files = std::map<std::string, std::string>;

namespace {

const char kSep = static_cast<char>(fs::path::preferred_separator);

// The temporary directory sits ten levels below the scratch root, so a name
// (at most 31 bytes) that climbs out of it still lands inside the root,
// where the test can see it.
class Extraction {
public:
    Extraction() { UseTmp("tmp"); }

    // Moves the temporary directory to another name at the same depth.
    void UseTmp(const std::string &name)
    {
        fs::path dir = scratch_.path();
        for (int i = 0; i < 10; i++)
            dir /= "n";
        tmp_ = dir / name;
        fs::create_directories(tmp_);
    }

    const fs::path &root() const { return scratch_.path(); }
    const fs::path &tmp() const { return tmp_; }
    std::string tempDir() const { return tmp_.string() + kSep; }

    Files Run(const std::string &carrierBytes, const Files &before)
    {
        for (const auto &[name, data] : before)
            test::WriteBytes(tmp_ / name, data);
        fs::path carrier = root() / "carrier.exe";
        test::WriteBytes(carrier, carrierBytes);
        ExtractPayload(carrier.string().c_str(), tempDir().c_str());

        // Everything outside the temporary directory is as it was.
        for (const auto &[name, data] : test::FilesUnder(root())) {
            fs::path path = root() / fs::path(name).make_preferred();
            bool inside = path.string().rfind(tempDir(), 0) == 0;
            EXPECT_TRUE(inside || path == carrier) << "written outside: " << path;
        }
        return test::FilesUnder(tmp_);
    }

private:
    test::ScratchDir scratch_;
    fs::path tmp_;
};

const std::string kBody = "IMAGE" + std::string("before") + "ABCDEFGHIJ" + "after";

std::uint32_t At(const std::string &text) { return static_cast<std::uint32_t>(kBody.find(text)); }

// A carrier of three records: a sound one, the record under test, a sound one.
std::string Between(const CarrierRecord &bad)
{
    return CarrierBytes(kBody, {{At("before"), 6, "before"}, bad, {At("after"), 5, "after"}});
}

const Files kVictim = {{"victim", "untouched"}};
const Files kSound = {{"before", "before"}, {"after", "after"}, {"victim", "untouched"}};

TEST(CarrierMalformed, RecordsOutsideTheCarrierGetNoFile)
{
    // Three records: the file ends 122 bytes after the body.
    const std::uint32_t fileSize = static_cast<std::uint32_t>(kBody.size()) + 3 * 40 + 2;
    const struct {
        const char *what;
        CarrierRecord bad;
    } cases[] = {
        {"entry one byte past the end", {At("ABC"), fileSize - At("ABC") + 1, "victim"}},
        {"offset past the end", {fileSize + 1, 0, "victim"}},
        {"offset far past the end", {0x7FFFFFF0, 1, "victim"}},
        {"offset + size wraps around 32 bits", {At("ABC"), 0xFFFFFFFF, "victim"}},
        {"size past 2 GiB", {0, 0x80000000, "victim"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Extraction extraction;
        EXPECT_EQ(extraction.Run(Between(c.bad), kVictim), kSound);
    }
}

const char kAbsolute[] = "<absolute>";

TEST(CarrierMalformed, UnsafeNamesGetNoFile)
{
    std::vector<std::string> names = {
        std::string(32, 'x'), // no NUL within the field
        "", "..\\victim", "../victim", "sub\\..\\..\\victim", "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\x",
        "../../../../../../../../../../x", "\\victim", "/victim", "C:victim", "C:\\victim", "victim:stream",
        ".", "..", ".. ", "...", kAbsolute,
    };
    for (std::string name : names) {
        Extraction extraction;
        if (name == kAbsolute) {
            // An absolute path into the scratch root, when one is short enough.
            std::string root = extraction.root().string();
            std::size_t drive = root.find(':');
            name = root.substr(drive == std::string::npos ? 0 : drive + 1) + kSep + "abs";
            if (name.size() > 31)
                continue;
        }
        SCOPED_TRACE("name \"" + name + "\"");
        fs::create_directory(extraction.tmp() / "sub");
        EXPECT_EQ(extraction.Run(Between({At("ABC"), 10, name}), kVictim), kSound);
    }
}

TEST(CarrierMalformed, DirectoryLargerThanTheFileExtractsNothing)
{
    const struct {
        const char *what;
        std::string carrier;
    } cases[] = {
        {"count 5, three records", CarrierBytes(kBody, {{At("before"), 6, "before"}, {At("after"), 5, "after"},
                                                        {At("ABC"), 10, "victim"}},
                                                5)},
        {"count 32767 in a small file", CarrierBytes(kBody, {{At("after"), 5, "after"}}, 32767)},
        {"a count and nothing else", CarrierBytes("", {}, 1)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Extraction extraction;
        EXPECT_EQ(extraction.Run(c.carrier, kVictim), kVictim);
    }
}

TEST(CarrierMalformed, PathTooLongForItsBufferGetsNoFile)
{
    // A temporary directory of 246 bytes, the longest one a temporary file
    // can be made in (MAX_PATH - 14), leaves room for names of 13 bytes.
    Extraction extraction;
    std::size_t base = extraction.tempDir().size() - 4;
    ASSERT_LT(base, 236u);
    extraction.UseTmp(std::string(246 - 1 - base, 'd'));
    ASSERT_EQ(extraction.tempDir().size(), 246u);

    std::string carrier = CarrierBytes(kBody, {{At("ABC"), 3, "thirteenbytes"},
                                               {At("ABC"), 3, "fourteen.bytes"},
                                               {At("ABC"), 3, "name-of-twenty-bytes"},
                                               {At("after"), 5, "short"}});
    EXPECT_EQ(extraction.Run(carrier, {}), (Files{{"thirteenbytes", "ABC"}, {"short", "after"}}));
}

} // namespace
