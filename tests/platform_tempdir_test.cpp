// GetTempPathA on POSIX: TMPDIR when set, otherwise a private per-user
// directory that is made safe to unpack into or refused; Windows' answer for
// a buffer that is too small.
#include "platform.h"
#include "support.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::ScratchDir;

namespace {

// Puts the private directory under a scratch root for the life of the test.
class PrivateTempDir : public testing::Test {
protected:
    PrivateTempDir() : tmpdir_("TMPDIR", nullptr)
    {
        PlatformSetTempRoot(root_.path().c_str());
        expected_ = root_.path() / ("launcher-" + std::to_string(geteuid()));
    }
    ~PrivateTempDir() override { PlatformSetTempRoot(nullptr); }

    std::string Get()
    {
        char buffer[MAX_PATH];
        DWORD length = GetTempPathA(MAX_PATH, buffer);
        return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    }

    ScratchDir root_;
    ScopedEnv tmpdir_;
    fs::path expected_;
};

TEST(PlatformTempDir, TakesTmpdirEndingInASeparator)
{
    ScratchDir root;
    PlatformSetTempRoot(root.path().c_str());
    const std::string privateDir = root.withSeparator() + "launcher-" + std::to_string(geteuid()) + "/";
    struct Case {
        const char *tmpdir;
        std::string result;
    };
    const Case cases[] = {
        {"/var/tmp/user", "/var/tmp/user/"},
        {"/var/tmp/user/", "/var/tmp/user/"},
        {"/", "/"},
        {"/home/a user/tmp", "/home/a user/tmp/"},
        {"", privateDir},
        {"relative/tmp", privateDir},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tmpdir);
        ScopedEnv env("TMPDIR", c.tmpdir);
        char buffer[MAX_PATH];
        DWORD length = GetTempPathA(MAX_PATH, buffer);
        EXPECT_EQ(length, c.result.size());
        EXPECT_EQ(std::string(buffer), c.result);
    }
    PlatformSetTempRoot(nullptr);
}

// Too small a buffer: the size needed, NUL included, and the buffer untouched.
TEST(PlatformTempDir, TooSmallABufferGetsTheSizeNeeded)
{
    ScopedEnv env("TMPDIR", "/var/tmp/user");
    const DWORD sizes[] = {0, 1, 14};
    for (DWORD size : sizes) {
        SCOPED_TRACE(size);
        char buffer[16];
        memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(GetTempPathA(size, size ? buffer : nullptr), 15u);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'X'));
    }
    char buffer[16];
    EXPECT_EQ(GetTempPathA(15, buffer), 14u);
    EXPECT_STREQ(buffer, "/var/tmp/user/");
}

TEST_F(PrivateTempDir, IsCreatedForTheUserAlone)
{
    mode_t old = umask(0);
    std::string first = Get();
    umask(old);
    EXPECT_EQ(first, expected_.string() + "/");
    struct stat st;
    ASSERT_EQ(lstat(expected_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(Get(), first); // and taken as it is on the next run
}

// Someone else could have planted these or can write into them: refused.
TEST_F(PrivateTempDir, RefusesADirectoryOthersControl)
{
    fs::path elsewhere = root_.path() / "elsewhere";
    fs::create_directory(elsewhere);
    chmod(elsewhere.c_str(), 0700);

    struct Case {
        const char *what;
        void (*plant)(const fs::path &target, const fs::path &elsewhere);
        bool needsRoot;
    };
    const Case cases[] = {
        {"a symlink to a private directory",
         [](const fs::path &t, const fs::path &e) { fs::create_directory_symlink(e, t); }, false},
        {"open to everyone",
         [](const fs::path &t, const fs::path &) {
             fs::create_directory(t);
             chmod(t.c_str(), 0777);
         },
         false},
        {"readable by the group",
         [](const fs::path &t, const fs::path &) {
             fs::create_directory(t);
             chmod(t.c_str(), 0750);
         },
         false},
        {"owned by another user",
         [](const fs::path &t, const fs::path &) {
             fs::create_directory(t);
             chmod(t.c_str(), 0700);
             ASSERT_EQ(chown(t.c_str(), 65534, 65534), 0);
         },
         true},
        {"a file", [](const fs::path &t, const fs::path &) { test::WriteBytes(t, ""); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0)
            continue;
        c.plant(expected_, elsewhere);
        char buffer[MAX_PATH];
        memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        fs::remove(expected_);
    }
}

} // namespace
