// The ANSI code page the emulation derives from the locale environment, and
// the lead bytes of each double-byte code page.
#include "platform.h"
#include "support.h"

#include <gtest/gtest.h>

#include <string>

using test::ScopedEnv;

namespace {

TEST(PlatformCodePage, FollowsTheLocaleCharacterSet)
{
    struct Case {
        const char *lang;
        UINT codePage;
    };
    const Case cases[] = {
        {"zh_CN.GBK", 936},       {"zh_CN.gb18030", 936}, {"zh_CN.GB2312", 936},
        {"zh_CN.cp936", 936},     {"ja_JP.Shift_JIS", 932}, {"ja_JP.SJIS", 932},
        {"ja_JP.shift-jis", 932}, {"ja_JP.CP932", 932},   {"zh_TW.Big5", 950},
        {"zh_TW.BIG5@euro", 950}, {"zh_TW.cp950", 950},   {"ko_KR.EUC-KR", 949},
        {"ko_KR.euckr", 949},     {"ko_KR.UHC", 949},     {"ko_KR.CP949", 949},
        {"zh_CN.UTF-8", 1252},    {"ja_JP.EUC-JP", 1252}, {"zh_CN", 1252},
        {"C", 1252},              {"POSIX", 1252},        {"de_DE.ISO-8859-1", 1252},
        {"xx.GBKX", 1252},        {"xx.", 1252},          {"", 1252},
    };
    ScopedEnv all("LC_ALL", nullptr);
    ScopedEnv ctype("LC_CTYPE", nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lang);
        ScopedEnv lang("LANG", c.lang);
        EXPECT_EQ(GetACP(), c.codePage);
    }
}

// LC_ALL, then LC_CTYPE, then LANG: the first one set and not empty counts.
TEST(PlatformCodePage, TakesTheFirstLocaleVariableSet)
{
    struct Case {
        const char *all;
        const char *ctype;
        const char *lang;
        UINT codePage;
    };
    const Case cases[] = {
        {"ja_JP.SJIS", "zh_CN.GBK", "ko_KR.EUC-KR", 932},
        {"", "zh_CN.GBK", "ko_KR.EUC-KR", 936},
        {nullptr, nullptr, "ko_KR.EUC-KR", 949},
        {"C.UTF-8", "zh_CN.GBK", nullptr, 1252},
        {nullptr, nullptr, nullptr, 1252},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.all ? c.all : "-") << ' ' << (c.ctype ? c.ctype : "-")
                                        << ' ' << (c.lang ? c.lang : "-"));
        ScopedEnv all("LC_ALL", c.all);
        ScopedEnv ctype("LC_CTYPE", c.ctype);
        ScopedEnv lang("LANG", c.lang);
        EXPECT_EQ(GetACP(), c.codePage);
    }
}

TEST(PlatformCodePage, LeadBytesOfEachCodePage)
{
    const BYTE bytes[] = {0x00, 0x5F, 0x7F, 0x80, 0x81, 0x9F, 0xA0, 0xDF, 0xE0, 0xFC, 0xFD, 0xFE, 0xFF};
    struct Case {
        const char *lang;
        const char *leads; // one '1' or '0' per byte above
    };
    const Case cases[] = {
        {"zh_CN.GBK", "0000111111110"},
        {"ko_KR.EUC-KR", "0000111111110"},
        {"zh_TW.Big5", "0000111111110"},
        {"ja_JP.SJIS", "0000110011000"},
        {"en_US.UTF-8", "0000000000000"},
    };
    ScopedEnv all("LC_ALL", nullptr);
    ScopedEnv ctype("LC_CTYPE", nullptr);
    for (const Case &c : cases) {
        ScopedEnv lang("LANG", c.lang);
        std::string leads;
        for (BYTE b : bytes)
            leads += IsDBCSLeadByte(b) ? '1' : '0';
        EXPECT_EQ(leads, c.leads) << c.lang;
    }
}

} // namespace
