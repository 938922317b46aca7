#include "support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test {

ScratchDir::ScratchDir()
{
    std::random_device rd;
    std::mt19937_64 gen(rd() ^ (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; attempt++) {
        fs::path candidate = fs::temp_directory_path() / ("lt-" + std::to_string(gen() % 100000000000ULL));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = fs::canonical(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch directory");
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string ScratchDir::withSeparator() const
{
    std::string s = path_.string();
    if (s.empty() || (s.back() != '/' && s.back() != '\\'))
        s += static_cast<char>(fs::path::preferred_separator);
    return s;
}

std::string ReadBytes(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path &file, const std::string &bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void SetEnv(const char *name, const char *value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name)
{
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_)
        old_ = old;
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_.c_str(), had_ ? old_.c_str() : nullptr); }

} // namespace test
