// The OEM code a launcher path yields: its last component found over the
// ANSI code page, then the code after the first underscore found byte by byte.
//
// Rows of code page 0 hold only ASCII and must give the same result under
// every code page. Under the emulation each row switches the code page
// through LC_ALL; the real services fix it when the process starts, so there
// a row whose code page the process lacks is skipped, and CTest runs this
// program once per code page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "oem_support.h"
#include "support.h"

namespace {

using oem_test::LocaleFor;

struct NameRow {
    const char *label;
    UINT codePage; // 0: any
    const char *path;
    const char *name;
    const char *code;
};

const char kFallback[] = "00000000000";

// GBK: 0x81 0x5F and 0x81 0x5C are single characters. Shift_JIS: 0x83 0x5F
// is a katakana "da", 0x95 0x5C a kanji ("table").
const NameRow kNameRows[] = {
    {"NoUnderscore", 0, "C:\\Downloads\\QuillmereSetup.exe", "QuillmereSetup.exe", kFallback},
    {"ElevenDigitsThenExe", 0, "C:\\Downloads\\Quillmere_20261211001.exe",
     "Quillmere_20261211001.exe", "20261211001"},
    {"WordBetweenTwoUnderscores", 0, "C:\\Downloads\\Quillmere_beta_20261211001.exe",
     "Quillmere_beta_20261211001.exe", kFallback},
    {"ThreeDigitsThenExe", 0, "C:\\Downloads\\Quillmere_123.exe", "Quillmere_123.exe", kFallback},
    {"TenDigitsThenExe", 0, "C:\\Downloads\\Quillmere_1234567890.exe",
     "Quillmere_1234567890.exe", kFallback},
    {"FifteenDigits", 0, "C:\\Downloads\\Quillmere_123456789012345.exe",
     "Quillmere_123456789012345.exe", "12345678901"},
    {"ElevenDigitsThenCopyNumber", 0, "C:\\Downloads\\Quillmere_20261211001 (1).exe",
     "Quillmere_20261211001 (1).exe", "20261211001"},
    {"NoExtension", 0, "C:\\Downloads\\Quillmere_20261211001", "Quillmere_20261211001",
     "20261211001"},
    {"ThreeDigitsNoExtension", 0, "C:\\Downloads\\Quillmere_123", "Quillmere_123", "123"},
    {"UnderscoreLast", 0, "C:\\Downloads\\Quillmere_", "Quillmere_", ""},
    {"UnderscoreInDirectoryOnly", 0, "C:\\oem_20261211001\\QuillmereSetup.exe",
     "QuillmereSetup.exe", kFallback},
    {"LetterAmongDigits", 0, "C:\\Downloads\\Quillmere_2026121100x.exe",
     "Quillmere_2026121100x.exe", kFallback},
    {"ForwardSlashes", 0, "/home/ana/Downloads/Quillmere_20261211001.exe",
     "Quillmere_20261211001.exe", "20261211001"},
    {"DriveWithoutDirectory", 0, "D:Quillmere_20261211001.exe", "Quillmere_20261211001.exe",
     "20261211001"},
    {"DotInDirectory", 0, "C:\\v1.5\\Quillmere_20261211001", "Quillmere_20261211001",
     "20261211001"},
    {"BareName", 0, "Quillmere_20261211001.exe", "Quillmere_20261211001.exe", "20261211001"},
    {"EmptyPath", 0, "", "", kFallback},

    // A byte of 0x80 and above is no digit, whatever the code page.
    {"Cp1252HighByteAmongDigits", 1252, "C:\\Downloads\\Quillmere_20261\xB2"
                                        "11001.exe",
     "Quillmere_20261\xB2"
     "11001.exe",
     kFallback},
    // Single-byte: 0x5C after 0x81 separates, so the code is lost with the directory.
    {"Cp1252SplitsAt5C", 1252, "C:\\Downloads\\Quillmere_20261211001\x81\\Setup.exe",
     "Setup.exe", kFallback},

    {"Cp936TrailByte5FIsTheUnderscore", 936, "C:\\Downloads\\\x81_20261211001.exe",
     "\x81_20261211001.exe", "20261211001"},
    {"Cp936TrailByte5FComesFirst", 936, "C:\\Downloads\\\x81__20261211001.exe",
     "\x81__20261211001.exe", kFallback},
    {"Cp936TrailByte5CIsNoSeparator", 936, "C:\\Downloads\\Quillmere_20261211001\x81\\Setup.exe",
     "Quillmere_20261211001\x81\\Setup.exe", "20261211001"},
    {"Cp936DoubleByteDirectory", 936, "C:\\\xCF\xC2\xD4\xD8\\Quillmere_20261211001.exe",
     "Quillmere_20261211001.exe", "20261211001"},
    {"Cp936LeadByteLast", 936, "C:\\Downloads\\Quillmere_123\x81", "Quillmere_123\x81",
     kFallback},

    {"Cp932TrailByte5FIsTheUnderscore", 932, "C:\\Downloads\\\x83_20261211001.exe",
     "\x83_20261211001.exe", "20261211001"},
    {"Cp932TrailByte5CIsNoSeparator", 932, "C:\\Downloads\\Quillmere_20261211001\x95\\.exe",
     "Quillmere_20261211001\x95\\.exe", "20261211001"},
    // 0xA0 to 0xDF are single-byte katakana in Shift_JIS, not lead bytes.
    {"Cp932KatakanaIsSingleByte", 932, "C:\\Downloads\\Quillmere_20261211001\xB1\\Setup.exe",
     "Setup.exe", kFallback},
};

void PrintTo(const NameRow &row, std::ostream *os) { *os << row.label; }

std::vector<UINT> CodePagesOf(const NameRow &row)
{
    if (row.codePage != 0)
        return {row.codePage};
    return {1252, 936, 932};
}

std::string Printable(const std::string &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += (char)c;
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

class LauncherFileName : public testing::TestWithParam<NameRow> {};

TEST_P(LauncherFileName, YieldsNameAndCode)
{
    const NameRow &row = GetParam();
    int ran = 0;

    for (UINT codePage : CodePagesOf(row)) {
        test::ScopedEnv locale("LC_ALL", LocaleFor(codePage));
        if (GetACP() != codePage)
            continue;
        SCOPED_TRACE("code page " + std::to_string(codePage));

        // Exact-size heap copies, so reading past a NUL is caught.
        std::vector<char> path(row.path, row.path + std::strlen(row.path) + 1);
        std::vector<char> name(MAX_PATH, 'X');
        std::vector<char> code(OEM_CODE_SIZE, 'X');

        GetLauncherFileName(path.data(), name.data(), MAX_PATH);
        EXPECT_EQ(Printable(name.data()), Printable(row.name));
        DeriveOemCode(name.data(), code.data());
        EXPECT_EQ(std::string(code.data()), row.code);
        const size_t length = std::strlen(code.data());
        EXPECT_EQ(std::string(code.begin() + (long)length, code.end()),
                  std::string(OEM_CODE_SIZE - length, '\0'))
            << "the code buffer is cleared past the code";
        ran++;
    }
    if (ran == 0)
        GTEST_SKIP() << "this process cannot switch to code page " << row.codePage
                     << "; run it with LC_ALL=" << LocaleFor(row.codePage);
}

INSTANTIATE_TEST_SUITE_P(Rows, LauncherFileName, testing::ValuesIn(kNameRows),
                         [](const testing::TestParamInfo<NameRow> &info) {
                             return std::string(info.param.codePage ? "" : "AnyCodePage_") +
                                    info.param.label;
                         });

// Name and extension keep at most 255 bytes each, and the whole name is cut
// to the caller's buffer; neither cut splits a double-byte character.
struct LimitRow {
    const char *label;
    std::string path;
    int size;
    std::string name;
};

void ExpectLimits(UINT codePage, const std::vector<LimitRow> &rows)
{
    test::ScopedEnv locale("LC_ALL", LocaleFor(codePage));
    if (GetACP() != codePage)
        GTEST_SKIP() << "run with LC_ALL=" << LocaleFor(codePage);
    for (const LimitRow &row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<char> path(row.path.begin(), row.path.end());
        path.push_back('\0');
        std::vector<char> name(row.size, 'X');
        GetLauncherFileName(path.data(), name.data(), row.size);
        EXPECT_EQ(Printable(name.data()), Printable(row.name));
    }
}

const std::string kDigits = "_20261211001";

TEST(LauncherFileNameLimits, Cp1252)
{
    ExpectLimits(1252, {
        {"name of 262 bytes", "C:\\" + std::string(250, 'q') + kDigits + ".exe", MAX_PATH,
         std::string(250, 'q') + "_2026.exe"},
        {"extension of 300 bytes", "C:\\q_1." + std::string(299, 'e'), MAX_PATH,
         "q_1." + std::string(254, 'e')},
        {"small buffer", "C:\\dl\\Quillmere_20261211001.exe", 10, "Quillmere"},
        {"buffer of one byte", "C:\\dl\\Quillmere.exe", 1, ""},
    });
}

TEST(LauncherFileNameLimits, Cp936)
{
    const std::string wide(254, '\x81'); // 127 characters "\x81\x81"
    ExpectLimits(936, {
        {"name of 268 bytes", "C:\\" + wide + "\xB1\xB1" + kDigits, MAX_PATH, wide},
        {"small buffer", "C:\\dl\\\xB1\xB1\xB1\xB1\xB1\xB1.exe", 6, "\xB1\xB1\xB1\xB1"},
    });
}

} // namespace
