// The exports of the session cycle: folder list, read cycle (InitRead,
// ConvertFolder, CloseRead), write cycle (InitWrite, WriteMsg, CloseWrite),
// Logoff and TestFile. GetLogonParameters and Logon live in logon.cpp.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <type_traits>
#include "calread/calread.h"
#include "calwrite/calwrite.h"
#include "compose/compose.h"
#include "contacts/contacts.h"
#include "mailstore/mailstore.h"
#include "module/exports.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

static_assert(std::is_same_v<decltype(&GetLogonParameters), BvGetLogonParametersFn>);
static_assert(std::is_same_v<decltype(&Logon), BvLogonFn>);
static_assert(std::is_same_v<decltype(&Logoff), BvLogoffFn>);
static_assert(std::is_same_v<decltype(&GetFolderNames), BvGetFolderNamesFn>);
static_assert(std::is_same_v<decltype(&GetTrueFolder), BvGetTrueFolderFn>);
static_assert(std::is_same_v<decltype(&ConvertFolder), BvConvertFolderFn>);
static_assert(std::is_same_v<decltype(&InitRead), BvInitReadFn>);
static_assert(std::is_same_v<decltype(&CloseRead), BvCloseReadFn>);
static_assert(std::is_same_v<decltype(&InitWrite), BvInitWriteFn>);
static_assert(std::is_same_v<decltype(&WriteMsg), BvWriteMsgFn>);
static_assert(std::is_same_v<decltype(&CloseWrite), BvCloseWriteFn>);
static_assert(std::is_same_v<decltype(&TestFile), BvTestFileFn>);

namespace {

enum WriteDataType { WRITE_MAIL = 0, WRITE_CONTACT = 1, WRITE_EVENT = 2, WRITE_TASK = 3 };

FolderRecord *FolderAt(int folderNumber) {
    if (!gFolderTable || folderNumber < 0 || folderNumber >= gFolderCount) return nullptr;
    return gFolderTable[folderNumber];
}

void CloseOutFile(void) {
    // Each item was flushed and checked as it was written; this catches the closing lines.
    if (gOutFile && !plat_CloseWritten(gOutFile)) com_Log("BV Error: cannot write the end of the output file");
    gOutFile = nullptr;
}

void FreeNotesBuf(void) {
    free(gNotesBuf);
    gNotesBuf = nullptr;
}

// Without a store object (its logon failed) there is nothing to create
// folders or messages in.
int HaveMailStore(void) {
    if (gOeApi) return 1;
    com_Log("BV Warning: no mail store is open");
    return 0;
}

void CreateMailFolder(const char *path) {
    if (HaveMailStore()) CreateOEFolder(path);
}

// The group folder (once per session, unless it is "root" or empty), then
// the target folder below it.
void InitMailFolder(mdat *rec, const char *folderName) {
    if (gDebug)
        com_Log("debug: at InitWrite, FolderName=%s, gRootFolderCreated=%d, GroupFolder=%s", folderName,
                gRootFolderCreated, rec->groupFolder);
    if (!gRootFolderCreated && rec->groupFolder[0] && strcasecmp(rec->groupFolder, "root") != 0) {
        CreateMailFolder(rec->groupFolder);
        gRootFolderCreated = 1;
        gParentFolderId = gCurrentFolderId;
    }
    CreateMailFolder(folderName);
}

// The duplicate register's name for a mail folder: its display name and its
// store file (relative to the store directory), so that two folders of the
// same name never share entries, and a store that was moved keeps them.
void RegisterFolderKey(const FolderRecord *folder, char *out, size_t outCap) {
    const char *file = folder->fileName;
    size_t rootLen = strlen(gStoreRoot);
    if (gOeDirect && rootLen && strncmp(file, gStoreRoot, rootLen) == 0) file += rootLen;
    if (!gOeDirect || !*file) file = folder->trueName;
    bv_snprintf(out, outCap, "%s\t%s", folder->displayName, file);
}

}  // namespace

BV_EXPORT int BV_CALL Logoff(BvHostValue) {
    FreeFolderTable();
    FreeFileFolderTable();
    FreeSegmentTable();
    if (gComStarted) {
        if (gOeApi) gOeApi->lpVtbl->Release(gOeApi);
        gOeApi = nullptr;
        gComStarted = 0;
    }
    return 0;
}

BV_EXPORT int BV_CALL GetFolderNames(char *storePath, BvFolderCallback callback) {
    return DiscoverFolders(storePath ? storePath : "", callback);
}

BV_EXPORT int BV_CALL GetTrueFolder(int folderNumber, char *out) {
    FolderRecord *folder = FolderAt(folderNumber);
    if (out) com_strncpy(out, folder ? folder->trueName : "", BV_HOST_TEXT_LEN - 1);
    return 0;
}

BV_EXPORT int BV_CALL ConvertFolder(mdat *record, BvItemCallback itemCallback, int folderNumber,
                                    const char *itemHostValue, BvHostValue search1, BvHostValue search2,
                                    BvHostValue search3, BvHostValue attachHostValue, int maxRecipients,
                                    BvHostValue dateHostValue, const char *workDir, int *countOut, int *sizeOut,
                                    BvStatusCallback statusCallback) {
    int count = 0;
    int size = 0;
    if (!countOut) countOut = &count;
    if (!sizeOut) sizeOut = &size;
    *countOut = 0;
    *sizeOut = 0;
    FolderRecord *folder = FolderAt(folderNumber);
    if (!record || !folder) {
        com_Log("BV Error: ConvertFolder: no folder number %d", folderNumber);
        return 0;
    }
    if (!workDir) workDir = "";
    gMaxRecipients = maxRecipients > BV_MAX_RECIPIENT_LIMIT ? BV_MAX_RECIPIENT_LIMIT : maxRecipients;

    int result = 0;
    switch (folder->folderClass) {
    case BV_CLASS_CONTACTS:
        if (gKerioDir[0])
            ReadStoreDirContacts(folderNumber, record, itemCallback, workDir, countOut, statusCallback);
        else
            ParseContactFile(folderNumber, record, itemCallback, workDir, countOut, statusCallback);
        break;
    case BV_CLASS_CALENDAR:
        if (gKerioDir[0]) {
            ReadStoreDirCalendar(folder, record, itemCallback, gMaxRecipients, workDir, countOut, sizeOut,
                                 statusCallback);
            break;
        }
        // Each folder of a "/ZFOLDERS" list has its own address.
        if (folder->fileName[0]) com_strncpy(gOutputPath, folder->fileName, sizeof gOutputPath - 1);
        ReadCalendarFolder(record, itemCallback, gMaxRecipients, workDir, countOut, sizeOut, statusCallback);
        break;
    case BV_CLASS_TASKS:
        ReadTaskFolder(record, itemCallback, folderNumber, workDir, countOut, statusCallback);
        break;
    default: {
        MailHandOver handOver;
        memset(&handOver, 0, sizeof handOver);
        handOver.record = record;
        handOver.itemCallback = itemCallback;
        handOver.itemHostValue = itemHostValue;
        handOver.search1 = search1;
        handOver.search2 = search2;
        handOver.search3 = search3;
        handOver.attachHostValue = attachHostValue;
        handOver.dateHostValue = dateHostValue;
        handOver.workDir = workDir;
        handOver.statusCallback = statusCallback;
        char registerKey[2 * BV_PATH_LEN + 2];
        RegisterFolderKey(folder, registerKey, sizeof registerKey);
        handOver.folderName = registerKey;
        result = ReadMailFolder(&handOver, folderNumber);
        *countOut = handOver.itemNumber;
        *sizeOut = handOver.sizeTotal;
        break;
    }
    }
    record->folderTotal = (int32_t)folder->itemCount;
    return result;
}

BV_EXPORT int BV_CALL InitRead(mdat *record, BvHostValue, BvHostValue, BvHostValue, BvHostValue, int maxRead) {
    gMaxRead = maxRead;
    if (record) com_strncpy(record->groupFolder, gSStore ? "" : gRootFolderName, sizeof record->groupFolder - 1);
    return 0;
}

BV_EXPORT int BV_CALL CloseRead(BvHostValue) { return 0; }

BV_EXPORT int BV_CALL InitWrite(mdat *record, const char *folderName, BvHostValue, int dataType) {
    if (!folderName) folderName = "";
    switch (dataType) {
    case WRITE_CONTACT:
        InitContactFile();
        break;
    case WRITE_EVENT:
        InitEventFile();
        break;
    case WRITE_TASK:
        InitTaskFile();
        break;
    default:
        if (record) InitMailFolder(record, folderName);
        break;
    }
    return 0;
}

// After an item went to an output file: 1 when a write to it failed (full
// disk, short write), so that the host counts the item as failed.
static int OutputFailed(FILE *file, const char *what) {
    if (!file || (fflush(file) == 0 && !ferror(file))) return 0;
    com_Log("BV Error: cannot write the %s file", what);
    return 1;
}

BV_EXPORT int BV_CALL WriteMsg(mdat *record, const char *folderName, const char *workDir, BvHostValue) {
    if (!record) return 0;
    if (!workDir) workDir = "";
    if (!folderName) folderName = "";
    switch (record->dataType) {
    case WRITE_CONTACT:
        WriteContact(record, workDir);
        return OutputFailed(gOutFile, "contact");
    case WRITE_EVENT:
        if (!(gCsvTask && record->itemFlag == 1)) WriteEvent(record, workDir, -1);
        if (gCsvTask) WriteCsvTaskLine(record, workDir);
        return OutputFailed(gOutFile, "calendar") | OutputFailed(gCsvFile, "task list");
    case WRITE_TASK:
        if (gOutFile) WriteTask(record, workDir);
        return OutputFailed(gOutFile, "task");
    default:
        com_CharConvert(record, workDir);
        return HaveMailStore() ? ImportOEMessage(workDir, record, folderName) : 0;
    }
}

BV_EXPORT int BV_CALL CloseWrite(int dataType) {
    switch (dataType) {
    case WRITE_CONTACT:
        FreeNotesBuf();
        CloseOutFile();
        break;
    case WRITE_EVENT:
        if (!gD301 && gOutFile) bv_fprintf(gOutFile, "END:VCALENDAR\n");
        CloseOutFile();
        if (gCsvTask && gCsvFile) {
            fclose(gCsvFile);
            gCsvFile = nullptr;
        }
        FreeNotesBuf();
        break;
    case WRITE_TASK:
        if (gOutFile) {
            bv_fprintf(gOutFile, "END:VCALENDAR\n");
            CloseOutFile();
            FreeNotesBuf();
        }
        break;
    default:
        break;
    }
    return 0;
}

BV_EXPORT int BV_CALL TestFile(const char *path, char *dirOut) { return TestStoreFile(path ? path : "", dirOut); }
