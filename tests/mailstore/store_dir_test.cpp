// Directory-per-message stores: the folder scan over trees built here, the
// kind of a folder's first message, the record limit, an unreadable
// subdirectory, mail and vCard folders read through ConvertFolder's
// branches, and the store location search behind TestFile.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stddef.h>

#include <map>

#include "mailstore/store_dir.h"
#include "mailstore_fixture.h"
#include "platform/platform.h"
#include "support/case_table.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace {

const char kMail[] = "Subject: hello\nFrom: a@example.com\nContent-Type: text/plain\n\nbody\n";
const char kCard[] = "Subject: card\nContent-Type: text/x-vcard\n\nBEGIN:VCARD\nFN:A B\nEND:VCARD\n";
const char kEvent[] = "Subject: ev\nContent-Type: text/calendar; method=PUBLISH;\n component=\"vevent\"\n\nBEGIN:VCALENDAR\n";
const char kTask[] = "Subject: t\nContent-Type: text/calendar; component=VTODO\n\nBEGIN:VCALENDAR\n";

// One directory of a store: its status.fld (nullptr: none) and messages.
struct StoreDir {
    const char *path;
    const char *status;
    std::vector<std::pair<const char *, const char *>> messages;
};

}  // namespace

class StoreDirTest : public MailStoreTest {
protected:
    void Build(const std::vector<StoreDir> &dirs) {
        for (const StoreDir &dir : dirs) {
            fs::create_directories(store_ / dir.path);
            if (dir.status) bvtest::WriteFileText(store_ / dir.path / "status.fld", dir.status);
            for (const auto &message : dir.messages) WriteEml(store_ / dir.path / "#msgs", message.first, message.second);
        }
    }
    int Scan() {
        com_strncpy(gKerioDir, store_.c_str(), sizeof gKerioDir - 1);
        gAdrType = 99;
        gOeDirect = 0;
        return ScanStoreDir(gKerioDir);
    }
};

TEST_F(StoreDirTest, ScanListsTheFoldersOfTheTree) {
    Build({
        {"Inbox", "WIPF.Note", {{"2.eml", kMail}, {"1.eml", kMail}, {"x.txt", "not a message"}}},
        {"Inbox/Archive", "WIPF.Note", {}},
        {"Inbox/Archive/2023", nullptr, {{"a.eml", kMail}}},  // no status.fld, messages: mail
        {"Contacts", "WIPF.Contact", {{"c.eml", kCard}}},
        {"Calendar", "WIPF.Appointment", {}},
        {"Tasks", "WIPF.Task", {}},
        {"Unknown", "WIPF.Journal", {}},                     // no kind, no messages
        {"Cards", nullptr, {{"a.eml", kCard}, {"b.eml", kMail}}},  // the first message decides
        {"Notes", "WIPF.Note", {{"t.eml", kTask}}},            // the message over status.fld
        {"Meetings", nullptr, {{"e.eml", kEvent}}},
        {"Plain/Deeper", "WIPF.Note", {}},                   // "Plain" itself is not listed
        {"#deleted", "WIPF.Note", {}},
        {"#Deleted/Sub", "WIPF.Note", {}},
        {"Old/Deleted mailbox - 2020", "WIPF.Note", {}},
        {"#assoc", "WIPF.Note", {}},
        {"x_hidden_y", "WIPF.Note", {}},
        {"#certificates", "WIPF.Note", {}},
        {"__system", "WIPF.Note", {{"m.eml", kMail}}},         // hidden, its subfolder is not
        {"__system/Visible", "WIPF.Note", {}},
        {".cache", "WIPF.Note", {}},
        {"Entw&APw-rfe", "WIPF.Note", {}},
        {"Upper", nullptr, {}},
    });
    bvtest::WriteFileText(store_ / "Upper" / "STATUS.FLD", "WIPF.Task");
    bvtest::WriteFileText(store_ / "Inbox" / "status.fld", std::string("\x01\x00xxWIPF.Note\x02", 14));
    ASSERT_EQ(Scan(), 1);
    // Name order without regard to case: '_' comes before the letters.
    std::vector<std::string> expected = {
        "__system^Visible {BV:0:FCLASS:0}", "Calendar {BV:0:FCLASS:2}",
        "Cards {BV:2:FCLASS:1}",            "Contacts {BV:1:FCLASS:1}",
        "Entwürfe {BV:0:FCLASS:0}",         "Inbox {BV:2:FCLASS:0}",
        "Inbox^Archive {BV:0:FCLASS:0}",    "Inbox^Archive^2023 {BV:1:FCLASS:0}",
        "Meetings {BV:1:FCLASS:2}",         "Notes {BV:1:FCLASS:3}",
        "Plain^Deeper {BV:0:FCLASS:0}",     "Tasks {BV:0:FCLASS:3}",
        "Upper {BV:0:FCLASS:3}",
    };
    EXPECT_EQ(ListFolders(store_), expected);
    EXPECT_EQ(fs::path(gFolderTable[5]->fileName), store_ / "Inbox" / "#msgs" / "");
    EXPECT_STREQ(gFolderTable[7]->displayName, "Inbox/Archive/2023");
}

TEST_F(StoreDirTest, FirstMessageKindRules) {
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MAILSTORE_DATA "/message_kinds.tsv")) {
        fs::path file = WriteEml(root_, NumberedEml((size_t)row.line), row[0]);
        EXPECT_EQ(StoreMessageClass(file.c_str()), row.Int(1)) << row.Where();
    }
    EXPECT_EQ(StoreMessageClass((root_ / "missing.eml").c_str()), -1);
}

TEST_F(StoreDirTest, TenThousandFoldersAtMost) {
    for (int i = 0; i <= STORE_MAX_FOLDERS; i++) {
        char name[16];
        snprintf(name, sizeof name, "f%05d", i);
        fs::create_directory(store_ / name);
        bvtest::WriteFileText(store_ / name / "status.fld", "WIPF.Note");
    }
    ASSERT_EQ(Scan(), 1);
    ASSERT_EQ(gFolderCount, STORE_MAX_FOLDERS);
    EXPECT_STREQ(gFolderTable[STORE_MAX_FOLDERS - 1]->trueName, "f09999");
    EXPECT_EQ(CountInLog("BV Warning: more than 10000 folders, not listed: f10000"), 1);
}

// The scan runs in a child process, as an ordinary user when the test runs
// as root (root reads every directory); the folders found before the
// unreadable one stay listed, the ones after it are not scanned.
TEST_F(StoreDirTest, UnreadableSubdirectoryEndsTheScan) {
    bvtest::TempDir scratch("bvstoredir");
    fs::path store = scratch.Path() / "store";
    for (const char *name : {"A", "B", "B/Inner", "C"}) {
        fs::create_directories(store / name);
        bvtest::WriteFileText(store / name / "status.fld", "WIPF.Note");
    }
    fs::permissions(scratch.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(store / "B", fs::perms::none);
    fs::path result = scratch.Path() / "result.txt";
    bvtest::WriteFileText(result, "");
    fs::permissions(result, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        int dropped = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
        com_strncpy(gKerioDir, store.c_str(), sizeof gKerioDir - 1);
        int scanned = dropped ? ScanStoreDir(gKerioDir) : -1;
        FILE *out = fopen(result.c_str(), "r+");
        if (out) {
            fprintf(out, "%d", scanned);
            for (int i = 0; i < gFolderCount; i++) fprintf(out, " %s", gFolderTable[i]->trueName);
            fclose(out);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    fs::permissions(store / "B", fs::perms::owner_all);
    std::string seen = bvtest::ReadFileText(result);
    if (seen.empty() && geteuid() == 0) GTEST_SKIP() << "the scratch directory is not writable for user 65534";
    EXPECT_EQ(seen, "0 A");  // B's own status.fld cannot be read either
    EXPECT_EQ(CountInLog("BV Error: unable to access folder " + (store / "B").string() + ", check file permissions"),
              1);
}

TEST_F(StoreDirTest, MailFolderReadsEveryMessageInNameOrder) {
    Build({{"Inbox", "WIPF.Note",
            {{"b.eml", "Subject: second\n\nb\n"}, {"A.eml", "Subject: first\n\na\n"}, {"c.eml", "Subject: third\n\nc\n"},
             {"note.txt", "Subject: not a message\n\n"}}}});
    ASSERT_EQ(Scan(), 1);
    ASSERT_EQ(gFolderCount, 1);
    HostSide host;
    EXPECT_EQ(ReadFolder(0, &host), 0);
    std::vector<std::string> subjects;
    for (const ReceivedItem &item : host.items) subjects.push_back(item.subject);
    EXPECT_EQ(subjects, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(host.statuses, (std::vector<int>{0, 0, 0}));
}

namespace {

std::vector<std::string> gContacts;
std::vector<int> gContactStatuses;

#define CONTACT_FIELD(name) {#name, offsetof(mdat, name)}
const std::pair<const char *, size_t> kContactFields[] = {
    CONTACT_FIELD(firstName),      CONTACT_FIELD(lastName),           CONTACT_FIELD(middleName),
    CONTACT_FIELD(courtesyTitle),  CONTACT_FIELD(suffix),             CONTACT_FIELD(emailAddr),
    CONTACT_FIELD(email2Addr),     CONTACT_FIELD(email3Addr),         CONTACT_FIELD(businessPhone),
    CONTACT_FIELD(homePhone),      CONTACT_FIELD(mobilePhone),        CONTACT_FIELD(businessFax),
    CONTACT_FIELD(homeFax),        CONTACT_FIELD(pager),              CONTACT_FIELD(company),
    CONTACT_FIELD(department),     CONTACT_FIELD(title),              CONTACT_FIELD(businessStreet),
    CONTACT_FIELD(businessCity),   CONTACT_FIELD(businessState),      CONTACT_FIELD(businessPostalCode),
    CONTACT_FIELD(businessCountry), CONTACT_FIELD(homeStreet),        CONTACT_FIELD(homeCity),
    CONTACT_FIELD(homePostalCode), CONTACT_FIELD(homeCountry),        CONTACT_FIELD(birthday),
    CONTACT_FIELD(webPage),
};
#undef CONTACT_FIELD

int BV_CALL CollectContact(mdat *rec, const char *, const char *workDir, int) {
    std::string text;
    for (const auto &field : kContactFields) {
        const char *value = reinterpret_cast<const char *>(rec) + field.second;
        if (value[0]) text += std::string(field.first) + "=" + value + "|";
    }
    static char notes[BV_NOTES_LEN];
    if (com_ReadNotes(rec, notes, workDir) > 0) text += std::string("notes=") + notes + "|";
    gContacts.push_back(text);
    return 0;
}

int BV_CALL CollectContactStatus(mdat *, const char *, int status, int *, int *, int *) {
    gContactStatuses.push_back(status);
    return 0;
}

}  // namespace

// Messages whose body or attachment is a vCard, and bare .vcf files, in
// name order: 2.1 and 3.0, transfer encodings undone by the mail parser,
// the card's own quoted-printable and charset, and values the record has
// no room for kept in the notes.
TEST_F(StoreDirTest, ContactFolderReadsVCards) {
    Build({{"Contacts", "WIPF.Contact", {}}});
    for (const auto &e : fs::directory_iterator(fs::path(BV_MAILSTORE_DATA) / "store_contacts"))
        WriteEml(store_ / "Contacts" / "#msgs", e.path().filename(), bvtest::ReadFileText(e.path()));
    ASSERT_EQ(Scan(), 1);
    ASSERT_EQ(gFolderCount, 1);
    EXPECT_EQ(gFolderTable[0]->itemCount, 4u);  // the .eml files
    gContacts.clear();
    gContactStatuses.clear();
    static mdat record;
    int count = 0;
    ReadStoreDirContacts(0, &record, CollectContact, work_.c_str(), &count, CollectContactStatus);
    std::vector<std::string> expected;
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_MAILSTORE_DATA "/store_contacts.expect"))
        expected.push_back(row[0]);
    EXPECT_EQ(gContacts, expected);
    EXPECT_EQ(gContactStatuses, (std::vector<int>{0, 0, 0, 0, BV_STATUS_EXCLUDED, 0}));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(CountInLog("no vCard in"), 1);
}

// TestFile's question, the answer and the directory left in the buffer.
TEST_F(StoreDirTest, StoreLocationSearch) {
    struct Case {
        const char *path;
        int answer, result;
        const char *dirOut;
    };
    const Case cases[] = {
        {"/disk/OE/FOLDERS.NCH", BV_IDYES, 1, "/disk/OE"},
        {"/disk/OE/Inbox.DBX", BV_IDCANCEL, 2, "/disk/OE"},
        {"/disk/Mail/folders.nch", BV_IDNO, 0, "/disk/Mail"},  // No still leaves the directory
        {"/disk/OE4/inbox.mbx", BV_IDYES, 0, "untouched"},
        {"/disk/OE/Outbox.dbx", BV_IDYES, 0, "untouched"},
    };
    for (const Case &c : cases) {
        bvcom_SetMessageBoxAnswer(c.answer);
        char dirOut[1024] = "untouched";
        EXPECT_EQ(TestStoreFile(c.path, dirOut), c.result) << c.path;
        EXPECT_STREQ(dirOut, c.dirOut) << c.path;
    }
    bvcom_SetMessageBoxAnswer(BV_IDNO);
    EXPECT_EQ(CountInLog("Outlook Express Search: Possible match in:\n\n/disk/OE\n\nUse this directory?, answered"), 2);
}
