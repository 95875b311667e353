// The common library's mail text functions: dates, encoded words, address
// lists, and the part-file decoders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "mime_test_support.h"
#include "record/com.h"

using namespace mimetest;

namespace {

std::string ParseDate(const char *text) {
    mdat *rec = (mdat *)calloc(1, sizeof(mdat));
    rec->date.dwLowDateTime = 12345;  // an earlier value must not survive
    com_Parse_Mime_Date(text, rec);
    std::string out = IsoDate(rec->date);
    free(rec);
    return out;
}

TEST(MimeDate, FormsAndZones) {
    struct Case {
        const char *text, *utc;
    } cases[] = {
        {"Mon, 15 Jan 2024 14:00:00 +0100", "2024-01-15T13:00:00Z"},
        {"15 Jan 2024 14:00:00 -0830", "2024-01-15T22:30:00Z"},
        {"Mon, 15 Jan 2024 14:00 GMT", "2024-01-15T14:00:00Z"},          // no seconds
        {"Mon, 15 Jan 24 14:00:00 EST", "2024-01-15T19:00:00Z"},         // two-digit year, named zone
        {"Fri, 21 Nov 97 09:55:06 GMT", "1997-11-21T09:55:06Z"},         // 97 is 1997
        {"Thu, 13 Feb 1969 23:32:54 -0330", "1969-02-14T03:02:54Z"},
        {"Sat Jan  3 01:05:34 1996", "1996-01-03T01:05:34Z"},            // ctime, as in mbox separators
        {"Wed Jul 10 08:00:00 PDT 2019", "2019-07-10T15:00:00Z"},
        {"Tue, 1 Jul 2003 10:52:37 +0200 (CEST)", "2003-07-01T08:52:37Z"},
        {"  ;Fri, 5 Jul 2019 16:45:10 +0000 (UTC)", "2019-07-05T16:45:10Z"},
        {"21-Nov-1997 09:55:06 +0000", "1997-11-21T09:55:06Z"},
        {"2024-03-10T08:09:10Z", "2024-03-10T08:09:10Z"},
        {"2024-03-10 08:09:10+02:00", "2024-03-10T06:09:10Z"},
        {"Mon, 29 Feb 2024 12:00:00 +0000", "2024-02-29T12:00:00Z"},     // leap day
        {"Thu, 30 Feb 2023 12:00:00 +0000", "1601"},                     // no such day
        {"sometime next week", "1601"},
        {"", "1601"},
        {"Mon, 45 Foo 2024", "1601"},
    };
    for (const Case &c : cases) EXPECT_EQ(ParseDate(c.text), c.utc) << c.text;
}

std::string Decode(const char *text, int *codepage) {
    char buf[512];
    com_strncpy(buf, text, sizeof(buf) - 1);
    *codepage = com_Decode_iso(buf, 0);
    EXPECT_LE(strlen(buf), strlen(text)) << "decoding lengthened " << text;
    return buf;
}

TEST(MimeEncodedWords, DecodedToUtf8) {
    int cp;
    EXPECT_EQ(Decode("=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>", &cp), "André Pirard <PIRARD@vm1.ulg.ac.be>");
    EXPECT_EQ(cp, 28591);
    // adjacent words join without the blank between them, a character split across words survives
    EXPECT_EQ(Decode("=?UTF-8?B?w6k=?= =?UTF-8?Q?t=C3?=\t=?UTF-8?Q?=A9?= end", &cp), "été end");
    EXPECT_EQ(cp, 65001);
    EXPECT_EQ(Decode("=?koi8-r?B?8NLJ18XU?=", &cp), "Привет");
    EXPECT_EQ(cp, 20866);
    EXPECT_EQ(Decode("=?windows-1251?Q?=CF=F0=E8=E2=E5=F2_=EC=E8=F0?=", &cp), "Привет мир");
    EXPECT_EQ(cp, 1251);
    EXPECT_EQ(Decode("=?iso-2022-jp?B?GyRCJDMkcyRLJEEkTxsoQg==?=", &cp), "こんにちは");
    EXPECT_EQ(cp, 50220);
    // each ISO-2022-JP word returns to ASCII; two adjacent words decode without a broken join
    EXPECT_EQ(Decode("=?ISO-2022-JP?B?GyRCJEskWyQzGyhC?= =?ISO-2022-JP?B?GyRCJEskWyQzGyhC?=", &cp),
              "にほこにほこ");
    EXPECT_EQ(Decode("=?utf-8*en?Q?lang_suffix?=", &cp), "lang suffix");
    // a charset ICU knows but Windows has no number for still ends up UTF-8
    EXPECT_EQ(Decode("=?macintosh?Q?caf=8E?=", &cp), "café");
    EXPECT_NE(cp, 0);
    // no words, a broken word: left alone, 0
    EXPECT_EQ(Decode("plain text", &cp), "plain text");
    EXPECT_EQ(cp, 0);
    EXPECT_EQ(Decode("=?utf-8?X?abc?= and =?broken", &cp), "=?utf-8?X?abc?= and =?broken");
    EXPECT_EQ(cp, 0);
    // text that would grow (3-byte characters from 1-byte ones) is cut, never lengthened
    std::string many = "=?windows-1252?Q?" + std::string() + "=80=80=80=80=80=80=80=80=80=80=80=80?=";
    std::string out = Decode(many.c_str(), &cp);
    EXPECT_EQ(out.substr(0, 3), "\xE2\x82\xAC");
    EXPECT_EQ(out.size() % 3, 0u);
}

TEST(MimeAddresses, EntriesAndParts) {
    const char *list = "\"Doe, John\" <john@x.org>, plain@x.org (Plain Person); "
                       "Friends: a@x.org, \"B, b\" <b@x.org>;, <c@x.org>";
    const char *cursor = list;
    char entry[BV_ADR_ENTRY_LEN];
    std::vector<std::string> entries;
    while (com_Extract_Adr(&cursor, entry)) entries.push_back(entry);
    std::vector<std::string> want = {"\"Doe, John\" <john@x.org>", "plain@x.org (Plain Person)", "a@x.org",
                                     "\"B, b\" <b@x.org>", "", "<c@x.org>"};
    EXPECT_EQ(entries, want);
    struct Case {
        const char *text, *name, *addr;
    } cases[] = {
        {"\"Doe, John\" <john@x.org>", "Doe, John", "john@x.org"},
        {"plain@x.org (Plain Person)", "Plain Person", "plain@x.org"},
        {"<c@x.org>", "", "c@x.org"},
        {"Bare Name <bare@x.org>", "Bare Name", "bare@x.org"},
        {"only@x.org", "", "only@x.org"},
        {"\"Quote \\\"inside\\\"\" <q@x.org>", "Quote \"inside\"", "q@x.org"},
        {"<d@x.org> (Comment Name)", "Comment Name", "d@x.org"},
        {"No Address Here", "No Address Here", ""},
    };
    for (const Case &c : cases) {
        char name[BV_NAME_LEN], addr[BV_ADDR_LEN];
        com_ExtractMIMEAddr(c.text, name, addr);
        EXPECT_STREQ(name, c.name) << c.text;
        EXPECT_STREQ(addr, c.addr) << c.text;
    }
}

TEST(MimeDecoders, Base64AndUuencodeFilesInPlace) {
    std::string dir = MakeWorkDir("decoders");
    std::string bytes;
    for (int i = 0; i < 70000; i++) bytes.push_back((char)(i * 7 + i / 251));
    static const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string b64;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = (uint8_t)bytes[i] << 16 | (i + 1 < bytes.size() ? (uint8_t)bytes[i + 1] << 8 : 0) |
                     (i + 2 < bytes.size() ? (uint8_t)bytes[i + 2] : 0);
        b64 += alphabet[v >> 18 & 63];
        b64 += alphabet[v >> 12 & 63];
        b64 += i + 1 < bytes.size() ? alphabet[v >> 6 & 63] : '=';
        b64 += i + 2 < bytes.size() ? alphabet[v & 63] : '=';
        if ((i / 3) % 19 == 18) b64 += "\r\n";
        if ((i / 3) % 500 == 7) b64 += " \t*";  // garbage is skipped
    }
    std::string part = dir + "part.b64";
    WriteFileBytes(part, b64 + "\r\n");
    EXPECT_EQ(com_convert_base64(part.c_str(), dir.c_str()), (int64_t)bytes.size());
    EXPECT_TRUE(ReadFileBytes(part) == bytes);
    // missing padding
    WriteFileBytes(part, "aGVsbG8gd29ybGQ\r\n");
    EXPECT_EQ(com_convert_base64(part.c_str(), dir.c_str()), 11);
    EXPECT_EQ(ReadFileBytes(part), "hello world");
    EXPECT_EQ(com_convert_base64((dir + "missing").c_str(), dir.c_str()), -1);

    WriteFileBytes(part, "begin 644 cat.txt\n#0V%T\n`\nend\n");
    EXPECT_EQ(com_uudecode(part.c_str(), dir.c_str()), 3);
    EXPECT_EQ(ReadFileBytes(part), "Cat");
}

TEST(MimeDecoders, ModifiedUtf7FolderNames) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"INBOX", "INBOX"},
        {"&AOQ-rger", "\xC3\xA4rger"},
        {"Entw&APw-rfe", "Entw\xC3\xBCrfe"},
        {"&ZeVnLIqe-", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"Tom &- Jerry", "Tom & Jerry"},
        {"&2D3eAA-", "\xF0\x9F\x98\x80"},  // a surrogate pair
    };
    for (const Case &c : cases) {
        char buf[64];
        com_strncpy(buf, c.in, sizeof(buf) - 1);
        decode_modified_ut7(buf, sizeof(buf));
        EXPECT_STREQ(buf, c.out) << c.in;
    }
    char tiny[16];  // cut to the capacity, at a character boundary
    com_strncpy(tiny, "&ZeVnLIqe-", sizeof(tiny) - 1);
    decode_modified_ut7(tiny, 5);
    EXPECT_STREQ(tiny, "\xE6\x97\xA5");
}

}  // namespace
