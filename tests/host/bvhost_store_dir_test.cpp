// bvhost on directory-per-message stores: a whole store tree migrated into
// the Maildir store and read back with Python's mailbox module, and
// find-store answering yes, no and cancel.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Every message of a Maildir tree as "folder<TAB>subject", sorted.
const char kListMaildir[] = R"(
import mailbox, sys
root = mailbox.Maildir(sys.argv[1], factory=None, create=False)
lines = ['%s\t%s' % (name, root.get_folder(name).get_message(key)['subject'])
         for name in root.list_folders() for key in root.get_folder(name).keys()]
print('\n'.join(sorted(lines)))
)";

class StoreDirHostTest : public ::testing::Test {
protected:
    int Run(const std::string &commandLine) {
        bvtest::ProgramRun run = bvtest::RunProgram(commandLine, scratch_.Path());
        out_ = run.out;
        err_ = run.err;
        return run.status;
    }
    int Bvhost(const std::string &args) { return Run(bvtest::ShellQuote(bvtest::BuildProgram("bvhost")) + " " + args); }
    void Message(const std::string &folder, const std::string &file, const std::string &subject) {
        bvtest::WriteFileText(store_ / folder / "#msgs" / file,
                              "From: a@example.com\r\nSubject: " + subject + "\r\nContent-Type: text/plain\r\n\r\n" +
                                  subject + "\r\n");
    }
    bvtest::TempDir scratch_{"bvstorehost"};
    fs::path store_ = scratch_.Path() / "store";
    std::string out_, err_;
};

TEST_F(StoreDirHostTest, WholeStoreMigratesIntoTheMaildirStore) {
    for (const char *folder : {"Inbox", "Inbox/Projects", "Sent Items", "Entw&APw-rfe", "Contacts", "#deleted"})
        bvtest::WriteFileText(store_ / folder / "status.fld", std::string(folder) == "Contacts" ? "WIPF.Contact" : "WIPF.Note");
    Message("Inbox", "1.eml", "first");
    Message("Inbox", "2.eml", "second");
    Message("Inbox/Projects", "1.eml", "plan");
    Message("Inbox/Projects/2024", "1.eml", "no status file");
    Message("Sent Items", "1.eml", "sent");
    Message("Entw&APw-rfe", "1.eml", "draft");
    Message("#deleted", "1.eml", "gone");
    bvtest::WriteFileText(store_ / "Contacts" / "#msgs" / "1.vcf", "BEGIN:VCARD\r\nFN:A B\r\nEND:VCARD\r\n");

    fs::path maildir = scratch_.Path() / "maildir";
    ASSERT_EQ(Bvhost("migrate --source kerio:" + bvtest::ShellQuote(store_.string()) + " --target oe:" +
                     bvtest::ShellQuote(maildir.string())),
              0)
        << err_;
    EXPECT_NE(out_.find("Contacts: skipped, a contacts folder does not fit a oe target"), std::string::npos) << out_;
    EXPECT_NE(out_.find("summary: 5 folders, 6 items"), std::string::npos) << out_;

    ASSERT_EQ(Run("python3 -c " + bvtest::ShellQuote(kListMaildir) + " " + bvtest::ShellQuote(maildir.string())), 0)
        << err_;
    EXPECT_EQ(out_,
              "Entw&APw-rfe\tdraft\n"
              "Inbox\tfirst\n"
              "Inbox\tsecond\n"
              "Inbox.Projects\tplan\n"
              "Inbox.Projects.2024\tno status file\n"
              "Sent Items\tsent\n");
}

// Calendar and task folders: their messages through the calendar reader.
TEST_F(StoreDirHostTest, CalendarAndTaskFoldersGoThroughTheCalendarReader) {
    bvtest::WriteFileText(store_ / "Calendar" / "status.fld", "WIPF.Appointment");
    bvtest::WriteFileText(store_ / "Tasks" / "status.fld", "WIPF.Task");
    const std::string head = "Subject: x\r\nContent-Type: text/calendar; charset=utf-8; component=";
    bvtest::WriteFileText(store_ / "Calendar" / "#msgs" / "1.eml",
                          head + "vevent\r\n\r\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e1\r\n"
                                 "SUMMARY:Team meeting\r\nDTSTART:20240115T140000Z\r\nDTEND:20240115T150000Z\r\n"
                                 "END:VEVENT\r\nEND:VCALENDAR\r\n");
    bvtest::WriteFileText(store_ / "Tasks" / "#msgs" / "1.eml",
                          head + "vtodo\r\n\r\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:t1\r\n"
                                 "SUMMARY:Write report\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    fs::path dump = scratch_.Path() / "dump.jsonl";
    ASSERT_EQ(Bvhost("dump --source kerio:" + bvtest::ShellQuote(store_.string()) + " --out " +
                     bvtest::ShellQuote(dump.string())),
              0)
        << err_;
    std::string items = bvtest::ReadFileText(dump);
    EXPECT_NE(items.find("\"dataType\":2"), std::string::npos) << items;
    EXPECT_NE(items.find("\"title\":\"Team meeting\""), std::string::npos) << items;
    EXPECT_NE(items.find("\"startTime\":\"2024-01-15T14:00:00Z\""), std::string::npos) << items;
    EXPECT_NE(items.find("\"dataType\":3"), std::string::npos) << items;
    EXPECT_NE(items.find("\"title\":\"Write report\""), std::string::npos) << items;
}

TEST_F(StoreDirHostTest, FindStoreAnswers) {
    bvtest::WriteFileText(scratch_.Path() / "disk" / "a" / "notes.txt", "");
    bvtest::WriteFileText(scratch_.Path() / "disk" / "b" / "OE" / "Inbox.dbx", "");
    bvtest::WriteFileText(scratch_.Path() / "disk" / "b" / "OE" / "folders.nch", "");
    bvtest::WriteFileText(scratch_.Path() / "disk" / "c" / "inbox.mbx", "");
    std::string disk = bvtest::ShellQuote((scratch_.Path() / "disk").string());
    std::string found = (scratch_.Path() / "disk" / "b" / "OE").string() + "\n";
    struct Case {
        const char *answer;
        int status;
        std::string out;
    };
    for (const Case &c : {Case{"yes", 0, found}, Case{"no", 1, ""}, Case{"cancel", 1, ""}}) {
        EXPECT_EQ(Bvhost("find-store " + disk + " --answer " + c.answer), c.status) << c.answer << err_;
        EXPECT_EQ(out_, c.out) << c.answer;
    }
    // On the terminal: input that ends is a Cancel.
    EXPECT_EQ(Bvhost("find-store " + disk), 1);
    EXPECT_NE(err_.find("Possible match in:"), std::string::npos) << err_;
}

}  // namespace
