// Folder lists of store directories with and without folders.nch, the
// counters, and the file folders of contacts, calendar and tasks sessions.
#include <algorithm>
#include <sstream>
#include <tuple>
#include "mailstore_fixture.h"
#include "support/case_table.h"
#include "support/file_text.h"

class FolderListTest : public MailStoreTest {
   protected:
    // The folder texts of the store, sorted, joined by '|'.
    std::string SortedTexts(const fs::path &store) {
        std::vector<std::string> texts = ListFolders(store);
        std::sort(texts.begin(), texts.end());
        std::string joined;
        for (const std::string &text : texts) joined += (joined.empty() ? "" : "|") + text;
        return joined;
    }
};

TEST_F(FolderListTest, FolderListFileNamesExactlyItsFoldersInFileOrder) {
    WriteDbx("a.dbx", {Data("plain.eml")});
    WriteDbx("b.dbx", {Data("plain.eml"), Data("subject_first.eml")});
    WriteDbx("c.dbx", {Data("attachment.eml")});  // not in the list
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
            for (std::string word; words >> word;)
                word[0] == '-' ? (void)(options += " " + word) : texts.push_back(Data(word));
            WriteDbx(name, texts, options, kind + "_writer");
        }
        gBvGui = row[0] == "bvgui";
        gNoInventory = row[0] == "noinventory";
        EXPECT_EQ(SortedTexts(store_), row[1]) << row.Where();
    }
}

TEST_F(FolderListTest, FileFoldersTakeTheSessionAddressWithTheirOwnName) {
    for (auto [name, count, folderClass] :
         {std::tuple{"Work", 12, 2}, {"Home", 3, 2}, {"Todo", 4, 3}, {"People", 7, 1}}) {
        FileFolderRecord *r = (FileFolderRecord *)calloc(1, sizeof(FileFolderRecord));
        com_strncpy(r->name, name, sizeof(r->name) - 1);
        r->count = count;
        r->folderClass = folderClass;
        gFileFolderTable[gFileFolderCount++] = r;
    }
    com_strncpy(gCalSourceSpec, "https://zimbra.example.org/home/anna/Calendar?FMT=ics|admin|pw",
                sizeof(gCalSourceSpec) - 1);
    // The session's address type picks the folders of its kind.
    for (auto [adrType, texts] : {std::pair{99, "Home {BV:3:FCLASS:2}|Work {BV:12:FCLASS:2}"},
                                  {100, "Todo {BV:4:FCLASS:3}"}, {2, "People {BV:7:FCLASS:1}"}}) {
        gAdrType = adrType;
        EXPECT_EQ(SortedTexts(store_), texts);
    }
    EXPECT_STREQ(gFolderTable[0]->fileName, "https://zimbra.example.org/home/anna/People?FMT=ics|admin|pw");
    // An address without "?fmt=" adds nothing.
    com_strncpy(gCalSourceSpec, "https://example.org/cal.ics", sizeof(gCalSourceSpec) - 1);
    EXPECT_TRUE(ListFolders(store_).empty());
}
