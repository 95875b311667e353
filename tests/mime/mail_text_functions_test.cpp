// The common library's mail text functions: dates, encoded words, address
// lists, folder names and the part-file decoders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "mime_test_support.h"
#include "record/com.h"
#include "support/case_table.h"

using namespace mimetest;

namespace {

// One row a call; the first field names the function (see the table's head).
TEST(MailTextFunctions, TableOfCalls) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MIME_DATA "/mail_text_functions.tsv")) {
        SCOPED_TRACE(row.Where() + " " + row[1]);
        const std::string &kind = row[0], &in = row[1];
        if (kind == "date") {
            mdat *rec = (mdat *)calloc(1, sizeof(mdat));
            rec->date.dwLowDateTime = 12345;  // an earlier value must not survive
            com_Parse_Mime_Date(in.c_str(), rec);
            EXPECT_EQ(IsoDate(rec->date), row[2]);
            free(rec);
        } else if (kind == "words") {
            char buf[512];
            com_strncpy(buf, in.c_str(), sizeof(buf) - 1);
            EXPECT_EQ(com_Decode_iso(buf, 0), row.Int(3));
            EXPECT_EQ(std::string(buf), row[2]);
            EXPECT_LE(strlen(buf), in.size()) << "decoding lengthened the text";
        } else if (kind == "address") {
            char name[BV_NAME_LEN], addr[BV_ADDR_LEN];
            com_ExtractMIMEAddr(in.c_str(), name, addr);
            EXPECT_EQ(std::string(name) + "|" + addr, row[2] + "|" + row[3]);
        } else if (kind == "utf7") {
            char buf[64];
            com_strncpy(buf, in.c_str(), sizeof(buf) - 1);
            decode_modified_ut7(buf, (size_t)row.Int(3));
            EXPECT_EQ(std::string(buf), row[2]);
        } else {
            ADD_FAILURE() << "unknown kind " << kind;
        }
    }
}

TEST(MailTextFunctions, AddressListEntries) {
    const char *list = "\"Doe, John\" <john@x.org>, plain@x.org (Plain Person); "
                       "Friends: a@x.org, \"B, b\" <b@x.org>;, <c@x.org>";
    const char *cursor = list;
    char entry[BV_ADR_ENTRY_LEN];
    std::vector<std::string> entries;
    while (com_Extract_Adr(&cursor, entry)) entries.push_back(entry);
    std::vector<std::string> want = {"\"Doe, John\" <john@x.org>", "plain@x.org (Plain Person)", "a@x.org",
                                     "\"B, b\" <b@x.org>", "", "<c@x.org>"};
    EXPECT_EQ(entries, want);
}

TEST(MailTextFunctions, Base64AndUuencodeFilesInPlace) {
    bvtest::TempDir scratch("bvdecoders");
    std::string dir = scratch.SubDir("work"), part = dir + "part.b64";
    std::string bytes, b64;
    for (int i = 0; i < 70000; i++) bytes.push_back((char)(i * 7 + i / 251));
    // lines of 76 characters with garbage between them, which is skipped
    std::string encoded = bvtest::Base64(bytes);
    for (size_t at = 0; at < encoded.size(); at += 76) b64 += encoded.substr(at, 76) + (at % 7600 ? "\r\n" : " \t*\r\n");
    bvtest::WriteFileText(part, b64);
    EXPECT_EQ(com_convert_base64(part.c_str(), dir.c_str()), (int64_t)bytes.size());
    EXPECT_TRUE(bvtest::ReadFileText(part) == bytes);
    bvtest::WriteFileText(part, "aGVsbG8gd29ybGQ\r\n");  // missing padding
    EXPECT_EQ(com_convert_base64(part.c_str(), dir.c_str()), 11);
    EXPECT_EQ(bvtest::ReadFileText(part), "hello world");
    EXPECT_EQ(com_convert_base64((dir + "missing").c_str(), dir.c_str()), -1);

    bvtest::WriteFileText(part, "begin 644 cat.txt\n#0V%T\n`\nend\n");
    EXPECT_EQ(com_uudecode(part.c_str(), dir.c_str()), 3);
    EXPECT_EQ(bvtest::ReadFileText(part), "Cat");
}

}  // namespace
