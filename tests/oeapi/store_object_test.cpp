// The Maildir-backed store object, driven through the COM stand-in exactly as
// the module drives it, and read back by Python's mailbox module.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

using namespace std::string_literals;

namespace {

// A scratch directory named as the store's root by BV_OE_STORE.
struct TempStore {
    bvtest::TempDir dir{"bv_oeapi"};
    std::string root = dir.Path().string();
    TempStore() { setenv("BV_OE_STORE", root.c_str(), 1); }
};

HRESULT CreateStore(OeRoot **out) {
    return plat_CoCreateInstance(&CLSID_OEAPI, nullptr, BV_CLSCTX_ALL_SERVERS, &IID_IOEAPI,
                                 reinterpret_cast<void **>(out));
}

BSTR MakeBstr(const std::u16string &text) {
    return plat_SysAllocStringLen(reinterpret_cast<const WCHAR *>(text.data()), static_cast<uint32_t>(text.size()));
}

// Bytes as the module hands them over: each byte one UTF-16 unit (code page 28591).
BSTR BytesToBstr(const std::string &bytes) {
    std::u16string units;
    for (unsigned char c : bytes) units += static_cast<char16_t>(c);
    return MakeBstr(units);
}

std::u16string FromBstr(BSTR text) {
    return std::u16string(reinterpret_cast<const char16_t *>(text), plat_SysStringLen(text));
}

std::u16string FolderName(OeFolder *folder) {
    BSTR name = nullptr;
    EXPECT_EQ(folder->lpVtbl->GetName(folder, &name), S_OK);
    std::u16string text = name ? FromBstr(name) : u"";
    plat_SysFreeString(name);
    return text;
}

uint32_t CreateFolder(OeRoot *root, uint32_t parent, const std::u16string &name) {
    BSTR text = MakeBstr(name);
    uint32_t id = 0xFFFFFFFF;
    EXPECT_EQ(root->lpVtbl->CreateFolder(root, parent, text, &id), S_OK);
    plat_SysFreeString(text);
    return id;
}

// Every folder below `folder` as "parent/child" paths ('|' between levels).
void WalkFolders(OeFolder *folder, const std::u16string &prefix, std::map<std::u16string, uint32_t> &out) {
    OeFolder *child = nullptr;
    HRESULT hr = folder->lpVtbl->GetFirstChild(folder, &child);
    while (SUCCEEDED(hr) && child) {
        std::u16string path = prefix.empty() ? FolderName(child) : prefix + u"|" + FolderName(child);
        uint32_t id = 0;
        child->lpVtbl->GetID(child, &id);
        out[path] = id;
        WalkFolders(child, path, out);
        child->lpVtbl->Release(child);
        hr = folder->lpVtbl->GetNextChild(folder, &child);
    }
    EXPECT_EQ(hr, OE_E_NO_MORE_ITEMS);
    EXPECT_EQ(child, nullptr);
}

OeMessage *CreateMessage(OeRoot *root, uint32_t folderId, const std::string &bytes, bool unread, bool commit = true) {
    OeFolder *folder = nullptr;
    EXPECT_EQ(root->lpVtbl->GetFolder(root, folderId, &folder), S_OK);
    OeMessage *message = nullptr;
    BSTR text = BytesToBstr(bytes);
    EXPECT_EQ(folder->lpVtbl->CreateMessage(folder, text, unread ? 1 : 0, &message), S_OK);
    plat_SysFreeString(text);
    folder->lpVtbl->Release(folder);
    if (commit && message) {
        int32_t ok = 0;
        EXPECT_EQ(message->lpVtbl->Commit(message, &ok), S_OK);
        EXPECT_EQ(ok, 1);
    }
    return message;
}

// Reads the raw text piece by piece as the store reader does.
std::string ReadRawText(OeMessage *message, int32_t maxChars, size_t *pieces) {
    std::string bytes;
    *pieces = 0;
    for (int guard = 0; guard < 100000; guard++) {
        BSTR piece = nullptr;
        EXPECT_EQ(message->lpVtbl->GetNextRawText(message, maxChars, &piece), S_OK);
        std::u16string units = FromBstr(piece);
        plat_SysFreeString(piece);
        EXPECT_LE(units.size(), static_cast<size_t>(maxChars));
        if (units.empty()) break;
        (*pieces)++;
        for (char16_t u : units) {
            EXPECT_LT(u, 0x100);
            bytes += static_cast<char>(u);
        }
    }
    return bytes;
}

int32_t MessageCount(OeRoot *root, uint32_t folderId) {
    OeFolder *folder = nullptr;
    EXPECT_EQ(root->lpVtbl->GetFolder(root, folderId, &folder), S_OK);
    int32_t count = -1;
    folder->lpVtbl->GetMessageCount(folder, &count);
    folder->lpVtbl->Release(folder);
    return count;
}

std::string AllBytes(size_t length) {
    std::string bytes;
    for (size_t i = 0; i < length; i++) bytes += static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

std::string Sha256Hex(const std::string &bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), digest);
    char hex[2 * SHA256_DIGEST_LENGTH + 1];
    for (int i = 0; i < SHA256_DIGEST_LENGTH; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

std::string Utf8Hex(const std::u16string &text) {
    std::string utf8(text.size() * 3 + 1, '\0');
    int n = plat_WideCharToMultiByte(CP_UTF8, reinterpret_cast<const WCHAR *>(text.data()),
                                     static_cast<int>(text.size()), utf8.data(), static_cast<int>(utf8.size()));
    utf8.resize(n > 0 ? n : 0);
    if (utf8.empty()) return "-";
    std::string hex;
    char pair[3];
    for (unsigned char c : utf8) {
        snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

TEST(OeStoreObject, CreationNeedsAUsableRoot) {
    TempStore store;
    OeRoot *root = nullptr;
    EXPECT_TRUE(FAILED(plat_CoCreateInstance(&CLSID_OEAPI, nullptr, BV_CLSCTX_ALL_SERVERS, &IID_IOEAPI, nullptr)));
    // The COM stand-in finds no server where BV_COM_SERVER_DIR points.
    setenv("BV_COM_SERVER_DIR", (store.root + "/").c_str(), 1);
    root = reinterpret_cast<OeRoot *>(0x1);
    EXPECT_EQ(CreateStore(&root), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(root, nullptr);
    unsetenv("BV_COM_SERVER_DIR");
    unsetenv("BV_OE_STORE");
    EXPECT_TRUE(FAILED(CreateStore(&root)));
    EXPECT_EQ(root, nullptr);

    // A missing directory is created as an empty maildir.
    std::string nested = store.root + "/a/b/store";
    setenv("BV_OE_STORE", nested.c_str(), 1);
    ASSERT_EQ(CreateStore(&root), S_OK);
    EXPECT_TRUE(plat_DirectoryExists((nested + "/cur").c_str()));
    EXPECT_TRUE(plat_DirectoryExists((nested + "/new").c_str()));
    EXPECT_TRUE(plat_DirectoryExists((nested + "/tmp").c_str()));
    const GUID other = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
    void *object = nullptr;
    EXPECT_EQ(root->lpVtbl->QueryInterface(root, &other, &object), E_NOINTERFACE);
    EXPECT_EQ(root->lpVtbl->QueryInterface(root, &IID_IOEAPI, &object), S_OK);
    EXPECT_EQ(object, root);
    EXPECT_EQ(root->lpVtbl->Release(root), 1u);
    EXPECT_EQ(root->lpVtbl->Release(root), 0u);
    EXPECT_EQ(plat_CoCreateInstance(&other, nullptr, BV_CLSCTX_ALL_SERVERS, &IID_IOEAPI, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(plat_CoCreateInstance(&CLSID_OEAPI, nullptr, BV_CLSCTX_ALL_SERVERS, &other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr) << "the server's refusal is passed on";
    EXPECT_TRUE(plat_IsEqualGUID(&CLSID_OEAPI, &CLSID_OEAPI) && !plat_IsEqualGUID(&CLSID_OEAPI, &IID_IOEAPI));
}

// Any UTF-16 name (controls, lone surrogates, separators, NUL) is stored and
// found again by a second object over the same tree.
std::vector<std::u16string> ArbitraryNames() {
    const char16_t alphabet[] = {u'a', u'Z', u'.', u'/', u'&', u'-', u'+', u',', u'~', u' ', 0x00,   0x01,
                                 0x7f, 0xe9,  0x3b1, 0x65e5, 0xd800, 0xdc00, 0xfffd, 0xffff, u'\\', u':', u'*'};
    std::set<std::u16string> names;
    for (uint32_t x = 12345; names.size() < 200;) {
        std::u16string name;
        x = x * 1103515245u + 12345u;
        for (size_t i = 0, length = 1 + (x >> 16) % 30; i < length; i++) {
            x = x * 1103515245u + 12345u;
            name += alphabet[(x >> 16) % (sizeof alphabet / sizeof alphabet[0])];
        }
        names.insert(name);
    }
    return std::vector<std::u16string>(names.begin(), names.end());
}

TEST(OeStoreObject, FoldersAreFoundOrCreatedAndKeepTheirNames) {
    TempStore store;
    OeRoot *root = nullptr;
    ASSERT_EQ(CreateStore(&root), S_OK);
    std::vector<std::u16string> names = {u"Inbox", u"a.b/c", u"Gr\u00f6\u00dfe \u65e5\u672c", u"&Co - 100%", u"..",
                                         u"~tilde+plus,comma"};
    for (const auto &name : ArbitraryNames())
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    std::map<std::u16string, uint32_t> ids;
    std::set<uint32_t> seen = {0};
    for (const auto &name : names) {
        uint32_t id = CreateFolder(root, 0, name);
        EXPECT_TRUE(seen.insert(id).second) << "ids are unique";
        EXPECT_EQ(CreateFolder(root, 0, name), id) << "an existing folder is found again";
        ids[name] = id;
    }
    uint32_t old = CreateFolder(root, ids[u"Inbox"], u"Old");
    uint32_t deeper = CreateFolder(root, old, u"x.y");
    EXPECT_TRUE(seen.insert(old).second);
    EXPECT_TRUE(seen.insert(deeper).second);
    EXPECT_NE(CreateFolder(root, ids[u"a.b/c"], u"Old"), old) << "same name under another parent";

    // Refused: unknown parent, empty name.
    uint32_t id = 0;
    BSTR text = MakeBstr(u"Orphan");
    EXPECT_TRUE(FAILED(root->lpVtbl->CreateFolder(root, 999, text, &id)));
    plat_SysFreeString(text);
    text = MakeBstr(u"");
    EXPECT_TRUE(FAILED(root->lpVtbl->CreateFolder(root, 0, text, &id)));
    plat_SysFreeString(text);
    OeFolder *folder = nullptr;
    EXPECT_TRUE(FAILED(root->lpVtbl->GetFolder(root, 999, &folder)));
    EXPECT_EQ(folder, nullptr);

    ASSERT_EQ(root->lpVtbl->GetFolder(root, deeper, &folder), S_OK);
    EXPECT_EQ(FolderName(folder), u"x.y");
    folder->lpVtbl->Release(folder);

    std::map<std::u16string, uint32_t> walked;
    OeFolder *top = nullptr;
    ASSERT_EQ(root->lpVtbl->GetRootFolder(root, &top), S_OK);
    uint32_t rootId = 1;
    top->lpVtbl->GetID(top, &rootId);
    EXPECT_EQ(rootId, 0u);
    WalkFolders(top, u"", walked);
    top->lpVtbl->Release(top);
    EXPECT_EQ(walked.size(), names.size() + 3);
    for (const auto &name : names) EXPECT_EQ(walked[name], ids[name]);
    EXPECT_EQ(walked[u"Inbox|Old|x.y"], deeper);
    root->lpVtbl->Release(root);

    // A new object over the same tree finds every name again.
    ASSERT_EQ(CreateStore(&root), S_OK);
    ASSERT_EQ(root->lpVtbl->GetRootFolder(root, &top), S_OK);
    std::map<std::u16string, uint32_t> again;
    WalkFolders(top, u"", again);
    top->lpVtbl->Release(top);
    std::set<std::u16string> before, after;
    for (const auto &entry : walked) before.insert(entry.first);
    for (const auto &entry : again) after.insert(entry.first);
    EXPECT_EQ(before, after);
    EXPECT_EQ(CreateFolder(root, 0, u"a.b/c"), again[u"a.b/c"]);
    root->lpVtbl->Release(root);
}

TEST(OeStoreObject, MessagesKeepEveryByteAndTheirState) {
    TempStore store;
    OeRoot *root = nullptr;
    ASSERT_EQ(CreateStore(&root), S_OK);
    uint32_t inbox = CreateFolder(root, 0, u"Inbox");
    uint32_t archive = CreateFolder(root, 0, u"Archive");
    const std::string big = AllBytes(150000);
    const std::string small = "Subject: hi\r\n\r\nbody \xe9\x00\xff\r\n"s;
    OeMessage *m = CreateMessage(root, inbox, big, false);
    m->lpVtbl->Release(m);
    m = CreateMessage(root, inbox, small, true);
    m->lpVtbl->Release(m);
    EXPECT_EQ(MessageCount(root, inbox), 2);

    // An uncommitted message leaves nothing behind.
    m = CreateMessage(root, inbox, "Subject: never\r\n\r\n", true, false);
    m->lpVtbl->Release(m);
    EXPECT_EQ(MessageCount(root, inbox), 2);
    EXPECT_TRUE(std::filesystem::is_empty(store.root + "/.Inbox/tmp"));

    OeFolder *folder = nullptr;
    ASSERT_EQ(root->lpVtbl->GetFolder(root, inbox, &folder), S_OK);
    std::map<std::string, int32_t> stateOf;
    OeMessage *message = nullptr;
    HRESULT hr = folder->lpVtbl->GetFirstMessage(folder, &message);
    int listed = 0;
    while (SUCCEEDED(hr) && message) {
        listed++;
        int32_t state = -1;
        EXPECT_EQ(message->lpVtbl->GetState(message, &state), S_OK);
        size_t pieces = 0;
        std::string bytes = ReadRawText(message, OE_RAW_PIECE_MAX, &pieces);
        stateOf[bytes] = state;
        if (bytes.size() == big.size()) {
            EXPECT_EQ(pieces, 3u);
        }
        message->lpVtbl->Release(message);
        hr = folder->lpVtbl->GetNextMessage(folder, &message);
    }
    EXPECT_EQ(hr, OE_E_NO_MORE_ITEMS);
    EXPECT_EQ(listed, 2);
    ASSERT_EQ(stateOf.count(big), 1u);
    ASSERT_EQ(stateOf.count(small), 1u);
    EXPECT_EQ(stateOf[big] & OE_STATE_UNREAD, 0);
    EXPECT_EQ(stateOf[small] & OE_STATE_UNREAD, OE_STATE_UNREAD);

    // Smaller pieces on request; clone into another folder, then delete.
    ASSERT_EQ(folder->lpVtbl->GetFirstMessage(folder, &message), S_OK);
    size_t pieces = 0;
    std::string first = ReadRawText(message, 1000, &pieces);
    EXPECT_EQ(pieces, (first.size() + 999) / 1000);
    OeMessage *copy = nullptr;
    ASSERT_EQ(message->lpVtbl->CloneInto(message, archive, &copy), S_OK);
    EXPECT_EQ(MessageCount(root, archive), 0) << "a clone waits for its commit";
    int32_t ok = 0;
    EXPECT_EQ(copy->lpVtbl->Commit(copy, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(MessageCount(root, archive), 1);
    EXPECT_EQ(ReadRawText(copy, OE_RAW_PIECE_MAX, &pieces), first);
    int32_t copyState = -1, firstState = -2;
    copy->lpVtbl->GetState(copy, &copyState);
    message->lpVtbl->GetState(message, &firstState);
    EXPECT_EQ(copyState, firstState);
    copy->lpVtbl->Release(copy);
    EXPECT_EQ(message->lpVtbl->Delete(message, 1, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(FAILED(message->lpVtbl->Delete(message, 1, &ok)));
    EXPECT_EQ(ok, 0);
    message->lpVtbl->Release(message);
    folder->lpVtbl->Release(folder);
    EXPECT_EQ(MessageCount(root, inbox), 1);
    EXPECT_TRUE(FAILED(root->lpVtbl->GetFolder(root, 12345, &folder)));
    root->lpVtbl->Release(root);
}

// A tree written by other mail software: a nested folder without its parent
// directory, flags beside S, a message still in new/, dot files.
TEST(OeStoreObject, TreesOfOtherSoftwareAreRead) {
    TempStore store;
    const std::string a = store.root + "/.Lists.Dev&AOk-";
    for (const char *sub : {"", "/cur", "/new", "/tmp"}) ASSERT_EQ(mkdir((a + sub).c_str(), 0700), 0);
    bvtest::WriteFileText(a + "/cur/1700000000.M1P1Q1.host:2,RS", "Subject: replied and seen\r\n\r\n");
    bvtest::WriteFileText(a + "/cur/1700000001.M1P1Q2.host:2,F", "Subject: flagged, not seen\r\n\r\n");
    bvtest::WriteFileText(a + "/new/1700000002.M1P1Q3.host", "Subject: new\r\n\r\n");
    bvtest::WriteFileText(a + "/cur/.hidden", "");
    OeRoot *root = nullptr;
    ASSERT_EQ(CreateStore(&root), S_OK);
    OeFolder *top = nullptr;
    ASSERT_EQ(root->lpVtbl->GetRootFolder(root, &top), S_OK);
    std::map<std::u16string, uint32_t> walked;
    WalkFolders(top, u"", walked);
    top->lpVtbl->Release(top);
    ASSERT_EQ(walked.size(), 2u);
    ASSERT_EQ(walked.count(u"Lists|Dev\u00e9"), 1u);
    uint32_t dev = walked[u"Lists|Dev\u00e9"];
    EXPECT_EQ(MessageCount(root, dev), 3);
    EXPECT_EQ(MessageCount(root, walked[u"Lists"]), 0) << "a parent without a directory holds nothing";
    OeFolder *folder = nullptr;
    ASSERT_EQ(root->lpVtbl->GetFolder(root, dev, &folder), S_OK);
    std::vector<int32_t> states;
    OeMessage *message = nullptr;
    HRESULT hr = folder->lpVtbl->GetFirstMessage(folder, &message);
    while (SUCCEEDED(hr)) {
        int32_t state = -1;
        message->lpVtbl->GetState(message, &state);
        states.push_back(state);
        message->lpVtbl->Release(message);
        hr = folder->lpVtbl->GetNextMessage(folder, &message);
    }
    folder->lpVtbl->Release(folder);
    EXPECT_EQ(states, (std::vector<int32_t>{0, OE_STATE_UNREAD, OE_STATE_UNREAD})) << "in delivery order";
    // Writing into the parent makes its maildir.
    OeMessage *m = CreateMessage(root, walked[u"Lists"], "Subject: into the parent\r\n\r\n", false);
    m->lpVtbl->Release(m);
    EXPECT_EQ(MessageCount(root, walked[u"Lists"]), 1);
    EXPECT_TRUE(plat_DirectoryExists((store.root + "/.Lists/cur").c_str()));
    root->lpVtbl->Release(root);
}

TEST(OeStoreObject, PythonMailboxReadsTheTree) {
    if (system("python3 -c 'import mailbox, hashlib' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    TempStore store;
    OeRoot *root = nullptr;
    ASSERT_EQ(CreateStore(&root), S_OK);
    struct Written {
        std::vector<std::u16string> path;
        std::string bytes;
        bool unread;
    };
    const std::u16string odd = u"R\u00e9sum\u00e9s 2024.Q1/Q2 & more";
    uint32_t migrated = CreateFolder(root, 0, u"Migrated");
    uint32_t inbox = CreateFolder(root, migrated, u"Inbox");
    uint32_t old = CreateFolder(root, inbox, u"Old");
    uint32_t weird = CreateFolder(root, migrated, odd);
    uint32_t empty = CreateFolder(root, 0, u"Empty");
    (void)empty;
    std::vector<Written> written = {
        {{u"Migrated", u"Inbox"}, "From: a@b\r\nSubject: one\r\n\r\nread\r\n", false},
        {{u"Migrated", u"Inbox"}, "From: a@b\r\nSubject: two\r\n\r\nunread\r\n", true},
        {{u"Migrated", u"Inbox", u"Old"}, "Subject: bytes\r\n\r\n" + AllBytes(70000), false},
        {{u"Migrated", odd}, "Subject: odd\r\n\r\n\xe4\xf6\xfc\r\n", true},
    };
    const std::map<std::u16string, uint32_t> idOf = {{u"Inbox", inbox}, {u"Old", old}, {odd, weird}};
    for (const Written &w : written) {
        OeMessage *m = CreateMessage(root, idOf.at(w.path.back()), w.bytes, w.unread);
        m->lpVtbl->Release(m);
    }
    root->lpVtbl->Release(root);

    std::multiset<std::string> expected = {"F - 0", "F " + Utf8Hex(u"Empty") + " 0", "F " + Utf8Hex(u"Migrated") + " 0"};
    std::map<std::string, int> counts;
    for (const Written &w : written) {
        std::u16string joined;
        for (const auto &level : w.path) joined += (joined.empty() ? u"" : u"\x1f") + level;
        std::string hex = Utf8Hex(joined);
        counts[hex]++;
        expected.insert("M " + hex + " " + (w.unread ? "1" : "0") + " " + Sha256Hex(w.bytes));
    }
    for (const auto &c : counts) expected.insert("F " + c.first + " " + std::to_string(c.second));

    std::string command = "python3 " + bvtest::ShellQuote(BV_OEAPI_TEST_DIR "/read_maildir.py") + " " +
                          bvtest::ShellQuote(store.root);
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::multiset<std::string> listed;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        listed.insert(text);
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(listed, expected);
}

}  // namespace
