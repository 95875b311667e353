// Folder lists of store directories with and without folders.nch, the
// counters, and the file folders of contacts, calendar and tasks sessions.
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include "mailstore_fixture.h"

class FolderListTest : public MailStoreTest {
   protected:
    // A DBX file of the given messages (data file names) in the store.
    void Dbx(const std::string &file, const std::vector<std::string> &messages) {
        std::vector<std::string> texts;
        for (const std::string &m : messages) texts.push_back(Data(m));
        WriteDbx(file, texts);
    }
};

TEST_F(FolderListTest, FolderListFileNamesExactlyItsFoldersInFileOrder) {
    Dbx("a.dbx", {"plain.eml"});
    Dbx("b.dbx", {"plain.eml", "subject_first.eml"});
    Dbx("c.dbx", {"attachment.eml"});  // not in the list
    // found whatever the case of its name
    ASSERT_EQ(Tool("nch_writer", Quote(store_ / "FOLDERS.NCH") + " 'Work^Projects/2024=a.dbx' inbox=b.dbx"), 0);
    std::vector<std::string> texts = ListFolders(store_);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Work^Projects/2024 {BV:1:FCLASS:0}");
    EXPECT_EQ(texts[1], "OE Inbox {BV:2:FCLASS:0}");
    ASSERT_EQ(gFolderCount, 2);
    EXPECT_STREQ(gFolderTable[0]->displayName, "Work/Projects\\2024");
    EXPECT_STREQ(gFolderTable[0]->fileName, (store_ / "a.dbx").c_str());
    EXPECT_EQ(gFolderTable[0]->oeFolderId, 0u);

    // The table is rebuilt on every call, not appended to.
    texts = ListFolders(store_.string() + "/");
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(gFolderCount, 2);
}

TEST_F(FolderListTest, DirectoryScanTakesDbxAndMbxFilesInAnyCase) {
    Dbx("Inbox.dbx", {"plain.eml", "subject_first.eml"});
    Dbx("Sent Items.DBX", {"plain.eml"});
    Dbx("Old.tar.dbx.bak", {"plain.eml"});
    std::ofstream(store_ / "notes.txt") << "From - not a mail file\n";
    ASSERT_EQ(Tool("mbx_writer", "--jmf6 " + Quote(store_ / "INBOX.mbx") + " " +
                                      Quote(fs::path(BV_MAILSTORE_DATA) / "plain.eml")),
              0);
    fs::create_directories(store_ / "sub.dbx");  // a directory is no folder
    std::vector<std::string> texts = ListFolders(store_);
    std::sort(texts.begin(), texts.end());
    ASSERT_EQ(texts.size(), 3u);
    // INBOX.mbx and Inbox.dbx both give "OE Inbox": the one listed second
    // gets a folder of its own.
    std::set<std::string> inboxes = {texts[0], texts[1]};
    EXPECT_TRUE(inboxes == std::set<std::string>({"OE Inbox (2) {BV:1:FCLASS:0}", "OE Inbox {BV:2:FCLASS:0}"}) ||
                inboxes == std::set<std::string>({"OE Inbox (2) {BV:2:FCLASS:0}", "OE Inbox {BV:1:FCLASS:0}"}))
        << texts[0] << " / " << texts[1];
    EXPECT_EQ(texts[2], "Sent Items {BV:1:FCLASS:0}");
}

TEST_F(FolderListTest, NamesOfTheDirectoryScanLoseOnlyTheirExtension) {
    struct Case {
        std::string file, folder;
    } cases[] = {
        {std::string("Entw\xfc") + "rfe.dbx", "Entw\xc3\xbcrfe"},  // Latin-1 converted
        {"Entw\xc3\xbcrfe 2.dbx", "Entw\xc3\xbcrfe 2"},          // UTF-8 kept
        {"Projekt v1.2 final.dbx", "Projekt v1.2 final"},
    };
    for (const Case &c : cases) Dbx(c.file, {"plain.eml"});
    std::vector<std::string> texts = ListFolders(store_);
    std::sort(texts.begin(), texts.end());
    std::vector<std::string> want;
    for (const Case &c : cases) want.push_back(c.folder + " {BV:1:FCLASS:0}");
    std::sort(want.begin(), want.end());
    EXPECT_EQ(texts, want);
}

TEST_F(FolderListTest, BvGuiAndNoInventoryCountNothing) {
    Dbx("Inbox.dbx", {"plain.eml", "subject_first.eml"});
    ASSERT_EQ(Tool("mbx_writer", Quote(store_ / "Local.mbx") + " " + Quote(fs::path(BV_MAILSTORE_DATA))), 0);
    gBvGui = 1;
    std::vector<std::string> texts = ListFolders(store_);
    std::sort(texts.begin(), texts.end());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Local {BV:0:FCLASS:0}");
    EXPECT_EQ(texts[1], "OE Inbox {BV:0:FCLASS:0}");
    gBvGui = 0;
    gNoInventory = 1;
    texts = ListFolders(store_);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts[0], "Local {BV:0:FCLASS:0}");
    gNoInventory = 0;
    texts = ListFolders(store_);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts[0], "Local {BV:4:FCLASS:0}");
    EXPECT_EQ(texts[1], "OE Inbox {BV:2:FCLASS:0}");
}

TEST_F(FolderListTest, TextFilesCountFromLinesAfterTheOptionalHeader) {
    std::ofstream(store_ / "plain.mbx") << "From - a\nSubject: 1\n\nx\nfrom - b\nSubject: 2\n\nFrom someone else\n";
    std::ofstream(store_ / "empty.mbx");
    std::ofstream(store_ / "jmf.mbx") << "JMF6" << std::string(96, 'F') << "From - a\nSubject: 1\n";
    // The header is skipped whole: a separator inside it is not counted.
    std::ofstream(store_ / "short.mbx") << "JMF6 From - in the header\n";
    ListFolders(store_);
    std::map<std::string, uint32_t> counts;
    for (int i = 0; i < gFolderCount; i++) counts[gFolderTable[i]->trueName] = gFolderTable[i]->itemCount;
    EXPECT_EQ(counts["plain"], 2u);
    EXPECT_EQ(counts["empty"], 0u);
    EXPECT_EQ(counts["jmf"], 1u);
    EXPECT_EQ(counts["short"], 0u);
}

TEST_F(FolderListTest, KerioTableIsKeptAndOnlyReported) {
    com_strncpy(gKerioDir, store_.c_str(), sizeof(gKerioDir) - 1);
    AddFolder("Mail^Inbox", "/x/#msgs/", 0, 3, 0);
    gAdrType = 99;
    std::vector<std::string> texts = ListFolders(store_);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Mail^Inbox {BV:3:FCLASS:0}");
}

TEST_F(FolderListTest, FileFoldersTakeTheSessionAddressWithTheirOwnName) {
    auto add = [](const char *name, int count, int folderClass) {
        FileFolderRecord *r = (FileFolderRecord *)calloc(1, sizeof(FileFolderRecord));
        com_strncpy(r->name, name, sizeof(r->name) - 1);
        r->count = count;
        r->folderClass = folderClass;
        gFileFolderTable[gFileFolderCount++] = r;
    };
    add("Work", 12, 2);
    add("Home", 3, 2);
    add("Todo", 4, 3);
    add("People", 7, 1);
    com_strncpy(gCalSourceSpec, "https://zimbra.example.org/home/anna/Calendar?FMT=ics|admin|pw",
                sizeof(gCalSourceSpec) - 1);
    gAdrType = 99;
    std::vector<std::string> texts = ListFolders(store_);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Work {BV:12:FCLASS:2}");
    EXPECT_STREQ(gFolderTable[0]->fileName, "https://zimbra.example.org/home/anna/Work?FMT=ics|admin|pw");
    EXPECT_STREQ(gFolderTable[1]->fileName, "https://zimbra.example.org/home/anna/Home?FMT=ics|admin|pw");
    gAdrType = 100;
    texts = ListFolders(store_);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Todo {BV:4:FCLASS:3}");
    gAdrType = 2;
    texts = ListFolders(store_);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "People {BV:7:FCLASS:1}");
    // An address without "?fmt=" adds nothing.
    com_strncpy(gCalSourceSpec, "https://example.org/cal.ics", sizeof(gCalSourceSpec) - 1);
    EXPECT_TRUE(ListFolders(store_).empty());
}
