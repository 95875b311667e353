// CreateOEFolder and ImportOEMessage against a store object that records
// every call and fails the one a case names: failures no real store can be
// made to show on demand. What a working store receives is checked by the
// round trip through the real one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compose/compose.h"
#include "compose_test_support.h"
#include "module/session.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "support/case_table.h"

namespace {

struct Recorder {
    std::string calls;     // every call, blank-separated
    std::string failing;   // the call that fails: "GetFolder", "Commit(copy)", ...
    int createFolderAt = -1, createFolderCalls = 0, liveObjects = 0;
    std::vector<std::u16string> folderNames;
    // Records the call; true when it is the one that fails.
    bool Call(const std::string &call) {
        calls += (calls.empty() ? "" : " ") + call;
        return call.rfind(failing, 0) == 0 && !failing.empty();
    }
};
Recorder gRec;

struct FakeMessage {
    OeMessage com;
    bool copy;
};
bool IsCopy(OeMessage *m) { return reinterpret_cast<FakeMessage *>(m)->copy; }
OeMessage *NewMessage(bool copy);

const OeMessageVtbl kMessageVtbl = [] {
    OeMessageVtbl v = {};
    v.Release = [](OeMessage *self) -> uint32_t {
        gRec.Call(IsCopy(self) ? "Release(copy)" : "Release(message)");
        gRec.liveObjects--;
        delete reinterpret_cast<FakeMessage *>(self);
        return 0;
    };
    v.Delete = [](OeMessage *, int32_t permanent, int32_t *ok) -> HRESULT {
        *ok = !gRec.Call("Delete(" + std::to_string(permanent) + ")");
        return *ok ? S_OK : E_FAIL;
    };
    v.CloneInto = [](OeMessage *, uint32_t folderId, OeMessage **out) -> HRESULT {
        if (gRec.Call("CloneInto(" + std::to_string(folderId) + ")")) return E_FAIL;
        return *out = NewMessage(true), S_OK;
    };
    v.Commit = [](OeMessage *self, int32_t *ok) -> HRESULT {
        return *ok = !gRec.Call(IsCopy(self) ? "Commit(copy)" : "Commit(message)"), S_OK;
    };
    return v;
}();

OeMessage *NewMessage(bool copy) {
    gRec.liveObjects++;
    return &(new FakeMessage{{&kMessageVtbl}, copy})->com;
}

const OeFolderVtbl kFolderVtbl = [] {
    OeFolderVtbl v = {};
    v.Release = [](OeFolder *self) -> uint32_t {
        gRec.Call("Release(folder)");
        gRec.liveObjects--;
        delete self;
        return 0;
    };
    v.CreateMessage = [](OeFolder *, BSTR, int32_t, OeMessage **out) -> HRESULT {
        if (gRec.Call("CreateMessage")) return E_FAIL;
        return *out = NewMessage(false), S_OK;
    };
    return v;
}();

const OeRootVtbl kRootVtbl = [] {
    OeRootVtbl v = {};
    v.GetFolder = [](OeRoot *, uint32_t id, OeFolder **out) -> HRESULT {
        if (gRec.Call("GetFolder(" + std::to_string(id) + ")")) return E_FAIL;
        gRec.liveObjects++;
        return *out = new OeFolder{&kFolderVtbl}, S_OK;
    };
    v.CreateFolder = [](OeRoot *, uint32_t parent, BSTR name, uint32_t *newId) -> HRESULT {
        int call = gRec.createFolderCalls++;
        gRec.Call("CreateFolder(" + std::to_string(parent) + ")");
        gRec.folderNames.emplace_back(reinterpret_cast<const char16_t *>(name), plat_SysStringLen(name));
        return call == gRec.createFolderAt ? E_FAIL : (*newId = 100 + static_cast<uint32_t>(call), S_OK);
    };
    return v;
}();
OeRoot gFakeRoot = {&kRootVtbl};

class StoreImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetComposeSwitches();
        gRec = Recorder();
        gOeApi = &gFakeRoot;
        gParentFolderId = gCurrentFolderId = 0;
        rec = NewMailRecord(3);
        AddPart(rec, work.path, BV_PART_TEXT, "Message Text", "caf\xc3\xa9\r\n", "", "UTF-8");
    }
    void TearDown() override {
        FreeMailRecord(rec, work.path);
        gOeApi = nullptr;
        ResetComposeSwitches();
    }
    ScratchDir work;
    mdat *rec = nullptr;
};

// Each level of the path below the parent; a level too long to convert is
// named "N/A"; a level that cannot be made ends the path at the one before.
TEST_F(StoreImportTest, FolderPathLevels) {
    LogCapture log;
    gParentFolderId = 5;
    gRec.createFolderAt = 3;
    CreateOEFolder(("Inbox^Gr\xc3\xb6\xc3\x9f" "e^" + std::string(600, 'x') + "^Lost^Never").c_str());
    EXPECT_EQ(gRec.calls, "CreateFolder(5) CreateFolder(100) CreateFolder(101) CreateFolder(102)");
    EXPECT_EQ(gRec.folderNames, (std::vector<std::u16string>{u"Inbox", u"Gr\u00f6\u00dfe", u"N/A", u"Lost"}));
    EXPECT_EQ(gCurrentFolderId, 102u);
    EXPECT_EQ(log.Text(), "BV Warning: CreateFolder\n");
}

TEST_F(StoreImportTest, EveryFailureIsLoggedAndEndsTheRecordOnly) {
    LogCapture log;
    // failing call, what is logged, ImportOEMessage's result, the calls made, switches
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_COMPOSE_DATA "/import_failures.tsv")) {
        gRec = Recorder();
        gRec.failing = row[0];
        gD133 = row[4] != "/D133";
        size_t before = log.Text().size();
        EXPECT_EQ(ImportOEMessage(work.path.c_str(), rec, "Inbox"), row.Int(2)) << row.Where();
        EXPECT_EQ(log.Text().substr(before), row[1]) << row.Where();
        EXPECT_EQ(gRec.calls, row[3]) << row.Where();
        EXPECT_EQ(gRec.liveObjects, 0) << row.Where() << ": every object is released";
        EXPECT_FALSE(plat_FileExists(work.File("oemsg.tmp").c_str()));
    }

    // A message that fits in memory needs no file in the work directory.
    gRec = Recorder();
    size_t before = log.Text().size();
    EXPECT_EQ(ImportOEMessage("/nonexistent-dir/", rec, "Inbox"), 0);
    // No store object at all.
    gOeApi = nullptr;
    ImportOEMessage(work.path.c_str(), rec, "Inbox");
    CreateOEFolder("Inbox");
    EXPECT_EQ(log.Text().substr(before), "BV Warning: Error GetFolder\nBV Warning: CreateFolder\n");
}

}  // namespace
