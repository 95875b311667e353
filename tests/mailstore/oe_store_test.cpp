// The live store: folder walk and message reading through a store object
// with the real method table, kept in memory by the test.
#include <memory>
#include "mailstore_fixture.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

namespace {

struct FakeMessage {
    std::u16string text;
    int32_t state = 0;
};

struct FakeFolder {
    OeFolder base;
    std::u16string name;
    uint32_t id = 0;
    bool nameFails = false;
    std::vector<FakeFolder *> children;
    size_t childCursor = 0;
    std::vector<FakeMessage> messages;
    size_t messageCursor = 0;
};

struct FakeMessageObject {
    OeMessage base;
    const FakeMessage *message;
    size_t pos = 0;
};

int gLiveObjects;  // objects handed out and not yet released

FakeFolder *Self(OeFolder *f) { return reinterpret_cast<FakeFolder *>(f); }
FakeMessageObject *Self(OeMessage *m) { return reinterpret_cast<FakeMessageObject *>(m); }

BSTR MakeText(const std::u16string &s) {
    return plat_SysAllocStringLen(reinterpret_cast<const WCHAR *>(s.data()), (uint32_t)s.size());
}

HRESULT BV_CALL FolderQuery(OeFolder *, const GUID *, void **) { return E_NOINTERFACE; }
uint32_t BV_CALL FolderAddRef(OeFolder *) { return 1; }
uint32_t BV_CALL FolderRelease(OeFolder *) { return (uint32_t)--gLiveObjects; }
HRESULT BV_CALL FolderId(OeFolder *f, uint32_t *id) {
    *id = Self(f)->id;
    return S_OK;
}
HRESULT HandOutChild(FakeFolder *f, OeFolder **out) {
    *out = nullptr;
    if (f->childCursor >= f->children.size()) return S_FALSE;
    *out = &f->children[f->childCursor++]->base;
    gLiveObjects++;
    return S_OK;
}
HRESULT BV_CALL FirstChild(OeFolder *f, OeFolder **out) {
    Self(f)->childCursor = 0;
    return HandOutChild(Self(f), out);
}
HRESULT BV_CALL NextChild(OeFolder *f, OeFolder **out) { return HandOutChild(Self(f), out); }
HRESULT HandOutMessage(FakeFolder *f, OeMessage **out);
HRESULT BV_CALL FirstMessage(OeFolder *f, OeMessage **out) {
    Self(f)->messageCursor = 0;
    return HandOutMessage(Self(f), out);
}
HRESULT BV_CALL NextMessage(OeFolder *f, OeMessage **out) { return HandOutMessage(Self(f), out); }
HRESULT BV_CALL FolderName(OeFolder *f, BSTR *name) {
    if (Self(f)->nameFails) return E_FAIL;
    *name = MakeText(Self(f)->name);
    return S_OK;
}
HRESULT BV_CALL FolderCount(OeFolder *f, int32_t *count) {
    *count = (int32_t)Self(f)->messages.size();
    return S_OK;
}

HRESULT BV_CALL MessageQuery(OeMessage *, const GUID *, void **) { return E_NOINTERFACE; }
uint32_t BV_CALL MessageAddRef(OeMessage *) { return 1; }
uint32_t BV_CALL MessageRelease(OeMessage *m) {
    delete Self(m);
    return (uint32_t)--gLiveObjects;
}
HRESULT BV_CALL MessageState(OeMessage *m, int32_t *state) {
    *state = Self(m)->message->state;
    return S_OK;
}
HRESULT BV_CALL MessageRawText(OeMessage *m, int32_t maxChars, BSTR *text) {
    FakeMessageObject *o = Self(m);
    std::u16string piece = o->message->text.substr(std::min(o->pos, o->message->text.size()), (size_t)maxChars);
    o->pos += piece.size();
    *text = MakeText(piece);
    return S_OK;
}

OeFolderVtbl MakeFolderVtbl() {
    OeFolderVtbl v{};
    v.QueryInterface = FolderQuery;
    v.AddRef = FolderAddRef;
    v.Release = FolderRelease;
    v.GetID = FolderId;
    v.GetFirstChild = FirstChild;
    v.GetNextChild = NextChild;
    v.GetFirstMessage = FirstMessage;
    v.GetNextMessage = NextMessage;
    v.GetName = FolderName;
    v.GetMessageCount = FolderCount;
    return v;
}
OeMessageVtbl MakeMessageVtbl() {
    OeMessageVtbl v{};
    v.QueryInterface = MessageQuery;
    v.AddRef = MessageAddRef;
    v.Release = MessageRelease;
    v.GetState = MessageState;
    v.GetNextRawText = MessageRawText;
    return v;
}
const OeFolderVtbl kFolderVtbl = MakeFolderVtbl();
const OeMessageVtbl kMessageVtbl = MakeMessageVtbl();

HRESULT HandOutMessage(FakeFolder *f, OeMessage **out) {
    *out = nullptr;
    if (f->messageCursor >= f->messages.size()) return S_FALSE;
    FakeMessageObject *o = new FakeMessageObject;
    o->base.lpVtbl = &kMessageVtbl;
    o->message = &f->messages[f->messageCursor++];
    *out = &o->base;
    gLiveObjects++;
    return S_OK;
}

// The store: a root object, its root folder and every folder by id.
struct FakeStore {
    OeRoot base;
    FakeFolder rootFolder;
    std::vector<std::unique_ptr<FakeFolder>> folders;

    FakeFolder *Add(FakeFolder *parent, const std::u16string &name, uint32_t id) {
        folders.push_back(std::make_unique<FakeFolder>());
        FakeFolder *f = folders.back().get();
        f->base.lpVtbl = &kFolderVtbl;
        f->name = name;
        f->id = id;
        (parent ? parent : &rootFolder)->children.push_back(f);
        return f;
    }
};

FakeStore *StoreOf(OeRoot *r) { return reinterpret_cast<FakeStore *>(r); }
uint32_t BV_CALL RootRelease(OeRoot *) { return 1; }
HRESULT BV_CALL RootGetFolder(OeRoot *r, uint32_t id, OeFolder **out) {
    *out = nullptr;
    for (auto &f : StoreOf(r)->folders)
        if (f->id == id) {
            *out = &f->base;
            gLiveObjects++;
            return S_OK;
        }
    return E_FAIL;
}
HRESULT BV_CALL RootGetRootFolder(OeRoot *r, OeFolder **out) {
    *out = &StoreOf(r)->rootFolder.base;
    gLiveObjects++;
    return S_OK;
}
OeRootVtbl MakeRootVtbl() {
    OeRootVtbl v{};
    v.Release = RootRelease;
    v.GetFolder = RootGetFolder;
    v.GetRootFolder = RootGetRootFolder;
    return v;
}
const OeRootVtbl kRootVtbl = MakeRootVtbl();

std::u16string U16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

class OeStoreTest : public MailStoreTest {
   protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        gOeDirect = 0;
        store.base.lpVtbl = &kRootVtbl;
        store.rootFolder.base.lpVtbl = &kFolderVtbl;
        gLiveObjects = 0;
        gOeApi = &store.base;
    }
    void TearDown() override {
        gOeApi = nullptr;
        MailStoreTest::TearDown();
    }
    FakeStore store;
};

TEST_F(OeStoreTest, WalkListsNestedFoldersWithTheirIdsAndCounts) {
    FakeFolder *inbox = store.Add(nullptr, u"Inbox", 11);
    inbox->messages.resize(2);
    FakeFolder *sub = store.Add(inbox, u"Sub", 12);
    store.Add(sub, u"Deep", 13);
    store.Add(inbox, u"A/B", 14);
    FakeFolder *broken = store.Add(nullptr, u"Broken", 15);
    broken->nameFails = true;
    store.Add(broken, u"Lost", 16);
    store.Add(nullptr, u"Sent Items", 17);
    store.Add(nullptr, u"\u00dcbersicht \u20ac", 18);

    std::vector<std::string> texts = ListFolders("");
    std::vector<std::string> expected = {"Inbox {BV:2:FCLASS:0}",     "Inbox^Sub {BV:0:FCLASS:0}",
                                         "Inbox^Sub^Deep {BV:0:FCLASS:0}", "Inbox^A/B {BV:0:FCLASS:0}",
                                         "Sent Items {BV:0:FCLASS:0}", "\xc3\x9c" "bersicht \xe2\x82\xac {BV:0:FCLASS:0}"};
    EXPECT_EQ(texts, expected);
    ASSERT_EQ(gFolderCount, 6);
    EXPECT_STREQ(gFolderTable[3]->displayName, "Inbox/A\\B");
    EXPECT_STREQ(gFolderTable[3]->fileName, "Inbox^A/B");
    EXPECT_EQ(gFolderTable[2]->oeFolderId, 13u);
    EXPECT_EQ(gFolderTable[4]->oeFolderId, 17u);
    EXPECT_EQ(gLiveObjects, 0);  // every folder handed out was released

    gOeApi = nullptr;  // no store object: nothing listed
    EXPECT_TRUE(ListFolders("").empty());
}

TEST_F(OeStoreTest, MessagesAreReadInPiecesWithTheirUnreadState) {
    FakeFolder *inbox = store.Add(nullptr, u"Inbox", 21);
    std::string big(150000, 'b');
    inbox->messages.push_back({U16("From: a@example.org\r\nSubject: Read one\r\n\r\nhello\r\n"), 0});
    inbox->messages.push_back({U16("From: a@example.org\r\nSubject: Unread one\r\n\r\nnew\r\n"), OE_STATE_UNREAD | 1});
    inbox->messages.push_back({U16("From: a@example.org\r\nSubject: Big one\r\n\r\n" + big + "\r\n"), 0});
    inbox->messages.push_back({u"From: a@example.org\r\nSubject: Caf\u00e9\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n\r\nd\u00e9j\u00e0\r\n", 0});
    ListFolders("");
    ASSERT_EQ(gFolderCount, 1);
    HostSide host;
    ASSERT_EQ(ReadFolder(0, &host), 0);
    ASSERT_EQ(host.items.size(), 4u);
    EXPECT_EQ(host.items[0].subject, "Read one");
    EXPECT_EQ(host.items[0].unread, 0);
    EXPECT_EQ(host.items[1].subject, "Unread one");
    EXPECT_EQ(host.items[1].unread, 1);
    EXPECT_EQ(host.items[2].bodyPart, big + "\r\n");
    EXPECT_EQ(host.items[3].subject, "Caf\xc3\xa9");
    // The raw text reached the parser as ISO-8859-1 bytes (one byte per
    // character), which the parser turned into UTF-8 for its declared charset.
    EXPECT_EQ(host.items[3].bodyPart, "d\xc3\xa9j\xc3\xa0\r\n");
    EXPECT_EQ(gLiveObjects, 0);
    EXPECT_FALSE(fs::exists(work_ + "oemsg.tmp"));
    EXPECT_EQ(CountInLog("Converting OE Folder Inbox"), 1);
}

TEST_F(OeStoreTest, FolderThatIsGoneEndsTheFolderQuietly) {
    store.Add(nullptr, u"Inbox", 31)->messages.push_back({U16("Subject: x\r\n\r\ny\r\n"), 0});
    ListFolders("");
    ASSERT_EQ(gFolderCount, 1);
    gFolderTable[0]->oeFolderId = 999;
    HostSide host;
    EXPECT_EQ(ReadFolder(0, &host), 0);
    EXPECT_TRUE(host.items.empty());
}
