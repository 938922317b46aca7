// Memory blocks as extraction takes them: zero-filled, locked, unlocked and
// freed, with the return values Windows gives at each step. Built for
// Windows too, so the emulation is held to the real services.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(PlatformMemory, ZeroInitBlocksAreZeroEvenOnReusedMemory)
{
    const SIZE_T sizes[] = {1, 40, 4096, 256 * 1024};
    for (SIZE_T size : sizes) {
        SCOPED_TRACE(size);
        // Dirty a block of the same size first, so a reused one would show.
        HGLOBAL dirty = GlobalAlloc(GMEM_MOVEABLE, size);
        ASSERT_NE(dirty, nullptr);
        memset(GlobalLock(dirty), 0xAA, size);
        GlobalUnlock(dirty);
        ASSERT_EQ(GlobalFree(dirty), nullptr);

        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        ASSERT_NE(block, nullptr);
        auto *bytes = static_cast<unsigned char *>(GlobalLock(block));
        ASSERT_NE(bytes, nullptr);
        SIZE_T nonzero = 0;
        for (SIZE_T i = 0; i < size; i++)
            nonzero += bytes[i] != 0;
        EXPECT_EQ(nonzero, 0u);
        GlobalUnlock(block);
        EXPECT_EQ(GlobalFree(block), nullptr);
    }
}

// A block as large as the largest payload entries, written at both ends.
TEST(PlatformMemory, LargeBlocksAreUsableEndToEnd)
{
    const SIZE_T size = 48u * 1024 * 1024;
    HGLOBAL block = GlobalAlloc(GHND, size);
    ASSERT_NE(block, nullptr);
    auto *bytes = static_cast<unsigned char *>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[size - 1], 0);
    bytes[0] = bytes[size - 1] = 1;
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

// The lock count of a moveable block: TRUE while it stays locked, FALSE with
// no error when the last lock goes, FALSE with an error when not locked.
TEST(PlatformMemory, UnlockReportsTheLockCount)
{
    HGLOBAL block = GlobalAlloc(GHND, 64);
    ASSERT_NE(block, nullptr);
    void *first = GlobalLock(block);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GlobalLock(block), first);

    struct Step {
        BOOL result;
        DWORD error;
    };
    const Step steps[] = {
        {TRUE, ERROR_INVALID_PARAMETER}, // untouched: set before the call
        {FALSE, ERROR_SUCCESS},
        {FALSE, ERROR_NOT_LOCKED},
    };
    int n = 0;
    for (const Step &s : steps) {
        SCOPED_TRACE(++n);
        SetLastError(ERROR_INVALID_PARAMETER);
        EXPECT_EQ(GlobalUnlock(block), s.result);
        EXPECT_EQ(GetLastError(), s.error);
    }
    EXPECT_EQ(GlobalFree(block), nullptr);
}

// A fixed block's handle is its address; it has no lock count.
TEST(PlatformMemory, FixedBlocksAreTheirOwnAddress)
{
    HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 32);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), block);
    EXPECT_EQ(static_cast<unsigned char *>(block)[31], 0);
    EXPECT_TRUE(GlobalUnlock(block));
    EXPECT_EQ(GlobalFree(block), nullptr);
}

// A moveable block of 0 bytes is a discarded block: a handle that can't be
// locked but must still be freed. This is what a payload entry of size 0
// gets.
TEST(PlatformMemory, EmptyMoveableBlockIsDiscarded)
{
    HGLOBAL block = GlobalAlloc(GHND, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISCARDED);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(PlatformMemory, FreeOfAStaleHandleFails)
{
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    HGLOBAL block = GlobalAlloc(GHND, 16);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalFree(block), block);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

} // namespace
