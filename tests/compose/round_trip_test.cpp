// Round trip through the real entry points: messages parsed from .eml files
// are written with InitWrite / WriteMsg / CloseWrite of libbvole.so into a
// fresh Maildir store; the stored files are parsed again, and a second
// instance of the module reads the store back. Every field that the record
// carries must come back.
#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "compose_test_support.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"
#include "support/host_callbacks.h"
#include "support/module_loader.h"

namespace fs = std::filesystem;
using Module = std::unique_ptr<bvhost::ModuleInstance>;

namespace {

const char *const kMessages[] = {"plain_three_recipients.eml", "encoded_subject_attachments.eml",
                                 "html_related_inline.eml", "thread_references.eml", "forwarded_embedded.eml",
                                 "large_attachment.eml"};

// Each load is a fresh session, as the host has for its source and target.
Module LoadModule() {
    std::string error;
    Module m = bvtest::LoadModuleCopy(bvtest::BuildLibrary(), &error);
    EXPECT_TRUE(m) << error;
    return m;
}

// Logs on as the mail target (source: the live store); returns Logon's result.
int Logon(const Module &m, bool source = false) {
    char path[BV_HOST_TEXT_LEN] = "Default user only";
    char outText[BV_HOST_TEXT_LEN] = "x";
    return m->Logon(0, 0, path, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, source ? 1 : 0, 0, "", 0);
}

std::vector<std::string> StoredMessages(const fs::path &maildir) {
    std::vector<std::string> files;
    for (const char *leaf : {"new", "cur"})
        if (fs::is_directory(maildir / leaf))
            for (const auto &e : fs::directory_iterator(maildir / leaf)) files.push_back(e.path().string());
    return files;
}

// The thread fields of the header part, unfolded, with blanks as one.
std::string ThreadFields(const mdat *rec, const std::string &workDir) {
    std::string fields;
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i]->partType != BV_PART_HEADER) continue;
        std::string text = bvtest::PartFileText(rec, workDir.c_str(), i);
        std::istringstream lines(std::regex_replace(text, std::regex("\r?\n[ \t]+"), " "));
        for (std::string line; std::getline(lines, line);) {
            line = std::regex_replace(line, std::regex("\\s+"), " ");
            static const std::regex kThread("^(References|In-Reply-To|Thread-Topic|Thread-Index):", std::regex::icase);
            if (std::regex_search(line, kThread))
                fields += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
        }
    }
    return fields;
}

std::string MessageIdCore(const char *id) {
    std::string text = id;
    if (!text.empty() && text.front() == '<') text.erase(0, 1);
    if (!text.empty() && text.back() == '>') text.pop_back();
    return text;
}

// What a message must keep through the store, as text, embedded messages
// included. `original` decides what is compared: all of it when `full`,
// otherwise what every message keeps (a sender without "@" is expanded with
// the folder name, a substituted date is the time of the write).
std::string Facts(const mdat *rec, const std::string &dir, const mdat *original, bool full) {
    std::ostringstream out;
    out << "subject " << rec->subject << "\npriority " << rec->priority << " importance " << rec->importance
        << "\nid " << MessageIdCore(rec->messageId) << "\n";
    if (full || strchr(original->fromAddr, '@')) out << "from " << rec->fromName << " <" << rec->fromAddr << ">\n";
    if (full || !original->dateSubstituted) out << "date " << plat_FileTimeToU64(&rec->date) << "\n";
    std::map<std::string, std::string> attachments;  // by name: the composer may order the parts otherwise
    std::string texts;
    for (int i = 0; i < rec->partCount; i++) {
        const mpart *p = rec->parts[i];
        std::string bytes = bvtest::PartFileText(rec, dir.c_str(), i);
        if (p->partType == BV_PART_TEXT) texts += "text " + bytes.erase(bytes.find_last_not_of("\r\n") + 1) + "\n";
        else if (p->subMsg) texts += "embedded {\n" + Facts(p->subMsg, dir, original, true) + "}\n";
        else if (p->partType != BV_PART_HEADER && p->partType != BV_PART_HTML && p->partType != BV_PART_EMBEDDED)
            if (!bytes.empty()) attachments[p->name] = bytes;
    }
    for (const auto &[name, bytes] : attachments) out << "attachment " << name << " " << bytes << "\n";
    if (!full) return out.str();
    // A recipient without a name is written with its address as the name.
    for (int i = 0; i < rec->recipCount; i++) {
        const mrecip *r = rec->recips[i];
        out << "recip " << r->type << " " << (r->name[0] ? r->name : r->addr) << " <" << r->addr << ">\n";
    }
    return out.str() + ThreadFields(rec, dir) + texts;
}

// The facts of every item the reading side of the module hands over, by
// Message-ID, with its read state.
std::map<std::string, std::string> gReadFacts;

int BV_CALL CollectItem(mdat *rec, const char *, const char *workDir, int) {
    gReadFacts[MessageIdCore(rec->messageId)] = Facts(rec, workDir, rec, true) + (rec->unread ? "unread\n" : "");
    return 0;
}

class RoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetComposeSwitches();
        if (!fs::exists(bvtest::BuildLibrary())) GTEST_SKIP() << "libbvole.so not built";
        setenv("BV_OE_STORE", store.c_str(), 1);
        bvcom_SetSwitches("");
        m = LoadModule();
        ASSERT_TRUE(m);
    }
    void TearDown() override { bvcom_SetSwitches(""); }
    // Parses every file of kMessages and writes it into `folder` below `group`.
    void WriteAll(const std::string &group, const char *folder) {
        mdat *folderRec = NewMailRecord(0);
        com_strncpy(folderRec->groupFolder, group.c_str(), BV_NAME_LEN - 1);
        ASSERT_EQ(m->InitWrite(folderRec, folder, 0, 0), 0);
        int number = 100;
        for (const char *name : kMessages) {
            int result;
            mdat *rec = ParseMessageFile(std::string(BV_COMPOSE_DATA "/") + name, write.path, number++, &result);
            EXPECT_EQ(result, 0) << name;
            com_strncpy(rec->groupFolder, group.c_str(), BV_NAME_LEN - 1);
            EXPECT_EQ(m->WriteMsg(rec, folder, write.path.c_str(), 0), 0) << name;
            FreeMailRecord(rec, write.path);
        }
        EXPECT_EQ(m->CloseWrite(0), 0);
        FreeMailRecord(folderRec, write.path);
    }
    ScratchDir scratch, write, parsed, back;
    fs::path store = scratch.dir.Path() / "store";
    Module m;
};

TEST_F(RoundTripTest, MessagesComeBackFromTheStoreAndThroughTheReadingSide) {
    ASSERT_EQ(Logon(m), 0);
    WriteAll("Migrated", "Inbox^Old");
    // The group folder is made once per session: a second folder lands below
    // Migrated even though its record names another group.
    mdat *folderRec = NewMailRecord(0);
    com_strncpy(folderRec->groupFolder, "Other", BV_NAME_LEN - 1);
    ASSERT_EQ(m->InitWrite(folderRec, "Sent", 0, 0), 0);
    EXPECT_EQ(m->CloseWrite(0), 0);
    EXPECT_EQ(m->Logoff(0), 0);
    FreeMailRecord(folderRec, write.path);
    for (const char *dir : {".Migrated/cur", ".Migrated.Inbox/cur", ".Migrated.Sent/cur"})
        EXPECT_TRUE(fs::is_directory(store / dir)) << dir;
    EXPECT_FALSE(fs::exists(store / ".Other"));
    EXPECT_TRUE(StoredMessages(store / ".Migrated.Inbox").empty());
    EXPECT_TRUE(fs::is_empty(store / ".Migrated.Inbox.Old" / "tmp"));

    std::map<std::string, std::pair<std::string, int>> originals;  // Message-ID -> facts, unread
    for (const char *name : kMessages) {
        int result;
        mdat *rec = ParseMessageFile(std::string(BV_COMPOSE_DATA "/") + name, parsed.path, 1, &result);
        originals[MessageIdCore(rec->messageId)] = {Facts(rec, parsed.path, rec, true), rec->unread};
        FreeMailRecord(rec, parsed.path);
    }
    // The originals hold what the round trip is meant to carry: more than one
    // piece of raw text for the reading side, encoded words, priorities,
    // references, an embedded message with its attachment, an unread one.
    ASSERT_EQ(originals.size(), 6u);
    std::string all;
    for (auto &[id, original] : originals) all += original.first + (original.second ? "unread\n" : "");
    for (const char *feature : {"attachment archive.zip ",
                                "subject Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln \xe2\x82\xac",
                                "priority 2 importance 2", "References: <root.0@example.com> <plain.1@example.com>",
                                "embedded {", "attachment numbers.xls ", "unread\n"})
        EXPECT_NE(all.find(feature), std::string::npos) << feature;
    EXPECT_GT(all.size(), 150000u);

    int stored = 0;
    for (const std::string &file : StoredMessages(store / ".Migrated.Inbox.Old")) {
        int result;
        mdat *rec = ParseMessageFile(file, back.path, 500, &result);
        auto &[facts, unread] = originals[MessageIdCore(rec->messageId)];
        EXPECT_EQ(Facts(rec, back.path, rec, true), facts) << file;
        // Read or unread is the store's state: the Maildir flags.
        EXPECT_EQ(file.find("/new/") != std::string::npos, unread == 1) << file;
        EXPECT_EQ(file.find(":2,S") != std::string::npos, unread == 0) << file;
        FreeMailRecord(rec, back.path);
        stored++;
    }
    EXPECT_EQ(stored, 6);

    // A second instance reads back, through the store object's folder walk,
    // message list, state and raw text, what the first one wrote.
    Module reader = LoadModule();
    ASSERT_EQ(Logon(reader, true), 0);
    bvtest::gCollectedFolderTexts.clear();
    char storePath[BV_HOST_TEXT_LEN] = "";
    EXPECT_EQ(reader->GetFolderNames(storePath, bvtest::CollectFolderText), 0);
    EXPECT_EQ(bvtest::gCollectedFolderTexts,
              std::vector<std::string>({"Migrated {BV:0:FCLASS:0}", "Migrated^Inbox {BV:0:FCLASS:0}",
                                        "Migrated^Inbox^Old {BV:6:FCLASS:0}", "Migrated^Sent {BV:0:FCLASS:0}"}));
    gReadFacts.clear();
    mdat *rec = NewMailRecord(0);
    reader->InitRead(rec, 0, 0, 0, 0, 1000);
    int count = 0, size = 0;
    EXPECT_EQ(reader->ConvertFolder(rec, CollectItem, 2, "", 0, 0, 0, 0, 5000, 0, back.path.c_str(), &count, &size,
                                    bvtest::NeverStop),
              0);
    reader->CloseRead(0);
    reader->Logoff(0);
    FreeMailRecord(rec, back.path);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(gReadFacts.size(), originals.size());
    for (auto &[id, original] : originals)
        EXPECT_EQ(gReadFacts[id], original.first + (original.second ? "unread\n" : "")) << id;
}

// The parser's own case files: each is written into a folder of its own and
// read back; what every record carries must survive.
TEST_F(RoundTripTest, ParserCaseFilesSurviveTheStore) {
    ASSERT_EQ(Logon(m), 0);
    mdat *folderRec = NewMailRecord(0);
    int number = 1, compared = 0;
    for (const auto &entry : fs::directory_iterator(BV_MIME_DATA)) {
        if (entry.path().extension() != ".eml") continue;
        SCOPED_TRACE(entry.path().filename().string());
        int result, backResult;
        mdat *original = ParseMessageFile(entry.path(), write.path, number, &result);
        static mdat asParsed;  // the fields as parsed: the write may fill in a sender or a date
        asParsed = *original;
        std::string want = Facts(original, write.path, &asParsed, false), folder = "Case " + std::to_string(number++);
        if (result == 0) {
            EXPECT_EQ(m->InitWrite(folderRec, folder.c_str(), 0, 0), 0);
            EXPECT_EQ(m->WriteMsg(original, folder.c_str(), write.path.c_str(), 0), 0);
            m->CloseWrite(0);
            std::vector<std::string> stored = StoredMessages(store / ("." + folder));
            ASSERT_EQ(stored.size(), 1u);
            mdat *rec = ParseMessageFile(stored[0], back.path, 900, &backResult);
            EXPECT_EQ(Facts(rec, back.path, &asParsed, false), want);
            compared += backResult == 0;
            FreeMailRecord(rec, back.path);
        }
        FreeMailRecord(original, write.path);
    }
    m->Logoff(0);
    FreeMailRecord(folderRec, write.path);
    EXPECT_GT(compared, 10);
}

// "/D81" on both sides: the parser keeps the original as RAWRFC.dat and the
// composer stores exactly those bytes.
TEST_F(RoundTripTest, D81StoresTheOriginalBytes) {
    gD81 = 1;                   // the parser of this test
    bvcom_SetSwitches("/D81");  // the module's switches
    ASSERT_EQ(Logon(m), 0);
    WriteAll("root", "Raw");
    m->Logoff(0);
    gD81 = 0;
    std::map<std::string, int> originals;
    for (const char *name : kMessages) originals[bvtest::ReadFileText(std::string(BV_COMPOSE_DATA "/") + name)]++;
    std::vector<std::string> stored = StoredMessages(store / ".Raw");
    ASSERT_EQ(stored.size(), originals.size());
    for (const std::string &file : stored) EXPECT_EQ(originals.count(bvtest::ReadFileText(file)), 1u) << file;
}

TEST_F(RoundTripTest, LogonWithoutAStoreReportsTheLibraryMissing) {
    LogCapture log;
    unsetenv("BV_OE_STORE");
    EXPECT_EQ(Logon(m), 4);
    EXPECT_NE(log.Text().find("BV Error: Error CoCreateInstance\nBV Error: OEAPI libraries are not present\n"),
              std::string::npos)
        << log.Text();
    // A root that is a plain file cannot be used either.
    bvtest::WriteFileText(store, "x");
    setenv("BV_OE_STORE", store.c_str(), 1);
    EXPECT_EQ(Logon(m), 4);
    m->Logoff(0);
}

}  // namespace
