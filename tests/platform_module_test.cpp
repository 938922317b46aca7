// GetModuleFileNameA for the running program: the full path when it fits,
// a terminated prefix with ERROR_INSUFFICIENT_BUFFER when it does not. Built
// for Windows too.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string OwnPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

TEST(PlatformModule, NamesTheRunningProgram)
{
    std::string path = OwnPath();
    ASSERT_FALSE(path.empty());
    std::filesystem::path own(path);
    EXPECT_TRUE(own.is_absolute());
    EXPECT_EQ(own.stem().string(), "platform_module_test");
    EXPECT_TRUE(std::filesystem::is_regular_file(own));
}

TEST(PlatformModule, TruncatesToTheBufferAndSaysSo)
{
    std::string path = OwnPath();
    ASSERT_FALSE(path.empty());
    const DWORD length = (DWORD)path.size();

    struct Case {
        DWORD size;
        DWORD result;
        BOOL truncated;
    };
    const Case cases[] = {
        {length + 1, length, FALSE},
        {length, length, TRUE},
        {5, 5, TRUE},
        {1, 1, TRUE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[MAX_PATH + 1];
        memset(buffer, 'X', sizeof buffer);
        SetLastError(ERROR_INVALID_PARAMETER);
        EXPECT_EQ(GetModuleFileNameA(NULL, buffer, c.size), c.result);
        std::string expected = path.substr(0, c.truncated ? c.size - 1 : length);
        EXPECT_STREQ(buffer, expected.c_str());
        EXPECT_EQ(buffer[c.size], 'X');
        if (c.truncated)
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    }
}

} // namespace
