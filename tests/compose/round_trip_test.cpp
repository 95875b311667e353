// Round trip through the real entry points: messages parsed from .eml files
// are written with InitWrite / WriteMsg / CloseWrite of libbvole.so into a
// fresh Maildir store, and the stored files are parsed again; every field
// that the record carries must come back.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "compose_test_support.h"
#include "mime/mime.h"
#include "module/exports.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

struct Module {
    void *handle = nullptr;
    BvLogonFn logon = nullptr;
    BvLogoffFn logoff = nullptr;
    BvInitWriteFn initWrite = nullptr;
    BvWriteMsgFn writeMsg = nullptr;
    BvCloseWriteFn closeWrite = nullptr;
    BvGetFolderNamesFn getFolderNames = nullptr;
    BvInitReadFn initRead = nullptr;
    BvConvertFolderFn convertFolder = nullptr;
    BvCloseReadFn closeRead = nullptr;

    // Each load is a fresh session: a copy of the library is mapped, as the
    // host does for its source and target instances.
    bool Load() {
        std::string source = BV_BINARY_DIR "/lib/libbvole.so";
        if (!plat_FileExists(source.c_str())) return false;
        char pattern[] = "/tmp/bv_module_XXXXXX";
        std::string dir = mkdtemp(pattern);
        std::string copy = dir + "/libbvole.so";
        WriteWholeFile(copy, ReadWholeFile(source));
        handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        plat_RemoveDirectoryTree(dir.c_str());
        if (!handle) return false;
        logon = reinterpret_cast<BvLogonFn>(dlsym(handle, "Logon"));
        logoff = reinterpret_cast<BvLogoffFn>(dlsym(handle, "Logoff"));
        initWrite = reinterpret_cast<BvInitWriteFn>(dlsym(handle, "InitWrite"));
        writeMsg = reinterpret_cast<BvWriteMsgFn>(dlsym(handle, "WriteMsg"));
        closeWrite = reinterpret_cast<BvCloseWriteFn>(dlsym(handle, "CloseWrite"));
        getFolderNames = reinterpret_cast<BvGetFolderNamesFn>(dlsym(handle, "GetFolderNames"));
        initRead = reinterpret_cast<BvInitReadFn>(dlsym(handle, "InitRead"));
        convertFolder = reinterpret_cast<BvConvertFolderFn>(dlsym(handle, "ConvertFolder"));
        closeRead = reinterpret_cast<BvCloseReadFn>(dlsym(handle, "CloseRead"));
        return logon && logoff && initWrite && writeMsg && closeWrite && getFolderNames && initRead &&
               convertFolder && closeRead;
    }
    // Logs on as the mail source (the live store).
    int LogonSource() {
        char path[BV_HOST_TEXT_LEN] = "Default user only";
        char outText[BV_HOST_TEXT_LEN] = "x";
        return logon(0, 0, path, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, 1, 0, "", 0);
    }
    // Logs on as the mail target; returns Logon's result.
    int LogonTarget() {
        char path[BV_HOST_TEXT_LEN] = "Default user only";
        char outText[BV_HOST_TEXT_LEN] = "x";
        return logon(0, 0, path, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, 0, 0, "", 0);
    }
};

// A parsed message: the record, the work directory that holds its parts.
struct Parsed {
    mdat *rec = nullptr;
    int result = -1;
};

Parsed ParseFile(const std::string &path, const std::string &workDir, int msgNumber) {
    Parsed p;
    p.rec = NewMailRecord(msgNumber);
    FILE *in = fopen(path.c_str(), "rb");
    EXPECT_NE(in, nullptr) << path;
    if (!in) return p;
    p.result = Parse_RFC822_Msg(in, p.rec, workDir.c_str(), "", 1);
    fclose(in);
    return p;
}

std::vector<std::string> ListFiles(const std::string &dir) {
    std::vector<std::string> names;
    PlatFindData data;
    PlatFind *find = plat_FindFirstFile((dir + "/*.*").c_str(), &data);
    if (!find) return names;
    do {
        if (!data.isDirectory) names.push_back(dir + "/" + data.name);
    } while (plat_FindNextFile(find, &data));
    plat_FindClose(find);
    return names;
}

std::vector<std::string> StoredMessages(const std::string &maildir) {
    std::vector<std::string> files = ListFiles(maildir + "/new");
    for (const std::string &f : ListFiles(maildir + "/cur")) files.push_back(f);
    return files;
}

// The header lines named `name` of a header part file, unfolded, blanks
// collapsed.
std::string HeaderValue(const mdat *rec, const std::string &workDir, const char *name) {
    for (int i = 0; i < rec->partCount; i++) {
        if (!rec->parts[i] || rec->parts[i]->partType != BV_PART_HEADER) continue;
        char path[1024];
        com_PartFileName(workDir.c_str(), rec, i, path, sizeof path);
        std::string text = ReadWholeFile(path), value;
        bool inside = false;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            start = end + 1;
            if (line.empty()) break;
            if (line[0] == ' ' || line[0] == '\t') {
                if (inside) value += " " + line.substr(line.find_first_not_of(" \t"));
                continue;
            }
            inside = strncasecmp(line.c_str(), name, strlen(name)) == 0 && line[strlen(name)] == ':';
            if (inside) value += line.substr(strlen(name) + 1);
        }
        size_t first = value.find_first_not_of(' ');
        return first == std::string::npos ? "" : value.substr(first);
    }
    return "";
}

// Every attachment-like part: name -> bytes.
std::map<std::string, std::string> AttachmentBytes(const mdat *rec, const std::string &workDir) {
    std::map<std::string, std::string> out;
    for (int i = 0; i < rec->partCount; i++) {
        const mpart *p = rec->parts[i];
        if (!p || p->partType == BV_PART_HEADER || p->partType == BV_PART_TEXT || p->partType == BV_PART_HTML ||
            p->partType == BV_PART_EMBEDDED)
            continue;
        char path[1024];
        com_PartFileName(workDir.c_str(), rec, i, path, sizeof path);
        out[p->name] = ReadWholeFile(path);
    }
    return out;
}

std::string TextBody(const mdat *rec, const std::string &workDir, int partType) {
    for (int i = 0; i < rec->partCount; i++) {
        if (!rec->parts[i] || rec->parts[i]->partType != partType) continue;
        char path[1024];
        com_PartFileName(workDir.c_str(), rec, i, path, sizeof path);
        std::string text = ReadWholeFile(path);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
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
void ExpectSameMessage(const mdat *a, const std::string &dirA, const mdat *b, const std::string &dirB,
                       const std::string &label) {
    SCOPED_TRACE(label);
    EXPECT_STREQ(a->fromName, b->fromName);
    EXPECT_STREQ(a->fromAddr, b->fromAddr);
    EXPECT_EQ(Recipients(a), Recipients(b));
    EXPECT_STREQ(a->subject, b->subject);
    EXPECT_EQ(a->date.dwLowDateTime, b->date.dwLowDateTime);
    EXPECT_EQ(a->date.dwHighDateTime, b->date.dwHighDateTime);
    EXPECT_EQ(a->priority, b->priority);
    EXPECT_EQ(a->importance, b->importance);
    EXPECT_EQ(MessageIdCore(a->messageId), MessageIdCore(b->messageId));
    for (const char *name : {"References", "In-Reply-To", "Thread-Topic", "Thread-Index"}) {
        EXPECT_EQ(HeaderValue(a, dirA, name), HeaderValue(b, dirB, name)) << name;
    }
    EXPECT_EQ(TextBody(a, dirA, BV_PART_TEXT), TextBody(b, dirB, BV_PART_TEXT));
    EXPECT_EQ(AttachmentBytes(a, dirA), AttachmentBytes(b, dirB));
    std::vector<const mdat *> embeddedA, embeddedB;
    for (int i = 0; i < a->partCount; i++)
        if (a->parts[i] && a->parts[i]->subMsg) embeddedA.push_back(a->parts[i]->subMsg);
    for (int i = 0; i < b->partCount; i++)
        if (b->parts[i] && b->parts[i]->subMsg) embeddedB.push_back(b->parts[i]->subMsg);
    ASSERT_EQ(embeddedA.size(), embeddedB.size());
    for (size_t i = 0; i < embeddedA.size(); i++) {
        ExpectSameMessage(embeddedA[i], dirA, embeddedB[i], dirB, label + " (embedded)");
    }
}

size_t SizeOf(const std::map<std::string, std::string> &parts, const std::string &name) {
    auto it = parts.find(name);
    return it == parts.end() ? 0 : it->second.size();
}

// The originals hold what the round trip is meant to carry.
void ExpectVariedOriginals(const std::map<std::string, Parsed> &originals, const std::string &dir) {
    ASSERT_EQ(originals.size(), 6u);
    // More than one piece of raw text when the reading side fetches it.
    EXPECT_EQ(SizeOf(AttachmentBytes(originals.at("large.7@example.com").rec, dir), "archive.zip"), 150000u);
    const mdat *enc = originals.at("enc.2@example.de").rec;
    EXPECT_STREQ(enc->subject, "Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln \xe2\x82\xac");
    EXPECT_STREQ(enc->fromName, "J\xc3\xb6rg M\xc3\xbcller");
    EXPECT_EQ(enc->unread, 1);
    EXPECT_EQ(enc->priority, 0);
    EXPECT_EQ(enc->importance, 0);
    std::map<std::string, std::string> parts = AttachmentBytes(enc, dir);
    EXPECT_EQ(SizeOf(parts, "report 2024.pdf"), 20000u);
    EXPECT_EQ(SizeOf(parts, "Fr\xc3\xbchling.png"), 3000u);
    const mdat *plain = originals.at("plain.1@example.com").rec;
    EXPECT_EQ(plain->recipCount, 3);
    EXPECT_EQ(plain->priority, 2);
    EXPECT_EQ(plain->importance, 2);
    EXPECT_EQ(plain->unread, 0);
    EXPECT_EQ(SizeOf(AttachmentBytes(originals.at("html.3@example.com").rec, dir), "logo.gif"), 4100u);
    const mdat *reply = originals.at("reply.4@example.org").rec;
    EXPECT_EQ(HeaderValue(reply, dir, "References"), "<root.0@example.com> <plain.1@example.com>");
    EXPECT_STREQ(reply->messageId, "reply.4@example.org") << "stored without brackets";
    const mdat *fwd = originals.at("fwd.5@example.org").rec;
    const mdat *inner = nullptr;
    for (int i = 0; i < fwd->partCount; i++)
        if (fwd->parts[i]->subMsg) inner = fwd->parts[i]->subMsg;
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(SizeOf(AttachmentBytes(inner, dir), "numbers.xls"), 777u);
}

class RoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetComposeSwitches();
        if (!m.Load()) GTEST_SKIP() << "libbvole.so not built";
        char pattern[] = "/tmp/bv_store_XXXXXX";
        store = mkdtemp(pattern);
        setenv("BV_OE_STORE", store.c_str(), 1);
        bvcom_SetSwitches("");
    }
    void TearDown() override {
        if (!store.empty()) plat_RemoveDirectoryTree(store.c_str());
        bvcom_SetSwitches("");
    }
    std::string store;
    Module m;
};

const char *const kMessages[] = {"plain_three_recipients.eml", "encoded_subject_attachments.eml",
                                 "html_related_inline.eml", "thread_references.eml", "forwarded_embedded.eml",
                                 "large_attachment.eml"};

TEST_F(RoundTripTest, ParsedMessagesComeBackFromTheStore) {
    ASSERT_EQ(m.LogonTarget(), 0);
    ScratchDir parsedDir, writeDir, backDir;
    std::map<std::string, Parsed> originals;  // by Message-ID
    mdat *folderRec = NewMailRecord(0);
    com_strncpy(folderRec->groupFolder, "Migrated", BV_NAME_LEN - 1);
    ASSERT_EQ(m.initWrite(folderRec, "Inbox^Old", 0, 0), 0);
    int number = 1;
    for (const char *name : kMessages) {
        Parsed p = ParseFile(std::string(BV_COMPOSE_DATA "/") + name, parsedDir.path, number++);
        ASSERT_EQ(p.result, 0) << name;
        originals[MessageIdCore(p.rec->messageId)] = p;
        // The write side gets its own copy of the record (the composer turns
        // the date into local time in place).
        Parsed copy = ParseFile(std::string(BV_COMPOSE_DATA "/") + name, writeDir.path, number + 100);
        com_strncpy(copy.rec->groupFolder, "Migrated", BV_NAME_LEN - 1);
        EXPECT_EQ(m.writeMsg(copy.rec, "Inbox^Old", writeDir.path.c_str(), 0), 0);
        FreeMailRecord(copy.rec, writeDir.path);
    }
    EXPECT_EQ(m.closeWrite(0), 0);
    ExpectVariedOriginals(originals, parsedDir.path);
    // The group folder is made once per session: a second folder lands below
    // Migrated even though this record names another group.
    com_strncpy(folderRec->groupFolder, "Other", BV_NAME_LEN - 1);
    ASSERT_EQ(m.initWrite(folderRec, "Sent", 0, 0), 0);
    EXPECT_EQ(m.closeWrite(0), 0);
    EXPECT_EQ(m.logoff(0), 0);
    FreeMailRecord(folderRec, writeDir.path);

    EXPECT_TRUE(plat_DirectoryExists((store + "/.Migrated/cur").c_str()));
    EXPECT_TRUE(plat_DirectoryExists((store + "/.Migrated.Inbox/cur").c_str()));
    EXPECT_TRUE(plat_DirectoryExists((store + "/.Migrated.Sent/cur").c_str()));
    EXPECT_FALSE(plat_DirectoryExists((store + "/.Other").c_str()));
    EXPECT_TRUE(StoredMessages(store + "/.Migrated.Inbox").empty());
    std::vector<std::string> stored = StoredMessages(store + "/.Migrated.Inbox.Old");
    ASSERT_EQ(stored.size(), originals.size());
    EXPECT_TRUE(ListFiles(store + "/.Migrated.Inbox.Old/tmp").empty());

    int number2 = 500;
    for (const std::string &file : stored) {
        Parsed back = ParseFile(file, backDir.path, number2++);
        ASSERT_EQ(back.result, 0) << file;
        std::string id = MessageIdCore(back.rec->messageId);
        ASSERT_EQ(originals.count(id), 1u) << id;
        const Parsed &original = originals[id];
        ExpectSameMessage(original.rec, parsedDir.path, back.rec, backDir.path, id);
        // Read or unread is the store's state: the Maildir flags.
        bool inNew = file.find("/new/") != std::string::npos;
        EXPECT_EQ(inNew, original.rec->unread == 1) << file;
        EXPECT_EQ(file.find(":2,S") != std::string::npos, original.rec->unread == 0) << file;
        FreeMailRecord(back.rec, backDir.path);
    }
    for (auto &entry : originals) FreeMailRecord(entry.second.rec, parsedDir.path);
}

// The parser's own case files: each is written into a folder of its own and
// read back; what the record carries must survive.
TEST_F(RoundTripTest, ParserCaseFilesSurviveTheStore) {
    std::vector<std::string> names;
    PlatFindData data;
    PlatFind *find = plat_FindFirstFile(BV_MIME_DATA "/*.eml", &data);
    if (!find) GTEST_SKIP() << "no parser case files";
    do {
        names.push_back(data.name);
    } while (plat_FindNextFile(find, &data));
    plat_FindClose(find);
    ASSERT_EQ(m.LogonTarget(), 0);
    ScratchDir parsedDir, writeDir, backDir;
    mdat *folderRec = NewMailRecord(0);
    int number = 1, compared = 0;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        std::string path = std::string(BV_MIME_DATA "/") + name;
        Parsed original = ParseFile(path, parsedDir.path, number);
        Parsed copy = ParseFile(path, writeDir.path, number);
        number++;
        if (original.result == 0 && copy.result == 0) {
            std::string folder = "Case " + std::to_string(number);
            EXPECT_EQ(m.initWrite(folderRec, folder.c_str(), 0, 0), 0);
            EXPECT_EQ(m.writeMsg(copy.rec, folder.c_str(), writeDir.path.c_str(), 0), 0);
            m.closeWrite(0);
            std::vector<std::string> stored = StoredMessages(store + "/." + folder);
            EXPECT_EQ(stored.size(), 1u);
            if (stored.size() == 1) {
                Parsed back = ParseFile(stored[0], backDir.path, 900 + number);
                EXPECT_EQ(back.result, 0);
                if (back.result == 0) {
                    compared++;
                    EXPECT_STREQ(original.rec->subject, back.rec->subject);
                    // A sender without "@" is expanded with the folder name.
                    if (strchr(original.rec->fromAddr, '@')) {
                        EXPECT_STREQ(original.rec->fromName, back.rec->fromName);
                        EXPECT_STREQ(original.rec->fromAddr, back.rec->fromAddr);
                    }
                    EXPECT_EQ(original.rec->priority, back.rec->priority);
                    EXPECT_EQ(original.rec->importance, back.rec->importance);
                    EXPECT_EQ(MessageIdCore(original.rec->messageId), MessageIdCore(back.rec->messageId));
                    if (!original.rec->dateSubstituted) {
                        EXPECT_EQ(plat_FileTimeToU64(&original.rec->date), plat_FileTimeToU64(&back.rec->date));
                    }
                    // An empty part file gives an empty part, which the parser drops.
                    std::map<std::string, std::string> before = AttachmentBytes(original.rec, parsedDir.path);
                    std::erase_if(before, [](const auto &entry) { return entry.second.empty(); });
                    EXPECT_EQ(before, AttachmentBytes(back.rec, backDir.path));
                }
                FreeMailRecord(back.rec, backDir.path);
            }
        }
        FreeMailRecord(original.rec, parsedDir.path);
        FreeMailRecord(copy.rec, writeDir.path);
    }
    m.logoff(0);
    FreeMailRecord(folderRec, writeDir.path);
    EXPECT_GT(compared, 10);
}

// What the reading side of the module sees of a folder.
struct ReadItem {
    std::string subject;
    int unread;
    std::map<std::string, std::string> attachments;
};
std::vector<std::string> gFolderTexts;
std::vector<ReadItem> gReadItems;

int BV_CALL CollectFolder(const char *text) {
    gFolderTexts.push_back(text);
    return 0;
}

int BV_CALL CollectItem(mdat *rec, const char *, const char *workDir, int) {
    gReadItems.push_back({rec->subject, rec->unread, AttachmentBytes(rec, workDir)});
    return 0;
}

int BV_CALL IgnoreStatus(mdat *, const char *, int, int *, int *, int *) { return 0; }

// A second instance of the module reads back, through the store object's
// folder walk, message list, state and raw text, what the first one wrote.
TEST_F(RoundTripTest, ReadingSideListsAndReadsTheStore) {
    ASSERT_EQ(m.LogonTarget(), 0);
    ScratchDir parsedDir, writeDir, readDir;
    mdat *folderRec = NewMailRecord(0);
    com_strncpy(folderRec->groupFolder, "Migrated", BV_NAME_LEN - 1);
    ASSERT_EQ(m.initWrite(folderRec, "Inbox^Old", 0, 0), 0);
    std::map<std::string, ReadItem> expected;  // by subject
    int number = 1;
    for (const char *name : kMessages) {
        Parsed p = ParseFile(std::string(BV_COMPOSE_DATA "/") + name, writeDir.path, number++);
        ASSERT_EQ(p.result, 0);
        expected[p.rec->subject] = {p.rec->subject, p.rec->unread, AttachmentBytes(p.rec, writeDir.path)};
        EXPECT_EQ(m.writeMsg(p.rec, "Inbox^Old", writeDir.path.c_str(), 0), 0);
        FreeMailRecord(p.rec, writeDir.path);
    }
    m.closeWrite(0);
    m.logoff(0);

    Module reader;
    ASSERT_TRUE(reader.Load());
    ASSERT_EQ(reader.LogonSource(), 0);
    gFolderTexts.clear();
    char storePath[BV_HOST_TEXT_LEN] = "";
    EXPECT_EQ(reader.getFolderNames(storePath, CollectFolder), 0);
    const std::vector<std::string> folders = {"Migrated {BV:0:FCLASS:0}", "Migrated^Inbox {BV:0:FCLASS:0}",
                                              "Migrated^Inbox^Old {BV:6:FCLASS:0}"};
    EXPECT_EQ(gFolderTexts, folders);
    gReadItems.clear();
    mdat *rec = NewMailRecord(0);
    reader.initRead(rec, 0, 0, 0, 0, 1000);
    int count = 0, size = 0;
    EXPECT_EQ(reader.convertFolder(rec, CollectItem, 2, "", 0, 0, 0, 0, 5000, 0, readDir.path.c_str(), &count, &size,
                                   IgnoreStatus),
              0);
    reader.closeRead(0);
    reader.logoff(0);
    FreeMailRecord(rec, readDir.path);
    FreeMailRecord(folderRec, writeDir.path);
    EXPECT_EQ(count, 6);
    ASSERT_EQ(gReadItems.size(), expected.size());
    for (const ReadItem &item : gReadItems) {
        ASSERT_EQ(expected.count(item.subject), 1u) << item.subject;
        EXPECT_EQ(item.unread, expected[item.subject].unread) << item.subject;
        EXPECT_EQ(item.attachments, expected[item.subject].attachments) << item.subject;
    }
}

// "/D81" on both sides: the parser keeps the original as RAWRFC.dat and the
// composer stores exactly those bytes.
TEST_F(RoundTripTest, D81StoresTheOriginalBytes) {
    gD81 = 1;  // the parser of this test
    bvcom_SetSwitches("/D81");  // the module's switches
    ASSERT_EQ(m.LogonTarget(), 0);
    ScratchDir writeDir;
    mdat *folderRec = NewMailRecord(0);
    ASSERT_EQ(m.initWrite(folderRec, "Raw", 0, 0), 0);
    std::map<std::string, std::string> originals;  // original bytes -> file name
    int number = 1;
    for (const char *name : kMessages) {
        std::string path = std::string(BV_COMPOSE_DATA "/") + name;
        Parsed p = ParseFile(path, writeDir.path, number++);
        ASSERT_EQ(p.result, 0);
        EXPECT_EQ(m.writeMsg(p.rec, "Raw", writeDir.path.c_str(), 0), 0);
        FreeMailRecord(p.rec, writeDir.path);
        originals[ReadWholeFile(path)] = name;
    }
    m.closeWrite(0);
    m.logoff(0);
    FreeMailRecord(folderRec, writeDir.path);
    gD81 = 0;
    std::vector<std::string> stored = StoredMessages(store + "/.Raw");
    ASSERT_EQ(stored.size(), originals.size());
    for (const std::string &file : stored) EXPECT_EQ(originals.count(ReadWholeFile(file)), 1u) << file;
}

TEST_F(RoundTripTest, StoreOpensWithPythonMailbox) {
    if (system("python3 -c 'import mailbox' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    bvcom_SetSwitches("/D133");
    ASSERT_EQ(m.LogonTarget(), 0);
    ScratchDir writeDir;
    mdat *folderRec = NewMailRecord(0);
    ASSERT_EQ(m.initWrite(folderRec, "Inbox", 0, 0), 0);
    int number = 1;
    for (const char *name : kMessages) {
        Parsed p = ParseFile(std::string(BV_COMPOSE_DATA "/") + name, writeDir.path, number++);
        ASSERT_EQ(p.result, 0);
        EXPECT_EQ(m.writeMsg(p.rec, "Inbox", writeDir.path.c_str(), 0), 0);
        FreeMailRecord(p.rec, writeDir.path);
    }
    m.closeWrite(0);
    m.logoff(0);
    FreeMailRecord(folderRec, writeDir.path);
    std::string command = "python3 " BV_OEAPI_SCRIPT " '" + store + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string listing;
    char line[512];
    while (fgets(line, sizeof line, pipe)) listing += line;
    EXPECT_EQ(pclose(pipe), 0);
    // The group "root" makes no folder: Inbox is top level, with every message.
    EXPECT_NE(listing.find("F 496e626f78 6\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("F - 0\n"), std::string::npos) << listing;
}

TEST_F(RoundTripTest, LogonWithoutAStoreReportsTheLibraryMissing) {
    LogCapture log;
    unsetenv("BV_OE_STORE");
    EXPECT_EQ(m.LogonTarget(), 4);
    std::string text = log.Text();
    EXPECT_NE(text.find("BV Error: Error CoCreateInstance\nBV Error: OEAPI libraries are not present\n"),
              std::string::npos)
        << text;
    // A root that is a plain file cannot be used either.
    std::string file = store + "/file";
    WriteWholeFile(file, "x");
    setenv("BV_OE_STORE", file.c_str(), 1);
    EXPECT_EQ(m.LogonTarget(), 4);
    m.logoff(0);
}

}  // namespace
