// The DBX block scan over written stores and hand-made block sequences.
#include "mailstore/dbx_scan.h"
#include "mailstore_fixture.h"
#include "support/file_text.h"

#include <algorithm>

namespace {

// A 16-byte block header.
std::string BlockHeader(uint32_t self, uint32_t size, uint32_t count, uint32_t next) {
    std::string h;
    for (uint32_t v : {self, size, count, next})
        for (int i = 0; i < 4; i++) h.push_back((char)((v >> (8 * i)) & 0xFF));
    return h;
}

}  // namespace

class DbxScanTest : public MailStoreTest {};

// The writer against a peer reader: undbx, which follows the file's own
// index, must extract exactly the indexed messages of a tree of more than
// one level.
TEST_F(DbxScanTest, UndbxExtractsTheIndexedMessagesOfTheWriter) {
    if (std::system("command -v undbx > /dev/null 2>&1") != 0) GTEST_SKIP() << "undbx not installed";
    std::vector<std::string> texts, indexed;
    for (int i = 0; i < 130; i++) {
        texts.push_back("From: n" + std::to_string(i) + "@example.org\r\nSubject: Number " + std::to_string(i) +
                        "\r\n\r\n" + std::string((size_t)(i * 37) % 1500, (char)('a' + i % 26)) + "\r\n");
        if (i != 7) indexed.push_back(texts.back());
    }
    WriteDbx("Inbox.dbx", texts, "--deleted 7");
    fs::path out = root_ / "undbx";
    fs::create_directories(out);
    std::string command = "undbx -v 0 " + Quote(store_ / "Inbox.dbx") + " " + Quote(out) + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<std::string> extracted;
    for (const auto &e : fs::recursive_directory_iterator(out))
        if (e.path().extension() == ".eml") extracted.push_back(bvtest::ReadFileText(e.path()));
    std::sort(indexed.begin(), indexed.end());
    std::sort(extracted.begin(), extracted.end());
    EXPECT_TRUE(extracted == indexed) << extracted.size() << " extracted";
}

TEST_F(DbxScanTest, AcceptTestNeedsSize512AndFullDataOrLastBlock) {
    std::string bytes(8, 'x');
    bytes += BlockHeader(100, 512, 512, 4000) + std::string(16, 'a');  // full block: accepted
    bytes += BlockHeader(200, 512, 17, 0) + std::string(16, 'b');      // last block: accepted
    bytes += BlockHeader(300, 512, 17, 4000) + std::string(16, 'c');   // neither
    bytes += BlockHeader(400, 511, 512, 0) + std::string(16, 'd');     // wrong size
    bytes += BlockHeader(500, 512, 99999, 0) + "From: x@y.org\r\n\r";  // any count when last
    bvtest::WriteFileText(store_ / "b.dbx", bytes);
    int count = 0;
    ASSERT_EQ(ParseDBX((store_ / "b.dbx").c_str(), &count, 0), 0);
    ASSERT_EQ(gSegmentCount, 3);
    EXPECT_EQ(gSegmentTable[0].fileOffset, 8u);
    EXPECT_EQ(gSegmentTable[0].selfOffset, 100u);
    EXPECT_EQ(gSegmentTable[1].selfOffset, 200u);
    EXPECT_EQ(gSegmentTable[2].selfOffset, 500u);
    EXPECT_EQ(gSegmentTable[2].fileOffset, 8u + 4 * 32);
    EXPECT_EQ(count, 1);
}

TEST_F(DbxScanTest, HeadersAcrossReadBoundariesAndTheBufferScanAgree) {
    // More than one read of the file, so that some headers straddle two reads.
    std::vector<std::string> texts;
    for (int i = 0; i < 700; i++)
        texts.push_back("From: n" + std::to_string(i) + "@example.org\n\n" + std::string(1000 + i * 13 % 6000, 'z') +
                        "\n");
    WriteDbx("big.dbx", texts);
    ASSERT_GT(fs::file_size(store_ / "big.dbx"), 2u << 20);
    int count = 0;
    ASSERT_EQ(ParseDBX((store_ / "big.dbx").c_str(), &count, 0), 0);
    EXPECT_EQ(count, 700);
    std::vector<std::pair<uint32_t, uint32_t>> fromFile;
    for (int i = 0; i < gSegmentCount; i++)
        fromFile.emplace_back(gSegmentTable[i].fileOffset, gSegmentTable[i].selfOffset);
    std::string bytes = bvtest::ReadFileText(store_ / "big.dbx");
    int bufferCount = 0;
    ParseDBXBuffer((const unsigned char *)bytes.data(), bytes.size(), &bufferCount, 0);
    EXPECT_EQ(bufferCount, 700);
    ASSERT_EQ((size_t)gSegmentCount, fromFile.size());
    for (int i = 0; i < gSegmentCount; i++) {
        EXPECT_EQ(gSegmentTable[i].fileOffset, fromFile[(size_t)i].first);
        EXPECT_EQ(gSegmentTable[i].selfOffset, fromFile[(size_t)i].second);
    }
}

TEST_F(DbxScanTest, TruncatedStoreKeepsTheBlocksBeforeTheCut) {
    WriteDbx("full.dbx", {Data("plain.eml"), Data("subject_first.eml")});
    std::string bytes = bvtest::ReadFileText(store_ / "full.dbx");
    // Cut before, inside and after the first block's window, and at the end.
    for (size_t cut : {(size_t)0, (size_t)5, (size_t)0x24BC + 20, (size_t)0x24BC + 40, bytes.size() / 2,
                       bytes.size() - 1}) {
        bvtest::WriteFileText(store_ / "cut.dbx", bytes.substr(0, cut));
        int count = -1;
        EXPECT_EQ(ParseDBX((store_ / "cut.dbx").c_str(), &count, 0), 0);
        // no message before the first block's window is whole; one after it is
        int least = cut >= 0x24BC + 40 ? 1 : 0, most = cut <= 0x24BC + 20 ? 0 : 2;
        EXPECT_TRUE(count >= least && count <= most) << cut << ": " << count;
    }
}

TEST_F(DbxScanTest, FileOfNothingButAcceptedHeaders) {
    // Every 16 bytes a header; the data of each block is the next header.
    std::string bytes;
    for (uint32_t i = 0; i < 1000; i++) bytes += BlockHeader(0x10000 + i * 16, 512, 512, 0);
    bvtest::WriteFileText(store_ / "headers.dbx", bytes);
    int count = -1;
    ASSERT_EQ(ParseDBX((store_ / "headers.dbx").c_str(), &count, 0), 0);
    EXPECT_EQ(count, 0);           // no block holds message text
    EXPECT_EQ(gSegmentCount, 999);  // the last header has no full window
    // Read as a folder, nothing starts a message and nothing is handed over.
    AddFolder("headers", (store_ / "headers.dbx").c_str(), 0, 0, 0);
    HostSide host;
    EXPECT_EQ(ReadFolder(0, &host), 0);
    EXPECT_TRUE(host.items.empty());
    EXPECT_EQ(gSegmentCount, 0);
}

TEST_F(DbxScanTest, TableGrowsPastSixHundredThousandHeaders) {
    // A header every 32 bytes, each opening a message: a message's block
    // covers the next 16 headers, which are then no blocks. (The own-offset
    // fields are those of a shifted file, whose bytes hold no other header.)
    const uint32_t headers = 600001;
    std::string bytes;
    bytes.reserve((size_t)headers * 32);
    for (uint32_t i = 0; i < headers; i++)
        bytes += BlockHeader(0x40000000 + i * 32, 512, 17, 0) + "X-Test: 12345\r\n\r";
    bvtest::WriteFileText(store_ / "many.dbx", bytes);
    const int messages = (int)((headers - 1) / 17 + 1);
    for (int countOnly : {1, 0}) {
        int count = 0;
        ASSERT_EQ(ParseDBX((store_ / "many.dbx").c_str(), &count, countOnly), 0);
        EXPECT_EQ(count, messages);
        EXPECT_EQ(gSegmentCount, countOnly ? 0 : (int)headers);
    }
    const int last = (messages - 1) * 17;
    EXPECT_EQ(gSegmentTable[last].fileOffset, (uint32_t)last * 32);
    EXPECT_EQ(gSegmentTable[last].isStart, 1);
    EXPECT_TRUE(gSegmentTable[headers - 1].flags & DBX_NOT_A_BLOCK);
}
