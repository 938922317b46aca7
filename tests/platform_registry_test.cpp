// The registry services as the marker key uses them: open, create along a
// path, names that ignore case, close, delete a tree. Runs against the
// emulation and, in the Windows build, against the real registry.
#include "platform.h"
#include "platform_services_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Every test works below its own key under HKCU\Software and deletes it
// afterwards; the emulation also gets its own configuration directory.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (test::kEmulated) {
            config_ = scratch_.path() / "config";
            fs::create_directory(config_);
            xdg_ = std::make_unique<test::ScopedEnv>("XDG_CONFIG_HOME", config_.string().c_str());
        }
        base_ = "Software\\" + test::UniqueName("LauncherRegistryTest");
    }

    void TearDown() override
    {
        test::DisarmFaults();
        RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
        EXPECT_EQ(test::KeysHeld(), 0);
    }

    std::string Key(const std::string &sub) const { return base_ + "\\" + sub; }

    static LSTATUS Open(const std::string &path)
    {
        HKEY key = reinterpret_cast<HKEY>(1);
        LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS) {
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        } else {
            EXPECT_EQ(key, nullptr) << "a failed open leaves no handle";
        }
        return status;
    }

    static LSTATUS Create(const std::string &path, DWORD *disposition = nullptr, HKEY root = HKEY_CURRENT_USER)
    {
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                         nullptr, &key, disposition);
        if (status == ERROR_SUCCESS) {
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        }
        return status;
    }

    // The emulation's directory for HKEY_CURRENT_USER.
    fs::path StoreRoot() const { return config_ / "launcher-registry" / "HKEY_CURRENT_USER"; }

    test::ScratchDir scratch_;
    fs::path config_;
    std::unique_ptr<test::ScopedEnv> xdg_;
    std::string base_;
};

TEST_F(RegistryTest, OpeningAMissingKeyFails)
{
    ASSERT_EQ(Create("Present"), ERROR_SUCCESS);
    for (const char *sub : {"Absent", "Absent\\Deeper", "Present\\Absent"})
        EXPECT_EQ(Open(Key(sub)), ERROR_FILE_NOT_FOUND) << sub;
}

TEST_F(RegistryTest, CreateMakesEveryKeyAlongThePathThenOpensIt)
{
    DWORD disposition = 0;
    ASSERT_EQ(Create(Key("A\\B\\C"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    for (const char *sub : {"A", "A\\B", "A\\B\\C"})
        EXPECT_EQ(Open(Key(sub)), ERROR_SUCCESS) << sub;

    disposition = 0;
    ASSERT_EQ(Create(Key("A\\B\\C"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    disposition = 0;
    ASSERT_EQ(Create(Key("A\\B\\D"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY) << "only the last key was missing";
    EXPECT_EQ(Create(Key("A\\E")), ERROR_SUCCESS) << "the disposition is optional";
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheFirstSpelling)
{
    ASSERT_EQ(Create(Key("Mixed\\Case")), ERROR_SUCCESS);
    EXPECT_EQ(Open(Key("MIXED\\case")), ERROR_SUCCESS);
    DWORD disposition = 0;
    ASSERT_EQ(Create(Key("mixed\\CASE\\Child"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    EXPECT_EQ(Open(Key("Mixed\\Case\\child")), ERROR_SUCCESS);
    if (test::kEmulated) {
        fs::path base = StoreRoot() / "Software" / base_.substr(base_.find('\\') + 1);
        EXPECT_TRUE(fs::is_directory(base / "Mixed" / "Case" / "Child"));
        EXPECT_EQ(std::distance(fs::directory_iterator(base), fs::directory_iterator()), 1);
    }
}

TEST_F(RegistryTest, SeparatorsAreTheRegistrys)
{
    struct Case {
        const char *create;
        LSTATUS created;
        const char *open;
        LSTATUS opened;
    };
    const Case cases[] = {
        {"Doubled\\\\Separator", ERROR_SUCCESS, "Doubled\\Separator", ERROR_SUCCESS},
        {"Trailing\\", ERROR_SUCCESS, "Trailing", ERROR_SUCCESS},
        // '/' is an ordinary character of a key name, not a separator.
        {"Slash/Inside", ERROR_SUCCESS, "Slash", ERROR_FILE_NOT_FOUND},
        {"Slash2/Inside", ERROR_SUCCESS, "sLASH2/inside", ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Create(Key(c.create)), c.created) << c.create;
        EXPECT_EQ(Open(Key(c.open)), c.opened) << c.open;
    }
    // A key name is at most 255 characters; a longer one creates nothing.
    std::string tooLong = "Long\\" + std::string(256, 'x');
    EXPECT_NE(Create(Key(tooLong)), ERROR_SUCCESS);
    EXPECT_EQ(Open(Key("Long")), ERROR_FILE_NOT_FOUND);

    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ("\\" + base_).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(Open("\\" + base_), ERROR_BAD_PATHNAME);
}

// Key names that would be paths elsewhere stay key names: nothing is made
// outside the key, and ".." is a key of its own, not the parent.
TEST_F(RegistryTest, PathLikeNamesStayInsideTheKey)
{
    const char *names[] = {".", "..", "..\\..\\..\\..\\..\\Escaped", "../../../../Escaped",
                           "%2F", "50%", "a/../../b"};
    for (const char *name : names) {
        DWORD disposition = 0;
        ASSERT_EQ(Create(Key(std::string("Hostile\\") + name), &disposition), ERROR_SUCCESS) << name;
        EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY) << name;
        EXPECT_EQ(Open(Key(std::string("Hostile\\") + name)), ERROR_SUCCESS) << name;
    }
    EXPECT_EQ(Open(Key("Escaped")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("Escaped"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(Key("b")), ERROR_FILE_NOT_FOUND);
    if (test::kEmulated) {
        // Everything made lies in the store; the scratch directory above the
        // configuration directory holds nothing else.
        std::vector<fs::path> outside;
        for (const auto &entry : fs::directory_iterator(scratch_.path()))
            if (entry.path() != config_)
                outside.push_back(entry.path());
        EXPECT_TRUE(outside.empty()) << outside.front();
        for (const auto &entry : fs::recursive_directory_iterator(config_)) {
            EXPECT_TRUE(entry.is_directory()) << entry.path();
            EXPECT_EQ(entry.path().string().rfind(config_.string(), 0), 0u) << entry.path();
        }
    }
}

TEST_F(RegistryTest, CloseReleasesTheHandleOnce)
{
    ASSERT_EQ(Create(Key("Closing")), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Key("Closing").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    if (test::kEmulated) {
        EXPECT_EQ(test::KeysHeld(), 1);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(test::KeysHeld(), 0);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS) << "a predefined key closes as a no-op";
    EXPECT_EQ(Open(Key("Closing")), ERROR_SUCCESS);
}

TEST_F(RegistryTest, OpenedKeysServeAsRoots)
{
    HKEY parent = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &parent,
                              nullptr),
              ERROR_SUCCESS);
    DWORD disposition = 0;
    EXPECT_EQ(Create("Child\\Grandchild", &disposition, parent), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExA(parent, "child", 0, KEY_READ, &child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(Open(Key("Child\\Grandchild")), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);

    HKEY unused = nullptr;
    EXPECT_EQ(RegOpenKeyExA(parent, "Child", 0, KEY_READ, &unused), ERROR_INVALID_HANDLE)
        << "a closed key is no root";
}

TEST_F(RegistryTest, DeleteTreeRemovesTheKeyAndEverythingBelow)
{
    for (const char *sub : {"Tree\\A\\B", "Tree\\C", "Kept\\Sub1\\Deep", "Kept\\Sub2"})
        ASSERT_EQ(Create(Key(sub)), ERROR_SUCCESS) << sub;

    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, Key("TREE").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(Open(Key("Tree")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, Key("Tree").c_str()), ERROR_FILE_NOT_FOUND);

    // Without a subkey name, the key's subkeys go and the key stays.
    HKEY kept = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Key("Kept").c_str(), 0, KEY_READ, &kept), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(kept, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(kept), ERROR_SUCCESS);
    EXPECT_EQ(Open(Key("Kept")), ERROR_SUCCESS);
    EXPECT_EQ(Open(Key("Kept\\Sub1")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(Key("Kept\\Sub2")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, FailuresTakeNothingAndCreateNothing)
{
    if (!test::kEmulated)
        GTEST_SKIP() << "faults are injected into the emulation only";
    ASSERT_EQ(Create(Key("Present")), ERROR_SUCCESS);

    test::ArmFault(1);
    EXPECT_EQ(Open(Key("Present")), ERROR_ACCESS_DENIED);
    test::ArmFault(1);
    EXPECT_EQ(Create(Key("Made")), ERROR_ACCESS_DENIED);
    test::ArmFault(1);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, Key("Present").c_str()), ERROR_ACCESS_DENIED);
    test::DisarmFaults();
    EXPECT_EQ(test::KeysHeld(), 0);
    EXPECT_EQ(Open(Key("Made")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(Key("Present")), ERROR_SUCCESS);
}

TEST_F(RegistryTest, TheStoreFollowsTheConfigurationDirectory)
{
    if (!test::kEmulated)
        GTEST_SKIP() << "where the emulation keeps its keys";
    fs::path home = scratch_.path() / "home";
    fs::create_directory(home);
    test::ScopedEnv homeEnv("HOME", home.string().c_str());
    const std::string config = config_.string();
    struct Case {
        const char *xdg; // nullptr: unset
        fs::path store;
    };
    const Case cases[] = {
        {config.c_str(), StoreRoot()},
        {nullptr, home / ".config" / "launcher-registry" / "HKEY_CURRENT_USER"},
        {"relative/ignored", home / ".config" / "launcher-registry" / "HKEY_CURRENT_USER"},
    };
    for (const Case &c : cases) {
        test::ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
        ASSERT_EQ(Create(base_ + "\\Located"), ERROR_SUCCESS) << c.store;
        EXPECT_TRUE(fs::is_directory(c.store / "Software" / base_.substr(base_.find('\\') + 1) / "Located"))
            << c.store;
        EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()), ERROR_SUCCESS);
    }
}

#ifndef _WIN32
// Launchers run at once by one user all create the marker key: every one must
// succeed, exactly one creates it, and the store ends with one key whatever
// spelling each used.
TEST_F(RegistryTest, ConcurrentCreatorsAllSucceed)
{
    constexpr int kCreators = 8;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kCreators; i++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char go;
            close(start[1]);
            if (read(start[0], &go, 1) != 0)
                _exit(3);
            std::string path = Key(i % 2 ? "Race\\Marker\\Key" : "RACE\\marker\\KEY");
            HKEY key = nullptr;
            DWORD disposition = 0;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                &disposition) != ERROR_SUCCESS)
                _exit(2);
            RegCloseKey(key);
            _exit(disposition == REG_CREATED_NEW_KEY ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(start[0]);
    close(start[1]); // every creator starts now
    int creators = 0;
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_LE(WEXITSTATUS(status), 1) << "a creator failed";
        creators += WEXITSTATUS(status) == 0;
    }
    EXPECT_EQ(creators, 1);
    EXPECT_EQ(Open(Key("race\\MARKER\\key")), ERROR_SUCCESS);
    fs::path base = StoreRoot() / "Software" / base_.substr(base_.find('\\') + 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(base), fs::directory_iterator()), 1);
    fs::path race = fs::directory_iterator(base)->path();
    EXPECT_EQ(std::distance(fs::directory_iterator(race), fs::directory_iterator()), 1);
}
#endif

} // namespace
