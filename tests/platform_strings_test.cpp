// The ANSI string routines: copies bounded where the caller bounds them,
// always terminated, bytes of the ANSI code page copied as they are. Built
// for Windows too.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// lstrcpynA copies at most n - 1 bytes, terminates, and touches nothing
// after the terminator.
TEST(PlatformStrings, CopyWithLimitStaysInsideIt)
{
    struct Case {
        const char *source;
        int limit;
        const char *result; // nullptr: the buffer is left as it was
    };
    const Case cases[] = {
        {"12345678901", 12, "12345678901"},
        {"123456789012345", 12, "12345678901"},
        {"123.exe", 12, "123.exe"},
        {"hello", 5, "hell"},
        {"hello", 1, ""},
        {"", 4, ""},
        {"\x81\x5F\xE0", 3, "\x81\x5F"}, // bytes, not characters
        {"hello", 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.source << "\" " << c.limit);
        char buffer[16];
        memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(lstrcpynA(buffer, c.source, c.limit), buffer);
        if (c.result == nullptr) {
            EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'X'));
            continue;
        }
        size_t length = strlen(c.result);
        EXPECT_STREQ(buffer, c.result);
        EXPECT_EQ(std::string(buffer + length + 1, sizeof buffer - length - 1),
                  std::string(sizeof buffer - length - 1, 'X'));
    }
}

TEST(PlatformStrings, CopyAppendAndLength)
{
    char path[32];
    EXPECT_EQ(lstrcpyA(path, "C:\\Temp\\"), path);
    EXPECT_EQ(lstrcatA(path, "Setup.exe"), path);
    EXPECT_STREQ(path, "C:\\Temp\\Setup.exe");
    EXPECT_EQ(lstrlenA(path), 17);
    EXPECT_EQ(lstrlenA(""), 0);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrcatA(path, ""), path);
    EXPECT_EQ(lstrlenA(path), 17);
}


#ifndef _WIN32
// Windows takes a negative limit as a huge unsigned one and copies without
// bound; the emulation writes nothing instead.
TEST(PlatformStrings, NegativeLimitCopiesNothing)
{
    char buffer[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(lstrcpynA(buffer, "a longer string", -1), buffer);
    EXPECT_EQ(std::string(buffer, 4), "XXXX");
}
#endif

} // namespace
