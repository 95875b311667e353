// The import into the store object: target folders from a '^' path, and one
// mail record composed into "%soemsg.tmp" and created as a message there.
#include <stdlib.h>
#include <string.h>
#include "compose/compose.h"
#include "module/session.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr int kFolderNameUnits = 512;  // UTF-16 units of one folder level
constexpr size_t kFolderPathCap = 2048;
constexpr size_t kPathCap = 1024;
constexpr int64_t kMaxMessageFile = 0x100000000LL;  // 4 GB
const char kTopBoundarySeed[] = "Next_Item:_(A3CB49KFSA19)/00";
const char kMessageFileName[] = "oemsg.tmp";
constexpr size_t kComposeMemory = 16u * 1024u * 1024u;  // composed text kept in memory up to this size

// Creates one level below parentId; false when the import must stop.
bool CreateFolderLevel(const char *name, uint32_t parentId, uint32_t *newId) {
    WCHAR wide[kFolderNameUnits + 1];
    if (plat_MultiByteToWideChar(CP_UTF8, name, -1, wide, kFolderNameUnits + 1) == 0) {
        plat_MultiByteToWideChar(CP_UTF8, "N/A", -1, wide, kFolderNameUnits + 1);
    }
    BSTR text = plat_SysAllocString(wide);
    if (!text) {
        com_Log("BV Warning: Cannot allocate string");
        return false;
    }
    if (gDebug) com_Log("debug: at FolderManager CreateFolder");
    HRESULT hr = gOeApi ? gOeApi->lpVtbl->CreateFolder(gOeApi, parentId, text, newId) : E_FAIL;
    plat_SysFreeString(text);
    if (FAILED(hr)) {
        com_Log("BV Warning: CreateFolder");
        return false;
    }
    return true;
}

// Reads the composed message whole out of its scratch stream; nullptr on
// failure (logged). *size receives its length.
char *ReadComposedMessage(FILE *scratch, const char *path, int64_t *size) {
    int64_t length = 0;
    if (!plat_ScratchRewind(scratch, &length)) {
        com_Log("BV Warning: Error cannot write %s", path);
        return nullptr;
    }
    if (length >= kMaxMessageFile) {
        com_Log("BV Warning: Error File too long\n");
        return nullptr;
    }
    char *text = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
    if (!text || fread(text, 1, static_cast<size_t>(length), scratch) != static_cast<size_t>(length)) {
        com_Log("BV Warning: Error ReadFile");
        free(text);
        return nullptr;
    }
    text[length] = 0;
    *size = length;
    return text;
}

// The message text as a COM text in the ANSI code page; nullptr when it
// cannot be made.
BSTR MakeMessageText(const char *bytes, int64_t size) {
    if (size == 0) return plat_SysAllocStringLen(nullptr, 0);
    if (size > 0x7FFFFFFF) return nullptr;
    int units = plat_MultiByteToWideChar(plat_GetACP(), bytes, static_cast<int>(size), nullptr, 0);
    if (units <= 0) return nullptr;
    // Converted straight into the COM text, which holds `units` characters.
    BSTR text = plat_SysAllocStringLen(nullptr, static_cast<uint32_t>(units));
    if (text && plat_MultiByteToWideChar(plat_GetACP(), bytes, static_cast<int>(size), text, units) != units) {
        plat_SysFreeString(text);
        text = nullptr;
    }
    return text;
}

// Copies the committed message into the same folder, commits the copy and
// deletes the first one.
void CloneMessage(OeMessage *message) {
    OeMessage *copy = nullptr;
    if (FAILED(message->lpVtbl->CloneInto(message, gCurrentFolderId, &copy)) || !copy) {
        com_Log("BV Warning: Error Clone");
        return;
    }
    int32_t success = 0;
    if (FAILED(copy->lpVtbl->Commit(copy, &success)) || !success) {
        com_Log("BV Warning: Error Commit (2)\n");
    } else if (FAILED(message->lpVtbl->Delete(message, 1, &success)) || !success) {
        com_Log("BV Warning: Error Delete");
    }
    copy->lpVtbl->Release(copy);
}

// Creates and commits the message in folder, then clones it unless /D133;
// failures are logged. False when the message is not in the store.
bool CreateStoreMessage(OeFolder *folder, const char *bytes, int64_t size, const mdat *record) {
    BSTR text = MakeMessageText(bytes, size);
    if (!text) {
        com_Log("BV Warning: Error Cannot allocate string");
        return false;
    }
    OeMessage *message = nullptr;
    HRESULT hr = folder->lpVtbl->CreateMessage(folder, text, record->unread, &message);
    plat_SysFreeString(text);
    if (FAILED(hr) || !message) {
        com_Log("BV Warning: Error CreateMessage: %lu", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
        return false;
    }
    int32_t success = 0;
    bool committed = SUCCEEDED(message->lpVtbl->Commit(message, &success)) && success;
    if (!committed) {
        com_Log("BV Warning: Error Commit (1)");
    } else if (gD133) {
        CloneMessage(message);
    }
    message->lpVtbl->Release(message);
    return committed;
}

}  // namespace

extern "C" void CreateOEFolder(const char *folderPath) {
    if (gDebug) com_Log("debug: at CreateOEFolder: %s", folderPath);
    char path[kFolderPathCap];
    com_strncpy(path, folderPath ? folderPath : "", sizeof path - 1);
    uint32_t parent = gParentFolderId;
    char *level = path;
    for (;;) {
        char *caret = strchr(level, '^');
        if (caret) *caret = 0;
        uint32_t newId = 0;
        if (!CreateFolderLevel(level, parent, &newId)) break;
        parent = newId;
        if (!caret) break;
        level = caret + 1;
    }
    gCurrentFolderId = parent;
    if (gDebug) com_Log("debug: end, CreateOEFolder");
}

extern "C" int ImportOEMessage(const char *workDir, mdat *record, const char *folderName) {
    OeFolder *folder = nullptr;
    if (!gOeApi || FAILED(gOeApi->lpVtbl->GetFolder(gOeApi, gCurrentFolderId, &folder)) || !folder) {
        com_Log("BV Warning: Error GetFolder\n");
        return 1;
    }
    // The composed text stays in memory unless it is large; then it goes
    // through "oemsg.tmp" in the work directory.
    char path[kPathCap];
    bv_snprintf(path, sizeof path, "%s%s", workDir ? workDir : "", kMessageFileName);
    FILE *out = plat_OpenScratch(path, kComposeMemory);
    if (!out) {
        com_Log("BV Warning: unable to open %s", path);
        folder->lpVtbl->Release(folder);
        return 1;
    }
    int64_t size = 0;
    char *bytes = ComposeRfc822(record, out, kTopBoundarySeed, workDir, folderName, 1) == 0
                      ? ReadComposedMessage(out, path, &size)
                      : nullptr;
    plat_CloseScratch(out);
    bool stored = bytes && CreateStoreMessage(folder, bytes, size, record);
    free(bytes);
    folder->lpVtbl->Release(folder);
    return stored ? 0 : 1;
}
