// The layout rules the launcher and the vendor tool share: byte order of the
// records and the count, where the directory lies, which entries lie inside
// the carrier, and which names stay inside the temporary directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format.h"

namespace {

TEST(CarrierFormat, RecordIsLittleEndianWhateverTheHost)
{
    // The release carrier's first record: offset 40,960, size 764,365.
    BYTE record[PAYLOAD_ENTRY_BYTES] = {0x00, 0xA0, 0x00, 0x00, 0xCD, 0xA9, 0x0B, 0x00,
                                        'd',  'a',  't',  'a',  '1',  '.',  'c',  'a', 'b'};
    PayloadEntry entry;
    DecodePayloadEntry(record, &entry);
    EXPECT_EQ(entry.offset, 40960u);
    EXPECT_EQ(entry.size, 764365u);
    EXPECT_STREQ(entry.name, "data1.cab");

    entry.offset = 0x7FFFFFFF;
    entry.size = 0x01020304;
    BYTE encoded[PAYLOAD_ENTRY_BYTES];
    EncodePayloadEntry(&entry, encoded);
    const BYTE expected[8] = {0xFF, 0xFF, 0xFF, 0x7F, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(std::memcmp(encoded, expected, 8), 0);
    EXPECT_EQ(std::memcmp(encoded + 8, record + 8, PAYLOAD_NAME_BYTES), 0);
}

TEST(CarrierFormat, CountIsSigned16Bit)
{
    const struct {
        BYTE bytes[2];
        int count;
    } cases[] = {
        {{0x00, 0x00}, 0},      {{0x01, 0x00}, 1},       {{0x08, 0x00}, 8},   {{0x00, 0x01}, 256},
        {{0xFF, 0x7F}, 32767},  {{0x00, 0x80}, -32768},  {{0xFF, 0xFF}, -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DecodeEntryCount(c.bytes), c.count) << std::hex << int(c.bytes[0]) << " " << int(c.bytes[1]);
        BYTE encoded[2];
        EncodeEntryCount(c.count, encoded);
        EXPECT_EQ(encoded[0], c.bytes[0]);
        EXPECT_EQ(encoded[1], c.bytes[1]);
    }
}

TEST(CarrierFormat, DirectoryMustFitBeforeThePayloadEnd)
{
    const struct {
        DWORD payloadEnd;
        int count;
        bool fits;
        DWORD start;
    } cases[] = {
        {42, 1, true, 0},
        {41, 1, false, 0},
        {4733788, 8, true, 4733466},
        {100, 0, false, 0},
        {100, -1, false, 0},
        {32767 * 40 + 2, 32767, true, 0},
        {32767 * 40 + 1, 32767, false, 0},
        {0x7FFFFFFF, 32767, true, 0x7FFFFFFFu - 32767 * 40 - 2},
        {0xFFFFFFFF, 32768, false, 0},
        {0, 1, false, 0},
    };
    for (const auto &c : cases) {
        DWORD start = 0xDEADBEEF;
        EXPECT_EQ(LocateDirectory(c.payloadEnd, c.count, &start) != FALSE, c.fits)
            << c.payloadEnd << " " << c.count;
        if (c.fits) {
            EXPECT_EQ(start, c.start);
        }
    }
}

TEST(CarrierFormat, EntryMustLieWhollyBeforeTheLimit)
{
    const struct {
        DWORD offset, size, limit;
        bool fits;
    } cases[] = {
        {0, 0, 0, true},
        {10, 0, 10, true},
        {11, 0, 10, false},
        {5, 5, 10, true},
        {5, 6, 10, false},
        {0xFFFFFFFF, 1, 10, false},
        // offset + size wraps around 32 bits to a small number.
        {1, 0xFFFFFFFF, 10, false},
        {0x80000000, 0x80000000, 0x7FFFFFFF, false},
        {0x10, 0xFFFFFFF8, 0x7FFFFFFF, false},
        {0, 0x7FFFFFFF, 0x7FFFFFFF, true},
    };
    for (const auto &c : cases) {
        PayloadEntry entry = {c.offset, c.size, "x"};
        EXPECT_EQ(EntryFitsBefore(&entry, c.limit) != FALSE, c.fits)
            << c.offset << " + " << c.size << " <= " << c.limit;
    }
}

// Builds a 32-byte name field from raw bytes, NUL-padded.
PayloadEntry Named(const std::string &bytes)
{
    PayloadEntry entry = {};
    std::memcpy(entry.name, bytes.data(), bytes.size() < 32 ? bytes.size() : 32);
    return entry;
}

TEST(CarrierFormat, NamesMustStayInsideTheDirectory)
{
    const char *accepted[] = {
        "a", "Setup.exe", "ikernel.ex_", "sub\\file", "sub/file", "a\\b\\c", ".hidden", "..x", "x..",
        "a..b", "a b", "name with spaces.txt", "\x95\x5C" "x", "0123456789012345678901234567890",
    };
    for (const char *name : accepted)
        EXPECT_TRUE(PayloadNameIsSafe(Named(name).name)) << name;

    const char *refused[] = {
        "", "\\x", "/x", "\\\\server\\share", "C:x", "C:\\x", "c:/x", "a:b", "file.txt:stream",
        "file.txt::$DATA", ".", "..", "...", " ", ". ", ".. ", " ..", "..\\x", "../x", "a\\..\\..\\x",
        "a/../b", "sub\\..", "sub\\.", "sub/./x", "sub\\. \\x",
    };
    for (const char *name : refused)
        EXPECT_FALSE(PayloadNameIsSafe(Named(name).name)) << '"' << name << '"';
}

TEST(CarrierFormat, NameNeedsItsNulWithinTheField)
{
    EXPECT_FALSE(PayloadNameIsSafe(Named(std::string(32, 'a')).name));
    EXPECT_TRUE(PayloadNameIsSafe(Named(std::string(31, 'a')).name));
    // Only the bytes before the NUL are the name.
    EXPECT_TRUE(PayloadNameIsSafe(Named(std::string("ok\0..\\:x", 8)).name));
}

} // namespace
