// ComposeRfc822 on records built by hand: the header block line by line, the
// body structure and its boundaries, base64, and the switches.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compose/compose.h"
#include "compose_test_support.h"
#include "mime/mime.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

// Boundary `number` of a composed message: the prefix, the token drawn for
// the message, and the number.
std::string Boundary(const std::string &text, const std::string &prefix, int number) {
    size_t at = text.find(prefix + ".");
    if (at == std::string::npos) return prefix + " (no boundary)";
    return text.substr(at, prefix.size() + 17) + "/" + std::to_string(number);
}
std::string Top(const std::string &text) { return Boundary(text, "Next_Item:_(A3CB49KFSA19)", 1); }

class ComposerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetComposeSwitches();
        rec = NewMailRecord(7);
    }
    void TearDown() override {
        FreeMailRecord(rec, work.path);
        ResetComposeSwitches();
    }
    // Header lines: everything before the first empty line.
    std::vector<std::string> HeaderLines(const std::string &text) {
        std::vector<std::string> lines = SplitCrlfLines(text);
        auto blank = std::find(lines.begin(), lines.end(), "");
        return std::vector<std::string>(lines.begin(), blank);
    }
    ScratchDir work;
    mdat *rec = nullptr;
};

// The base64 text of the part whose header block contains `marker`.
std::string Base64After(const std::string &text, const std::string &marker) {
    size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    size_t start = text.find("\r\n\r\n", at) + 4;
    size_t end = text.find("\r\n--", start);
    return text.substr(start, end - start + 2);
}

void ExpectLinesOf72(const std::string &base64) {
    std::vector<std::string> lines = SplitCrlfLines(base64);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();  // the blank line before a closing delimiter
    ASSERT_FALSE(lines.empty());
    for (size_t i = 0; i + 1 < lines.size(); i++) EXPECT_EQ(lines[i].size(), 72u) << "line " << i;
    EXPECT_GT(lines.back().size(), 0u);
    EXPECT_LE(lines.back().size(), 72u);
}

TEST_F(ComposerTest, HeaderBlockComesInItsOrder) {
    com_strncpy(rec->fromName, "Anna Example", BV_NAME_LEN - 1);
    com_strncpy(rec->fromAddr, "anna@example.com", BV_ADDR_LEN - 1);
    com_strncpy(rec->originalSender, "Boss", BV_ORIGSENDER_LEN - 1);
    AddRecipient(rec, "Bob", "bob@example.org", 3);
    AddRecipient(rec, "Carl", "carl@example.org", 11);
    AddRecipient(rec, "", "dora@example.org", 12);
    AddRecipient(rec, "\"Eve\" <eve@example.net>", "eve@example.net", 31);
    rec->priority = 2;
    rec->importance = 2;
    com_strncpy(rec->subject, "Quarterly figures", BV_SUBJECT_LEN - 1);
    com_strncpy(rec->messageId, "abc.123@example.com", BV_MSGID_LEN - 1);
    rec->date = UtcTime(2024, 1, 15, 14, 0, 5);
    AddPart(rec, work.path, BV_PART_HEADER, "Internet Headers.txt",
            "From: x\nReferences: <a@example.com>\n <b@example.com>\n\t<c@example.com>\nX-Other: 1\n"
            "In-reply-to: <c@example.com>\nThread-Topic: figures\nThread-Index: AQHZ\n continued\nSubject: s\n\n");
    AddPart(rec, work.path, BV_PART_TEXT, "Message Text", "Hello\r\n", "", "UTF-8");
    std::string text = ComposeToText(rec, work.path);
    std::vector<std::string> expected = {
        "From: \"Anna Example (Boss)\" <anna@example.com>",
        "Sender: \"Anna Example (Boss)\" <anna@example.com>",
        "Original-Sender: \"Boss\"",
        // one line per kind, every recipient of it on that line
        "To: \"Bob\" <bob@example.org>,",
        " \"Eve\" <eve@example.net>",
        "Cc: \"Carl\" <carl@example.org>",
        "Bcc: \"dora@example.org\" <dora@example.org>",
        "Priority: Urgent",
        "X-Priority: 1",
        "Importance: High",
        "X-Mozilla-Status: 0001",
        "Subject: Quarterly figures",
        "MIME-Version: 1.0",
        "Message-ID: <abc.123@example.com>",
        "References: <a@example.com>",
        " <b@example.com>",
        "\t<c@example.com>",
        "In-reply-to: <c@example.com>",
        "Thread-Topic: figures",
        "Thread-Index: AQHZ",
        " continued",
        "Date: Mon, 15 Jan 2024 14:00:05 +0000",
        "Content-Type: multipart/alternative;boundary=\"" + Top(text) + "\"",
    };
    EXPECT_EQ(HeaderLines(text), expected);
    EXPECT_NE(text.find("\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + Top(text) +
                        "\r\nContent-type: text/plain; charset=\"UTF-8\"\r\n\r\nHello\r\n--" + Top(text) + "--\r\n"),
              std::string::npos);
}

TEST_F(ComposerTest, EdgeCasesOfTheHeaderBlock) {
    // A sender without address, normal priority and importance, unread.
    com_strncpy(rec->fromName, "Anna", BV_NAME_LEN - 1);
    rec->unread = 1;
    com_strncpy(rec->messageId, "<kept@example.com>", BV_MSGID_LEN - 1);
    std::string eih = ComposeToText(rec, work.path);
    std::vector<std::string> lines = HeaderLines(eih);
    EXPECT_EQ(lines[0], "From: \"Anna\"");
    EXPECT_EQ(lines[1], "Sender: \"Anna\"");
    for (const std::string &line : lines) {
        EXPECT_NE(line.rfind("Priority", 0), 0u) << line;
        EXPECT_NE(line.rfind("X-Priority", 0), 0u) << line;
        EXPECT_NE(line.rfind("Importance", 0), 0u) << line;
        EXPECT_NE(line.rfind("X-Mozilla-Status", 0), 0u) << line;
    }
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Message-ID: <kept@example.com>"), lines.end());

    // Low priority and importance; a bare name gets no domain made up.
    rec->priority = 0;
    rec->importance = 0;
    rec->unread = 0;
    com_strncpy(rec->fromName, "John Smith", BV_NAME_LEN - 1);
    rec->messageId[0] = 0;
    lines = HeaderLines(ComposeToText(rec, work.path, "example.com"));
    EXPECT_EQ(lines[0], "From: \"John Smith\"");
    const std::vector<std::string> low = {"Priority: Low", "X-Priority: 5", "Importance: Low", "X-Mozilla-Status: 0001"};
    auto at = std::search(lines.begin(), lines.end(), low.begin(), low.end());
    EXPECT_NE(at, lines.end());
    for (const std::string &line : lines) EXPECT_NE(line.rfind("Message-ID", 0), 0u) << "no id without /DEDUP";

    // /DEDUP: the digest stands in for a missing Message-ID.
    gDedup = 1;
    for (int i = 0; i < 16; i++) rec->digest[i] = static_cast<uint8_t>(i * 17);
    lines = HeaderLines(ComposeToText(rec, work.path));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Message-ID: <00112233445566778899aabbccddeeff>"), lines.end());
}

TEST_F(ComposerTest, NonAsciiSubjectAndSenderAreEncodedWords) {
    com_strncpy(rec->fromName, "J\xc3\xb6rg M\xc3\xbcller", BV_NAME_LEN - 1);
    com_strncpy(rec->fromAddr, "joerg@example.de", BV_ADDR_LEN - 1);
    com_strncpy(rec->subject, "Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln \xe2\x82\xac", BV_SUBJECT_LEN - 1);
    rec->codepage = 65001;
    std::string text = ComposeToText(rec, work.path);
    for (char c : text.substr(0, text.find("\r\n\r\n"))) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    size_t subject = text.find("\r\nSubject: ");
    ASSERT_NE(subject, std::string::npos);
    std::string value = text.substr(subject + 11, text.find("\r\nMIME-Version", subject) - subject - 11);
    std::string joined;
    for (const std::string &piece : SplitCrlfLines(value)) joined += piece.substr(piece[0] == ' ' ? 1 : 0);
    char decoded[BV_SUBJECT_LEN * 4];
    com_strncpy(decoded, joined.c_str(), sizeof decoded - 1);
    EXPECT_NE(com_Decode_iso(decoded, 0), 0);
    EXPECT_STREQ(decoded, rec->subject);
    EXPECT_NE(text.find("<joerg@example.de>"), std::string::npos);
}

TEST_F(ComposerTest, DateIsWrittenInLocalTimeAndTheRecordKeepsIt) {
    if (!plat_FileExists("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "no zone database";
    setenv("TZ", "Europe/Berlin", 1);
    com_strncpy(gGmtOffset, "+0100", sizeof gGmtOffset - 1);
    rec->date = UtcTime(2024, 1, 15, 14, 0, 0);
    std::string eih = ComposeToText(rec, work.path);
    std::vector<std::string> lines = HeaderLines(eih);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Date: Mon, 15 Jan 2024 15:00:00 +0100"), lines.end());
    FILETIME local = UtcTime(2024, 1, 15, 15, 0, 0);
    EXPECT_EQ(rec->date.dwLowDateTime, local.dwLowDateTime);
    EXPECT_EQ(rec->date.dwHighDateTime, local.dwHighDateTime);
    // A summer date names its own offset, so the line is the same instant.
    rec->date = UtcTime(2024, 7, 1, 10, 30, 0);
    lines = HeaderLines(ComposeToText(rec, work.path));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Date: Mon, 01 Jul 2024 12:30:00 +0200"), lines.end());
    // No date: the current time.
    rec->date = FILETIME{0, 0};
    lines = HeaderLines(ComposeToText(rec, work.path));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("Date: ", 0) == 0; }),
              1);
}

TEST_F(ComposerTest, BodyLevelsBoundariesAndBase64) {
    const std::string image = PatternBytes(5000, 1);
    const std::string attachment = PatternBytes(72 * 3 / 4 * 10, 2);  // exactly ten full lines
    const std::string tiny = PatternBytes(2, 3);
    AddPart(rec, work.path, BV_PART_TEXT, "Message Text", "plain text", "", "UTF-8");
    AddPart(rec, work.path, BV_PART_HTML, "Message Text", "<html><body>hi</body></html>\r\n");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "logo.PNG", image, "logo@cid");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "report.pdf", attachment, "");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "tiny.jpg", tiny, "");
    mdat *sub = AddEmbedded(rec);
    com_strncpy(sub->fromName, "Inner", BV_NAME_LEN - 1);
    com_strncpy(sub->fromAddr, "inner@example.com", BV_ADDR_LEN - 1);
    com_strncpy(sub->subject, "inner subject", BV_SUBJECT_LEN - 1);
    sub->date = UtcTime(2023, 3, 4, 5, 6, 7);
    AddPart(sub, work.path, BV_PART_TEXT, "Message Text", "inner text\r\n", "", "UTF-8");
    AddPart(sub, work.path, BV_PART_ATTACHMENT, "inner.bin", PatternBytes(100, 4));

    std::string text = ComposeToText(rec, work.path);
    const std::string b1 = Top(text), b2 = Boundary(text, "Next_Item:_(A3CB49KFSA19)", 2),
                      b3 = Boundary(text, "Next_Item:_(A3CB49KFSA19)", 3);
    // The embedded message goes on with the message's numbers under its own
    // prefix: no level shares a boundary with another.
    const std::string e4 = Boundary(text, "ABCDEFG", 4);
    EXPECT_EQ(e4.substr(8, 16), b1.substr(26, 16)) << "one token for the whole message";
    EXPECT_NE(text.find("Content-Type: multipart/mixed;boundary=\"" + b1 + "\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("--" + b1 + "\r\nContent-type: multipart/related; boundary=\"" + b2 + "\"\r\n\r\n--" + b2 +
                        "\r\nContent-type: multipart/alternative; boundary=\"" + b3 + "\"\r\n\r\n--" + b3 +
                        "\r\nContent-type: text/plain; charset=\"UTF-8\"\r\n\r\nplain text\r\n--" + b3 +
                        "\r\nContent-type: text/html; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n--" + b3 + "--\r\n\r\n--" + b2 +
                        "\r\nContent-type: image/png;\r\n  name=\"logo.PNG\"\r\nContent-ID: <logo@cid>\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n--" + b2 + "--\r\n\r\n--" + b1 + "\r\nContent-type: message/rfc822\r\n\r\nFrom: "),
              std::string::npos);
    EXPECT_NE(text.find("Content-type: application/pdf;\r\n  name=\"report.pdf\"\r\n"
                        "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
                        "  filename=\"report.pdf\"\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Content-type: image/jpeg;\r\n  name=\"tiny.jpg\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("Content-Type: multipart/mixed;boundary=\"" + e4 + "\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("--" + e4 + "--\r\n--" + b1 + "\r\n"), std::string::npos);
    EXPECT_EQ(bvtest::CountOf(text, "--" + e4 + "\r\n"), 2);
    EXPECT_TRUE(text.size() > 9 && text.compare(text.size() - b1.size() - 6, std::string::npos, "--" + b1 + "--\r\n") == 0);
    EXPECT_EQ(bvtest::CountOf(text, "--" + b1 + "--"), 1);

    std::string imageText = Base64After(text, "name=\"logo.PNG\"");
    ExpectLinesOf72(imageText);
    EXPECT_EQ(DecodeBase64(imageText), image);
    std::string pdfText = Base64After(text, "filename=\"report.pdf\"");
    EXPECT_EQ(SplitCrlfLines(pdfText).size(), 10u) << "no blank line after a full last line";
    ExpectLinesOf72(pdfText);
    EXPECT_EQ(DecodeBase64(pdfText), attachment);
    EXPECT_EQ(Base64After(text, "filename=\"tiny.jpg\"").size(), 6u);
    EXPECT_EQ(DecodeBase64(Base64After(text, "filename=\"tiny.jpg\"")), tiny);
}

TEST_F(ComposerTest, SecureAndSpecialParts) {
    AddPart(rec, work.path, BV_PART_TEXT, "pgp message", "-----BEGIN PGP MESSAGE-----\r\n");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "smime.p7m", PatternBytes(300, 5));
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "smime.p7s", PatternBytes(30, 6), "sig@example");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "big.iso", "", "link:https://files.example.com/big.iso");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "movie.avi", "", "link:0BwXyZ");
    int missing = AddPart(rec, work.path, BV_PART_ATTACHMENT, "gone.txt", "x");
    char path[1024];
    com_PartFileName(work.path.c_str(), rec, missing, path, sizeof path);
    remove(path);
    std::string text = ComposeToText(rec, work.path);
    EXPECT_NE(text.find("Content-Type: application/pkcs7-mime;boundary=\"" + Top(text) + "\"\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Content-type: application/pgp-encrypted; charset=\"UTF-8\"\r\n\r\n-----BEGIN PGP"),
              std::string::npos);
    EXPECT_NE(text.find("Content-type: application/pkcs7-mime;smime-type=enveloped-data;\r\n  name=\"smime.p7m\"\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Content-type: application/x-pkcs7-signature;\r\n  name=\"smime.p7s\"\r\n"
                        "Content-ID: <sig@example>\r\nContent-Transfer-Encoding: base64\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Content-type: text/html;\r\n  name=\"big.iso.html\"\r\nContent-Disposition: inline;\r\n"
                        "  filename=\"big.iso.html\"\r\n\r\n\r\n<html>\r\nYour attachment has been moved here: "
                        "<A HREF=\"https://files.example.com/big.iso\">big.iso</A>\r\n</html>\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("<A HREF=\"https://drive.google.com/open?id=0BwXyZ\">movie.avi</A>"), std::string::npos);
    EXPECT_EQ(text.find("gone.txt"), std::string::npos) << "a part without its file is left out";
}

TEST_F(ComposerTest, SwitchesChangeWhatIsWritten) {
    const std::string raw = "From: a@b\r\nSubject: raw \xff\x00 bytes\r\n\r\nbody\r\n" + PatternBytes(1000, 7);
    AddPart(rec, work.path, BV_PART_HEADER, "Internet Headers.txt",
            "From - Mon Jan 15 10:00:00 2024\nReturn-Path: <a@b>\nContent-Type: multipart/mixed;\n\tboundary=\"old\"\n"
            "\tcharset=x\nContent-Transfer-Encoding: 7bit\nContent-Length: 99\nSubject: kept\n\nX-After: blank\n"
            "X-Boundary: boundary=\"y\"\n");
    AddPart(rec, work.path, BV_PART_ATTACHMENT, "RAWRFC.dat", raw);
    AddPart(rec, work.path, BV_PART_TEXT, "Message Text", "text\r\n", "", "UTF-8");
    com_strncpy(rec->subject, "composed", BV_SUBJECT_LEN - 1);

    gD81 = 1;
    EXPECT_EQ(ComposeToText(rec, work.path), raw);
    gD81 = 0;

    // Without /D81 the stored message is an ordinary attachment.
    EXPECT_NE(ComposeToText(rec, work.path).find("filename=\"RAWRFC.dat\""), std::string::npos);

    gD74 = 1;
    std::string text = ComposeToText(rec, work.path);
    EXPECT_EQ(text.find("Content-Type"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.rfind("Date: ", text.size() - 2), text.rfind("\r\n", text.size() - 3) + 2) << "Date is last";
    gD74 = 0;

    gD68 = 1;
    EXPECT_NE(ComposeToText(rec, work.path).find("Subject: composed"), std::string::npos) << "/D68 alone";
    gEih = 1;
    std::string eih = ComposeToText(rec, work.path);
    std::vector<std::string> lines = HeaderLines(eih);
    // RAWRFC.dat is an attachment here, so the body is "mixed". Only the
    // fields of the old body go, each with its continuation; MIME-Version
    // is added when the block has none.
    const std::vector<std::string> copied = {"Return-Path: <a@b>", "Subject: kept", "X-After: blank",
                                             "X-Boundary: boundary=\"y\"", "MIME-Version: 1.0",
                                             "Content-Type: multipart/mixed;boundary=\"" + Top(eih) + "\""};
    EXPECT_EQ(lines, copied);
}

TEST_F(ComposerTest, OverlongAndGarbageInputsAreCopiedSafely) {
    // A References line longer than the line buffer is copied whole, with
    // its continuation; the header part is left at the next header.
    const std::string longId = "<" + std::string(6000, 'r') + "@example.com>";
    AddPart(rec, work.path, BV_PART_HEADER, "Internet Headers.txt",
            "References: " + longId + "\n\t<second@example.com>\nIn-Reply-To: <second@example.com>\n\n");
    std::string eih = ComposeToText(rec, work.path);
    std::vector<std::string> lines = HeaderLines(eih);
    const std::vector<std::string> copied = {"References: " + longId, "\t<second@example.com>",
                                             "In-Reply-To: <second@example.com>"};
    EXPECT_NE(std::search(lines.begin(), lines.end(), copied.begin(), copied.end()), lines.end());

    // Garbage where text is expected: header part, HTML without a charset,
    // names and ids at their full widths.
    FreeMailRecord(rec, work.path);
    rec = NewMailRecord(8);
    AddPart(rec, work.path, BV_PART_HEADER, "Internet Headers.txt", PatternBytes(100000, 9));
    AddPart(rec, work.path, BV_PART_HTML, "Message Text", PatternBytes(50000, 10));
    AddPart(rec, work.path, BV_PART_ATTACHMENT, std::string(BV_NAME_LEN - 1, '\xe9'), "x",
            std::string(BV_CONTENTID_LEN - 1, 'c') + ".png");
    memset(rec->fromName, 'n', BV_NAME_LEN - 1);
    memset(rec->fromAddr, '@', BV_ADDR_LEN - 1);
    memset(rec->originalSender, '\xfc', BV_ORIGSENDER_LEN - 1);
    memset(rec->subject, '\xa4', BV_SUBJECT_LEN - 1);
    memset(rec->messageId, '<', BV_MSGID_LEN - 1);
    for (int i = 0; i < 50; i++) AddRecipient(rec, std::string(BV_NAME_LEN - 1, 'q'), std::string(BV_ADDR_LEN - 1, '@'), 3);
    gDedup = 1;
    std::string text = ComposeToText(rec, work.path);
    EXPECT_EQ(text.substr(text.size() - 4 - Top(text).size() - 2), "--" + Top(text) + "--\r\n");
    EXPECT_EQ(bvtest::CountOf(text, "\r\nTo: "), 1);
    EXPECT_EQ(bvtest::CountOf(text, ",\r\n \""), 49);
    gD68 = gEih = 1;
    text = ComposeToText(rec, work.path);
    EXPECT_EQ(text.substr(text.size() - 4 - Top(text).size() - 2), "--" + Top(text) + "--\r\n");
}

TEST_F(ComposerTest, EmbeddedMessageWithoutBodyGetsASummary) {
    AddPart(rec, work.path, BV_PART_TEXT, "Message Text", "outer\r\n", "", "UTF-8");
    mdat *sub = AddEmbedded(rec);
    com_strncpy(sub->fromName, "Inner Sender", BV_NAME_LEN - 1);
    com_strncpy(sub->fromAddr, "inner@example.com", BV_ADDR_LEN - 1);
    com_strncpy(sub->subject, "Forwarded", BV_SUBJECT_LEN - 1);
    sub->date = UtcTime(2023, 3, 4, 5, 6, 7);
    sub->priority = 2;
    AddPart(sub, work.path, BV_PART_ATTACHMENT, "a.doc", "doc");
    std::string text = ComposeToText(rec, work.path);
    EXPECT_NE(text.find("--" + Boundary(text, "ABCDEFG", 2) + "\r\nContent-type: text/plain; charset=\"UTF-8\"\r\n\r\n"
                        "From: Inner Sender <inner@example.com>\nSubject: Forwarded\n"
                        "Date: Sat, 04 Mar 2023 05:06:07\nPriority: High\nImportance: Normal\nAttachment: a.doc\n"),
              std::string::npos);
    EXPECT_EQ(bvtest::CountOf(text, "Attachment: "), 1) << "the top level has a body, no summary";
}

}  // namespace

// A subject whose literal words fill the first line: the header reader of
// this module joins a continuation that begins with "=" without a blank, so
// the blank in front of the first encoded word must survive the fold.
TEST_F(ComposerTest, LongSubjectReadsBackWithItsBlanks) {
    const char *subjects[] = {
        "occurs when divided into an array, and the last e of the array! \xd0\x9f\xd1\x83\xd1\x82\xd1\x96\xd0\xbd "
        "\xd1\x85\xd1\x83\xd0\xb9\xd0\xbb\xd0\xbe!!!!!!",
        "A rather long literal beginning of a subject line goes here: Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln",
        "Averyveryveryveryveryveryveryveryveryveryveryveryveryveryveryverylongword \xc3\xa9t\xc3\xa9",
    };
    for (const char *subject : subjects) {
        SCOPED_TRACE(subject);
        mdat *out = NewMailRecord(7);
        com_strncpy(out->fromAddr, "a@example.com", BV_ADDR_LEN - 1);
        com_strncpy(out->subject, subject, BV_SUBJECT_LEN - 1);
        out->codepage = 1251;
        std::string text = ComposeToText(out, work.path);
        FreeMailRecord(out, work.path);
        bvtest::WriteFileText(work.File("back.eml"), text);
        int result;
        mdat *back = ParseMessageFile(work.File("back.eml"), work.path, 8, &result);
        EXPECT_EQ(result, 0);
        EXPECT_STREQ(back->subject, subject) << text.substr(0, text.find("\r\n\r\n"));
        FreeMailRecord(back, work.path);
    }
}
