// Folder lists of store directories with and without folders.nch, the
// counters, and the file folders of contacts, calendar and tasks sessions.
#include <algorithm>
#include <sstream>
#include "mailstore_fixture.h"
#include "support/case_table.h"
#include "support/file_text.h"

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

// Directory scans of the table (data/folder_lists.tsv): the switches, the
// folder texts (sorted), and the files of the store, each "KIND:NAME:WHAT":
// dbx or mbx and the writer's options with data files, txt and the file's
// text, dir for a directory.
TEST_F(FolderListTest, DirectoryScansOfTheTable) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MAILSTORE_DATA "/folder_lists.tsv")) {
        fs::remove_all(store_);
        fs::create_directories(store_);
        for (size_t i = 2; i < row.fields.size(); i++) {
            std::string kind = row[i].substr(0, 3), rest = row[i].substr(4);
            std::string name = rest.substr(0, rest.find(':')), what = rest.substr(name.size() + 1);
            if (kind == "txt") bvtest::WriteFileText(store_ / name, what);
            if (kind == "dir") fs::create_directories(store_ / name);
            if (kind != "dbx" && kind != "mbx") continue;
            std::istringstream words(what);
            std::vector<std::string> texts;
            std::string options;
            for (std::string word; words >> word;) word[0] == '-' ? (void)(options += " " + word) : texts.push_back(Data(word));
            WriteDbx(name, texts, options, kind + "_writer");
        }
        gBvGui = row[0] == "bvgui";
        gNoInventory = row[0] == "noinventory";
        std::vector<std::string> texts = ListFolders(store_);
        std::sort(texts.begin(), texts.end());
        std::string joined;
        for (const std::string &text : texts) joined += (joined.empty() ? "" : "|") + text;
        EXPECT_EQ(joined, row[1]) << row.Where();
    }
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
