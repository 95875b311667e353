// The DBX block scan over written stores and hand-made block sequences.
#include "mailstore/dbx_scan.h"
#include "mailstore_fixture.h"
#include "support/file_text.h"

namespace {

void Put32(std::string *s, uint32_t v) {
    for (int i = 0; i < 4; i++) s->push_back((char)((v >> (8 * i)) & 0xFF));
}

// A 16-byte block header.
std::string BlockHeader(uint32_t self, uint32_t size, uint32_t count, uint32_t next) {
    std::string h;
    Put32(&h, self);
    Put32(&h, size);
    Put32(&h, count);
    Put32(&h, next);
    return h;
}

int Starts() {
    int n = 0;
    for (int i = 0; i < gSegmentCount; i++) n += gSegmentTable[i].isStart;
    return n;
}

}  // namespace

class DbxScanTest : public MailStoreTest {};

TEST_F(DbxScanTest, MissingAndEmptyFiles) {
    int count = -1;
    EXPECT_EQ(ParseDBX((store_ / "none.dbx").c_str(), &count, 0), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(CountInLog("BV Warning: Cannot open input file"), 1);

    bvtest::WriteFileText(store_ / "empty.dbx", "");
    count = -1;
    EXPECT_EQ(ParseDBX((store_ / "empty.dbx").c_str(), &count, 0), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(gSegmentCount, 0);
}

TEST_F(DbxScanTest, WrittenStoreHasOneStartPerMessageAndEveryBlock) {
    fs::path in = root_ / "in";
    WriteEml(in, "1.eml", Data("plain.eml"));
    WriteEml(in, "2.eml", Data("attachment.eml"));  // two blocks
    WriteEml(in, "3.eml", Data("subject_first.eml"));
    ASSERT_EQ(Tool("dbx_writer", Quote(store_ / "Inbox.dbx") + " " + Quote(in)), 0);
    int count = 0;
    ASSERT_EQ(ParseDBX((store_ / "Inbox.dbx").c_str(), &count, 0), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(gSegmentCount, 4);
    EXPECT_EQ(Starts(), 3);
    for (int i = 0; i < gSegmentCount; i++) {
        EXPECT_EQ(gSegmentTable[i].selfOffset, gSegmentTable[i].fileOffset);
        EXPECT_TRUE(gSegmentTable[i].flags & DBX_USED) << i;  // every block belongs to a message
        EXPECT_TRUE(gSegmentTable[i].flags & DBX_INDEXED || !gSegmentTable[i].isStart) << i;
    }
    // Counting mode gives the same count and leaves no table.
    count = 0;
    ASSERT_EQ(ParseDBX((store_ / "Inbox.dbx").c_str(), &count, 1), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(gSegmentCount, 0);
}

// Messages the index does not list (deleted ones): the scan decides by the
// first data bytes of a chain head.
TEST_F(DbxScanTest, UnlistedChainHeadsStartAMessageWhenTheyBeginWithAHeaderField) {
    struct Case {
        const char *text;
        bool start;
    } cases[] = {
        {"Subject: a start prefix\n\nbody\n", true},
        {"subject: lower case, still a header field\n\nbody\n", true},
        {"MIME-Version: 1.0\nFrom: a@b.org\n\nbody\n", true},
        {"\r\n\r\nDKIM-Signature: v=1; after blank lines\n\nbody\n", true},
        {"X-Very-Long-Field-Name-Past-The-Window: 1\n\nbody\n", true},
        {"no header field here, only text\n", false},
        {"Two words: is no field name\n", false},
        {"\x01\x02binary: bytes\n", false},
    };
    fs::path in = root_ / "in";
    std::string deleted;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        WriteEml(in, NumberedEml(10 + i), cases[i].text);
        deleted += " --deleted " + std::to_string(i);
    }
    ASSERT_EQ(Tool("dbx_writer", deleted + " " + Quote(store_ / "a.dbx") + " " + Quote(in)), 0);
    int count = 0;
    ASSERT_EQ(ParseDBX((store_ / "a.dbx").c_str(), &count, 0), 0);
    ASSERT_EQ(gSegmentCount, (int)(sizeof(cases) / sizeof(cases[0])));
    int expected = 0;
    for (int i = 0; i < gSegmentCount; i++) {
        EXPECT_EQ(gSegmentTable[i].isStart, cases[i].start ? 1 : 0) << cases[i].text;
        EXPECT_FALSE(gSegmentTable[i].flags & DBX_INDEXED);
        expected += cases[i].start;
    }
    EXPECT_EQ(count, expected);
}

TEST_F(DbxScanTest, ListedMessagesStartWhateverTheirFirstBytes) {
    fs::path in = root_ / "in";
    WriteEml(in, "1.eml", Data("odd_first_line.eml"));
    WriteEml(in, "2.eml", "no header field here, only text\n");
    ASSERT_EQ(Tool("dbx_writer", "--unread 1 " + Quote(store_ / "a.dbx") + " " + Quote(in)), 0);
    int count = 0;
    ASSERT_EQ(ParseDBX((store_ / "a.dbx").c_str(), &count, 0), 0);
    EXPECT_EQ(count, 2);
    std::vector<int> flags;
    for (int i = 0; i < gSegmentCount; i++)
        if (gSegmentTable[i].isStart) flags.push_back(gSegmentTable[i].flags & (DBX_INDEXED | DBX_UNREAD));
    EXPECT_EQ(flags, std::vector<int>({DBX_INDEXED, DBX_INDEXED | DBX_UNREAD}));
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
    fs::path in = root_ / "in";
    std::string filler(7000, 'z');
    for (int i = 0; i < 700; i++)
        WriteEml(in, NumberedEml(1000 + i),
                 "From: n" + std::to_string(i) + "@example.org\n\n" + filler.substr(0, 1000 + (size_t)(i * 13) % 6000) + "\n");
    ASSERT_EQ(Tool("dbx_writer", Quote(store_ / "big.dbx") + " " + Quote(in)), 0);
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
    fs::path in = root_ / "in";
    WriteEml(in, "1.eml", Data("plain.eml"));
    WriteEml(in, "2.eml", Data("subject_first.eml"));
    ASSERT_EQ(Tool("dbx_writer", Quote(store_ / "full.dbx") + " " + Quote(in)), 0);
    std::string bytes = bvtest::ReadFileText(store_ / "full.dbx");
    // Cut before, inside and after the first block's window, and at the end.
    for (size_t cut : {(size_t)0, (size_t)5, (size_t)0x24BC + 20, (size_t)0x24BC + 40, bytes.size() / 2,
                       bytes.size() - 1}) {
        bvtest::WriteFileText(store_ / "cut.dbx", bytes.substr(0, cut));
        int count = -1;
        EXPECT_EQ(ParseDBX((store_ / "cut.dbx").c_str(), &count, 0), 0);
        EXPECT_GE(count, 0);
        EXPECT_LE(count, 2);
        if (cut <= 0x24BC + 20) {
            EXPECT_EQ(count, 0) << cut;
        }
        if (cut >= 0x24BC + 40) {
            EXPECT_GE(count, 1) << cut;
        }
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
