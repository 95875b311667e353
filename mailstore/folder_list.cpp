// DiscoverFolders (behind GetFolderNames): builds gFolderTable from the live
// store, from folders.nch or the DBX/MBX files of a store directory, or the
// one pseudo-folder (or the listed file folders) of a contacts, calendar or
// tasks session, and reports every folder to the host.
#include <stdlib.h>
#include <string.h>
#include "calread/calread.h"
#include "contacts/contacts.h"
#include "mailstore/mail_reader.h"
#include "mailstore/mailstore.h"
#include "mime/mime_internal.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

#define NCH_HEADER_LEN 1712
#define NCH_RECORD_LEN 624
#define NCH_NAME_LEN 259  // then the file name fills the rest of the record
#define FOLDER_TEXT_LEN (BV_PATH_LEN + 64)  // trueName and its tag

static const char kStoreRootFolderName[] = "Inbox";  // the messages at the root of a live store

static int gFolderCapacity;

extern "C" int AddFolder(const char *name, const char *file, uint32_t oeFolderId, uint32_t itemCount,
                         uint32_t folderClass) {
    if (!gFolderTable) gFolderCapacity = 0;  // freed by FreeFolderTable
    if (gFolderCount >= gFolderCapacity) {
        int capacity = gFolderCapacity ? gFolderCapacity * 2 : 64;
        FolderRecord **grown = (FolderRecord **)realloc(gFolderTable, sizeof(FolderRecord *) * (size_t)capacity);
        if (!grown) return 0;
        gFolderTable = grown;
        gFolderCapacity = capacity;
    }
    FolderRecord *folder = (FolderRecord *)calloc(1, sizeof(FolderRecord));
    if (!folder) return 0;
    com_strncpy(folder->trueName, name, sizeof(folder->trueName) - 1);
    com_strncpy(folder->displayName, name, sizeof(folder->displayName) - 1);
    com_strncpy(folder->fileName, file, sizeof(folder->fileName) - 1);
    folder->oeFolderId = oeFolderId;
    folder->itemCount = itemCount;
    folder->folderClass = folderClass;
    for (char *c = folder->displayName; *c; c++) {
        if (*c == '/')
            *c = '\\';
        else if (*c == '^')
            *c = '/';
    }
    gFolderTable[gFolderCount++] = folder;
    return 1;
}

static const char *InboxName(const char *name) { return MailTextEqualNoCase(name, "Inbox", -1) ? "OE Inbox" : name; }

// Two store files must not share a folder: the second and later of one name
// get " (2)", " (3)" and so on (names are compared without regard to case,
// as the target store compares them).
static void MakeFolderNameUnique(char *name, size_t cap) {
    char base[BV_PATH_LEN];
    com_strncpy(base, name, sizeof(base) - 1);
    for (int n = 2;; n++) {
        int taken = 0;
        for (int i = 0; i < gFolderCount && !taken; i++)
            taken = MailTextEqualNoCase(gFolderTable[i]->trueName, name, -1);
        if (!taken) return;
        char suffix[16];
        bv_snprintf(suffix, sizeof(suffix), " (%d)", n);
        size_t keep = strlen(base);
        if (keep + strlen(suffix) >= cap) keep = cap - strlen(suffix) - 1;
        bv_snprintf(name, cap, "%.*s%s", (int)keep, base, suffix);
    }
}

static void AddStoreFileFolder(const char *name, const char *path) {
    char unique[BV_PATH_LEN];
    com_strncpy(unique, InboxName(name), sizeof(unique) - 1);
    MakeFolderNameUnique(unique, sizeof(unique));
    AddFolder(unique, path, 0, CountMailFileMessages(path), BV_CLASS_MAIL);
}

// ---- store directory ---------------------------------------------------------

static FILE *OpenFolderList(const char *storeDir) {
    char path[BV_PATH_LEN * 2];
    bv_snprintf(path, sizeof(path), "%sfolders.nch", storeDir);
    FILE *list = plat_fopen(path, "rb");
    if (list) return list;
    char found[BV_PATH_LEN * 2];
    if (plat_FindFileNoCase(storeDir, "folders.nch", found, sizeof(found))) list = plat_fopen(found, "rb");
    return list;
}

// A file name relative to the store directory that stays inside it: not
// absolute (no leading separator, no drive letter) and without a ".." step.
static int IsNameWithinStore(const char *file) {
    if (file[0] == '/' || file[0] == '\\' || (file[0] && file[1] == ':')) return 0;
    for (const char *step = file; *step;) {
        size_t len = strcspn(step, "/\\");
        if (len == 2 && step[0] == '.' && step[1] == '.') return 0;
        step += len;
        if (*step) step++;
    }
    return 1;
}

// One folder per 624-byte record of folders.nch, in file order.
static void ListFolderFile(FILE *list, const char *storeDir) {
    unsigned char record[NCH_RECORD_LEN];
    if (fseek(list, NCH_HEADER_LEN, SEEK_SET) != 0) return;
    while (fread(record, 1, NCH_RECORD_LEN, list) == NCH_RECORD_LEN) {
        char name[NCH_NAME_LEN + 1];
        char file[NCH_RECORD_LEN - NCH_NAME_LEN + 1];
        com_strncpy(name, (const char *)record, NCH_NAME_LEN);
        com_strncpy(file, (const char *)record + NCH_NAME_LEN, NCH_RECORD_LEN - NCH_NAME_LEN);
        char path[BV_PATH_LEN * 2];
        bv_snprintf(path, sizeof(path), "%s%s", storeDir, file);
        // the list names files of this store only: an absolute name or ".." could point anywhere
        if (!IsNameWithinStore(file)) {
            com_Log("BV Warning: folder %s skipped: its file %s is not in the store directory", name, file);
            continue;
        }
        AddStoreFileFolder(name, path);
    }
}

// Without folders.nch: every DBX and MBX file of the directory. Outlook
// Express writes "Inbox.dbx", so the extension is compared without regard
// to case.
static void ListMailFiles(const char *storeDir) {
    char pattern[BV_PATH_LEN * 2];
    bv_snprintf(pattern, sizeof(pattern), "%s*.*", storeDir);
    PlatFindData entry;
    PlatFind *find = plat_FindFirstFile(pattern, &entry);
    if (!find) return;
    do {
        if (entry.isDirectory) continue;
        if (!MailFileHasExtension(entry.name, "MBX") && !MailFileHasExtension(entry.name, "DBX")) continue;
        // The folder is the file name without its extension; a name that is
        // UTF-8 already stays as it is, any other is taken as ISO-8859-1.
        char name[BV_PATH_LEN];
        com_strncpy(name, entry.name, sizeof(name) - 1);
        char *dot = strrchr(name, '.');
        if (dot) *dot = 0;
        if (!IsValidUtf8(name, strlen(name))) com_CodepageToWindows(name, 28591, 65001, sizeof(name));
        char path[BV_PATH_LEN * 2];
        bv_snprintf(path, sizeof(path), "%s%s", storeDir, entry.name);
        AddStoreFileFolder(name, path);
    } while (plat_FindNextFile(find, &entry));
    plat_FindClose(find);
}

static void ListStoreDirectory(const char *storePath) {
    char storeDir[BV_PATH_LEN];
    com_strncpy(storeDir, storePath ? storePath : "", sizeof(storeDir) - 2);
    com_AppendSlash(storeDir, sizeof(storeDir));
    FILE *list = OpenFolderList(storeDir);
    if (list) {
        ListFolderFile(list, storeDir);
        fclose(list);
    } else {
        ListMailFiles(storeDir);
    }
}

// ---- live store ------------------------------------------------------------------

static char gWalkPath[BV_PATH_LEN];  // names of the folder and its ancestors, joined by '^'
static int gWalkDepth;

// The folder's name as UTF-8 into out; 0 when it cannot be had.
static int GetFolderNameUtf8(OeFolder *folder, char *out, size_t outCap) {
    BSTR name = NULL;
    if (FAILED(folder->lpVtbl->GetName(folder, &name)) || !name) return 0;
    int units = (int)plat_SysStringLen(name);
    int written = units > 0 ? plat_WideCharToMultiByte(65001, name, units, out, (int)outCap - 1) : 0;
    plat_SysFreeString(name);
    if (units > 0 && written <= 0) return 0;
    out[written] = 0;
    return 1;
}

static void WalkOeFolder(OeFolder *folder, int depth) {
    if (depth == 0) {
        gWalkPath[0] = 0;
    } else {
        // Cut before the depth-th '^', leaving the names of the ancestors.
        char *cut = gWalkPath;
        for (int seen = 0; (cut = strchr(cut, '^')) != NULL; cut++) {
            if (++seen == depth) {
                *cut = 0;
                break;
            }
        }
        size_t len = strlen(gWalkPath);
        if (len + 1 < sizeof(gWalkPath)) {
            gWalkPath[len] = '^';
            gWalkPath[len + 1] = 0;
        }
    }
    gWalkDepth++;
    char name[BV_PATH_LEN];
    uint32_t id = 0;
    int32_t count = 0;
    if (GetFolderNameUtf8(folder, name, sizeof(name)) && SUCCEEDED(folder->lpVtbl->GetID(folder, &id)) &&
        SUCCEEDED(folder->lpVtbl->GetMessageCount(folder, &count))) {
        size_t len = strlen(gWalkPath);
        com_strncpy(gWalkPath + len, name, sizeof(gWalkPath) - 1 - len);
        AddFolder(gWalkPath, gWalkPath, id, count > 0 ? (uint32_t)count : 0, BV_CLASS_MAIL);
        OeFolder *child = NULL;
        HRESULT hr = folder->lpVtbl->GetFirstChild(folder, &child);
        while (SUCCEEDED(hr) && child) {
            WalkOeFolder(child, gWalkDepth);
            child->lpVtbl->Release(child);
            child = NULL;
            hr = folder->lpVtbl->GetNextChild(folder, &child);
        }
    }
    gWalkDepth--;
}

static void ListLiveStore(void) {
    OeFolder *root = NULL;
    if (!gOeApi || FAILED(gOeApi->lpVtbl->GetRootFolder(gOeApi, &root)) || !root) return;
    gWalkDepth = 0;
    // The root of a Maildir store holds the messages of its inbox. Outlook
    // Express keeps no messages there, but where a store does, they are
    // listed as a folder of their own rather than left behind.
    uint32_t rootId = 0;
    int32_t rootCount = 0;
    if (SUCCEEDED(root->lpVtbl->GetID(root, &rootId)) && SUCCEEDED(root->lpVtbl->GetMessageCount(root, &rootCount)) &&
        rootCount > 0)
        AddFolder(kStoreRootFolderName, kStoreRootFolderName, rootId, (uint32_t)rootCount, BV_CLASS_MAIL);
    OeFolder *top = NULL;
    HRESULT hr = root->lpVtbl->GetFirstChild(root, &top);
    while (SUCCEEDED(hr) && top) {
        WalkOeFolder(top, 0);
        top->lpVtbl->Release(top);
        top = NULL;
        hr = root->lpVtbl->GetNextChild(root, &top);
    }
    root->lpVtbl->Release(root);
}

// ---- contacts, calendar, tasks -----------------------------------------------------

// The listed file folders of class c: the session's address with its last
// path step replaced by the folder name ("…/Calendar?fmt=ics" -> "…/Work?fmt=ics").
static void ListFileFolders(uint32_t folderClass) {
    for (int i = 0; i < gFileFolderCount; i++) {
        const FileFolderRecord *record = gFileFolderTable[i];
        if (!record || record->folderClass != (int)folderClass) continue;
        const char *query = com_stristr(gCalSourceSpec, "?fmt=", 0);
        if (!query) continue;
        size_t base = (size_t)(query - gCalSourceSpec);
        while (base > 0 && gCalSourceSpec[base - 1] != '/') base--;
        char address[sizeof(gCalSourceSpec) + sizeof(record->name)];
        bv_snprintf(address, sizeof(address), "%.*s%s%s", (int)base, gCalSourceSpec, record->name, query);
        AddFolder(record->name, address, 0, record->count > 0 ? (uint32_t)record->count : 0, folderClass);
    }
}

static void ListContacts(void) {
    if (gFileFolderCount > 0) {
        ListFileFolders(BV_CLASS_CONTACTS);
        return;
    }
    int count = IsNk2Path(gSourcePath)
                    ? CountNK2Contacts(gSourcePath)
                    : CountCsvContacts(gSourcePath);
    AddFolder("Contacts", gSourcePath, 0, count > 0 ? (uint32_t)count : 0, BV_CLASS_CONTACTS);
}

static void ListCalendar(void) {
    if (gFileFolderCount > 0) {
        ListFileFolders(BV_CLASS_CALENDAR);
        return;
    }
    int count;
    if (com_stristr(gOutputPath, ".txt", 0)) {
        count = CountUnisonEntries(gOutputPath);
    } else {
        count = CountCalEntries(gOutputPath, "VEVENT");
        if (gIcsListMade) com_strncpy(gOutputPath, gCalSourceSpec, sizeof(gOutputPath) - 1);
    }
    AddFolder("Calendar", gOutputPath, 0, count > 0 ? (uint32_t)count : 0, BV_CLASS_CALENDAR);
}

static void ListTasks(void) {
    if (gFileFolderCount > 0) {
        ListFileFolders(BV_CLASS_TASKS);
        return;
    }
    int count = CountCalEntries(gOutputPath, "VTODO");
    AddFolder("Tasks", gOutputPath, 0, count > 0 ? (uint32_t)count : 0, BV_CLASS_TASKS);
}

static void ListSessionFolders(const char *storePath) {
    if (gAdrType == BV_ADR_MAIL) {
        if (gOeDirect)
            ListStoreDirectory(storePath);
        else
            ListLiveStore();
    } else if (gAdrType == BV_ADR_CONTACTS || gAdrType == BV_ADR_CONTACTS_ALSO_LISTED) {
        ListContacts();
    } else if (gAdrType == BV_ADR_CALENDAR) {
        ListCalendar();
    } else if (gAdrType == BV_ADR_TASKS) {
        ListTasks();
    }
}

extern "C" int DiscoverFolders(const char *storePath, BvFolderCallback callback) {
    // A directory store filled the table at logon; it is only reported (the
    // session's counters would read the store directory as one file).
    if (!gKerioDir[0]) {
        FreeFolderTable();
        ListSessionFolders(storePath);
    }
    if (!callback) return 0;
    for (int i = 0; i < gFolderCount; i++) {
        const FolderRecord *folder = gFolderTable[i];
        char text[FOLDER_TEXT_LEN];
        bv_snprintf(text, sizeof(text), "%s {BV:%d:FCLASS:%d}", folder->trueName, (int)folder->itemCount,
                    (int)folder->folderClass);
        callback(text);
    }
    return 0;
}
