// CreateOEFolder and ImportOEMessage against a store object that records
// every call, so the order of use, the "/D133" path and every failure text
// can be checked.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include "compose/compose.h"
#include "compose_test_support.h"
#include "module/session.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "record/com.h"
#include "support/case_table.h"

namespace {

struct Recorder {
    std::vector<std::string> calls;
    std::vector<std::u16string> folderNames;
    std::u16string messageText;
    int32_t unread = -1;
    int createFolderCalls = 0;
    int liveObjects = 0;
    std::string failing;     // the call that fails: "GetFolder", "Commit(copy)", ...
    int createFolderAt = -1;  // index of the CreateFolder call that fails
};
Recorder gRec;

struct FakeMessage {
    OeMessage com;
    bool copy;
};

std::string Name(const char *what, uint32_t n) { return std::string(what) + "(" + std::to_string(n) + ")"; }

uint32_t BV_CALL MsgRelease(OeMessage *self) {
    FakeMessage *m = reinterpret_cast<FakeMessage *>(self);
    gRec.calls.push_back(m->copy ? "Release(copy)" : "Release(message)");
    gRec.liveObjects--;
    delete m;
    return 0;
}

HRESULT BV_CALL MsgDelete(OeMessage *, int32_t permanent, int32_t *success) {
    gRec.calls.push_back(Name("Delete", static_cast<uint32_t>(permanent)));
    bool fails = gRec.failing == "Delete";
    *success = fails ? 0 : 1;
    return fails ? E_FAIL : S_OK;
}

HRESULT BV_CALL MsgCommit(OeMessage *self, int32_t *success) {
    gRec.calls.push_back(reinterpret_cast<FakeMessage *>(self)->copy ? "Commit(copy)" : "Commit(message)");
    *success = gRec.failing == gRec.calls.back() ? 0 : 1;
    return S_OK;
}

OeMessage *NewFakeMessage(bool copy);

HRESULT BV_CALL MsgCloneInto(OeMessage *, uint32_t folderId, OeMessage **out) {
    gRec.calls.push_back(Name("CloneInto", folderId));
    if (gRec.failing == "CloneInto") return E_FAIL;
    *out = NewFakeMessage(true);
    return S_OK;
}

OeMessageVtbl MakeMessageVtbl() {
    OeMessageVtbl v = {};
    v.Release = MsgRelease;
    v.Delete = MsgDelete;
    v.CloneInto = MsgCloneInto;
    v.Commit = MsgCommit;
    return v;
}
const OeMessageVtbl kMsgVtbl = MakeMessageVtbl();

OeMessage *NewFakeMessage(bool copy) {
    gRec.liveObjects++;
    return &(new FakeMessage{{&kMsgVtbl}, copy})->com;
}

uint32_t BV_CALL FolderRelease(OeFolder *self) {
    gRec.calls.push_back("Release(folder)");
    gRec.liveObjects--;
    delete self;
    return 0;
}

HRESULT BV_CALL FolderCreateMessage(OeFolder *, BSTR text, int32_t unread, OeMessage **out) {
    gRec.calls.push_back("CreateMessage");
    gRec.messageText.assign(reinterpret_cast<const char16_t *>(text), plat_SysStringLen(text));
    gRec.unread = unread;
    if (gRec.failing == "CreateMessage") return E_FAIL;
    *out = NewFakeMessage(false);
    return S_OK;
}

OeFolderVtbl MakeFolderVtbl() {
    OeFolderVtbl v = {};
    v.Release = FolderRelease;
    v.CreateMessage = FolderCreateMessage;
    return v;
}
const OeFolderVtbl kFolderVtbl = MakeFolderVtbl();

HRESULT BV_CALL RootGetFolder(OeRoot *, uint32_t id, OeFolder **out) {
    gRec.calls.push_back(Name("GetFolder", id));
    if (gRec.failing == "GetFolder") return E_FAIL;
    gRec.liveObjects++;
    *out = new OeFolder{&kFolderVtbl};
    return S_OK;
}

HRESULT BV_CALL RootCreateFolder(OeRoot *, uint32_t parent, BSTR name, uint32_t *newId) {
    int call = gRec.createFolderCalls++;
    gRec.calls.push_back(Name("CreateFolder", parent));
    gRec.folderNames.emplace_back(reinterpret_cast<const char16_t *>(name), plat_SysStringLen(name));
    if (call == gRec.createFolderAt) return E_FAIL;
    *newId = 100 + static_cast<uint32_t>(call);
    return S_OK;
}

OeRootVtbl MakeRootVtbl() {
    OeRootVtbl v = {};
    v.GetFolder = RootGetFolder;
    v.CreateFolder = RootCreateFolder;
    return v;
}
const OeRootVtbl kRootVtbl = MakeRootVtbl();
OeRoot gFakeRoot = {&kRootVtbl};

class StoreImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetComposeSwitches();
        gRec = Recorder();
        gOeApi = &gFakeRoot;
        gParentFolderId = 0;
        gCurrentFolderId = 0;
        rec = NewMailRecord(3);
        com_strncpy(rec->fromName, "Anna", BV_NAME_LEN - 1);
        com_strncpy(rec->fromAddr, "anna@example.com", BV_ADDR_LEN - 1);
        com_strncpy(rec->subject, "bytes \xe4\xf6\xfc", BV_SUBJECT_LEN - 1);
        AddPart(rec, work.path, BV_PART_TEXT, "Message Text", "caf\xc3\xa9\r\n", "", "UTF-8");
    }
    void TearDown() override {
        FreeMailRecord(rec, work.path);
        gOeApi = nullptr;
        ResetComposeSwitches();
        EXPECT_EQ(gRec.liveObjects, 0) << "every object is released";
    }
    ScratchDir work;
    mdat *rec = nullptr;
};

TEST_F(StoreImportTest, FolderPathLevelsAreCreatedBelowTheParent) {
    LogCapture log;
    gDebug = 1;
    gParentFolderId = 5;
    CreateOEFolder("Inbox^Old^Gr\xc3\xb6\xc3\x9f" "e");
    EXPECT_EQ(gRec.calls, (std::vector<std::string>{"CreateFolder(5)", "CreateFolder(100)", "CreateFolder(101)"}));
    EXPECT_EQ(gRec.folderNames, (std::vector<std::u16string>{u"Inbox", u"Old", u"Gr\u00f6\u00dfe"}));
    EXPECT_EQ(gCurrentFolderId, 102u);
    EXPECT_EQ(log.Text(),
              "debug: at CreateOEFolder: Inbox^Old^Gr\xc3\xb6\xc3\x9f" "e\n"
              "debug: at FolderManager CreateFolder\ndebug: at FolderManager CreateFolder\n"
              "debug: at FolderManager CreateFolder\ndebug: end, CreateOEFolder\n");

    // A level that is too long to convert becomes "N/A"; a failure stops at
    // the last level reached.
    gRec = Recorder();
    gRec.createFolderAt = 2;
    gDebug = 0;
    std::string path = "Top^" + std::string(600, 'x') + "^Lost^Never";
    CreateOEFolder(path.c_str());
    EXPECT_EQ(gRec.folderNames, (std::vector<std::u16string>{u"Top", u"N/A", u"Lost"}));
    EXPECT_EQ(gCurrentFolderId, 101u);
    EXPECT_NE(log.Text().find("BV Warning: CreateFolder\n"), std::string::npos);
}

TEST_F(StoreImportTest, MessageIsCreatedCommittedAndCloned) {
    gCurrentFolderId = 42;
    rec->unread = 1;
    std::string expected = ComposeToText(rec, work.path, "Inbox");
    ImportOEMessage(work.path.c_str(), rec, "Inbox");
    EXPECT_EQ(gRec.calls, (std::vector<std::string>{"GetFolder(42)", "CreateMessage", "Commit(message)", "CloneInto(42)",
                                                    "Commit(copy)", "Delete(1)", "Release(copy)", "Release(message)",
                                                    "Release(folder)"}));
    EXPECT_EQ(gRec.unread, 1);
    // The text is the composed file, each byte one UTF-16 unit.
    std::string bytes;
    for (char16_t u : gRec.messageText) {
        ASSERT_LT(u, 0x100);
        bytes += static_cast<char>(u);
    }
    size_t date = bytes.find("\r\nDate: ");
    ASSERT_NE(date, std::string::npos);
    size_t dateEnd = bytes.find("\r\n", date + 2);
    size_t expectedDate = expected.find("\r\nDate: ");
    EXPECT_EQ(bytes.substr(0, date), expected.substr(0, expectedDate));
    // each composition draws its own boundary token
    std::regex token("\\.[0-9a-f]{16}/");
    EXPECT_EQ(std::regex_replace(bytes.substr(dateEnd), token, "./"),
              std::regex_replace(expected.substr(expected.find("\r\n", expectedDate + 2)), token, "./"));
    EXPECT_NE(bytes.find("caf\xc3\xa9\r\n"), std::string::npos);
    EXPECT_FALSE(plat_FileExists(work.File("oemsg.tmp").c_str())) << "the message file is deleted";
}

TEST_F(StoreImportTest, D133CreatesAndCommitsOnly) {
    gD133 = 0;
    gCurrentFolderId = 7;
    ImportOEMessage(work.path.c_str(), rec, "Inbox");
    EXPECT_EQ(gRec.calls, (std::vector<std::string>{"GetFolder(7)", "CreateMessage", "Commit(message)",
                                                    "Release(message)", "Release(folder)"}));
    EXPECT_EQ(gRec.unread, 0);
}

TEST_F(StoreImportTest, EveryFailureIsLoggedAndEndsTheRecordOnly) {
    LogCapture log;
    // failing call, what is logged, ImportOEMessage's result, the calls made
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_COMPOSE_DATA "/import_failures.tsv")) {
        gRec = Recorder();
        gRec.failing = row[0];
        size_t before = log.Text().size();
        EXPECT_EQ(ImportOEMessage(work.path.c_str(), rec, "Inbox"), row.Int(2)) << row.Where();
        EXPECT_EQ(log.Text().substr(before), row[1]) << row.Where();
        std::string calls;
        for (const std::string &call : gRec.calls) calls += (calls.empty() ? "" : " ") + call;
        EXPECT_EQ(calls, row[3]) << row.Where();
        EXPECT_EQ(gRec.liveObjects, 0) << row.Where();
        EXPECT_FALSE(plat_FileExists(work.File("oemsg.tmp").c_str()));
    }

    // A message that fits in memory needs no file in the work directory.
    gRec = Recorder();
    size_t before = log.Text().size();
    EXPECT_EQ(ImportOEMessage("/nonexistent-dir/", rec, "Inbox"), 0);
    EXPECT_EQ(log.Text().substr(before), "");

    // No store object at all.
    gOeApi = nullptr;
    before = log.Text().size();
    ImportOEMessage(work.path.c_str(), rec, "Inbox");
    CreateOEFolder("Inbox");
    EXPECT_EQ(log.Text().substr(before), "BV Warning: Error GetFolder\nBV Warning: CreateFolder\n");
}

}  // namespace
