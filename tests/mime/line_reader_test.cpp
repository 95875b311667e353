// ReadMimeLine: line ends, tabs, the echo file, unfolding and its limits.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "mime/mime.h"

namespace {

struct MemStream {
    std::string bytes;
    FILE *f;
    explicit MemStream(const std::string &b) : bytes(b) { f = fmemopen((void *)bytes.data(), bytes.size(), "rb"); }
    ~MemStream() { fclose(f); }
};

std::vector<std::string> AllLines(const std::string &input, int unfold) {
    MemStream s(input);
    std::vector<std::string> lines;
    while (ReadMimeLine(s.f, nullptr, unfold, 0) == 0) lines.push_back(gLineBuf);
    return lines;
}

TEST(ReadMimeLine, LineEndsTabsAndEndOfFile) {
    // LF, CR LF, CR CR LF (one end), a lone CR (the next character stays), no end at EOF;
    // tabs become spaces only in header lines (unfolding)
    auto lines = AllLines("a\nb\r\nc\r\r\nd\re\r\n\r\nf\tg\t\nlast", 0);
    std::vector<std::string> want = {"a", "b", "c", "d", "e", "", "f\tg\t", "last"};
    EXPECT_EQ(lines, want);
    EXPECT_EQ(AllLines("f\tg\t\n", 1), std::vector<std::string>({"f g "}));
    MemStream empty("");
    EXPECT_EQ(ReadMimeLine(empty.f, nullptr, 1, 0), 1);
}

TEST(ReadMimeLine, EchoHoldsRawPhysicalLinesWhole) {
    std::string longLine(5000, 'x');
    MemStream s("Subject: a\tb\r\n c\r\n" + longLine + "\n");
    char *echoBuf = nullptr;
    size_t echoLen = 0;
    FILE *echo = open_memstream(&echoBuf, &echoLen);
    ASSERT_EQ(ReadMimeLine(s.f, echo, 1, 0), 0);
    EXPECT_STREQ(gLineBuf, "Subject: a b c");
    ASSERT_EQ(ReadMimeLine(s.f, echo, 1, 0), 0);
    EXPECT_EQ(std::string(gLineBuf), longLine);
    fclose(echo);
    std::string echoed(echoBuf, echoLen);
    free(echoBuf);
    EXPECT_EQ(echoed, "Subject: a\tb\r\n c\r\n" + longLine + "\r\n");
}

TEST(ReadMimeLine, UnfoldingJoins) {
    // structured header: ";" and the continuation's blanks dropped
    EXPECT_EQ(AllLines("Content-Type: text/plain;\n\t  charset=x\n", 1)[0], "Content-Type: text/plain;;charset=x");
    // Subject, To, From and Cc fold with a space
    EXPECT_EQ(AllLines("Subject: one\n   two\n", 1)[0], "Subject: one two");
    EXPECT_EQ(AllLines("to: a@x,\n b@y\n", 1)[0], "to: a@x, b@y");
    EXPECT_EQ(AllLines("From: A\n <a@x>\n", 1)[0], "From: A <a@x>");
    EXPECT_EQ(AllLines("CC: a@x,\n b@y\n", 1)[0], "CC: a@x, b@y");
    EXPECT_EQ(AllLines("BCC: a@x,\n b@y\n", 1)[0], "BCC: a@x,;b@y");
    // a fold inside a quoted string keeps a space
    EXPECT_EQ(AllLines("X-A: \"two\n words\"\n", 1)[0], "X-A: \"two words\"");
    // after "=" a space, unless the continuation's text begins with "="
    EXPECT_EQ(AllLines("X-A: =?a?Q?b?=\n =?a?Q?c?=\n", 1)[0], "X-A: =?a?Q?b?==?a?Q?c?=");
    EXPECT_EQ(AllLines("X-A: b=\n c\n", 1)[0], "X-A: b= c");
    // an empty line ends the block even when a blank line follows it
    auto lines = AllLines("A: 1\n\n b\n", 1);
    std::vector<std::string> want = {"A: 1", "", " b"};
    EXPECT_EQ(lines, want);
    // without unfolding a continuation is a line of its own
    EXPECT_EQ(AllLines("A: 1\n b\n", 0).size(), 2u);
}

TEST(ReadMimeLine, TwentySecondContinuationStartsANewLine) {
    std::string input = "X-List: v0\n";
    for (int i = 1; i <= 25; i++) input += " v" + std::to_string(i) + "\n";
    auto lines = AllLines(input, 1);
    ASSERT_EQ(lines.size(), 2u);
    // the echo still holds every physical line as it came
    MemStream s(input);
    char *echoBuf = nullptr;
    size_t echoLen = 0;
    FILE *echo = open_memstream(&echoBuf, &echoLen);
    while (ReadMimeLine(s.f, echo, 1, 0) == 0) {
    }
    fclose(echo);
    std::string raw = input;
    for (size_t at = 0; (at = raw.find('\n', at)) != std::string::npos; at += 2) raw.replace(at, 1, "\r\n");
    EXPECT_EQ(std::string(echoBuf, echoLen), raw);
    free(echoBuf);
    std::string first = "X-List: v0";
    for (int i = 1; i <= 21; i++) first += ";v" + std::to_string(i);
    EXPECT_EQ(lines[0], first);
    EXPECT_EQ(lines[1], "v22;v23;v24;v25");
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
