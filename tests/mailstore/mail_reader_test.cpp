// Reading DBX and text mail folders through ReadMailFolder, with the real
// parser and hand-over behind it.
#include <sstream>
#include "mailstore_fixture.h"
#include "support/case_table.h"
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
    void WriteDbx(const std::vector<std::string> &texts, const std::string &options = "") {
        MailStoreTest::WriteDbx("Inbox.dbx", texts, options);
        ListFolders(store_);
        ASSERT_EQ(gFolderCount, 1);
    }
};

// Once (what arrives: the first row of data/folder_reads.tsv): with /LOGUUID
// each message marked in the log; a second read of the folder reports every
// message as a duplicate; nothing is left behind.
TEST_F(MailReaderTest, DbxMessagesArriveOnce) {
    WriteDbx({Data("plain.eml"), Data("attachment.eml"), Data("subject_first.eml")});
    gLogUuid = 1;
    HostSide host;
    ASSERT_EQ(ReadFolder(0, &host), 0);
    EXPECT_EQ(itemsHandedOver_, 3);
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

// Folder files of the table (data/folder_reads.tsv): damaged and unusual DBX
// block chains, and mailbox text files.
TEST_F(MailReaderTest, BlockChainsOfTheTable) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MAILSTORE_DATA "/folder_reads.tsv")) {
        SCOPED_TRACE(row.Where());
        std::vector<std::string> texts;
        for (size_t i = 4; i < row.fields.size(); i++) {
            const std::string &cell = row[i];
            size_t last = cell.rfind(' ');
            if (cell.rfind("@data ", 0) == 0) texts.push_back(Data(cell.substr(6)));
            else if (cell.rfind("@long ", 0) == 0)
                texts.push_back(LongMessage(cell.substr(6, last - 6), std::stoul(cell.substr(last + 1))));
            else texts.push_back(cell);
        }
        FreshWorkDir();
        fs::remove_all(store_);
        fs::create_directories(store_);
        size_t logBefore = LogText().size();
        std::string kind = row[0].substr(0, 3), file = "Inbox." + std::string(kind == "dbx" ? "dbx" : "mbx");
        if (kind == "txt") bvtest::WriteFileText(store_ / file, texts.empty() ? "" : texts[0]);
        else MailStoreTest::WriteDbx(file, texts, row[0].substr(3), kind + "_writer");
        ListFolders(store_);
        ASSERT_EQ(gFolderCount, 1);
        HostSide host;
        ReadFolder(0, &host);
        std::string items;
        for (const ReceivedItem &item : host.items)
            items += (items.empty() ? "" : "|") + std::string(item.unread ? "*" : "") + item.subject;
        EXPECT_EQ(items, row[1]);
        if (kind != "txt") {  // a text file counts its separator lines, and drops its first line whatever it is
            EXPECT_EQ(gFolderTable[0]->itemCount, host.items.size());
        }
        EXPECT_EQ(host.statuses.size(), host.items.size());
        std::string log = LogText().substr(logBefore);
        bool never = row[2][0] == '!';
        int times = row[2].empty() ? 0 : bvtest::CountOf(log, row[2].substr(never));
        EXPECT_EQ(times, row[2].empty() || never ? 0 : 1) << log;
        if (host.items.empty()) continue;
        const std::string &check = row[3], &body = host.items[0].bodyPart;
        const std::string eml = bvtest::ReadFileText(root_ / ("in-" + file) / NumberedEml(1000)), source = BodyOf(eml);
        std::string bodies;
        for (const ReceivedItem &item : host.items) bodies += item.bodyPart + item.laterParts;
        bool ok = check.empty() || (check == "@whole" && body == source) ||
                  // the parser ends the cut last line with a line end
                  (check == "@blocks" && body == BodyOf(eml.substr(0, eml.size() / 512 * 512)) + "\r\n") ||
                  (check == "@first" && body.size() >= 2 && body.size() < 512 &&
                   source.rfind(body.substr(0, body.size() - 2), 0) == 0);
        std::istringstream needles(check[0] == '~' ? check.substr(1) : "");
        ok = ok || check[0] == '~';
        for (std::string needle; std::getline(needles, needle, '~');)
            ok = ok && bodies.find(needle) != std::string::npos;
        EXPECT_TRUE(ok) << check << " of\n" << body.substr(0, 600);
    }
}

TEST_F(MailReaderTest, MaxReadAndStopEndTheFolder) {
    WriteDbx({Data("plain.eml"), Data("subject_first.eml"), Data("attachment.eml")});
    for (auto [maxRead, items] : {std::pair{2, 2u}, {0, 1u}}) {  // 0: stops after the first message handed over
        gMaxRead = maxRead;
        FreshWorkDir();
        HostSide host;
        ReadFolder(0, &host);
        EXPECT_EQ(host.items.size(), items) << maxRead;
    }
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
    EXPECT_EQ(CountInLog("BV Warning: Cannot open input file"), 2);
}

TEST_F(MailReaderTest, RealOutlookExpressFilesBesideWrittenOnes) {
    fs::path corpus = fs::path(BV_CORPUS_DIR) / "dbx";
    if (!fs::exists(corpus / "dzw_Inbox.dbx")) GTEST_SKIP() << "corpus not present";
    // The real files are read in place through links in the store directory.
    fs::create_symlink(corpus / "dzw_Inbox.dbx", store_ / "Inbox.dbx");
    fs::create_symlink(corpus / "dzw_Outbox.dbx", store_ / "Outbox.dbx");
    MailStoreTest::WriteDbx("Written.dbx", {Data("plain.eml")});
    ASSERT_EQ(Tool("nch_writer", Quote(store_ / "folders.nch") + " Inbox=Inbox.dbx Outbox=Outbox.dbx Written=Written.dbx"),
              0);
    EXPECT_EQ(ListFolders(store_), std::vector<std::string>({"OE Inbox {BV:1:FCLASS:0}", "Outbox {BV:0:FCLASS:0}",
                                                             "Written {BV:1:FCLASS:0}"}));
    std::string subjects;
    for (int i = 0; i < 3; i++) {
        HostSide host;
        EXPECT_EQ(ReadFolder(i, &host), 0);
        for (const ReceivedItem &item : host.items) subjects += item.subject + "|";
    }
    EXPECT_EQ(subjects, "Welcome to Outlook Express 6|Plain hello|");
}
