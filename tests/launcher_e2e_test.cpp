// End to end on Linux: a carrier made by the vendor tool runs as a user would
// run it, in a sandbox with its own HOME, XDG_CONFIG_HOME and TMPDIR.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

// The payload's setup program: copies the report it finds, then marks that it
// ran. The marker is renamed into place last, so a test that sees it also
// sees the whole copy.
const char kSetupScript[] =
    "#!/bin/sh\n"
    "d=$(dirname \"$0\")\n"
    "cp \"$d/Analysis.ini\" \"$d/seen.ini\" 2>/dev/null\n"
    "echo \"$0\" > \"$d/ran.tmp\" && mv \"$d/ran.tmp\" \"$d/ran.txt\"\n";

// A setup program left in the temporary directory by an earlier run.
const char kOlderSetupScript[] =
    "#!/bin/sh\n"
    "echo older > \"$(dirname \"$0\")/ran.tmp\" && mv \"$(dirname \"$0\")/ran.tmp\" \"$(dirname \"$0\")/ran.txt\"\n";

const char kDecoyScript[] =
    "#!/bin/sh\n"
    "echo decoy > \"$(dirname \"$0\")/decoy-ran.txt\"\n";

std::string Report(const char *code)
{
    return std::string("[Setup]\r\nOEM=") + code + "\r\nTimes=1\r\n";
}

int RunProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
               uid_t uid = (uid_t)-1)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> args, envp;
        for (auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (auto &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        if (uid != (uid_t)-1 && (setgid(uid) != 0 || setuid(uid) != 0))
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WaitForFile(const fs::path &file, int seconds = 20)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (fs::exists(file))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class LauncherRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = sandbox.path() / "home";
        config = home / ".config";
        temp = sandbox.path() / "tmp";
        dist = sandbox.path() / "dist";
        payload = sandbox.path() / "payload";
        for (auto &d : {home, config, temp, dist, payload})
            fs::create_directories(d);
    }

    std::vector<std::string> Environment() const
    {
        std::vector<std::string> env = {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + config.string(),
                                        "TMPDIR=" + temp.string() + "/", "PATH=/usr/bin:/bin",
                                        "LANG=C"};
        if (const char *asan = std::getenv("ASAN_OPTIONS"))
            env.push_back(std::string("ASAN_OPTIONS=") + asan);
        return env;
    }

    fs::path AddEntry(const std::string &name, const std::string &bytes)
    {
        fs::path file = payload / name;
        test::WriteBytes(file, bytes);
        entries.push_back(file);
        return file;
    }

    fs::path Pack(const std::string &carrierName)
    {
        fs::path out = dist / carrierName;
        std::vector<std::string> argv = {CARRIER_TOOL, "pack", "--image", LAUNCHER_EXE, "-o", out.string()};
        for (auto &e : entries)
            argv.push_back(e.string());
        EXPECT_EQ(RunProgram(argv, {"PATH=/usr/bin:/bin"}), 0);
        fs::permissions(out, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        return out;
    }

    int Run(const fs::path &carrier, uid_t uid = (uid_t)-1)
    {
        return RunProgram({carrier.string()}, Environment(), uid);
    }

    bool MarkerExists() const
    {
        test::ScopedEnv xdg("XDG_CONFIG_HOME", config.string().c_str());
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Quillmere\\1.5", 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    test::ScratchDir sandbox;
    fs::path home, config, temp, dist, payload;
    std::vector<fs::path> entries;
};

TEST_F(LauncherRun, FirstRunReportsTheNamesCodeAndLaterRunsTheRepeatCode)
{
    AddEntry("Setup.exe", kSetupScript);
    AddEntry("data1.cab", std::string(70000, '\x5a') + std::string("\0\1\2\3", 4));
    AddEntry("layout.bin", "");
    fs::path carrier = Pack("Product_12345678901.exe");

    ASSERT_EQ(Run(carrier), 0);
    for (auto &e : entries)
        EXPECT_EQ(test::ReadBytes(temp / e.filename()), test::ReadBytes(e)) << e;
    EXPECT_EQ(test::ReadBytes(temp / "Analysis.ini"), Report("12345678901"));
    EXPECT_TRUE(MarkerExists());
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    // The setup program found the report complete when it started.
    EXPECT_EQ(test::ReadBytes(temp / "seen.ini"), Report("12345678901"));

    fs::remove(temp / "ran.txt");
    ASSERT_EQ(Run(carrier), 0);
    EXPECT_EQ(test::ReadBytes(temp / "Analysis.ini"), Report("99999999999"));
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    EXPECT_EQ(test::ReadBytes(temp / "seen.ini"), Report("99999999999"));
}

TEST_F(LauncherRun, EmptyPayloadStillReportsAndStartsAnOlderSetup)
{
    // An image followed by nothing but a count of zero.
    fs::path carrier = dist / "Product_12345678901.exe";
    test::WriteBytes(carrier, test::ReadBytes(LAUNCHER_EXE) + std::string("\0\0", 2));
    fs::permissions(carrier, fs::perms::owner_all);
    test::WriteBytes(temp / "setup.exe", kOlderSetupScript);

    ASSERT_EQ(Run(carrier), 0);
    EXPECT_EQ(test::ReadBytes(temp / "Analysis.ini"), Report("12345678901"));
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    EXPECT_EQ(test::ReadBytes(temp / "ran.txt"), "older\n");
}

TEST_F(LauncherRun, TemporaryDirectoryWithSpacesDoesNotRunADecoy)
{
    // Unquoted, "<sandbox>/my tmp/setup.exe" would first resolve to
    // "<sandbox>/my", and then "<sandbox>/my.exe", the decoy.
    temp = sandbox.path() / "my tmp";
    fs::create_directories(temp);
    test::WriteBytes(sandbox.path() / "my.exe", kDecoyScript);
    AddEntry("Setup.exe", kSetupScript);
    fs::path carrier = Pack("Product_12345678901.exe");

    ASSERT_EQ(Run(carrier), 0);
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    EXPECT_FALSE(fs::exists(sandbox.path() / "decoy-ran.txt"));
    EXPECT_EQ(test::ReadBytes(temp / "seen.ini"), Report("12345678901"));
}

TEST_F(LauncherRun, UnreadableCarrierStillReportsAndTriesTheStart)
{
    // Only a user other than root can be refused a read: run as "nobody" a
    // carrier it may execute but not read.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the carrier as another user";
    struct passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    AddEntry("Setup.exe", kSetupScript);
    fs::path carrier = Pack("Product_12345678901.exe");
    test::WriteBytes(temp / "setup.exe", kOlderSetupScript);
    for (auto &p : fs::recursive_directory_iterator(sandbox.path()))
        (void)chown(p.path().c_str(), nobody->pw_uid, nobody->pw_gid);
    (void)chown(sandbox.path().c_str(), nobody->pw_uid, nobody->pw_gid);
    (void)chown(carrier.c_str(), 0, 0);
    fs::permissions(carrier, fs::perms::owner_all | fs::perms::others_exec);

    ASSERT_EQ(Run(carrier, nobody->pw_uid), 0);
    EXPECT_EQ(test::ReadBytes(temp / "Analysis.ini"), Report("12345678901"));
    // Nothing came out of the carrier: the older setup program was started.
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    EXPECT_EQ(test::ReadBytes(temp / "ran.txt"), "older\n");
}

} // namespace
