// The live store's folder walk, over a Maildir tree filled here through the
// project's store object and over folders made here that fail. (Messages
// read through the store: the round trip in tests/compose.)
#include <algorithm>
#include <map>
#include "mailstore_fixture.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "support/file_text.h"

namespace {

BSTR Text(const std::u16string &s) {
    return plat_SysAllocStringLen(reinterpret_cast<const WCHAR *>(s.data()), (uint32_t)s.size());
}

uint32_t NewFolder(uint32_t parent, const std::u16string &name) {
    uint32_t id = 0;
    BSTR text = Text(name);
    EXPECT_EQ(gOeApi->lpVtbl->CreateFolder(gOeApi, parent, text, &id), S_OK);
    plat_SysFreeString(text);
    return id;
}

// A store of folders made here: one cannot tell its name and holds a child,
// its sibling after it can.
struct FakeFolder {
    OeFolder base;
    const char16_t *name;  // nullptr: GetName fails
    std::vector<FakeFolder *> children;
    size_t next = 0;
};
int gLiveObjects;
FakeFolder *Self(OeFolder *f) { return reinterpret_cast<FakeFolder *>(f); }
HRESULT BV_CALL NextChild(OeFolder *f, OeFolder **out) {
    FakeFolder *self = Self(f);
    *out = self->next < self->children.size() ? &self->children[self->next++]->base : nullptr;
    gLiveObjects += *out != nullptr;
    return *out ? S_OK : OE_E_NO_MORE_ITEMS;
}
const OeFolderVtbl kFakeVtbl = [] {
    OeFolderVtbl v{};
    v.Release = [](OeFolder *) { return (uint32_t)--gLiveObjects; };
    v.GetID = [](OeFolder *, uint32_t *id) { return *id = 5, S_OK; };
    v.GetFirstChild = [](OeFolder *f, OeFolder **out) { return Self(f)->next = 0, NextChild(f, out); };
    v.GetNextChild = NextChild;
    v.GetName = [](OeFolder *f, BSTR *name) { return Self(f)->name ? (*name = Text(Self(f)->name), S_OK) : E_FAIL; };
    v.GetMessageCount = [](OeFolder *, int32_t *count) { return *count = 0, S_OK; };
    return v;
}();
FakeFolder gLost{{&kFakeVtbl}, u"Lost", {}}, gNameless{{&kFakeVtbl}, nullptr, {&gLost}},
    gSibling{{&kFakeVtbl}, u"Sibling", {}}, gTop{{&kFakeVtbl}, u"", {&gNameless, &gSibling}};
const OeRootVtbl kFakeRootVtbl = [] {
    OeRootVtbl v{};
    v.GetRootFolder = [](OeRoot *, OeFolder **out) { return gLiveObjects++, *out = &gTop.base, S_OK; };
    return v;
}();

}  // namespace

class OeStoreTest : public MailStoreTest {
   protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        gOeDirect = 0;
        setenv("BV_OE_STORE", (root_ / "oe").c_str(), 1);
        void *object = nullptr;
        ASSERT_EQ(plat_CoCreateInstance(&CLSID_OEAPI, nullptr, BV_CLSCTX_ALL_SERVERS, &IID_IOEAPI, &object), S_OK);
        gOeApi = (OeRoot *)object;
    }
    void TearDown() override {
        if (gOeApi) gOeApi->lpVtbl->Release(gOeApi);
        gOeApi = nullptr;
        MailStoreTest::TearDown();
    }
};

TEST_F(OeStoreTest, WalkListsNestedFoldersWithTheirIdsAndCounts) {
    uint32_t inbox = NewFolder(0, u"Inbox");
    for (const char *file : {"1.a:2,S", "2.b:2,"})
        bvtest::WriteFileText(root_ / "oe" / ".\\49nbox" / "cur" / file, "Subject: 1\r\n\r\nx\r\n");
    uint32_t deep = NewFolder(NewFolder(inbox, u"Sub"), u"Deep");
    NewFolder(inbox, u"A/B");
    NewFolder(0, u"\u00dcbersicht \u20ac");
    std::vector<std::string> texts = ListFolders("");
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, std::vector<std::string>({"Inbox {BV:2:FCLASS:0}", "Inbox^A/B {BV:0:FCLASS:0}",
                                               "Inbox^Sub {BV:0:FCLASS:0}", "Inbox^Sub^Deep {BV:0:FCLASS:0}",
                                               "\xc3\x9c" "bersicht \xe2\x82\xac {BV:0:FCLASS:0}"}));
    std::map<std::string, int> byFile;  // the folder text names the folder's file
    for (int i = 0; i < gFolderCount; i++) byFile[gFolderTable[i]->fileName] = i;
    EXPECT_STREQ(gFolderTable[byFile.at("Inbox^A/B")]->displayName, "Inbox/A\\B");
    EXPECT_EQ(gFolderTable[byFile.at("Inbox^Sub^Deep")]->oeFolderId, deep);

    // A folder that is gone by the time it is read ends quietly.
    gFolderTable[byFile.at("Inbox")]->oeFolderId = 999;
    HostSide none;
    EXPECT_EQ(ReadFolder(byFile.at("Inbox"), &none), 0);
    EXPECT_TRUE(none.items.empty());

    // A folder that cannot tell its name is left out with its children.
    OeRoot *real = gOeApi, nameless = {&kFakeRootVtbl};
    gOeApi = &nameless;
    gLiveObjects = 0;
    EXPECT_EQ(ListFolders(""), std::vector<std::string>({"Sibling {BV:0:FCLASS:0}"}));
    EXPECT_EQ(gLiveObjects, 0) << "every folder handed out was released";
    gOeApi = nullptr;  // no store object: nothing listed
    EXPECT_TRUE(ListFolders("").empty());
    gOeApi = real;
}
