// Definitions of the session globals declared in session.h.
#include "module/session.h"

extern "C" {
int gAdrType;
int gUpcomingOnly;
FILETIME gLogonTime;
int gUtcBias;
int gDstOffset;
char gGmtOffset[16];
struct OeRoot *gOeApi;
int gComStarted;
char gStoreRoot[256];
char gSourcePath[BV_PATH_LEN];
char gOutputPath[BV_PATH_LEN];
char gContactOutPath[BV_PATH_LEN];
char gCalSourceSpec[1024];
char gKerioDir[BV_PATH_LEN];
char gHostWorkDir[BV_PATH_LEN];
int gHostSetting5;
int gIcsListMade;
char gMessageFileDir[BV_PATH_LEN];

FolderRecord **gFolderTable;
int gFolderCount;
FileFolderRecord *gFileFolderTable[BV_MAX_FILE_FOLDERS];
int gFileFolderCount;
struct SegmentEntry *gSegmentTable;
int gSegmentCount;

int gMaxRead;
int gMaxRecipients = BV_MAX_RECIPIENT_LIMIT;
int gRootFolderCreated;
uint32_t gParentFolderId;
uint32_t gCurrentFolderId;
FILE *gOutFile;
FILE *gCsvFile;
char *gNotesBuf;

int gLogUuid;
int gD153, gD153One;
int gCurlDebug;
int gInsecureTls;
int gD179;
int gD301;
int gD288;
int gD149;
int gUtf8;
int gCp850;
int gBvGui;
int gDebug;
int gNoInventory;
int gSStore;
int gFas;
int gActDir;
int gCsvTask;
int gXimian;
int gOeDirect;
int gDedup;
int gLSub;
int gEih;
int gD68, gD74, gD77, gD81;
int gD84 = 1;
int gUnid;
int gNhs;
int gD133 = 1;
int gD220, gD226, gD230;
int gD242 = 1;
char gRootFolderName[BV_SWITCH_TEXT_LEN] = "root";
char gZFoldersFile[BV_SWITCH_TEXT_LEN];
char gD223Text[BV_SWITCH_TEXT_LEN];
char gD160Text[BV_SWITCH_TEXT_LEN];
char gD159Text[BV_SWITCH_TEXT_LEN];
int gEvcs, gEvcsLevel;
int gD161;
int gMaxAttachSize = 9999999;
char gAttachDir[BV_SWITCH_TEXT_LEN];
char gD55Text[BV_SWITCH_TEXT_LEN];
int gD47;
}

#include <stdlib.h>

extern "C" void FreeFolderTable(void) {
    for (int i = 0; i < gFolderCount; i++) free(gFolderTable[i]);
    free(gFolderTable);
    gFolderTable = nullptr;
    gFolderCount = 0;
}

extern "C" void FreeFileFolderTable(void) {
    for (int i = 0; i < gFileFolderCount; i++) {
        free(gFileFolderTable[i]);
        gFileFolderTable[i] = nullptr;
    }
    gFileFolderCount = 0;
}

extern "C" void FreeSegmentTable(void) {
    free(gSegmentTable);
    gSegmentTable = nullptr;
    gSegmentCount = 0;
}
