// Reading DBX and text mail folders through ReadMailFolder, with the real
// parser and hand-over behind it.
#include <fstream>
#include "mailstore_fixture.h"
#include "support/file_text.h"

namespace {

// The body of a message file: everything after the first empty line.
std::string BodyOf(const std::string &eml) {
    size_t at = eml.find("\r\n\r\n");
    return at == std::string::npos ? "" : eml.substr(at + 4);
}

std::string LongMessage(const std::string &subject, size_t bodyLines) {
    std::string m = "From: long@example.org\nSubject: " + subject + "\nDate: Fri, 19 Jan 2024 10:00:00 +0000\n\n";
    for (size_t i = 0; i < bodyLines; i++) m += "line " + std::to_string(i) + " of a message that spans blocks\n";
    return m;
}

}  // namespace

class MailReaderTest : public MailStoreTest {
   protected:
    // Writes the messages (texts) into a DBX file with writer options and lists
    // the store; returns the folder index of the file.
    void WriteDbx(const std::vector<std::string> &messages, const std::string &options = "") {
        fs::path in = root_ / "in";
        for (size_t i = 0; i < messages.size(); i++) WriteEml(in, NumberedEml(10 + i), messages[i]);
        ASSERT_EQ(Tool("dbx_writer", options + " " + Quote(store_ / "Inbox.dbx") + " " + Quote(in)), 0);
        ListFolders(store_);
        ASSERT_EQ(gFolderCount, 1);
    }
};

// In order and whole; with /LOGUUID each message marked in the log; a
// second read of the folder reports every message as a duplicate.
TEST_F(MailReaderTest, DbxMessagesArriveWholeAndInOrderOnce) {
    WriteDbx({Data("plain.eml"), Data("attachment.eml"), Data("subject_first.eml")});
    EXPECT_EQ(gFolderTable[0]->itemCount, 3u);
    gLogUuid = 1;
    HostSide host;
    ASSERT_EQ(ReadFolder(0, &host), 0);
    ASSERT_EQ(host.items.size(), 3u);
    EXPECT_EQ(itemsHandedOver_, 3);
    EXPECT_EQ(host.items[0].subject, "Plain hello");
    EXPECT_EQ(host.items[0].fromAddr, "anna@example.org");
    EXPECT_EQ(host.items[0].bodyPart, BodyOf(Data("plain.eml")));
    EXPECT_EQ(host.items[1].subject, "Gr\xc3\xbc\xc3\x9f" "e aus M\xc3\xbcnchen");
    EXPECT_GE(host.items[1].partCount, 3);
    EXPECT_EQ(host.items[2].subject, "Starts with its subject");
    EXPECT_EQ(host.statuses, std::vector<int>({0, 0, 0}));
    EXPECT_EQ(CountInLog("Converting OE Folder OE Inbox"), 1);
    EXPECT_FALSE(fs::exists(work_ + "temprfc.tmp"));
    EXPECT_EQ(gSegmentCount, 0);
    EXPECT_STREQ(gMessageFileDir, store_.c_str());
    EXPECT_EQ(CountInLog("[UUID:START]"), 3);
    EXPECT_EQ(CountInLog("[UUID:END]"), 4);
    gLogUuid = 0;
    HostSide again;
    ReadFolder(0, &again);
    EXPECT_TRUE(again.items.empty());
    EXPECT_EQ(again.statuses, std::vector<int>({1, 1, 1}));
    EXPECT_EQ(CountInLog("[UUID:START]"), 3);
}

TEST_F(MailReaderTest, ListedMessagesArriveWithTheIndexReadState) {
    WriteDbx({Data("odd_first_line.eml"), Data("subject_first.eml"), Data("plain.eml")}, "--unread 1");
    HostSide host;
    ReadFolder(0, &host);
    ASSERT_EQ(host.items.size(), 3u);
    EXPECT_EQ(host.items[0].subject, "Hidden start");
    EXPECT_EQ(host.items[1].subject, "Starts with its subject");
    EXPECT_EQ(host.items[0].unread, 0);
    EXPECT_EQ(host.items[1].unread, 1);
    EXPECT_EQ(host.items[2].unread, 0);
}

TEST_F(MailReaderTest, BlocksLaidOutBackwardsAreFollowed) {
    std::string longOne = LongMessage("Backwards", 80);
    WriteDbx({longOne, Data("plain.eml")}, "--reverse-blocks");
    HostSide host;
    ReadFolder(0, &host);
    ASSERT_EQ(host.items.size(), 2u);
    EXPECT_EQ(host.items[0].subject, "Backwards");
    std::string expected;
    for (char c : BodyOf(bvtest::ReadFileText(root_ / "in" / "m10.eml"))) expected += c;
    EXPECT_EQ(host.items[0].bodyPart, expected);
}

TEST_F(MailReaderTest, DeletedMessagesAreFoundByTheScan) {
    WriteDbx({Data("plain.eml"), Data("subject_first.eml"), Data("attachment.eml")}, "--deleted 1");
    // undbx, reading the index, sees two messages; the scan finds all three.
    EXPECT_EQ(gFolderTable[0]->itemCount, 3u);
    HostSide host;
    ReadFolder(0, &host);
    ASSERT_EQ(host.items.size(), 3u);
    EXPECT_EQ(host.items[1].subject, "Starts with its subject");
}

TEST_F(MailReaderTest, MissingSegmentKeepsTheBlocksCopiedSoFar) {
    WriteDbx({LongMessage("Broken chain", 60), Data("plain.eml")}, "--missing-link 0");
    HostSide host;
    ReadFolder(0, &host);
    ASSERT_EQ(host.items.size(), 2u);
    EXPECT_EQ(CountInLog("BV Warning: Missing segment!"), 1);
    EXPECT_EQ(host.items[0].subject, "Broken chain");
    // The first block holds 512 bytes of the message; "From -" CR LF leads.
    EXPECT_LT(host.items[0].bodyPart.size(), 512u);
    EXPECT_EQ(host.items[0].bodyPart.find("line 0 of"), 0u);
    EXPECT_EQ(host.items[1].subject, "Plain hello");
}

TEST_F(MailReaderTest, ChainThatComesBackStopsAtTheDuplicate) {
    std::string longOne = LongMessage("Looping chain", 60);
    WriteDbx({longOne}, "--loop 0");
    HostSide host;
    ReadFolder(0, &host);
    ASSERT_EQ(host.items.size(), 1u);
    EXPECT_EQ(CountInLog("BV Warning: Duplicate segment found!"), 1);
    // The loop leaves from the last full block: the blocks before it arrive once.
    std::string eml = bvtest::ReadFileText(root_ / "in" / "m10.eml");
    size_t fullBlocks = eml.size() / 512;
    // The parser ends the cut last line with a line end.
    EXPECT_EQ(host.items[0].bodyPart, BodyOf(eml.substr(0, fullBlocks * 512)) + "\r\n");
}

// Block headers forged inside message data, listed and deleted messages
// alike, in the first block or a later one, even with a matching own-offset
// field: the message arrives whole, and no forged message arrives.
TEST_F(MailReaderTest, BlockHeaderInsideAnAttachmentIsNoBlock) {
    auto fake = [](uint32_t self, uint32_t next) {
        std::string h;
        for (uint32_t v : {self, 512u, 24u, next})
            for (int i = 0; i < 4; i++) h += (char)((v >> (8 * i)) & 0xFF);
        return h + "Subject: Forged\r\n\r\nx\n";
    };
    std::string lead = "From: e@example.org\r\nSubject: Outer\r\nContent-Type: application/octet-stream\r\n\r\n";
    struct Case {
        std::string body;
        std::string options;
    } cases[] = {
        {"before " + fake(0x0BADF00D, 0), ""},
        {std::string(700, 'a') + fake(0x0BADF00D, 0x2600), ""},
        {"before " + fake(0x24BC + 16 + (uint32_t)lead.size() + 7, 0), "--deleted 0"},
        {std::string(1500, 'b') + fake(0x0BADF00D, 0) + std::string(900, 'c'), "--deleted 0 --reverse-blocks"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options + " at " + std::to_string(c.body.find("Subject: Forged")));
        FreshWorkDir();
        fs::remove_all(root_ / "in");
        WriteDbx({lead + c.body + "\nafter\n", Data("plain.eml")}, c.options);
        EXPECT_EQ(gFolderTable[0]->itemCount, 2u);
        HostSide host;
        ReadFolder(0, &host);
        ASSERT_EQ(host.items.size(), 2u);
        EXPECT_EQ(host.items[0].subject, "Outer");
        EXPECT_NE(host.items[0].bodyPart.find("Subject: Forged"), std::string::npos);
        EXPECT_NE(host.items[0].bodyPart.find("after"), std::string::npos);
        EXPECT_EQ(host.items[1].subject, "Plain hello");
    }
}

// A continuation block that reads like a message start and lies before its
// own start block is taken by its message, not read as a message of its own.
TEST_F(MailReaderTest, ContinuationStoredBeforeItsStartStaysInItsMessage) {
    std::string head = "From: long@example.org\r\nSubject: Split\r\n\r\n";
    std::string m = head + std::string(512 - head.size(), 'a') + "X-Looks-Like: a header\n" + std::string(600, 'b');
    WriteDbx({m, Data("plain.eml")}, "--reverse-blocks --deleted 0");
    EXPECT_EQ(gFolderTable[0]->itemCount, 2u);
    HostSide host;
    ReadFolder(0, &host);
    ASSERT_EQ(host.items.size(), 2u);
    EXPECT_EQ(host.items[0].subject, "Split");
    EXPECT_NE(host.items[0].bodyPart.find("X-Looks-Like: a header"), std::string::npos);
    EXPECT_EQ(CountInLog("Duplicate segment"), 0);
}

TEST_F(MailReaderTest, MaxReadAndStopEndTheFolder) {
    WriteDbx({Data("plain.eml"), Data("subject_first.eml"), Data("attachment.eml")});
    gMaxRead = 2;
    HostSide host;
    ReadFolder(0, &host);
    EXPECT_EQ(host.items.size(), 2u);
    gMaxRead = 0;  // stops after the first message handed over
    FreshWorkDir();
    HostSide first;
    ReadFolder(0, &first);
    EXPECT_EQ(first.items.size(), 1u);

    gMaxRead = 1000;
    FreshWorkDir();
    HostSide stopping;
    stopping.stopAfter = 1;
    ReadFolder(0, &stopping);
    EXPECT_EQ(stopping.items.size(), 1u);
    // The next message is only reported, then the folder ends.
    EXPECT_EQ(stopping.statuses.size(), 2u);
}

TEST_F(MailReaderTest, FolderFileThatCannotBeOpenedGivesOne) {
    ASSERT_EQ(Tool("nch_writer", Quote(store_ / "folders.nch") + " Gone=gone.dbx Lost=lost.mbx"), 0);
    ListFolders(store_);
    ASSERT_EQ(gFolderCount, 2);
    EXPECT_EQ(gFolderTable[0]->itemCount, 0u);
    HostSide host;
    EXPECT_EQ(ReadFolder(0, &host), 1);
    EXPECT_EQ(ReadFolder(1, &host), 1);
    EXPECT_TRUE(host.items.empty());
}

TEST_F(MailReaderTest, TextFilesWithAndWithoutTheJmf6Header) {
    fs::path data(BV_MAILSTORE_DATA);
    std::string inputs = Quote(data / "plain.eml") + " " + Quote(data / "subject_first.eml") + " " +
                         Quote(data / "attachment.eml");
    ASSERT_EQ(Tool("mbx_writer", "--jmf6 " + Quote(store_ / "Four.mbx") + " " + inputs), 0);
    ASSERT_EQ(Tool("mbx_writer", Quote(store_ / "Plain.mbx") + " " + inputs), 0);
    ListFolders(store_);
    ASSERT_EQ(gFolderCount, 2);
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(gFolderTable[i]->trueName);
        EXPECT_EQ(gFolderTable[i]->itemCount, 3u);
        FreshWorkDir();
        HostSide host;
        ASSERT_EQ(ReadFolder(i, &host), 0);
        ASSERT_EQ(host.items.size(), 3u);
        EXPECT_EQ(host.items[0].subject, "Plain hello");
        EXPECT_EQ(host.items[1].subject, "Starts with its subject");
        EXPECT_EQ(host.items[2].subject, "Gr\xc3\xbc\xc3\x9f" "e aus M\xc3\xbcnchen");
        EXPECT_EQ(host.items[0].bodyPart, BodyOf(Data("plain.eml")));
    }
}

TEST_F(MailReaderTest, TextFileLosesItsFirstLineAndCutsAtSeparatorsInAnyCase) {
    std::ofstream(store_ / "box.mbx") << "Subject: first line, dropped\n"
                                         "Subject: One\n\nbody one\n"
                                         "from - Mon Jan 15 2024\nSubject: Two\n\nbody two\n"
                                         "From someone\n"
                                         "FROM -\nSubject: Three\n\nbody three";
    std::ofstream(store_ / "empty.mbx");
    ListFolders(store_);
    ASSERT_EQ(gFolderCount, 2);
    int box = std::string(gFolderTable[0]->trueName) == "box" ? 0 : 1;
    HostSide host;
    ReadFolder(box, &host);
    ASSERT_EQ(host.items.size(), 3u);
    EXPECT_EQ(host.items[0].subject, "One");
    EXPECT_EQ(host.items[1].subject, "Two");
    EXPECT_EQ(host.items[1].bodyPart, "body two\r\nFrom someone\r\n");
    EXPECT_EQ(host.items[2].subject, "Three");
    HostSide none;
    EXPECT_EQ(ReadFolder(1 - box, &none), 0);
    EXPECT_TRUE(none.items.empty());
    EXPECT_TRUE(none.statuses.empty());
}

TEST_F(MailReaderTest, RealOutlookExpressFilesBesideWrittenOnes) {
    fs::path corpus = fs::path(BV_CORPUS_DIR) / "dbx";
    if (!fs::exists(corpus / "dzw_Inbox.dbx")) GTEST_SKIP() << "corpus not present";
    // The real files are read in place through links in the store directory.
    fs::create_symlink(corpus / "dzw_Inbox.dbx", store_ / "Inbox.dbx");
    fs::create_symlink(corpus / "dzw_Outbox.dbx", store_ / "Outbox.dbx");
    fs::path in = root_ / "in";
    WriteEml(in, "1.eml", Data("plain.eml"));
    ASSERT_EQ(Tool("dbx_writer", Quote(store_ / "Written.dbx") + " " + Quote(in)), 0);
    ASSERT_EQ(Tool("nch_writer", Quote(store_ / "folders.nch") + " Inbox=Inbox.dbx Outbox=Outbox.dbx Written=Written.dbx"),
              0);
    std::vector<std::string> texts = ListFolders(store_);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "OE Inbox {BV:1:FCLASS:0}");
    EXPECT_EQ(texts[1], "Outbox {BV:0:FCLASS:0}");
    EXPECT_EQ(texts[2], "Written {BV:1:FCLASS:0}");
    HostSide inbox, outbox, written;
    EXPECT_EQ(ReadFolder(0, &inbox), 0);
    ASSERT_EQ(inbox.items.size(), 1u);
    EXPECT_NE(inbox.items[0].subject.find("Outlook Express 6"), std::string::npos) << inbox.items[0].subject;
    EXPECT_EQ(ReadFolder(1, &outbox), 0);
    EXPECT_TRUE(outbox.items.empty());
    EXPECT_EQ(ReadFolder(2, &written), 0);
    ASSERT_EQ(written.items.size(), 1u);
    EXPECT_EQ(written.items[0].subject, "Plain hello");
}
