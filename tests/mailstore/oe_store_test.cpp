// The live store: folder walk and message reading through the project's
// store server over a Maildir tree filled here through the same object.
#include <algorithm>
#include <map>
#include "mailstore_fixture.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

namespace {

std::u16string U16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

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

void NewMessage(uint32_t folderId, const std::u16string &raw, int unread) {
    OeFolder *folder = nullptr;
    OeMessage *message = nullptr;
    ASSERT_EQ(gOeApi->lpVtbl->GetFolder(gOeApi, folderId, &folder), S_OK);
    BSTR text = Text(raw);
    ASSERT_EQ(folder->lpVtbl->CreateMessage(folder, text, unread, &message), S_OK);
    int32_t success = 0;
    EXPECT_EQ(message->lpVtbl->Commit(message, &success), S_OK);
    message->lpVtbl->Release(message);
    folder->lpVtbl->Release(folder);
    plat_SysFreeString(text);
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
HRESULT BV_CALL FirstChild(OeFolder *f, OeFolder **out) {
    Self(f)->next = 0;
    return NextChild(f, out);
}
uint32_t BV_CALL Release(OeFolder *) { return (uint32_t)--gLiveObjects; }
HRESULT BV_CALL Name(OeFolder *f, BSTR *name) {
    if (!Self(f)->name) return E_FAIL;
    return *name = Text(Self(f)->name), S_OK;
}
HRESULT BV_CALL Id(OeFolder *, uint32_t *id) { return *id = 5, S_OK; }
HRESULT BV_CALL NoCount(OeFolder *, int32_t *count) { return *count = 0, S_OK; }
OeFolderVtbl FakeVtbl() {
    OeFolderVtbl v{};
    v.Release = Release;
    v.GetID = Id;
    v.GetFirstChild = FirstChild;
    v.GetNextChild = NextChild;
    v.GetName = Name;
    v.GetMessageCount = NoCount;
    return v;
}
const OeFolderVtbl kFakeVtbl = FakeVtbl();
FakeFolder gLost{{&kFakeVtbl}, u"Lost", {}}, gNameless{{&kFakeVtbl}, nullptr, {&gLost}},
    gSibling{{&kFakeVtbl}, u"Sibling", {}}, gTop{{&kFakeVtbl}, u"", {&gNameless, &gSibling}};
HRESULT BV_CALL RootFolder(OeRoot *, OeFolder **out) {
    gLiveObjects++;
    return *out = &gTop.base, S_OK;
}
OeRootVtbl FakeRootVtbl() {
    OeRootVtbl v{};
    v.GetRootFolder = RootFolder;
    return v;
}
const OeRootVtbl kFakeRootVtbl = FakeRootVtbl();

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
    NewMessage(inbox, u"Subject: 1\r\n\r\nx\r\n", 0);
    NewMessage(inbox, u"Subject: 2\r\n\r\nx\r\n", 1);
    uint32_t deep = NewFolder(NewFolder(inbox, u"Sub"), u"Deep");
    NewFolder(inbox, u"A/B");
    uint32_t sent = NewFolder(0, u"Sent Items");
    NewFolder(0, u"\u00dcbersicht \u20ac");
    std::vector<std::string> texts = ListFolders("");
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, std::vector<std::string>({"Inbox {BV:2:FCLASS:0}", "Inbox^A/B {BV:0:FCLASS:0}",
                                               "Inbox^Sub {BV:0:FCLASS:0}", "Inbox^Sub^Deep {BV:0:FCLASS:0}",
                                               "Sent Items {BV:0:FCLASS:0}",
                                               "\xc3\x9c" "bersicht \xe2\x82\xac {BV:0:FCLASS:0}"}));
    ASSERT_EQ(gFolderCount, 6);
    std::map<std::string, int> byFile;  // the folder text names the folder's file
    for (int i = 0; i < gFolderCount; i++) byFile[gFolderTable[i]->fileName] = i;
    EXPECT_STREQ(gFolderTable[byFile.at("Inbox^A/B")]->displayName, "Inbox/A\\B");
    EXPECT_EQ(gFolderTable[byFile.at("Inbox^Sub^Deep")]->oeFolderId, deep);
    EXPECT_EQ(gFolderTable[byFile.at("Sent Items")]->oeFolderId, sent);

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

TEST_F(OeStoreTest, MessagesAreReadInPiecesWithTheirUnreadState) {
    uint32_t inbox = NewFolder(0, u"Inbox");
    std::string big(150000, 'b');
    NewMessage(inbox, U16("From: a@example.org\r\nSubject: Read one\r\n\r\nhello\r\n"), 0);
    NewMessage(inbox, U16("From: a@example.org\r\nSubject: Unread one\r\n\r\nnew\r\n"), 1);
    NewMessage(inbox, U16("From: a@example.org\r\nSubject: Big one\r\n\r\n" + big + "\r\n"), 0);
    NewMessage(inbox, u"From: a@example.org\r\nSubject: Caf\u00e9\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n\r\n"
                      u"d\u00e9j\u00e0\r\n", 0);
    ListFolders("");
    ASSERT_EQ(gFolderCount, 1);
    HostSide host;
    ASSERT_EQ(ReadFolder(0, &host), 0);
    ASSERT_EQ(host.items.size(), 4u);
    std::map<std::string, ReceivedItem> bySubject;
    for (const ReceivedItem &item : host.items) bySubject[item.subject] = item;
    EXPECT_EQ(bySubject["Read one"].unread, 0);
    EXPECT_EQ(bySubject["Unread one"].unread, 1);
    EXPECT_EQ(bySubject["Big one"].bodyPart, big + "\r\n");
    // The raw text reached the parser as ISO-8859-1 bytes (one byte per
    // character), which the parser turned into UTF-8 for its declared charset.
    EXPECT_EQ(bySubject["Caf\xc3\xa9"].bodyPart, "d\xc3\xa9j\xc3\xa0\r\n");
    EXPECT_FALSE(fs::exists(work_ + "oemsg.tmp"));
    EXPECT_EQ(CountInLog("Converting OE Folder Inbox"), 1);

    // A folder that is gone by the time it is read ends quietly.
    gFolderTable[0]->oeFolderId = 999;
    HostSide none;
    EXPECT_EQ(ReadFolder(0, &none), 0);
    EXPECT_TRUE(none.items.empty());
}
