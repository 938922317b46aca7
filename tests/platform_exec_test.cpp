// WinExec as the launch uses it: which program a command line starts, what
// the started program receives, and that the caller is left with nothing
// to wait for. The programs are copies of a probe that reports how it was
// started (see platform_exec_probe.cpp).
#include "platform.h"
#include "platform_services_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Report {
    std::map<std::string, std::string> fields;
    std::vector<std::string> args;
};

class ExecTest : public ::testing::Test {
protected:
    void SetUp() override { probeDir_ = std::make_unique<test::ScopedEnv>("EXEC_PROBE_DIR", reports_.path().c_str()); }
    void TearDown() override { test::DisarmFaults(); }

    // Installs the probe as dir/name, creating dir as needed.
    fs::path Install(const std::string &name, fs::perms mode = fs::perms(0755)) const
    {
        fs::path target = root_.path() / name;
        fs::create_directories(target.parent_path());
        fs::copy_file(EXEC_PROBE_PATH, target);
        fs::permissions(target, mode);
        return target;
    }

    fs::path ReportOf(const std::string &program) const { return reports_.path() / (program + ".report"); }

    // Waits for the named program's report; false after a generous timeout.
    bool AwaitReport(const std::string &program, Report *report = nullptr) const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(ReportOf(program))) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (report != nullptr) {
            std::istringstream in(test::ReadBytes(ReportOf(program)));
            for (std::string line; std::getline(in, line);) {
                std::string key = line.substr(0, line.find('='));
                std::string value = line.substr(line.find('=') + 1);
                if (key == "arg")
                    report->args.push_back(value);
                else
                    report->fields[key] = value;
            }
        }
        return true;
    }

    std::vector<std::string> Reports() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(reports_.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string Root() const { return root_.path().string(); }

    test::ScratchDir root_;
    test::ScratchDir reports_;
    std::unique_ptr<test::ScopedEnv> probeDir_;
};

// Which file a command line starts. Unquoted, the shortest prefix ending at a
// blank that names a program wins, so a "my.exe" planted next to "my dir"
// runs instead of the setup program; quoting the path prevents it.
TEST_F(ExecTest, TheCommandLineNamesTheProgramAsOnWindows)
{
    struct Case {
        const char *name;
        std::vector<std::string> installed;
        std::string commandLine; // after the scratch root and '/'
        bool quoted;
        const char *started; // the program that reports
    };
    const Case cases[] = {
        {"QuotedWithSpaces", {"my dir/setup.exe", "my.exe"}, "my dir/setup.exe", true, "setup.exe"},
        {"UnquotedRunsTheDecoy", {"my dir/setup.exe", "my.exe"}, "my dir/setup.exe", false, "my.exe"},
        {"UnquotedWithoutDecoy", {"my dir/setup.exe"}, "my dir/setup.exe", false, "setup.exe"},
        {"NameIgnoresCase", {"Setup.exe"}, "setup.exe", false, "Setup.exe"},
        {"ExeIsAppended", {"tool.exe"}, "tool", false, "tool.exe"},
        {"BackslashesSeparate", {"sub/setup.exe"}, "sub\\setup.exe", true, "setup.exe"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string &program : c.installed)
            Install(std::string(c.name) + "/" + program);
        std::string path = Root() + "/" + c.name + "/" + c.commandLine;
        std::string line = c.quoted ? "\"" + path + "\"" : path;

        EXPECT_GT(WinExec(line.c_str(), SW_SHOW), 31u);
        EXPECT_TRUE(AwaitReport(c.started));
        EXPECT_EQ(Reports(), std::vector<std::string>{std::string(c.started) + ".report"});
        fs::remove(ReportOf(c.started));
    }
}

TEST_F(ExecTest, FailuresReportWhy)
{
    Install("present.exe");
    test::WriteBytes(root_.path() / "notes.exe", "just text\r\n");
    test::WriteBytes(root_.path() / "empty.exe", "");
    test::WriteBytes(root_.path() / "windows.exe", std::string("MZ\x90\0\3\0\0\0", 8));
    struct Case {
        std::string commandLine;
        UINT result;
    };
    const Case cases[] = {
        {"\"" + Root() + "/absent.exe\"", ERROR_FILE_NOT_FOUND},
        {Root() + "/absent.exe", ERROR_FILE_NOT_FOUND},
        {"\"" + Root() + "/no dir/setup.exe\"", ERROR_PATH_NOT_FOUND},
        {"\"" + Root() + "/notes.exe\"", ERROR_BAD_FORMAT},
        {"\"" + Root() + "/empty.exe\"", ERROR_BAD_FORMAT},
        {"\"" + Root() + "/windows.exe\"", ERROR_BAD_FORMAT},
        {"", ERROR_FILE_NOT_FOUND},
        {"   ", ERROR_FILE_NOT_FOUND},
    };
    for (const Case &c : cases)
        EXPECT_EQ(WinExec(c.commandLine.c_str(), SW_SHOW), c.result) << c.commandLine;
    EXPECT_EQ(WinExec(nullptr, SW_SHOW), (UINT)ERROR_FILE_NOT_FOUND);

    test::ArmFault(1);
    EXPECT_EQ(WinExec(("\"" + Root() + "/present.exe\"").c_str(), SW_SHOW), 0u);
    test::DisarmFaults();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(Reports().empty()) << "nothing was started";
}

// Windows has no execute permission: a program or script unpacked without
// one still runs.
TEST_F(ExecTest, ProgramsRunWithoutAnExecuteBit)
{
    fs::path program = Install("setup.exe", fs::perms(0644));
    fs::path script = root_.path() / "script.exe";
    test::WriteBytes(script, "#!/bin/sh\n: > \"$EXEC_PROBE_DIR/script.exe.report\"\n");
    fs::permissions(script, fs::perms(0600));

    EXPECT_GT(WinExec(program.c_str(), SW_SHOW), 31u);
    EXPECT_TRUE(AwaitReport("setup.exe"));
    EXPECT_GT(WinExec(script.c_str(), SW_SHOW), 31u);
    EXPECT_TRUE(AwaitReport("script.exe"));
    EXPECT_EQ(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

TEST_F(ExecTest, TheRestOfTheLineIsSplitIntoArguments)
{
    Install("args.exe");
    struct Case {
        std::string arguments;
        std::vector<std::string> argv;
    };
    const Case cases[] = {
        {"", {}},
        {"  one   two  ", {"one", "two"}},
        {"\"with space\" x\"y z\"", {"with space", "xy z"}},
        {"a\\b c\\\\", {"a\\b", "c\\\\"}},
        {"\\\"quoted\\\"", {"\"quoted\""}},
        {"\"ends\\\\\" next", {"ends\\", "next"}},
        {"three\\\\\\\"x", {"three\\\"x"}},
    };
    for (const Case &c : cases) {
        std::string line = "\"" + Root() + "/args.exe\"" + (c.arguments.empty() ? "" : " " + c.arguments);
        Report report;
        EXPECT_GT(WinExec(line.c_str(), SW_SHOW), 31u) << line;
        ASSERT_TRUE(AwaitReport("args.exe", &report)) << line;
        EXPECT_EQ(report.args, c.argv) << line;
        fs::remove(ReportOf("args.exe"));
    }
}

// WinExec returns while the program still runs; the program then belongs to
// no one here, runs in its own session, and holds none of our descriptors.
TEST_F(ExecTest, TheProgramRunsOnAloneAfterWinExecReturns)
{
    fs::path program = Install("setup.exe");
    fs::path gate = reports_.path() / "gate";
    test::ScopedEnv gateEnv("EXEC_PROBE_GATE", gate.c_str());
    int inheritable = open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(inheritable, 3);

    UINT result = WinExec(program.c_str(), SW_SHOW);
    close(inheritable);
    EXPECT_GT(result, 31u);
    EXPECT_FALSE(fs::exists(ReportOf("setup.exe"))) << "WinExec waited for the program";
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child of ours is left";
    EXPECT_EQ(errno, ECHILD);

    test::WriteBytes(gate, "");
    Report report;
    ASSERT_TRUE(AwaitReport("setup.exe", &report));
    EXPECT_NE(report.fields["ppid"], std::to_string(getpid()));
    EXPECT_EQ(report.fields["sid"], report.fields["pid"]);
    EXPECT_EQ(report.fields["fds"], "0,1,2");
}

} // namespace
