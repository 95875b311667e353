// Code-page conversion round trips and charset names.
#include <gtest/gtest.h>
#include <string.h>
#include <vector>

#include "tests/foundation/foundation_test_util.h"

static std::u16string ToWide(int codepage, const std::string &bytes) {
    int need = plat_MultiByteToWideChar(codepage, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::u16string out((size_t)need, u'\0');
    int got = plat_MultiByteToWideChar(codepage, bytes.data(), (int)bytes.size(), out.data(), need);
    EXPECT_EQ(got, need);
    return out;
}

static std::string FromWide(int codepage, const std::u16string &wide) {
    int need = plat_WideCharToMultiByte(codepage, wide.data(), (int)wide.size(), nullptr, 0);
    std::string out((size_t)need, '\0');
    int got = plat_WideCharToMultiByte(codepage, wide.data(), (int)wide.size(), out.data(), need);
    EXPECT_EQ(got, need);
    return out;
}

TEST(CodePages, AnsiCodePageKeepsEveryByte) {
    EXPECT_EQ(plat_GetACP(), 28591);
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back((char)b);
    std::u16string wide = ToWide(28591, all);
    ASSERT_EQ(wide.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(wide[(size_t)b], (char16_t)b);
    EXPECT_EQ(FromWide(28591, wide), all);
    // Through UTF-8 and back: still every byte.
    std::string utf8 = FromWide(65001, wide);
    EXPECT_EQ(FromWide(28591, ToWide(65001, utf8)), all);
    // The library's in-place form, with room to grow.
    std::vector<char> buf(600, 0);
    memcpy(buf.data(), all.data() + 1, 255);  // no NUL inside a C text
    EXPECT_EQ(com_CodepageToWindows(buf.data(), 28591, 65001, buf.size()), 127 + 128 * 2);
    EXPECT_EQ(com_CodepageToWindows(buf.data(), 65001, 28591, buf.size()), 255);
    EXPECT_EQ(std::string(buf.data()), all.substr(1));
}

TEST(CodePages, WindowsAndDosSamples) {
    // 1252: the euro sign and curly quotes live in 0x80-0x9F.
    EXPECT_EQ(ToWide(1252, "\x80 \x93q\x94"), u"\u20AC \u201Cq\u201D");
    EXPECT_EQ(FromWide(1252, u"\u20AC caf\u00E9"), "\x80 caf\xE9");
    // 850: box drawing and accented letters of the DOS code page.
    EXPECT_EQ(ToWide(850, "\x82\x81\xC9\x9B"), u"\u00E9\u00FC\u2554\u00F8");
    EXPECT_EQ(FromWide(850, u"\u00E9\u00FC"), "\x82\x81");
    // Characters a code page lacks become '?'.
    EXPECT_EQ(FromWide(1252, u"\u0416"), "?");
    EXPECT_EQ(FromWide(28591, u"\u20AC"), "?");
    // UTF-8 with a character outside the BMP and a broken sequence.
    EXPECT_EQ(ToWide(65001, "a\xF0\x9F\x98\x80"), u"a\U0001F600");
    EXPECT_EQ(ToWide(65001, "\xC3"), u"\uFFFD");
    EXPECT_EQ(FromWide(65001, u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
    // Stateful and multi-byte code pages through ICU.
    EXPECT_EQ(ToWide(50220, "\x1B$B$3$s$K$A$O\x1B(B"), u"\u3053\u3093\u306B\u3061\u306F");
    EXPECT_EQ(ToWide(20866, "\xF0\xD2\xC9\xD7\xC5\xD4"), u"\u041F\u0440\u0438\u0432\u0435\u0442");
    EXPECT_EQ(ToWide(1251, "\xCF\xF0\xE8"), u"\u041F\u0440\u0438");
    EXPECT_EQ(ToWide(932, "\x82\xA0"), u"\u3042");
    // Romanian letters of ISO-8859-16, both ways.
    EXPECT_EQ(ToWide(28606, "\xAA\xBA\xDE\xA4"), u"\u0218\u0219\u021A\u20AC");
    EXPECT_EQ(FromWide(28606, u"\u021B\u00E9\u0416"), "\xFE\xE9?");

    // Terminated input counts the terminator, as Win32 does.
    WCHAR out[8];
    EXPECT_EQ(plat_MultiByteToWideChar(1252, "ab", -1, out, 8), 3);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(plat_MultiByteToWideChar(1252, "abcdef", -1, out, 3), 0) << "too small a buffer fails";
    EXPECT_EQ(plat_MultiByteToWideChar(1252, "x", 1, out, 8), 1);
    EXPECT_EQ(plat_MultiByteToWideChar(123456, "x", 1, out, 8), 0) << "unknown code page";
    EXPECT_FALSE(plat_IsValidCodePage(123456));
    for (int cp : {65001, 28591, 1252, 850, 437, 866, 1250, 1251, 932, 936, 949, 950, 54936, 51932, 51949, 50220,
                   20866, 21866, 65000, 20127, 28592, 28605, 28606, 874, 10000, 1200, 1201})
        EXPECT_TRUE(plat_IsValidCodePage(cp)) << cp;
}

TEST(CodePages, InPlaceConversionIsCutAtACharacter) {
    char buf[8];
    strcpy(buf, "\xE9\xE9\xE9\xE9\xE9");  // five letters, ten bytes in UTF-8
    EXPECT_EQ(com_CodepageToWindows(buf, 28591, 65001, sizeof(buf)), 6);
    EXPECT_STREQ(buf, "\xC3\xA9\xC3\xA9\xC3\xA9");
    char emoji[6];
    strcpy(emoji, "a\xF0\x9F\x98\x80");
    // A character outside the BMP (a surrogate pair inside) is kept whole or dropped whole.
    EXPECT_EQ(com_CodepageToWindows(emoji, 65001, 54936, 5), 1);
    EXPECT_STREQ(emoji, "a");
    char one[4] = "abc";
    EXPECT_EQ(com_CodepageToWindows(one, 28591, 999999, sizeof(one)), -1);
    EXPECT_STREQ(one, "abc") << "unknown code page: unchanged";
    char eur[16] = "\x80 5";
    EXPECT_EQ(com_CodepageToWindows(eur, 1252, 65001, sizeof(eur)), 5);
    EXPECT_STREQ(eur, "\xE2\x82\xAC 5");
}

static int Codepage(const char *name) {
    char buf[BV_CHARSET_LEN * 2];
    com_strncpy(buf, name, sizeof(buf) - 1);
    return com_iso_codepage(0, buf);
}

static std::string Name(int codepage) {
    char buf[BV_CHARSET_LEN];
    com_iso_codepage(codepage, buf);
    return buf;
}

TEST(CharsetNames, AliasesBothWays) {
    EXPECT_EQ(Codepage("us-ascii"), 20127);
    EXPECT_EQ(Codepage("ISO-8859-1"), 28591);
    EXPECT_EQ(Codepage("iso-8859-2"), 28592);
    EXPECT_EQ(Codepage("ISO-8859-15"), 28605);
    EXPECT_EQ(Codepage("iso-8859-16"), 28606);
    EXPECT_EQ(Codepage("Windows-1250"), 1250);
    EXPECT_EQ(Codepage("windows-1258"), 1258);
    EXPECT_EQ(Codepage("UTF-8"), 65001);
    EXPECT_EQ(Codepage("utf-7"), 65000);
    EXPECT_EQ(Codepage("KOI8-R"), 20866);
    EXPECT_EQ(Codepage("koi8-u"), 21866);
    EXPECT_EQ(Codepage("ISO-2022-JP"), 50220);
    EXPECT_EQ(Codepage("Shift_JIS"), 932);
    EXPECT_EQ(Codepage("EUC-JP"), 51932);
    EXPECT_EQ(Codepage("gb2312"), 936);
    EXPECT_EQ(Codepage("GBK"), 936);
    EXPECT_EQ(Codepage("GB18030"), 54936);
    EXPECT_EQ(Codepage("Big5"), 950);
    EXPECT_EQ(Codepage("euc-kr"), 51949);
    EXPECT_EQ(Codepage("ks_c_5601-1987"), 949);
    EXPECT_EQ(Codepage("ibm850"), 850);
    EXPECT_EQ(Codepage(" \"utf-8\" "), 65001) << "quoted and padded as in a header parameter";
    EXPECT_EQ(Codepage("latin-1"), 28591) << "an alias only ICU knows";
    EXPECT_EQ(Codepage("no-such-charset"), 0);
    EXPECT_EQ(Codepage(""), 0);
    EXPECT_EQ(Name(28591), "iso-8859-1");
    EXPECT_EQ(Name(65001), "utf-8");
    EXPECT_EQ(Name(1252), "windows-1252");
    EXPECT_EQ(Name(936), "gb2312");
    EXPECT_EQ(Name(50220), "iso-2022-jp");
    EXPECT_EQ(Name(77777), "");
    // Every name maps to a code page the platform converts.
    for (const char *name : {"iso-8859-3", "iso-8859-13", "windows-874", "ibm437", "cp866", "euc-kr", "big5", "utf-7"})
        EXPECT_TRUE(plat_IsValidCodePage(Codepage(name))) << name;
}
