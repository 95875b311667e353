// ReadMimeLine: line ends, tabs, the echo file, unfolding and its limits.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "mime/mime.h"
#include "support/case_table.h"

namespace {

struct MemStream {
    std::string bytes;
    FILE *f;
    explicit MemStream(const std::string &b) : bytes(b) { f = fmemopen((void *)bytes.data(), bytes.size(), "rb"); }
    ~MemStream() { fclose(f); }
};

// Every line of the input joined by "|"; the echo of the physical lines, when asked for.
std::string AllLines(const std::string &input, int unfold, std::string *echoed = nullptr) {
    MemStream s(input);
    char *echoBuf = nullptr;
    size_t echoLen = 0;
    FILE *echo = echoed ? open_memstream(&echoBuf, &echoLen) : nullptr;
    std::string lines;
    for (int n = 0; ReadMimeLine(s.f, echo, unfold, 0) == 0; n++) lines += (n ? "|" : "") + std::string(gLineBuf);
    if (echo) {
        fclose(echo);
        echoed->assign(echoBuf, echoLen);
        free(echoBuf);
    }
    return lines;
}

TEST(ReadMimeLine, LinesOfTheTable) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MIME_DATA "/mime_lines.tsv"))
        EXPECT_EQ(AllLines(row[0], row.Int(1)), row[2]) << row.Where();
    MemStream empty("");
    EXPECT_EQ(ReadMimeLine(empty.f, nullptr, 1, 0), 1);
}

TEST(ReadMimeLine, EchoHoldsRawPhysicalLinesWhole) {
    // the twenty-second continuation starts a new line
    std::string list = "X-List: v0\r\n", first = "X-List: v0";
    for (int i = 1; i <= 25; i++) list += " v" + std::to_string(i) + "\r\n";
    for (int i = 1; i <= 21; i++) first += ";v" + std::to_string(i);
    std::string longLine(5000, 'x'), echoed;
    std::string input = "Subject: a\tb\r\n c\r\n" + list + longLine + "\n";
    EXPECT_EQ(AllLines(input, 1, &echoed), "Subject: a b c|" + first + "|v22;v23;v24;v25|" + longLine);
    EXPECT_EQ(echoed, input.substr(0, input.size() - 1) + "\r\n");
}

TEST(ReadMimeLine, OverlongLineIsCutAndTheRestDropped) {
    std::string huge(250000, 'a');
    huge[199989] = 'b';
    huge[199990] = 'c';
    MemStream s(huge + "\nnext\n");
    ASSERT_EQ(ReadMimeLine(s.f, nullptr, 0, 0), 0);
    EXPECT_EQ(strlen(gLineBuf), 199990u);
    EXPECT_EQ(gLineBuf[199989], 'b');
    ASSERT_EQ(ReadMimeLine(s.f, nullptr, 0, 0), 0);
    EXPECT_STREQ(gLineBuf, "next");
    // the clear reaches everything the long line left behind
    for (int i = 5; i < BV_LINE_BUF_LEN; i += 997) ASSERT_EQ(gLineBuf[i], 0) << i;
}

TEST(ReadMimeLine, StartOffsetAppends) {
    MemStream s("abc=\ndef\n");
    ASSERT_EQ(ReadMimeLine(s.f, nullptr, 0, 0), 0);
    ASSERT_EQ(ReadMimeLine(s.f, nullptr, 0, 3), 0);
    EXPECT_STREQ(gLineBuf, "abcdef");
    EXPECT_EQ(ReadMimeLine(s.f, nullptr, 0, 3), 1);
    EXPECT_STREQ(gLineBuf, "abcdef");  // nothing read: the buffer is left alone
}

}  // namespace
