// OpenFile's sharing on Windows: a plain OF_READ open must coexist with
// other handles on the same file, as the carrier's own image is held open by
// the loader while the launcher reads it.
#include "platform.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
};

using File = test::File;

TEST(PlatformWinOpen, ReadsTheRunningExecutable)
{
    CHAR self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, (DWORD)MAX_PATH);

    OFSTRUCT of{};
    File file(OpenFile(self, &of, OF_READ));
    ASSERT_NE(file.h, HFILE_ERROR) << "error " << of.nErrCode;
    char magic[2] = {};
    EXPECT_EQ(_lread(file.h, magic, 2), 2u);
    EXPECT_EQ(std::string(magic, 2), "MZ");
    EXPECT_EQ(GetFileSize((HANDLE)(LONG_PTR)file.h, NULL), (DWORD)fs::file_size(self));
}

// A read open shares reading and writing both ways; only a holder that
// shares nothing, or denies the reading, keeps it out.
TEST(PlatformWinOpen, ReadOpenSharesWithOtherHandles)
{
    test::ScratchDir dir;
    std::string path = (dir.path() / "held.bin").string();
    test::WriteBytes(path, "held");

    struct Case {
        const char *what;
        DWORD access;
        DWORD share;
        DWORD error; // 0: the read open succeeds
    };
    const Case cases[] = {
        {"held for writing, shared", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0},
        {"held for reading, denying writes", GENERIC_READ, FILE_SHARE_READ, 0},
        {"held exclusively", GENERIC_READ, 0, ERROR_SHARING_VIOLATION},
        {"held denying reads", GENERIC_WRITE, FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Handle holder(CreateFileA(path.c_str(), c.access, c.share, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
        ASSERT_NE(holder.h, INVALID_HANDLE_VALUE);
        OFSTRUCT of{};
        File file(OpenFile(path.c_str(), &of, OF_READ));
        if (c.error == 0) {
            EXPECT_NE(file.h, HFILE_ERROR);
        } else {
            EXPECT_EQ(file.h, HFILE_ERROR);
            EXPECT_EQ(of.nErrCode, c.error);
        }
    }

    // And while the launcher reads, others may still open it to write.
    OFSTRUCT of{};
    File reader(OpenFile(path.c_str(), &of, OF_READ));
    ASSERT_NE(reader.h, HFILE_ERROR);
    Handle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    EXPECT_NE(writer.h, INVALID_HANDLE_VALUE);
}

} // namespace
