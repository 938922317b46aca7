// End to end under Wine: the x86_64 launcher, packed by the vendor tool with
// a tiny Windows setup program, runs as a user would run it. The report must
// hold the same bytes as on Linux.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;

namespace {

const char kMarkerParent[] = "Software\\Corvane";
const char kMarkerKey[] = "Software\\Corvane\\Quillmere\\1.5";

std::string Report(const char *code)
{
    return std::string("[Setup]\r\nOEM=") + code + "\r\nTimes=1\r\n";
}

DWORD RunAndWait(std::string commandLine)
{
    STARTUPINFOA si = {};
    PROCESS_INFORMATION pi = {};
    si.cb = sizeof si;
    if (!CreateProcessA(NULL, commandLine.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool WaitForFile(const fs::path &file)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        if (fs::exists(file))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool MarkerExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string Quote(const fs::path &p) { return "\"" + p.string() + "\""; }

// The build's paths are Unix paths; Wine shows the Unix root as drive Z:.
fs::path FromBuild(const char *unixPath)
{
    std::string s = std::string("Z:") + unixPath;
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return fs::path(s);
}

TEST(LauncherUnderWine, FirstRunReportsTheNamesCodeAndLaterRunsTheRepeatCode)
{
    test::ScratchDir sandbox;
    fs::path temp = sandbox.path() / "tmp", payload = sandbox.path() / "payload",
             dist = sandbox.path() / "dist";
    for (auto &d : {temp, payload, dist})
        fs::create_directories(d);
    fs::copy_file(FromBuild(SETUP_STUB_EXE), payload / "Setup.exe");
    std::string cab;
    for (int i = 0; i < 300000; i++)
        cab.push_back((char)(i * 7 + i / 251));
    test::WriteBytes(payload / "data1.cab", cab);
    test::WriteBytes(payload / "layout.bin", "");
    fs::path carrier = dist / "Product_12345678901.exe";
    ASSERT_EQ(RunAndWait(Quote(FromBuild(CARRIER_TOOL_EXE)) + " pack --image " + Quote(FromBuild(LAUNCHER_EXE)) + " -o " +
                         Quote(carrier) + " " + Quote(payload / "Setup.exe") + " " +
                         Quote(payload / "data1.cab") + " " + Quote(payload / "layout.bin")),
              0u);

    RegDeleteTreeA(HKEY_CURRENT_USER, kMarkerParent);
    test::ScopedEnv tmp("TMP", (temp.string() + "\\").c_str());
    test::ScopedEnv tempVar("TEMP", (temp.string() + "\\").c_str());

    ASSERT_EQ(RunAndWait(Quote(carrier)), 0u);
    for (const char *name : {"Setup.exe", "data1.cab", "layout.bin"})
        EXPECT_EQ(test::ReadBytes(temp / name), test::ReadBytes(payload / name)) << name;
    EXPECT_EQ(test::ReadBytes(temp / "Analysis.ini"), Report("12345678901"));
    EXPECT_TRUE(MarkerExists());
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    EXPECT_EQ(test::ReadBytes(temp / "seen.ini"), Report("12345678901"));

    fs::remove(temp / "ran.txt");
    ASSERT_EQ(RunAndWait(Quote(carrier)), 0u);
    EXPECT_EQ(test::ReadBytes(temp / "Analysis.ini"), Report("99999999999"));
    ASSERT_TRUE(WaitForFile(temp / "ran.txt"));
    RegDeleteTreeA(HKEY_CURRENT_USER, kMarkerParent);
}

} // namespace
