// The root, folder and message objects of the store, with the method tables
// of oeapi.h, and the class factory that the COM stand-in calls.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include "oeapi/maildir_store.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

namespace oeapi {
namespace {

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// "No more items": the end of a child or message iteration.
const HRESULT kNoMoreItems = OE_E_NO_MORE_ITEMS;
const size_t kConvertChunk = 65536;  // UTF-16 units converted per step
const size_t kFileBuffer = 1 << 16;

struct RootObject {
    OeRoot com;
    int refs;
    MaildirStore *store;
};

struct FolderObject {
    OeFolder com;
    int refs;
    MaildirStore *store;
    uint32_t id;
    size_t nextChild;
    std::vector<std::string> *messages;  // snapshot taken by GetFirstMessage
    size_t nextMessage;
};

struct MessageObject {
    OeMessage com;
    int refs;
    MaildirStore *store;
    uint32_t folderId;
    std::string *path;  // tmp/ path until committed
    bool committed;
    bool deleted;
    bool unread;
    FILE *reader;  // open while the raw text is read
    bool readDone;
    // A copy into the message's own folder shares the message's file until
    // one of the two needs a file of its own (see MessageCloneInto).
    MessageObject *sharedWith;
    bool sharesFile;  // this object is the copy that uses the other's file
};

RootObject *AsRoot(OeRoot *p) { return reinterpret_cast<RootObject *>(p); }
FolderObject *AsFolder(OeFolder *p) { return reinterpret_cast<FolderObject *>(p); }
MessageObject *AsMessage(OeMessage *p) { return reinterpret_cast<MessageObject *>(p); }

BSTR MakeBstr(const char16_t *text, size_t length) {
    return plat_SysAllocStringLen(reinterpret_cast<const WCHAR *>(text), static_cast<uint32_t>(length));
}

OeFolder *NewFolder(MaildirStore *store, uint32_t id);
OeMessage *NewMessage(MaildirStore *store, uint32_t folderId, const std::string &path, bool committed, bool unread);

// ---- root ---------------------------------------------------------------------------

HRESULT BV_CALL RootQueryInterface(OeRoot *self, const GUID *iid, void **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!iid || (!plat_IsEqualGUID(iid, &IID_IOEAPI) && !plat_IsEqualGUID(iid, &kIidUnknown))) return E_NOINTERFACE;
    AsRoot(self)->refs++;
    *out = self;
    return S_OK;
}

uint32_t BV_CALL RootAddRef(OeRoot *self) { return static_cast<uint32_t>(++AsRoot(self)->refs); }

uint32_t BV_CALL RootRelease(OeRoot *self) {
    RootObject *root = AsRoot(self);
    int left = --root->refs;
    if (left == 0) {
        root->store->Release();
        delete root;
    }
    return static_cast<uint32_t>(left);
}

HRESULT BV_CALL RootGetFolder(OeRoot *self, uint32_t folderId, OeFolder **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    MaildirStore *store = AsRoot(self)->store;
    if (!store->Find(folderId)) return E_INVALIDARG;
    *out = NewFolder(store, folderId);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT BV_CALL RootGetRootFolder(OeRoot *self, OeFolder **out) { return RootGetFolder(self, kRootFolderId, out); }

HRESULT BV_CALL RootCreateFolder(OeRoot *self, uint32_t parentId, BSTR name, uint32_t *newId) {
    if (!newId || !name) return E_INVALIDARG;
    std::u16string text(reinterpret_cast<const char16_t *>(name), plat_SysStringLen(name));
    return AsRoot(self)->store->CreateFolder(parentId, text, newId) ? S_OK : E_FAIL;
}

const OeRootVtbl kRootVtbl = {
    RootQueryInterface, RootAddRef, RootRelease, {}, RootGetFolder, RootGetRootFolder, {}, RootCreateFolder,
};

// ---- folder -------------------------------------------------------------------------

HRESULT BV_CALL FolderQueryInterface(OeFolder *self, const GUID *iid, void **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!iid || !plat_IsEqualGUID(iid, &kIidUnknown)) return E_NOINTERFACE;
    AsFolder(self)->refs++;
    *out = self;
    return S_OK;
}

uint32_t BV_CALL FolderAddRef(OeFolder *self) { return static_cast<uint32_t>(++AsFolder(self)->refs); }

uint32_t BV_CALL FolderRelease(OeFolder *self) {
    FolderObject *folder = AsFolder(self);
    int left = --folder->refs;
    if (left == 0) {
        folder->store->Release();
        delete folder->messages;
        delete folder;
    }
    return static_cast<uint32_t>(left);
}

HRESULT BV_CALL FolderGetID(OeFolder *self, uint32_t *id) {
    if (!id) return E_INVALIDARG;
    *id = AsFolder(self)->id;
    return S_OK;
}

HRESULT ChildAt(FolderObject *folder, size_t index, OeFolder **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const FolderNode *node = folder->store->Find(folder->id);
    if (!node || index >= node->children.size()) return kNoMoreItems;
    folder->nextChild = index + 1;
    *out = NewFolder(folder->store, node->children[index]);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT BV_CALL FolderGetFirstChild(OeFolder *self, OeFolder **out) { return ChildAt(AsFolder(self), 0, out); }

HRESULT BV_CALL FolderGetNextChild(OeFolder *self, OeFolder **out) {
    return ChildAt(AsFolder(self), AsFolder(self)->nextChild, out);
}

HRESULT MessageAt(FolderObject *folder, size_t index, OeMessage **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!folder->messages || index >= folder->messages->size()) return kNoMoreItems;
    folder->nextMessage = index + 1;
    const std::string &path = (*folder->messages)[index];
    *out = NewMessage(folder->store, folder->id, path, true, MaildirStore::IsUnreadPath(path));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT BV_CALL FolderGetFirstMessage(OeFolder *self, OeMessage **out) {
    FolderObject *folder = AsFolder(self);
    delete folder->messages;
    folder->messages = new (std::nothrow) std::vector<std::string>(folder->store->ListMessages(folder->id));
    return MessageAt(folder, 0, out);
}

HRESULT BV_CALL FolderGetNextMessage(OeFolder *self, OeMessage **out) {
    return MessageAt(AsFolder(self), AsFolder(self)->nextMessage, out);
}

// Writes the UTF-16 text as ISO-8859-1 bytes, so each unit below 256 is one byte.
bool WriteLatin1(FILE *file, const WCHAR *text, size_t length) {
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[kConvertChunk]);
    if (!bytes) return false;
    for (size_t done = 0; done < length;) {
        int n = static_cast<int>(length - done < kConvertChunk ? length - done : kConvertChunk);
        int got = plat_WideCharToMultiByte(CP_ACP_ISO, text + done, n, bytes.get(), n);
        if (got != n) {
            for (int i = 0; i < n; i++) bytes[i] = text[done + i] < 0x100 ? static_cast<char>(text[done + i]) : '?';
        }
        if (fwrite(bytes.get(), 1, n, file) != static_cast<size_t>(n)) return false;
        done += n;
    }
    return true;
}

HRESULT BV_CALL FolderCreateMessage(OeFolder *self, BSTR text, int32_t unread, OeMessage **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    FolderObject *folder = AsFolder(self);
    std::string path = folder->store->NewTempPath(folder->id);
    if (path.empty()) return E_FAIL;
    FILE *file = plat_fopen(path.c_str(), "wb");
    if (!file) return E_FAIL;
    static char buffer[kFileBuffer];  // one message is written at a time
    setvbuf(file, buffer, _IOFBF, kFileBuffer);
    bool written = WriteLatin1(file, text, text ? plat_SysStringLen(text) : 0);
    if (!plat_CloseWritten(file) || !written) {
        unlink(path.c_str());
        return E_FAIL;
    }
    *out = NewMessage(folder->store, folder->id, path, false, unread != 0);
    if (!*out) {
        unlink(path.c_str());
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT BV_CALL FolderGetName(OeFolder *self, BSTR *name) {
    if (!name) return E_INVALIDARG;
    const FolderNode *node = AsFolder(self)->store->Find(AsFolder(self)->id);
    *name = node ? MakeBstr(node->name.data(), node->name.size()) : nullptr;
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT BV_CALL FolderGetMessageCount(OeFolder *self, int32_t *count) {
    if (!count) return E_INVALIDARG;
    *count = AsFolder(self)->store->CountMessages(AsFolder(self)->id);
    return S_OK;
}

const OeFolderVtbl kFolderVtbl = {
    FolderQueryInterface, FolderAddRef,          FolderRelease, {},           FolderGetID,
    FolderGetFirstChild,  FolderGetNextChild,    FolderGetFirstMessage,       FolderGetNextMessage,
    nullptr,              FolderCreateMessage,   nullptr,       FolderGetName, {},
    FolderGetMessageCount,
};

OeFolder *NewFolder(MaildirStore *store, uint32_t id) {
    FolderObject *folder = new (std::nothrow) FolderObject{{&kFolderVtbl}, 1, store, id, 0, nullptr, 0};
    if (!folder) return nullptr;
    store->AddRef();
    return &folder->com;
}

// ---- message ------------------------------------------------------------------------

// A hard link shares the bytes; a copy serves where links are refused.
bool CopyMessageFile(const std::string &from, const std::string &to) {
    if (link(from.c_str(), to.c_str()) == 0) return true;
    FILE *in = fopen(from.c_str(), "rb");
    FILE *out = in ? plat_fopen(to.c_str(), "wb") : nullptr;
    bool copied = out != nullptr;
    std::vector<char> block(kFileBuffer);
    size_t n;
    while (copied && (n = fread(block.data(), 1, block.size(), in)) > 0) copied = fwrite(block.data(), 1, n, out) == n;
    if (in) fclose(in);
    if (out && !plat_CloseWritten(out)) copied = false;
    if (!copied) unlink(to.c_str());
    return copied;
}

// Ends the sharing between a copy and its original; releases the copy's
// hold on the original.
uint32_t BV_CALL MessageRelease(OeMessage *self);
void Unshare(MessageObject *copy) {
    MessageObject *original = copy->sharedWith;
    if (!original) return;
    original->sharedWith = nullptr;
    copy->sharedWith = nullptr;
    copy->sharesFile = false;
    MessageRelease(&original->com);
}

// The copy gets a file of its own (delivered when it is committed); the
// sharing ends. False when the file could not be made.
bool GiveOwnFile(MessageObject *copy) {
    std::string temp = copy->store->NewTempPath(copy->folderId);
    if (temp.empty() || !CopyMessageFile(*copy->path, temp)) return false;
    std::string own = copy->committed ? copy->store->Deliver(copy->folderId, temp, copy->unread) : temp;
    if (own.empty()) {
        unlink(temp.c_str());
        return false;
    }
    *copy->path = own;
    Unshare(copy);
    return true;
}

HRESULT BV_CALL MessageQueryInterface(OeMessage *self, const GUID *iid, void **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!iid || !plat_IsEqualGUID(iid, &kIidUnknown)) return E_NOINTERFACE;
    AsMessage(self)->refs++;
    *out = self;
    return S_OK;
}

uint32_t BV_CALL MessageAddRef(OeMessage *self) { return static_cast<uint32_t>(++AsMessage(self)->refs); }

uint32_t BV_CALL MessageRelease(OeMessage *self) {
    MessageObject *msg = AsMessage(self);
    int left = --msg->refs;
    if (left == 0) {
        if (msg->reader) fclose(msg->reader);
        bool shared = msg->sharesFile;
        if (shared) {
            // A committed copy whose original stays needs its own file.
            if (msg->committed && !msg->deleted && !msg->sharedWith->deleted) GiveOwnFile(msg);
            Unshare(msg);
        }
        // A message that was never committed is abandoned with its file.
        if (!msg->committed && !msg->deleted && !shared) unlink(msg->path->c_str());
        msg->store->Release();
        delete msg->path;
        delete msg;
    }
    return static_cast<uint32_t>(left);
}

HRESULT BV_CALL MessageGetState(OeMessage *self, int32_t *state) {
    if (!state) return E_INVALIDARG;
    *state = AsMessage(self)->unread ? OE_STATE_UNREAD : 0;
    return S_OK;
}

HRESULT BV_CALL MessageDelete(OeMessage *self, int32_t, int32_t *success) {
    MessageObject *msg = AsMessage(self);
    if (success) *success = 0;
    if (msg->deleted) return E_FAIL;
    if (msg->reader) {
        fclose(msg->reader);
        msg->reader = nullptr;
    }
    MessageObject *copy = msg->sharesFile ? nullptr : msg->sharedWith;
    if (msg->sharesFile) {
        Unshare(msg);  // the file stays with the original
    } else if (copy && copy->committed) {
        Unshare(copy);  // the committed copy keeps the file: nothing moves on disk
    } else {
        if (copy && !GiveOwnFile(copy)) return E_FAIL;
        if (copy) Unshare(copy);
        if (unlink(msg->path->c_str()) != 0) return E_FAIL;
    }
    msg->deleted = true;
    if (success) *success = 1;
    return S_OK;
}

HRESULT BV_CALL MessageGetNextRawText(OeMessage *self, int32_t maxChars, BSTR *text) {
    if (!text) return E_INVALIDARG;
    *text = nullptr;
    MessageObject *msg = AsMessage(self);
    if (msg->deleted) return E_FAIL;
    size_t limit = maxChars > 0 && maxChars < OE_RAW_PIECE_MAX ? static_cast<size_t>(maxChars) : OE_RAW_PIECE_MAX;
    if (!msg->reader && !msg->readDone) {
        msg->reader = plat_fopen(msg->path->c_str(), "rb");  // regular files only: a FIFO would hang
        if (!msg->reader) return E_FAIL;
    }
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[limit]);
    std::unique_ptr<WCHAR[]> units(new (std::nothrow) WCHAR[limit + 1]);
    if (!bytes || !units) return E_OUTOFMEMORY;
    size_t got = msg->reader ? fread(bytes.get(), 1, limit, msg->reader) : 0;
    if (got == 0 && msg->reader) {
        fclose(msg->reader);
        msg->reader = nullptr;
        msg->readDone = true;
    }
    if (got > 0 && plat_MultiByteToWideChar(CP_ACP_ISO, bytes.get(), static_cast<int>(got), units.get(),
                                            static_cast<int>(got)) != static_cast<int>(got)) {
        for (size_t i = 0; i < got; i++) units[i] = static_cast<unsigned char>(bytes[i]);
    }
    *text = plat_SysAllocStringLen(units.get(), static_cast<uint32_t>(got));
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT BV_CALL MessageCloneInto(OeMessage *self, uint32_t folderId, OeMessage **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    MessageObject *msg = AsMessage(self);
    if (msg->deleted) return E_FAIL;
    if (msg->committed && folderId == msg->folderId && !msg->sharedWith) {
        // A copy into the same folder is usually committed and the original
        // deleted right after: the copy then simply takes over the file, and
        // the message is written once and moved once.
        *out = NewMessage(msg->store, folderId, *msg->path, false, msg->unread);
        if (!*out) return E_OUTOFMEMORY;
        MessageObject *copy = AsMessage(*out);
        copy->sharedWith = msg;
        copy->sharesFile = true;
        msg->sharedWith = copy;
        msg->refs++;  // the copy holds its original
        return S_OK;
    }
    std::string target = msg->store->NewTempPath(folderId);
    if (target.empty()) return E_INVALIDARG;
    if (!CopyMessageFile(*msg->path, target)) return E_FAIL;
    *out = NewMessage(msg->store, folderId, target, false, msg->unread);
    if (!*out) {
        unlink(target.c_str());
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT BV_CALL MessageCommit(OeMessage *self, int32_t *success) {
    MessageObject *msg = AsMessage(self);
    if (success) *success = 0;
    if (msg->deleted) return E_FAIL;
    if (!msg->committed && msg->sharesFile) {
        msg->committed = true;  // the shared file is delivered already
    } else if (!msg->committed) {
        std::string final = msg->store->Deliver(msg->folderId, *msg->path, msg->unread);
        if (final.empty()) return E_FAIL;
        *msg->path = final;
        msg->committed = true;
    }
    if (success) *success = 1;
    return S_OK;
}

OeMessageVtbl MakeMessageVtbl() {
    OeMessageVtbl v = {};
    v.QueryInterface = MessageQueryInterface;
    v.AddRef = MessageAddRef;
    v.Release = MessageRelease;
    v.GetState = MessageGetState;
    v.Delete = MessageDelete;
    v.GetNextRawText = MessageGetNextRawText;
    v.CloneInto = MessageCloneInto;
    v.Commit = MessageCommit;
    return v;
}

const OeMessageVtbl kMessageVtbl = MakeMessageVtbl();

OeMessage *NewMessage(MaildirStore *store, uint32_t folderId, const std::string &path, bool committed, bool unread) {
    std::string *ownPath = new (std::nothrow) std::string(path);
    if (!ownPath) return nullptr;
    MessageObject *msg = new (std::nothrow)
        MessageObject{{&kMessageVtbl}, 1, store, folderId, ownPath, committed, false, unread, nullptr, false, nullptr, false};
    if (!msg) {
        delete ownPath;
        return nullptr;
    }
    store->AddRef();
    return &msg->com;
}

}  // namespace
}  // namespace oeapi

extern "C" __attribute__((visibility("default"))) HRESULT BvComCreateInstance(const GUID *clsid, const GUID *iid,
                                                                               void **out) {
    using namespace oeapi;
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!clsid || !plat_IsEqualGUID(clsid, &CLSID_OEAPI)) return REGDB_E_CLASSNOTREG;
    if (!iid || (!plat_IsEqualGUID(iid, &IID_IOEAPI) && !plat_IsEqualGUID(iid, &kIidUnknown))) return E_NOINTERFACE;
    const char *root = getenv("BV_OE_STORE");
    MaildirStore *store = root ? MaildirStore::Open(root) : nullptr;
    if (!store) return E_FAIL;
    RootObject *object = new (std::nothrow) RootObject{{&kRootVtbl}, 1, store};
    if (!object) {
        store->Release();
        return E_OUTOFMEMORY;
    }
    *out = &object->com;
    return S_OK;
}
