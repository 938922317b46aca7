// carrier pack refuses what the launcher would skip, misplace or not read,
// and every refusal leaves no output behind: a new OUT is not created, an
// existing one is left as it was, and no temporary file remains.
#include <gtest/gtest.h>

#include "carrier_fixture.h"
#include "carrier_pe.h"
#include "carrier_tool_run.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

class PackTest : public ::testing::Test {
protected:
    PackTest()
    {
        fs::create_directories(in() / "a");
        fs::create_directories(in() / "b");
        test::WriteBytes(image(), test::SyntheticBytes(4096, 1));
    }

    fs::path in() const { return scratch_.path() / "in"; }
    fs::path image() const { return in() / "launcher.exe"; }
    fs::path out() const { return scratch_.path() / "out" / "carrier.exe"; }

    std::string Input(const std::string &name, const std::string &data = "data")
    {
        fs::path path = in() / name;
        test::WriteBytes(path, data);
        return path.string();
    }

    test::ToolRun Pack(const std::vector<std::string> &files)
    {
        std::vector<std::string> args = {"pack", "--image", image().string(), "-o", out().string()};
        args.insert(args.end(), files.begin(), files.end());
        return test::RunTool(CARRIER_TOOL, args);
    }

    // The names in OUT's directory.
    std::vector<std::string> OutDirectory() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry &entry : fs::directory_iterator(out().parent_path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    test::ScratchDir scratch_;
};

TEST_F(PackTest, RefusalsLeaveNoOutput)
{
    fs::create_directory(out().parent_path());
    fs::path sparse = in() / "huge.bin";
    test::WriteBytes(sparse, "");
    fs::resize_file(sparse, 0x7FFFFFFFu - 4096 - 40);

    const struct {
        const char *what;
        std::vector<std::string> files;
        std::string message;
    } cases[] = {
        {"name over 31 bytes", {Input("ok"), Input(std::string(32, 'n'))}, "is 32 bytes"},
        {"name with ':'", {Input("a:b")}, "the launcher would skip it"},
        {"name of dots", {Input("...")}, "the launcher would skip it"},
        {"name of dots and a space", {Input(".. ")}, "the launcher would skip it"},
        {"name with a backslash", {Input("sub\\file")}, "directory separator"},
        {"names equal ignoring case", {Input("a/Setup.exe"), Input("b/setup.exe")}, "when case is ignored"},
        {"one file twice", {Input("twice"), Input("twice")}, "when case is ignored"},
        {"missing file", {Input("ok"), (in() / "missing").string()}, "cannot open"},
        {"a directory", {(in() / "a").string()}, "not a regular file"},
        {"a directory's path", {(in() / "a").string() + "/"}, "has no file name"},
        {"carrier of 2 GiB", {sparse.string()}, "2 GiB"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (bool existing : {false, true}) {
            if (existing)
                test::WriteBytes(out(), "previous carrier");
            else
                fs::remove(out());
            test::ToolRun run = Pack(c.files);
            EXPECT_EQ(run.code, 2);
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
            EXPECT_EQ(run.err.rfind("carrier: ", 0), 0u) << run.err;
            if (existing) {
                EXPECT_EQ(test::ReadBytes(out()), "previous carrier");
                EXPECT_EQ(OutDirectory(), std::vector<std::string>{"carrier.exe"});
            } else {
                EXPECT_TRUE(OutDirectory().empty());
            }
        }
    }
}

TEST_F(PackTest, ErrorsNameTheFileAndTheProblem)
{
    fs::create_directory(out().parent_path());
    std::string longName = Input(std::string(40, 'x'));
    test::ToolRun run = Pack({longName});
    EXPECT_EQ(run.err, "carrier: " + longName + ": name \"" + std::string(40, 'x') +
                           "\" is 40 bytes; a directory record holds at most 31\n");

    std::string upper = Input("a/DATA.CAB");
    std::string lower = Input("b/data.cab");
    run = Pack({upper, lower});
    EXPECT_EQ(run.err, "carrier: " + lower + ": name \"data.cab\" equals that of " + upper +
                           " when case is ignored; one would overwrite the other on Windows\n");
}

TEST_F(PackTest, CountAndUsageRefusals)
{
    fs::create_directory(out().parent_path());
    const std::string ok = Input("ok");
    const struct {
        const char *what;
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {"more than 32767 entries", [&] {
             std::vector<std::string> args = {"pack", "--image", image().string(), "-o", out().string()};
             args.insert(args.end(), 32768, "x");
             return args;
         }(),
         "at most 32767 entries"},
        {"no files", {"pack", "--image", image().string(), "-o", out().string()}, "no FILE"},
        {"no image", {"pack", "-o", out().string(), ok}, "--image LAUNCHER is required"},
        {"no output", {"pack", "--image", image().string(), ok}, "-o OUT is required"},
        {"missing image", {"pack", "--image", (in() / "none").string(), "-o", out().string(), ok}, "cannot open"},
        {"unknown option", {"pack", "--image", image().string(), "-o", out().string(), "--fast", ok}, "--fast"},
        {"output directory missing", {"pack", "--image", image().string(), "-o", (in() / "no/c.exe").string(), ok},
         "cannot create"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        test::ToolRun run = test::RunTool(CARRIER_TOOL, c.args);
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(OutDirectory().empty());
    }
}

TEST_F(PackTest, PacksLongestNamesAndReplacesAnExistingCarrier)
{
    fs::create_directory(out().parent_path());
    test::WriteBytes(out(), "previous carrier");
    std::string name31(31, 'n');
    test::ToolRun run = Pack({Input(name31, "abc"), Input("sub.dir.name", "")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "");
    // 4096 + 3 + 2 x 40 + 2 bytes: three zero bytes before the directory
    // make the size a multiple of 8.
    std::string body = test::ReadBytes(image()) + "abc" + std::string(3, '\0');
    EXPECT_TRUE(test::ReadBytes(out()) == test::CarrierBytes(body, {{4096, 3, name31}, {4099, 0, "sub.dir.name"}}));
    EXPECT_EQ(OutDirectory(), std::vector<std::string>{"carrier.exe"});
    // A program: it may be run as it is.
    EXPECT_NE(fs::status(out()).permissions() & fs::perms::owner_exec, fs::perms::none);
}

// Signing pads a file to a multiple of 8 before it appends the certificate
// table; pack pads first, before the directory, so that signing adds nothing
// between the count and the table.
TEST_F(PackTest, PadsBeforeTheDirectoryToAMultipleOfEight)
{
    fs::create_directory(out().parent_path());
    for (std::size_t size = 0; size < 8; size++) {
        SCOPED_TRACE(std::to_string(size) + " bytes of data");
        std::string data = test::SyntheticBytes(size, 5);
        ASSERT_EQ(Pack({Input("entry", data)}).code, 0);
        // 4096 + size + 40 + 2 bytes before padding.
        std::string padding((8 - (size + 42) % 8) % 8, '\0');
        EXPECT_TRUE(test::ReadBytes(out()) ==
                    test::CarrierBytes(test::ReadBytes(image()) + data + padding, {{4096, (std::uint32_t)size, "entry"}}));
        EXPECT_EQ(fs::file_size(out()) % 8, 0u);
    }
}

// A signed image's signature would not hold for the carrier: pack says so,
// and packs all the same, since the launcher reads such a carrier.
TEST_F(PackTest, WarnsOfASignedImage)
{
    fs::create_directory(out().parent_path());
    const std::string plain = test::PeImage(test::PeForm::Pe32Plus);
    test::WriteBytes(image(), plain);
    EXPECT_EQ(Pack({Input("entry")}).err, "");
    test::WriteBytes(image(), test::SignCarrier(plain, test::PeForm::Pe32Plus, test::RogueTable()));
    test::ToolRun run = Pack({Input("entry")});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "carrier: warning: " + image().string() +
                           ": the image is signed; its signature does not hold for the carrier. Sign the carrier "
                           "after packing\n");
    EXPECT_TRUE(fs::exists(out()));
}

TEST(CarrierToolHelp, EveryCommandHasHelp)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--help"}, "usage: carrier COMMAND"},
        {{"pack", "--help"}, "usage: carrier pack --image LAUNCHER -o OUT FILE..."},
        {{"list", "--help"}, "usage: carrier list CARRIER [--json]"},
        {{"check", "--help"}, "usage: carrier check CARRIER"},
    };
    for (const auto &[args, usage] : cases) {
        test::ToolRun run = test::RunTool(CARRIER_TOOL, args);
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(run.out.rfind(usage, 0), 0u) << run.out;
    }
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"unpack"}, {"list"}, {"check", "a", "b"}, {"list", "--xml", "a"}}) {
        test::ToolRun run = test::RunTool(CARRIER_TOOL, args);
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    }
}

} // namespace
