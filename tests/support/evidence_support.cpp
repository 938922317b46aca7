// The evidence tests run on Linux only, against the emulation: its fault
// injection and resource counts have no counterpart under Wine.
#ifndef _WIN32

#include "evidence_support.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "platform.h"

namespace fs = std::filesystem;

namespace evidence {

std::string Report(const std::string &oem, const std::string &times)
{
    return "[Setup]\r\nOEM=" + oem + "\r\nTimes=" + times + "\r\n[Other]\r\nkeep=1\r\n";
}

Sandbox::Sandbox()
    : home(root.path() / "home"), config(home / ".config"), temp(root.path() / "tmp"),
      dist(root.path() / "dist"), cwd(root.path() / "cwd")
{
    for (const fs::path &dir : {home, config, temp, dist, cwd})
        fs::create_directories(dir);
}

fs::path Sandbox::KeyStore() const { return config / "launcher-registry"; }

std::string Sandbox::TempDir() const { return temp.string() + "/"; }

std::string Carrier(const std::string &image, const std::vector<test::CarrierFile> &files)
{
    std::string body = image;
    std::vector<test::CarrierRecord> records;
    for (const test::CarrierFile &file : files) {
        records.push_back({static_cast<std::uint32_t>(body.size()),
                           static_cast<std::uint32_t>(file.data.size()), file.name});
        body += file.data;
    }
    return test::CarrierBytes(body, records);
}

std::string ReadFile(const fs::path &file)
{
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("cannot read " + file.string());
    }
    std::string bytes((size_t)st.st_size, '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = read(fd, &bytes[done], bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += (size_t)got;
    }
    close(fd);
    bytes.resize(done);
    return bytes;
}

Tree Snapshot(const fs::path &root)
{
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path &path = it->path();
        std::string name = path.lexically_relative(root).generic_string();
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            throw std::runtime_error("cannot stat " + path.string());
        std::string mode = std::to_string(st.st_mode & 07777);
        if (S_ISDIR(st.st_mode))
            tree[name] = "dir " + mode;
        else if (S_ISLNK(st.st_mode))
            tree[name] = "link " + fs::read_symlink(path).string();
        else if (S_ISREG(st.st_mode))
            tree[name] = "file " + mode + " " + ReadFile(path);
        else
            tree[name] = "other";
    }
    return tree;
}

std::vector<std::string> Changes(const Tree &before, const Tree &after)
{
    std::vector<std::string> changes;
    for (const auto &[name, what] : before) {
        auto found = after.find(name);
        if (found == after.end() || found->second != what)
            changes.push_back(name);
    }
    for (const auto &[name, what] : after) {
        if (before.find(name) == before.end())
            changes.push_back(name);
    }
    return changes;
}

void BecomeSubreaper()
{
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        throw std::runtime_error("cannot become a subreaper");
}

int ReapChildren()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int reaped = 0;
    for (;;) {
        int status;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            reaped++;
            continue;
        }
        if (pid < 0 && errno == EINTR)
            continue;
        if (pid < 0 || std::chrono::steady_clock::now() > deadline)
            return reaped;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int OpenDescriptors()
{
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        throw std::runtime_error("cannot list /proc/self/fd");
    while (readdir(dir) != nullptr)
        count++;
    closedir(dir);
    // ".", ".." and the listing's own descriptor.
    return count - 3;
}

bool MarkerExists(const fs::path &config)
{
    test::ScopedEnv xdg("XDG_CONFIG_HOME", config.string().c_str());
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace evidence

#endif
