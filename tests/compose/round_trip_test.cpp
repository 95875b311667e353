// Round trip through the real entry points: messages parsed from .eml files
// are written with InitWrite / WriteMsg / CloseWrite of libbvole.so into a
// fresh Maildir store; the stored files are parsed again, and a second
// instance of the module reads the store back. Every field that the record
// carries must come back.
#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "compose_test_support.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"
#include "support/host_callbacks.h"
#include "support/module_loader.h"
#include "support/program_run.h"

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

// The header lines named `name` of the header part, unfolded.
std::string HeaderValue(const mdat *rec, const std::string &workDir, const std::string &name) {
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i]->partType != BV_PART_HEADER) continue;
        std::string text = bvtest::PartFileText(rec, workDir.c_str(), i), value;
        bool inside = false;
        for (size_t start = 0, end; start < text.size() && text[start] != '\r' && text[start] != '\n'; start = end + 1) {
            end = std::min(text.find('\n', start), text.size());
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line[0] == ' ' || line[0] == '\t') {
                if (inside) value += " " + line.substr(line.find_first_not_of(" \t"));
            } else if ((inside = strncasecmp(line.c_str(), (name + ":").c_str(), name.size() + 1) == 0)) {
                value += line.substr(line.find_first_not_of(' ', name.size() + 1));
            }
        }
        return value;
    }
    return "";
}

// Every attachment-like part: name -> bytes.
std::map<std::string, std::string> AttachmentBytes(const mdat *rec, const std::string &workDir) {
    std::map<std::string, std::string> out;
    for (int i = 0; i < rec->partCount; i++) {
        int type = rec->parts[i]->partType;
        if (type != BV_PART_HEADER && type != BV_PART_TEXT && type != BV_PART_HTML && type != BV_PART_EMBEDDED)
            out[rec->parts[i]->name] = bvtest::PartFileText(rec, workDir.c_str(), i);
    }
    return out;
}

std::string TextBody(const mdat *rec, const std::string &workDir) {
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i]->partType != BV_PART_TEXT) continue;
        std::string text = bvtest::PartFileText(rec, workDir.c_str(), i);
        return text.erase(text.find_last_not_of("\r\n") + 1);
    }
    return "";
}

// Recipients as text; a recipient without a name is written with its
// address as the name, so that is what comes back.
std::string Recipients(const mdat *rec) {
    std::string out;
    for (int i = 0; i < rec->recipCount; i++) {
        const mrecip *r = rec->recips[i];
        out += std::to_string(r->type) + ":" + (r->name[0] ? r->name : r->addr) + "<" + r->addr + ">;";
    }
    return out;
}

std::string MessageIdCore(const char *id) {
    std::string text = id;
    if (!text.empty() && text.front() == '<') text.erase(0, 1);
    if (!text.empty() && text.back() == '>') text.pop_back();
    return text;
}

// Compares two records and what hangs from them, embedded messages included.
// full: the fields of a message written as it is; otherwise those that every
// message keeps (a sender without "@" is expanded with the folder name, a
// substituted date is the time of the write, an empty part is dropped).
void ExpectSameMessage(const mdat *a, const std::string &dirA, const mdat *b, const std::string &dirB, bool full) {
    EXPECT_STREQ(a->subject, b->subject);
    EXPECT_EQ(a->priority, b->priority);
    EXPECT_EQ(a->importance, b->importance);
    EXPECT_EQ(MessageIdCore(a->messageId), MessageIdCore(b->messageId));
    if (full || strchr(a->fromAddr, '@')) {
        EXPECT_STREQ(a->fromName, b->fromName);
        EXPECT_STREQ(a->fromAddr, b->fromAddr);
    }
    if (full || !a->dateSubstituted) {
        EXPECT_EQ(plat_FileTimeToU64(&a->date), plat_FileTimeToU64(&b->date));
    }
    std::map<std::string, std::string> before = AttachmentBytes(a, dirA);
    std::erase_if(before, [](const auto &entry) { return entry.second.empty(); });
    EXPECT_EQ(before, AttachmentBytes(b, dirB));
    if (!full) return;
    EXPECT_EQ(Recipients(a), Recipients(b));
    for (const char *name : {"References", "In-Reply-To", "Thread-Topic", "Thread-Index"})
        EXPECT_EQ(HeaderValue(a, dirA, name), HeaderValue(b, dirB, name)) << name;
    EXPECT_EQ(TextBody(a, dirA), TextBody(b, dirB));
    std::vector<const mdat *> embeddedA, embeddedB;
    for (int i = 0; i < a->partCount; i++)
        if (a->parts[i]->subMsg) embeddedA.push_back(a->parts[i]->subMsg);
    for (int i = 0; i < b->partCount; i++)
        if (b->parts[i]->subMsg) embeddedB.push_back(b->parts[i]->subMsg);
    ASSERT_EQ(embeddedA.size(), embeddedB.size());
    for (size_t i = 0; i < embeddedA.size(); i++) ExpectSameMessage(embeddedA[i], dirA, embeddedB[i], dirB, true);
}

// What the reading side of the module hands over.
std::vector<std::pair<std::string, std::map<std::string, std::string>>> gReadItems;  // subject, attachments
std::vector<int> gReadUnread;

int BV_CALL CollectItem(mdat *rec, const char *, const char *workDir, int) {
    gReadItems.emplace_back(rec->subject, AttachmentBytes(rec, workDir));
    gReadUnread.push_back(rec->unread);
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

    std::map<std::string, mdat *> originals;  // by Message-ID
    int number = 1, result;
    for (const char *name : kMessages) {
        mdat *rec = ParseMessageFile(std::string(BV_COMPOSE_DATA "/") + name, parsed.path, number++, &result);
        originals[MessageIdCore(rec->messageId)] = rec;
    }
    // The originals hold what the round trip is meant to carry: more than one
    // piece of raw text for the reading side, encoded words, every priority,
    // references, an embedded message with its attachment.
    ASSERT_EQ(originals.size(), 6u);
    EXPECT_EQ(AttachmentBytes(originals["large.7@example.com"], parsed.path)["archive.zip"].size(), 150000u);
    const mdat *enc = originals["enc.2@example.de"];
    EXPECT_STREQ(enc->subject, "Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln \xe2\x82\xac");
    EXPECT_EQ(enc->unread * 100 + enc->priority * 10 + enc->importance, 100);
    EXPECT_EQ(AttachmentBytes(enc, parsed.path)["Fr\xc3\xbchling.png"].size(), 3000u);
    const mdat *plain = originals["plain.1@example.com"];
    EXPECT_EQ(plain->recipCount * 1000 + plain->unread * 100 + plain->priority * 10 + plain->importance, 3022);
    EXPECT_EQ(HeaderValue(originals["reply.4@example.org"], parsed.path, "References"),
              "<root.0@example.com> <plain.1@example.com>");
    const mdat *fwd = originals["fwd.5@example.org"], *inner = nullptr;
    for (int i = 0; i < fwd->partCount; i++) inner = fwd->parts[i]->subMsg ? fwd->parts[i]->subMsg : inner;
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(AttachmentBytes(inner, parsed.path)["numbers.xls"].size(), 777u);

    std::vector<std::string> stored = StoredMessages(store / ".Migrated.Inbox.Old");
    ASSERT_EQ(stored.size(), originals.size());
    for (const std::string &file : stored) {
        mdat *rec = ParseMessageFile(file, back.path, 500, &result);
        std::string id = MessageIdCore(rec->messageId);
        ASSERT_EQ(originals.count(id), 1u) << id;
        SCOPED_TRACE(id);
        ExpectSameMessage(originals[id], parsed.path, rec, back.path, true);
        // Read or unread is the store's state: the Maildir flags.
        EXPECT_EQ(file.find("/new/") != std::string::npos, originals[id]->unread == 1);
        EXPECT_EQ(file.find(":2,S") != std::string::npos, originals[id]->unread == 0);
        FreeMailRecord(rec, back.path);
    }

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
    gReadItems.clear();
    gReadUnread.clear();
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
    ASSERT_EQ(gReadItems.size(), originals.size());
    for (auto &[id, original] : originals) {
        size_t i = 0;
        while (i < gReadItems.size() && gReadItems[i].first != original->subject) i++;
        ASSERT_LT(i, gReadItems.size()) << original->subject;
        EXPECT_EQ(gReadUnread[i], original->unread) << id;
        EXPECT_EQ(gReadItems[i].second, AttachmentBytes(original, parsed.path)) << id;
        FreeMailRecord(original, parsed.path);
    }
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
        int result, copyResult, backResult;
        mdat *original = ParseMessageFile(entry.path(), parsed.path, number, &result);
        mdat *copy = ParseMessageFile(entry.path(), write.path, number, &copyResult);
        std::string folder = "Case " + std::to_string(number++);
        if (result == 0 && copyResult == 0) {
            EXPECT_EQ(m->InitWrite(folderRec, folder.c_str(), 0, 0), 0);
            EXPECT_EQ(m->WriteMsg(copy, folder.c_str(), write.path.c_str(), 0), 0);
            m->CloseWrite(0);
            std::vector<std::string> stored = StoredMessages(store / ("." + folder));
            EXPECT_EQ(stored.size(), 1u);
            mdat *rec = stored.size() == 1 ? ParseMessageFile(stored[0], back.path, 900, &backResult) : nullptr;
            if (rec && backResult == 0) {
                compared++;
                ExpectSameMessage(original, parsed.path, rec, back.path, false);
            }
            FreeMailRecord(rec, back.path);
        }
        FreeMailRecord(original, parsed.path);
        FreeMailRecord(copy, write.path);
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

TEST_F(RoundTripTest, StoreOpensWithPythonMailbox) {
    bvcom_SetSwitches("/D133");
    ASSERT_EQ(Logon(m), 0);
    WriteAll("root", "Inbox");
    m->Logoff(0);
    bvtest::ProgramRun run =
        bvtest::RunProgram("python3 " BV_OEAPI_SCRIPT " " + bvtest::ShellQuote(store.string()), scratch.dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    // The group "root" makes no folder: Inbox is top level, with every message.
    EXPECT_NE(run.out.find("F 496e626f78 6\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("F - 0\n"), std::string::npos) << run.out;
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
