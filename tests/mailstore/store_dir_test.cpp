// Directory-per-message stores: the folder scan, the kind of a folder's
// first message, the folder limit, an unreadable subdirectory, mail and
// vCard folders read through ConvertFolder's branches, and the store
// location search behind TestFile.
#include <unistd.h>

#include "mailstore/store_dir.h"
#include "mailstore_fixture.h"
#include "platform/platform.h"
#include "support/case_table.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

// A store of every kind of folder, read in place.
const std::string kTree = BV_MAILSTORE_DATA "/store_tree";

class StoreDirTest : public MailStoreTest {
protected:
    int Scan(const std::string &dir) {
        com_strncpy(gKerioDir, dir.c_str(), sizeof gKerioDir - 1);
        gAdrType = 99;
        gOeDirect = 0;
        return ScanStoreDir(gKerioDir);
    }
};

// Hidden and deleted folders are left out, a folder's kind comes from its
// first message or else its status.fld (found in any letter case), and mail
// folders are read in name order.
TEST_F(StoreDirTest, ScanListsTheFoldersOfTheTree) {
    ASSERT_EQ(Scan(kTree), 1);
    // Name order without regard to case: '_' comes before the letters.
    std::vector<std::string> expected = {
        "__system^Visible {BV:0:FCLASS:0}", "Calendar {BV:0:FCLASS:2}",
        "Cards {BV:2:FCLASS:1}",            "Contacts {BV:1:FCLASS:1}",
        "Entwürfe {BV:0:FCLASS:0}",         "Inbox {BV:3:FCLASS:0}",
        "Inbox^Archive {BV:0:FCLASS:0}",    "Inbox^Archive^2023 {BV:1:FCLASS:0}",
        "Meetings {BV:1:FCLASS:2}",         "Notes {BV:1:FCLASS:3}",
        "Plain^Deeper {BV:0:FCLASS:0}",     "Tasks {BV:0:FCLASS:3}",
        "Upper {BV:0:FCLASS:3}",
    };
    EXPECT_EQ(ListFolders(store_), expected);
    EXPECT_EQ(fs::path(gFolderTable[5]->fileName), fs::path(kTree) / "Inbox" / "#msgs" / "");
    EXPECT_STREQ(gFolderTable[7]->displayName, "Inbox/Archive/2023");
    HostSide host;
    EXPECT_EQ(ReadFolder(5, &host), 0);
    std::string subjects;
    for (const ReceivedItem &item : host.items) subjects += item.subject + " ";
    EXPECT_EQ(subjects, "first second third ");
    EXPECT_EQ(host.statuses, (std::vector<int>{0, 0, 0}));
}

TEST_F(StoreDirTest, FirstMessageKindRules) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MAILSTORE_DATA "/message_kinds.tsv")) {
        fs::path file = WriteEml(root_, NumberedEml((size_t)row.line), row[0]);
        EXPECT_EQ(StoreMessageClass(file.c_str()), row.Int(1)) << row.Where();
    }
    EXPECT_EQ(StoreMessageClass((root_ / "missing.eml").c_str()), -1);
}

// Folders f00001 to f10000 are links to f00000: scanned alike, made and removed quickly.
TEST_F(StoreDirTest, TenThousandFoldersAtMost) {
    bvtest::WriteFileText(store_ / "f00000" / "status.fld", "WIPF.Note");
    for (int i = 1; i <= STORE_MAX_FOLDERS; i++)
        fs::create_directory_symlink("f00000", store_ / ("f" + std::to_string(100000 + i).substr(1)));
    ASSERT_EQ(Scan(store_), 1);
    ASSERT_EQ(gFolderCount, STORE_MAX_FOLDERS);
    EXPECT_STREQ(gFolderTable[STORE_MAX_FOLDERS - 1]->trueName, "f09999");
    EXPECT_EQ(CountInLog("BV Warning: more than 10000 folders, not listed: f10000"), 1);
}

// The folders found before an unreadable subdirectory stay listed, the ones
// after it are not scanned. bvhost runs as an ordinary user when the test
// runs as root (root reads every directory).
TEST_F(StoreDirTest, UnreadableSubdirectoryEndsTheScan) {
    bvtest::TempDir scratch("bvstoredir");
    fs::path store = scratch.Path() / "store", log = scratch.Path() / "log.txt";
    for (const char *name : {"A", "B", "B/Inner", "C"}) bvtest::WriteFileText(store / name / "status.fld", "WIPF.Note");
    fs::permissions(scratch.Path(), fs::perms::all);
    fs::permissions(store / "B", fs::perms::none);
    std::string user = geteuid() == 0 ? "setpriv --reuid 65534 --regid 65534 --clear-groups " : "";
    std::string args = " folders --source kerio:" + Quote(store) + " --log " + Quote(log);
    bvtest::ProgramRun run = bvtest::RunProgram(user + Quote(fs::path(BV_TOOLS_DIR) / "bvhost") + args, scratch.Path());
    fs::permissions(store / "B", fs::perms::owner_all);
    if (!user.empty() && !fs::exists(log)) GTEST_SKIP() << "the scratch directory is out of reach of user 65534";
    EXPECT_EQ(run.out, "A {BV:0:FCLASS:0}\n") << run.err;  // B's own status.fld cannot be read either
    EXPECT_EQ(bvtest::CountOf(bvtest::ReadFileText(log),
                              "BV Error: unable to access folder " + store.string() + "/B, check file permissions"),
              1);
}

// Messages whose body or attachment is a vCard, and bare .vcf files, in
// name order: 2.1 and 3.0, transfer encodings undone by the mail parser,
// the card's own quoted-printable and charset, and values the record has
// no room for kept in the notes.
TEST_F(StoreDirTest, ContactFolderReadsVCards) {
    bvtest::WriteFileText(store_ / "Contacts" / "status.fld", "WIPF.Contact");
    for (const auto &e : fs::directory_iterator(fs::path(BV_MAILSTORE_DATA) / "store_contacts"))
        WriteEml(store_ / "Contacts" / "#msgs", e.path().filename(), bvtest::ReadFileText(e.path()));
    ASSERT_EQ(Scan(store_), 1);
    ASSERT_EQ(gFolderCount, 1);
    EXPECT_EQ(gFolderTable[0]->itemCount, 4u);  // the .eml files
    HostSide host;
    EXPECT_EQ(ReadContacts(0, &host), 5);
    std::string got, want = bvtest::ReadFileText(BV_MAILSTORE_DATA "/store_contacts.expect");
    for (const ReceivedItem &contact : host.items) got += contact.json + "\n";
    EXPECT_EQ(got, want.substr(want.find("\n{") + 1));
    EXPECT_EQ(host.statuses, (std::vector<int>{0, 0, 0, 0, BV_STATUS_EXCLUDED, 0}));
    EXPECT_EQ(CountInLog("no vCard in"), 1);
}

// TestFile's question, the answer and the directory left in the buffer.
TEST_F(StoreDirTest, StoreLocationSearch) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MAILSTORE_DATA "/store_search.tsv")) {
        bvcom_SetMessageBoxAnswer(row.Int(1));
        char dirOut[1024] = "untouched";
        EXPECT_EQ(TestStoreFile(row[0].c_str(), dirOut), row.Int(2)) << row.Where();
        EXPECT_STREQ(dirOut, row[3].c_str()) << row.Where();
    }
    bvcom_SetMessageBoxAnswer(BV_IDNO);
    EXPECT_EQ(CountInLog("Outlook Express Search: Possible match in:\n\n/disk/OE\n\nUse this directory?, answered"), 2);
}
