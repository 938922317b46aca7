// GetModuleFileNameA for the running program: the full path when it fits;
// when it does not, nSize, with the buffer holding a prefix of the path.
// Built for Windows too.
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
        size_t kept = c.truncated ? c.size - 1 : length;
        EXPECT_EQ(std::string(buffer, kept), path.substr(0, kept));
        EXPECT_EQ(buffer[c.size], 'X');
#ifndef _WIN32
        // As current Windows does; Windows XP and Wine 8 leave the cut name
        // unterminated and the error alone.
        EXPECT_EQ(buffer[kept], '\0');
        if (c.truncated)
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
#endif
    }
}

} // namespace
