// A program for the WinExec tests to start. It reports how it was started
// into $EXEC_PROBE_DIR/<its file name>.report: its arguments, its parent,
// its session and the descriptors it inherited. With $EXEC_PROBE_GATE set, it
// first waits (up to 20 s) for that file to appear, so a test can show that
// WinExec returned while the program was still running.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

static std::string OpenDescriptors()
{
    std::string list;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return "?";
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(dir))
            continue;
        list += (list.empty() ? "" : ",") + std::string(entry->d_name);
    }
    closedir(dir);
    return list;
}

int main(int argc, char **argv)
{
    const std::string inherited = OpenDescriptors();
    const char *dir = std::getenv("EXEC_PROBE_DIR");
    const char *gate = std::getenv("EXEC_PROBE_GATE");
    if (dir == nullptr)
        return 2;
    if (gate != nullptr && gate[0] != '\0') {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(gate) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    fs::path report = fs::path(dir) / (fs::path(argv[0]).filename().string() + ".report");
    fs::path partial = report;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        out << "ppid=" << getppid() << "\n";
        out << "sid=" << getsid(0) << "\n";
        out << "pid=" << getpid() << "\n";
        out << "fds=" << inherited << "\n";
        for (int i = 1; i < argc; i++)
            out << "arg=" << argv[i] << "\n";
    }
    fs::rename(partial, report);
    return 0;
}
