// Limits of the parser: the 501st embedded message of one message an
// ordinary part, lines beyond the line limit, values beyond their fields,
// parts beyond the part slots (nesting depth: data/nesting_*).
#include <gtest/gtest.h>
#include <filesystem>
#include <string>
#include "mime_test_support.h"
#include "record/com.h"

using namespace mimetest;

namespace {

TEST(MimeNesting, EmbeddedMessagesBeyondFiveHundredAreOrdinaryParts) {
    // three outer parts, each a message holding 200 tiny embedded messages
    std::string m = "From: a@example.com\r\nSubject: many\r\nContent-Type: multipart/mixed; boundary=\"top\"\r\n\r\n";
    for (int outer = 0; outer < 3; outer++) {
        m += "--top\r\nContent-Type: message/rfc822\r\n\r\nFrom: b@example.com\r\nSubject: holder\r\n"
             "Content-Type: multipart/mixed; boundary=\"in\"\r\n\r\n";
        for (int i = 0; i < 200; i++)
            m += "--in\r\nContent-Type: message/rfc822\r\n\r\nFrom: c@example.com\r\nSubject: tiny\r\n\r\nx\r\n";
        m += "--in--\r\n";
    }
    m += "--top--\r\n";
    ParseRun run = ParseBytes(m, ParseOptions(), false);
    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(run.record->partCount, 4);
    int embedded = 0, ordinary = 0;
    for (int outer = 1; outer <= 3; outer++) {
        const mdat *holder = run.record->parts[outer]->subMsg;
        ASSERT_NE(holder, nullptr);
        embedded++;
        for (int i = 1; i < holder->partCount; i++) {
            if (holder->parts[i]->partType == 14) embedded++;
            else ordinary++;
        }
    }
    EXPECT_EQ(embedded, 500);
    EXPECT_EQ(ordinary, 103);
    FreeRun(&run);
}

TEST(MimeLongInput, HeaderValuesAreCutBodyLinesAreNot) {
    std::string subject(300000, 's');
    std::string body(450000, 'b');
    body[199989] = 'E';  // the end of the first piece
    std::string m = "From: a@example.com\r\nSubject: " + subject + "\r\nTo: " + std::string(10000, 'x') +
                    "@example.com\r\n\r\n" + body + "\r\nafter\r\n";
    ParseRun run = ParseBytes(m, ParseOptions(), false);
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(std::string(run.record->subject), std::string(500, 's'));
    ASSERT_EQ(run.record->recipCount, 1);
    EXPECT_EQ(strlen(run.record->recips[0]->addr), 255u);
    auto dump = DumpRecord(run.record, run.workDir);
    // the header part keeps each physical line whole
    std::string header = dump["part 0 bytes"];
    EXPECT_NE(header.find("Subject: " + subject + "\r\n"), std::string::npos);
    // a body line longer than the line buffer is written whole
    EXPECT_EQ(dump["part 1 bytes"], body + "\r\nafter\r\n");
    FreeRun(&run);
}

TEST(MimeLongInput, ManyPartsStopAtThePartLimit) {
    std::string m = "From: a@example.com\r\nContent-Type: multipart/mixed; boundary=\"p\"\r\n\r\n";
    for (int i = 0; i < 620; i++)
        m += "--p\r\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i) + ".bin\"\r\n\r\nx\r\n";
    m += "--p--\r\n";
    ParseRun run = ParseBytes(m, ParseOptions(), true);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.record->partCount, 500);
    EXPECT_STREQ(run.record->parts[499]->name, "f498.bin");
    EXPECT_NE(run.log.find("BV Warning: message 7 (subject \"\"): parts past the record's 500 part slots left out"),
              std::string::npos)
        << run.log;
    // freeing the record deletes its part files: no file is left without a record
    com_Deallocate(run.record, run.workDir.c_str());
    for (const auto &e : std::filesystem::directory_iterator(run.workDir))
        ADD_FAILURE() << "left behind: " << e.path().filename();
    FreeRun(&run);
}

}  // namespace
