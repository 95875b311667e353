// Session state of one loaded module instance: the values of the logon, the
// option switches, the folder table and the open outputs. All of it is global
// because the host drives one session per loaded instance, one export at a
// time.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include "platform/wintypes.h"
#include "record/com.h"

#define BV_MAX_FILE_FOLDERS 500
#define BV_MAX_RECIPIENT_LIMIT 5000
#define BV_PATH_LEN 512
#define BV_SWITCH_TEXT_LEN 512

// Host callbacks.
typedef int(BV_CALL *BvItemCallback)(mdat *rec, const char *hostValue, const char *workDir, int itemNumber);
typedef int(BV_CALL *BvStatusCallback)(mdat *rec, const char *text, int status, int *a, int *b, int *stop);
typedef int(BV_CALL *BvFolderCallback)(const char *folderText);

// Status values passed to the status callback.
enum BvItemStatus {
    BV_STATUS_HANDED_OVER = 0,
    BV_STATUS_DUPLICATE = 1,
    BV_STATUS_DATE_LIMIT = 2,
    BV_STATUS_FAILED = 3,  // the item could not be read or parsed (the log says why)
    BV_STATUS_EXCLUDED = 6,
};
#define BV_HOST_DID_NOT_TAKE 1234  // item callback answer

enum BvFolderClass { BV_CLASS_MAIL = 0, BV_CLASS_CONTACTS = 1, BV_CLASS_CALENDAR = 2, BV_CLASS_TASKS = 3 };

// Address types of a session (`gAdrType`): mail, contacts (1 to 98, of which
// 2, also forced by the "CSVZ" tag, and 10 list their contact file as a
// folder), calendar and tasks.
enum BvAddressType {
    BV_ADR_MAIL = 0,
    BV_ADR_CONTACTS_FIRST = 1,
    BV_ADR_CONTACTS = 2,
    BV_ADR_CONTACTS_ALSO_LISTED = 10,
    BV_ADR_CONTACTS_LAST = 98,
    BV_ADR_CALENDAR = 99,
    BV_ADR_TASKS = 100,
};

typedef struct FolderRecord {
    char trueName[BV_PATH_LEN];     // levels joined with '^'
    char fileName[BV_PATH_LEN];     // store file or source path
    char displayName[BV_PATH_LEN];  // '/' -> '\', then '^' -> '/'
    uint32_t oeFolderId;
    uint32_t itemCount;
    uint32_t folderClass;
} FolderRecord;

// A folder named in the "/ZFOLDERS" list.
typedef struct FileFolderRecord {
    char name[1024];
    int count;
    int folderClass;  // 1 contacts, 2 calendar, 3 tasks
} FileFolderRecord;

struct OeRoot;
struct SegmentEntry;

#ifdef __cplusplus
extern "C" {
#endif

// ---- logon ----------------------------------------------------------------------
extern int gAdrType;  // 0 mail, 1-98 contacts, 99 calendar, 100 tasks
extern int gUpcomingOnly;
extern FILETIME gLogonTime;
extern int gUtcBias;
extern int gDstOffset;
extern char gGmtOffset[16];  // "+0100"
extern struct OeRoot *gOeApi;
extern int gComStarted;
extern char gStoreRoot[256];
extern char gSourcePath[BV_PATH_LEN];
extern char gOutputPath[BV_PATH_LEN];
extern char gContactOutPath[BV_PATH_LEN];
extern char gCalSourceSpec[1024];
extern char gKerioDir[BV_PATH_LEN];
extern char gHostWorkDir[BV_PATH_LEN];  // host setting 6
extern int gHostSetting5;              // host setting 5, kept for the calendar loop
extern int gIcsListMade;
// Directory of the message file being read: the files that a message names
// (X-Becky-Include, "Attachment:", "FileID:") are taken from there only. The
// store readers fill it; empty for the live store, which has none.
extern char gMessageFileDir[BV_PATH_LEN];

// ---- tables ----------------------------------------------------------------------
extern FolderRecord **gFolderTable;
extern int gFolderCount;
extern FileFolderRecord *gFileFolderTable[BV_MAX_FILE_FOLDERS];
extern int gFileFolderCount;
extern struct SegmentEntry *gSegmentTable;  // one array, in file order
extern int gSegmentCount;

// ---- read and write cycles ------------------------------------------------------------
extern int gMaxRead;
extern int gMaxRecipients;
extern int gRootFolderCreated;
extern uint32_t gParentFolderId;
extern uint32_t gCurrentFolderId;
extern FILE *gOutFile;
extern FILE *gCsvFile;
extern char *gNotesBuf;  // BV_NOTES_LEN bytes from InitWrite to CloseWrite

// ---- option switches (in the order of the switch table) --------------------------------
extern int gLogUuid;
extern int gD153, gD153One;
extern int gCurlDebug;
extern int gInsecureTls;  // downloads skip TLS certificate and host verification
extern int gD179;
extern int gD301;
extern int gD288;
extern int gD149;
extern int gUtf8;
extern int gCp850;
extern int gBvGui;
extern int gDebug;
extern int gNoInventory;
extern int gSStore;
extern int gFas;
extern int gActDir;
extern int gCsvTask;
extern int gXimian;
extern int gOeDirect;
extern int gDedup;
extern int gLSub;
extern int gEih;
extern int gD68, gD74, gD77, gD81;
extern int gD84;  // default 1
extern int gUnid;
extern int gNhs;
extern int gD133;  // default 1
extern int gD220, gD226, gD230;
extern int gD242;  // default 1
extern char gRootFolderName[BV_SWITCH_TEXT_LEN];  // default "root"
extern char gZFoldersFile[BV_SWITCH_TEXT_LEN];
extern char gD223Text[BV_SWITCH_TEXT_LEN];
extern char gD160Text[BV_SWITCH_TEXT_LEN];
extern char gD159Text[BV_SWITCH_TEXT_LEN];
extern int gEvcs, gEvcsLevel;
extern int gD161;
extern int gMaxAttachSize;  // default 9999999
extern char gAttachDir[BV_SWITCH_TEXT_LEN];
extern char gD55Text[BV_SWITCH_TEXT_LEN];
extern int gD47;

void ParseOptionSwitches(void);

// Free the session's tables and set their counts to 0. The records and the
// pointer array of gFolderTable and the array gSegmentTable are malloc'd blocks.
void FreeFolderTable(void);
void FreeFileFolderTable(void);
void FreeSegmentTable(void);

// The module's output routines: every line of every output file goes through
// bv_fprintf; bv_snprintf never writes past outCap; bv_sscanf scans a string.
int bv_fprintf(FILE *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
int bv_snprintf(char *out, size_t outCap, const char *format, ...) __attribute__((format(printf, 3, 4)));
// One CSV field, quoted and with its quotes doubled where RFC 4180 needs it.
int bv_fputcsv(FILE *file, const char *text, int alwaysQuote);
int bv_sscanf(const char *text, const char *format, ...) __attribute__((format(scanf, 2, 3)));

#ifdef __cplusplus
}
#endif
