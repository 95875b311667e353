// The Outlook Express automation interfaces as the module calls them: COM
// objects whose method tables keep the slot numbers of the real library.
// Slots the module never calls are named reserved entries. Every method
// returns an HRESULT and delivers its output through its last argument.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include "platform/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

// {12BAF0A5-264C-464B-9D58-C83B3781DD4B} and {12BAF0C9-264C-464B-9D58-C83B3781DD4B}
static const GUID CLSID_OEAPI = {0x12BAF0A5, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
static const GUID IID_IOEAPI = {0x12BAF0C9, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
#define BV_CLSCTX_ALL_SERVERS 0x15

#define OE_RAW_PIECE_MAX 64000  // characters per piece of raw text
#define OE_STATE_UNREAD 2       // bit of the message state
// Result of a first/next call when there is no (further) child or message.
#define OE_E_NO_MORE_ITEMS ((HRESULT)0x80070103)

typedef struct OeRoot OeRoot;
typedef struct OeFolder OeFolder;
typedef struct OeMessage OeMessage;
typedef void *OeReservedSlot;

typedef struct OeRootVtbl {
    HRESULT(BV_CALL *QueryInterface)(OeRoot *self, const GUID *iid, void **out);  // 0
    uint32_t(BV_CALL *AddRef)(OeRoot *self);                                      // 1
    uint32_t(BV_CALL *Release)(OeRoot *self);                                     // 2
    OeReservedSlot reserved3to12[10];
    HRESULT(BV_CALL *GetFolder)(OeRoot *self, uint32_t folderId, OeFolder **out);  // 13
    HRESULT(BV_CALL *GetRootFolder)(OeRoot *self, OeFolder **out);                 // 14
    OeReservedSlot reserved15to19[5];
    // 20: creates the folder, or finds the existing child of that name.
    HRESULT(BV_CALL *CreateFolder)(OeRoot *self, uint32_t parentId, BSTR name, uint32_t *newId);
} OeRootVtbl;

typedef struct OeFolderVtbl {
    HRESULT(BV_CALL *QueryInterface)(OeFolder *self, const GUID *iid, void **out);  // 0
    uint32_t(BV_CALL *AddRef)(OeFolder *self);                                      // 1
    uint32_t(BV_CALL *Release)(OeFolder *self);                                     // 2
    OeReservedSlot reserved3to6[4];
    HRESULT(BV_CALL *GetID)(OeFolder *self, uint32_t *id);                       // 7
    HRESULT(BV_CALL *GetFirstChild)(OeFolder *self, OeFolder **out);             // 8
    HRESULT(BV_CALL *GetNextChild)(OeFolder *self, OeFolder **out);              // 9
    HRESULT(BV_CALL *GetFirstMessage)(OeFolder *self, OeMessage **out);          // 10
    HRESULT(BV_CALL *GetNextMessage)(OeFolder *self, OeMessage **out);           // 11
    OeReservedSlot reserved12;
    HRESULT(BV_CALL *CreateMessage)(OeFolder *self, BSTR text, int32_t unread, OeMessage **out);  // 13
    OeReservedSlot reserved14;
    HRESULT(BV_CALL *GetName)(OeFolder *self, BSTR *name);  // 15
    OeReservedSlot reserved16to29[14];
    HRESULT(BV_CALL *GetMessageCount)(OeFolder *self, int32_t *count);  // 30
} OeFolderVtbl;

typedef struct OeMessageVtbl {
    HRESULT(BV_CALL *QueryInterface)(OeMessage *self, const GUID *iid, void **out);  // 0
    uint32_t(BV_CALL *AddRef)(OeMessage *self);                                      // 1
    uint32_t(BV_CALL *Release)(OeMessage *self);                                     // 2
    OeReservedSlot reserved3to12[10];
    HRESULT(BV_CALL *GetState)(OeMessage *self, int32_t *state);  // 13
    OeReservedSlot reserved14to16[3];
    HRESULT(BV_CALL *Delete)(OeMessage *self, int32_t permanent, int32_t *success);  // 17
    OeReservedSlot reserved18to19[2];
    // 20: next piece of the raw text (at most maxChars); an empty piece ends it.
    HRESULT(BV_CALL *GetNextRawText)(OeMessage *self, int32_t maxChars, BSTR *text);
    OeReservedSlot reserved21to51[31];
    HRESULT(BV_CALL *CloneInto)(OeMessage *self, uint32_t folderId, OeMessage **out);  // 52
    HRESULT(BV_CALL *Commit)(OeMessage *self, int32_t *success);                         // 53
} OeMessageVtbl;

struct OeRoot { const OeRootVtbl *lpVtbl; };
struct OeFolder { const OeFolderVtbl *lpVtbl; };
struct OeMessage { const OeMessageVtbl *lpVtbl; };

#ifdef __cplusplus
static_assert(offsetof(OeRootVtbl, GetFolder) == 13 * sizeof(void *), "root slot 13");
static_assert(offsetof(OeRootVtbl, CreateFolder) == 20 * sizeof(void *), "root slot 20");
static_assert(offsetof(OeFolderVtbl, GetID) == 7 * sizeof(void *), "folder slot 7");
static_assert(offsetof(OeFolderVtbl, CreateMessage) == 13 * sizeof(void *), "folder slot 13");
static_assert(offsetof(OeFolderVtbl, GetName) == 15 * sizeof(void *), "folder slot 15");
static_assert(offsetof(OeFolderVtbl, GetMessageCount) == 30 * sizeof(void *), "folder slot 30");
static_assert(offsetof(OeMessageVtbl, GetState) == 13 * sizeof(void *), "message slot 13");
static_assert(offsetof(OeMessageVtbl, Delete) == 17 * sizeof(void *), "message slot 17");
static_assert(offsetof(OeMessageVtbl, GetNextRawText) == 20 * sizeof(void *), "message slot 20");
static_assert(offsetof(OeMessageVtbl, CloneInto) == 52 * sizeof(void *), "message slot 52");
static_assert(offsetof(OeMessageVtbl, Commit) == 53 * sizeof(void *), "message slot 53");
#endif

// The server's entry, found by the platform's COM stand-in in libbvoeapi.so.
// The store root is the directory named by the environment variable
// BV_OE_STORE at the moment the object is created.
HRESULT BvComCreateInstance(const GUID *clsid, const GUID *iid, void **out);

#ifdef __cplusplus
}
#endif
