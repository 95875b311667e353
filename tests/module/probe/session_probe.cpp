// Test-only additions to a second build of the module (libbvole_probe.so):
// read access to the session values that no export shows, and a way to put
// folders into the table without a store reader. The shipped libbvole.so
// does not contain this file.
#include <stdlib.h>
#include <string.h>

#include "module/session.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct IntEntry {
    const char *name;
    int *value;
};

const IntEntry kInts[] = {
    {"gAdrType", &gAdrType}, {"gUpcomingOnly", &gUpcomingOnly}, {"gUtcBias", &gUtcBias},
    {"gDstOffset", &gDstOffset}, {"gComStarted", &gComStarted}, {"gFileFolderCount", &gFileFolderCount},
    {"gFolderCount", &gFolderCount}, {"gMaxRead", &gMaxRead}, {"gMaxRecipients", &gMaxRecipients},
    {"gRootFolderCreated", &gRootFolderCreated}, {"gLogUuid", &gLogUuid}, {"gD153", &gD153},
    {"gD153One", &gD153One}, {"gCurlDebug", &gCurlDebug}, {"gD179", &gD179}, {"gD301", &gD301},
    {"gD288", &gD288}, {"gD149", &gD149}, {"gUtf8", &gUtf8}, {"gCp850", &gCp850}, {"gBvGui", &gBvGui},
    {"gDebug", &gDebug}, {"gNoInventory", &gNoInventory}, {"gSStore", &gSStore}, {"gFas", &gFas},
    {"gActDir", &gActDir}, {"gCsvTask", &gCsvTask}, {"gXimian", &gXimian}, {"gOeDirect", &gOeDirect},
    {"gDedup", &gDedup}, {"gLSub", &gLSub}, {"gEih", &gEih}, {"gD68", &gD68}, {"gD74", &gD74},
    {"gD77", &gD77}, {"gD81", &gD81}, {"gD84", &gD84}, {"gUnid", &gUnid}, {"gNhs", &gNhs},
    {"gD133", &gD133}, {"gD220", &gD220}, {"gD226", &gD226}, {"gD230", &gD230}, {"gD242", &gD242},
    {"gEvcs", &gEvcs}, {"gEvcsLevel", &gEvcsLevel}, {"gD161", &gD161}, {"gMaxAttachSize", &gMaxAttachSize},
    {"gD47", &gD47}, {"gHostSetting5", &gHostSetting5},
};

struct TextEntry {
    const char *name;
    const char *value;
};

}  // namespace

// -999999 for an unknown name.
PROBE_EXPORT int BvProbeInt(const char *name) {
    for (const IntEntry &entry : kInts)
        if (strcmp(entry.name, name) == 0) return *entry.value;
    return -999999;
}

// "fileFolder:N" gives the name of record N of the "/ZFOLDERS" table;
// "fileFolderCount:N" and "fileFolderClass:N" are read with BvProbeFileFolder.
PROBE_EXPORT const char *BvProbeText(const char *name) {
    const TextEntry texts[] = {
        {"gRootFolderName", gRootFolderName}, {"gZFoldersFile", gZFoldersFile}, {"gD223Text", gD223Text},
        {"gD160Text", gD160Text}, {"gD159Text", gD159Text}, {"gAttachDir", gAttachDir},
        {"gD55Text", gD55Text}, {"gGmtOffset", gGmtOffset}, {"gStoreRoot", gStoreRoot},
        {"gSourcePath", gSourcePath}, {"gOutputPath", gOutputPath}, {"gContactOutPath", gContactOutPath},
        {"gCalSourceSpec", gCalSourceSpec}, {"gKerioDir", gKerioDir}, {"gHostWorkDir", gHostWorkDir},
    };
    for (const TextEntry &entry : texts)
        if (strcmp(entry.name, name) == 0) return entry.value;
    return nullptr;
}

// Record `index` of the "/ZFOLDERS" table: name, count and class; 0 when absent.
PROBE_EXPORT int BvProbeFileFolder(int index, const char **name, int *count, int *folderClass) {
    if (index < 0 || index >= gFileFolderCount || !gFileFolderTable[index]) return 0;
    *name = gFileFolderTable[index]->name;
    *count = gFileFolderTable[index]->count;
    *folderClass = gFileFolderTable[index]->folderClass;
    return 1;
}

// Appends a folder to gFolderTable as folder discovery would.
PROBE_EXPORT int BvProbeAddFolder(const char *name, const char *file, int folderClass, int itemCount) {
    FolderRecord **table = (FolderRecord **)realloc(gFolderTable, sizeof(FolderRecord *) * (gFolderCount + 1));
    if (!table) return 0;
    gFolderTable = table;
    FolderRecord *folder = (FolderRecord *)calloc(1, sizeof(FolderRecord));
    if (!folder) return 0;
    com_strncpy(folder->trueName, name, sizeof folder->trueName - 1);
    com_strncpy(folder->displayName, name, sizeof folder->displayName - 1);
    com_strncpy(folder->fileName, file, sizeof folder->fileName - 1);
    folder->folderClass = (uint32_t)folderClass;
    folder->itemCount = (uint32_t)itemCount;
    gFolderTable[gFolderCount++] = folder;
    return 1;
}
