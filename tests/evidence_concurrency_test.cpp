// Launchers run at once by one user on one carrier, as when a user starts
// the download twice, or eight times: the launcher processes are released
// together, while this process keeps reading "Analysis.ini".
//
// Every launcher exits 0; the report is never seen torn, only as the
// previous file or with each of its two keys set by one of the launchers
// (several may find the marker key absent and report the file name's code,
// the others report the repeat code); at the end "Times" is "1", the marker
// key exists, every entry's file is intact and nothing else is left in the
// temporary directory. The setup program each launcher starts runs while
// other launchers may still be extracting: it compares every entry it finds
// with the packed bytes, and must find each one whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "evidence_support.h"

namespace {

namespace fs = std::filesystem;
using namespace evidence;

// Reads a file that another process may replace at any moment; false when
// there is none.
bool ReadIfThere(const fs::path &file, std::string &bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

class ConcurrentLaunchers : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        BecomeSubreaper();
        payload_ = test::ReleaseFiles();
        reference_ = sandbox_.root.path() / "reference";
        results_ = sandbox_.root.path() / "results";
        fs::create_directories(reference_);
        for (test::CarrierFile &entry : payload_) {
            // Large enough that the launchers' copies overlap in time.
            if (entry.name == "data2.cab")
                entry.data = test::SyntheticBytes(16 * 1024 * 1024 + 3, 2);
        }
        for (test::CarrierFile &entry : payload_) {
            if (entry.name == "Setup.exe")
                entry.data = CheckingSetupProgram();
            test::WriteBytes(reference_ / entry.name, entry.data);
        }
        carrier_ = sandbox_.dist / kCarrierName;
        test::WriteBytes(carrier_, Carrier(ReadFile(LAUNCHER_EXE), payload_));
        fs::permissions(carrier_, fs::perms::owner_all);

        environment_ = {"HOME=" + sandbox_.home.string(), "XDG_CONFIG_HOME=" + sandbox_.config.string(),
                        "TMPDIR=" + sandbox_.TempDir(), "PATH=/usr/bin:/bin", "LC_ALL=C"};
        if (const char *asan = std::getenv("ASAN_OPTIONS"))
            environment_.push_back(std::string("ASAN_OPTIONS=") + asan);
    }

    // A setup program that compares each entry in the temporary directory
    // with its reference copy and writes the names that differ (or are
    // missing) to a file of its own under results_.
    std::string CheckingSetupProgram() const
    {
        std::string names;
        for (const test::CarrierFile &entry : payload_)
            names += " '" + entry.name + "'";
        return "#!/bin/sh\n"
               "cd '" + sandbox_.temp.string() + "' || exit 1\n"
               "for f in" + names + "; do\n"
               "  cmp -s \"$f\" '" + reference_.string() + "'/\"$f\" || echo \"$f\"\n"
               "done > '" + results_.string() + "'/$$\n";
    }

    // What each setup program that ran found wrong: one string per run,
    // empty when every entry was whole.
    std::vector<std::string> SetupFindings() const
    {
        std::vector<std::string> findings;
        for (const auto &entry : fs::directory_iterator(results_))
            findings.push_back(ReadFile(entry.path()));
        return findings;
    }

    void Prepare()
    {
        for (const auto &entry : fs::directory_iterator(sandbox_.temp))
            fs::remove_all(entry.path());
        fs::remove_all(results_);
        fs::create_directories(results_);
        test::WriteBytes(sandbox_.temp / "Analysis.ini", Report(kPreviousOem, kPreviousTimes));
        fs::remove_all(sandbox_.KeyStore());
    }

    // Starts count launchers released at the same moment; returns their
    // exit codes.
    std::vector<int> LaunchTogether(int count)
    {
        std::vector<char *> argv = {const_cast<char *>(carrier_.c_str()), nullptr};
        std::vector<char *> envp;
        for (std::string &variable : environment_)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        int gate[2];
        EXPECT_EQ(pipe(gate), 0);
        std::vector<pid_t> launchers;
        for (int i = 0; i < count; i++) {
            pid_t pid = fork();
            if (pid == 0) {
                char byte;
                close(gate[1]);
                // Blocks until the parent closes its end: all go at once.
                while (read(gate[0], &byte, 1) < 0) {
                }
                close(gate[0]);
                execve(argv[0], argv.data(), envp.data());
                _exit(127);
            }
            launchers.push_back(pid);
        }
        close(gate[0]);
        close(gate[1]);

        std::vector<int> exitCodes;
        for (pid_t pid : launchers) {
            int status = 0;
            waitpid(pid, &status, 0);
            exitCodes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        return exitCodes;
    }

    Sandbox sandbox_;
    fs::path reference_;
    fs::path results_;
    std::vector<test::CarrierFile> payload_;
    fs::path carrier_;
    std::vector<std::string> environment_;
};

TEST_P(ConcurrentLaunchers, AllSucceedAndLeaveWholeFiles)
{
    const int launchers = GetParam();
    const fs::path report = sandbox_.temp / "Analysis.ini";

    // Whatever a reader may meet: the previous report, or each key as one of
    // the launchers set it. (A launcher's "Times" write reads the file after
    // its own "OEM" write, so the previous code never returns once replaced.)
    std::set<std::string> seenValid = {Report(kPreviousOem, kPreviousTimes)};
    std::set<std::string> finalValid;
    for (const char *code : {kNameCode, kRepeatCode}) {
        seenValid.insert(Report(code, kPreviousTimes));
        seenValid.insert(Report(code, "1"));
        finalValid.insert(Report(code, "1"));
    }

    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        Prepare();

        std::atomic<bool> running{true};
        std::set<std::string> torn;
        unsigned long reads = 0;
        std::thread reader([&] {
            std::string bytes;
            while (running.load()) {
                if (ReadIfThere(report, bytes) && !seenValid.count(bytes))
                    torn.insert(bytes);
                reads++;
            }
        });
        std::vector<int> exitCodes = LaunchTogether(launchers);
        running = false;
        reader.join();
        ReapChildren();

        for (int code : exitCodes)
            EXPECT_EQ(code, 0);
        EXPECT_GT(reads, 0u);
        for (const std::string &bytes : torn)
            ADD_FAILURE() << "torn report seen:\n" << bytes;
        EXPECT_TRUE(finalValid.count(ReadFile(report))) << ReadFile(report);
        EXPECT_TRUE(MarkerExists(sandbox_.config));

        std::set<std::string> expected = {"Analysis.ini"};
        for (const test::CarrierFile &entry : payload_) {
            expected.insert(entry.name);
            EXPECT_EQ(ReadFile(sandbox_.temp / entry.name), entry.data) << entry.name;
        }
        for (const auto &entry : fs::directory_iterator(sandbox_.temp))
            EXPECT_TRUE(expected.count(entry.path().filename().string())) << "left behind: " << entry.path();

        // Every launcher started its setup program, and each one found every
        // entry whole, however far the other launchers had got.
        std::vector<std::string> findings = SetupFindings();
        EXPECT_EQ(findings.size(), (size_t)launchers);
        for (const std::string &broken : findings)
            EXPECT_EQ(broken, "") << "a setup program found these entries torn or missing";
        std::printf("round %d: %zu of %d setup programs ran\n", round + 1, findings.size(), launchers);
        if (HasFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Launchers, ConcurrentLaunchers, testing::Values(2, 8),
                         [](const testing::TestParamInfo<int> &launchers) { return std::to_string(launchers.param); });

} // namespace
