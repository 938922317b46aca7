// GetACP and IsDBCSLeadByte: the ANSI code page that Windows would use for
// the locale named by the environment (LC_ALL, then LC_CTYPE, then LANG; the
// first one set and not empty counts), judged by the locale's character set
// ("zh_CN.GBK" -> 936). The four East Asian double-byte code pages are known;
// every other character set, and a locale naming none ("C", "zh_CN"), gives
// the single-byte 1252.
//
// The environment is read at every call rather than once at start-up: the
// launcher never changes it, so the answer is the same all run long, and a
// test can switch code pages within one process. The cost is a few getenv
// calls per byte of a 260-byte path.
#include "os.h"

#include <stdlib.h>
#include <string.h>

struct CharsetCodePage {
    const char *charset; // lower case, without '-' and '_'
    UINT codePage;
};

static const CharsetCodePage kCharsets[] = {
    {"gbk", 936},      {"gb18030", 936},  {"gb2312", 936},   {"euccn", 936},
    {"cp936", 936},    {"shiftjis", 932}, {"sjis", 932},     {"cp932", 932},
    {"big5", 950},     {"big5hkscs", 950}, {"cp950", 950},   {"euckr", 949},
    {"uhc", 949},      {"cp949", 949},
};

static const UINT kSingleByteCodePage = 1252;

// The locale the C library would take for LC_CTYPE.
static const char *CtypeLocale(void)
{
    static const char *const kVariables[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    const char *value;

    for (const char *name : kVariables) {
        value = getenv(name);
        if (value != NULL && value[0] != '\0')
            return value;
    }
    return "";
}

// Copies the character set of a locale name (language[_territory][.charset]
// [@modifier]) into charset, folded to lower case without '-' and '_'.
// Leaves it empty when the name carries none or it does not fit.
static void LocaleCharset(const char *locale, char *charset, size_t size)
{
    const char *dot = locale;
    size_t length = 0;

    charset[0] = '\0';
    while (*dot != '\0' && *dot != '.' && *dot != '@')
        dot++;
    if (*dot != '.')
        return;
    for (const char *c = dot + 1; *c != '\0' && *c != '@'; c++) {
        if (*c == '-' || *c == '_')
            continue;
        if (length + 1 >= size) {
            charset[0] = '\0';
            return;
        }
        charset[length++] = (*c >= 'A' && *c <= 'Z') ? (char)(*c - 'A' + 'a') : *c;
    }
    charset[length] = '\0';
}

UINT GetACP(void)
{
    char charset[16];

    LocaleCharset(CtypeLocale(), charset, sizeof charset);
    for (const CharsetCodePage &known : kCharsets)
        if (strcmp(charset, known.charset) == 0)
            return known.codePage;
    return kSingleByteCodePage;
}

BOOL IsDBCSLeadByte(BYTE TestChar)
{
    switch (GetACP()) {
    case 936:
    case 949:
    case 950:
        return TestChar >= 0x81 && TestChar <= 0xFE;
    case 932:
        return (TestChar >= 0x81 && TestChar <= 0x9F) || (TestChar >= 0xE0 && TestChar <= 0xFC);
    default:
        return FALSE;
    }
}
