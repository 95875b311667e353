// GetLogonParameters and Logon: the logon dialog's fields, and the opening of
// the source or target (store object, store directory, file, download,
// directory store).
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include "http/http.h"
#include "mailstore/mailstore.h"
#include "module/exports.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

namespace {

const char kContactFilter[] = "F,Comma Seperated Values (*.csv)|*.csv|Outlook Nickname (*.nk2)|*.nk2";
const char kCalendarFilter[] = "F,vCalendar (*.vcs)|*.vcs|vCalendar (*.vcal)|*.vcal|iCalendar (*.ics)|*.ics";
const char kZimbraContacts[] = "https://<host:port>/user/<user>/contacts?fmt=csv|admin|password";
const char kZimbraCalendar[] = "https://<host:port>/user/<user>/calendar?fmt=ics|admin|password";
const char kZimbraTasks[] = "https://<host:port>/user/<user>/tasks?fmt=ics|admin|password";
const char kGoDaddyCalendar[] = "https://calendar.secureserver.net/pub/<calendar>/calendar.ics";
const char kKerioDefault[] = "c:\\program files\\kerio\\mailserver\\store\\mail\\servername\\username";
const char kOeMailDefault[] = "c:\\Windows\\Application Data\\Microsoft\\Outlook Express\\Mail";
const char kDefaultUserOnly[] = "Default user only";

// The host's path text is UTF-8; the file functions take paths in the
// platform's path encoding: the ANSI code page on Win32, UTF-8 on POSIX
// (where converting to ISO-8859-1 would make every non-ASCII name unopenable).
#ifdef _WIN32
const int kPathCodepage = CP_ACP_ISO;
#else
const int kPathCodepage = CP_UTF8;
#endif

// A work directory leaves room in the BV_PATH_LEN path buffers for the
// longest temporary name (part files of deeply embedded messages).
const size_t kMaxWorkDirLen = BV_PATH_LEN - 192;
const int kZFoldersLineCap = 250;  // a folder-list line holds at most 249 characters

void SetText(char *out, const char *text) {
    if (out) com_strncpy(out, text, BV_HOST_TEXT_LEN - 1);
}

int TagIs(const char *tag, const char *name) { return tag && strcmp(tag, name) == 0; }

// The store root of the default identity, from the registry.
int ReadStoreRoot(char *out, size_t outCap) {
    char identity[BV_PATH_LEN] = "";
    if (!com_RegistryRead(BV_HKEY_USERS, ".DEFAULT\\Identities", "Default User ID", identity, sizeof identity))
        return 0;
    char key[BV_HOST_TEXT_LEN];
    bv_snprintf(key, sizeof key, ".DEFAULT\\Identities\\%s\\Software\\Microsoft\\Outlook Express\\5.0", identity);
    return com_RegistryRead(BV_HKEY_USERS, key, "Store Root", out, outCap);
}

void DefaultInDocuments(char *pathValue, const char *documents, const char *fileName) {
    char path[BV_HOST_TEXT_LEN];
    bv_snprintf(path, sizeof path, "%s%s", documents, fileName);
    SetText(pathValue, path);
}

void FillMailFields(int dataType, char *pathLabel, char *checkLabel, char *pathValue, char *chooser,
                    int storeRootFound, const char *storeRoot) {
    SetText(checkLabel, "");
    if (dataType == 0 && gOeDirect) {
        SetText(pathLabel, "OE Mail Directory:");
        SetText(chooser, "D");
        if (pathValue[0] == '\0' || strncmp(pathValue, "Default user", 12) == 0)
            SetText(pathValue, storeRootFound ? storeRoot : kOeMailDefault);
        return;
    }
    SetText(pathLabel, "User Name");
    SetText(chooser, "");
    SetText(pathValue, kDefaultUserOnly);
}

void FillContactFields(int dataType, const char *tag, char *pathLabel, char *checkLabel, char *pathValue,
                       char *chooser, const char *documents) {
    int zimbra = TagIs(tag, "CSVZ");
    SetText(pathLabel, zimbra ? "Zimbra URL:" : dataType == 2 ? "CSV or NK2 file:" : "CSV file:");
    SetText(checkLabel, "");
    SetText(chooser, kContactFilter);
    if (pathValue[0] != '\0') return;
    if (zimbra)
        SetText(pathValue, kZimbraContacts);
    else
        DefaultInDocuments(pathValue, documents, "addrlist.csv");
}

void FillCalendarFields(int dataType, const char *tag, char *pathLabel, char *checkLabel, char *pathValue,
                        char *chooser, const char *documents) {
    const char *label = "VCS/ICS File:";
    if (dataType == 4) {
        label = TagIs(tag, "VCSZ")   ? "Zimbra URL:"
                : TagIs(tag, "VCSG") ? "GoDaddy URL:"
                : TagIs(tag, "VCSK") ? "Kerio User Dir:"
                                     : "VCS File:";
    }
    SetText(pathLabel, label);
    SetText(checkLabel, dataType == 4 ? "Upcoming events only" : "");
    SetText(chooser, kCalendarFilter);
    if (pathValue[0] != '\0') return;
    if (TagIs(tag, "VCSZ"))
        SetText(pathValue, kZimbraCalendar);
    else if (TagIs(tag, "VCSG"))
        SetText(pathValue, kGoDaddyCalendar);
    else if (TagIs(tag, "VCSK"))
        SetText(pathValue, kKerioDefault);
    else
        DefaultInDocuments(pathValue, documents, "calendar.vcs");
}

void FillTaskFields(const char *tag, char *pathLabel, char *checkLabel, char *pathValue, char *chooser,
                    const char *documents) {
    SetText(pathLabel, TagIs(tag, "VCSZ") ? "Zimbra URL:" : TagIs(tag, "VCSK") ? "Kerio User Dir:" : "VCS/ICS File:");
    SetText(checkLabel, "");
    SetText(chooser, kCalendarFilter);
    if (pathValue[0] != '\0') return;
    if (TagIs(tag, "VCSZ"))
        SetText(pathValue, kZimbraTasks);
    else if (TagIs(tag, "VCSK"))
        SetText(pathValue, kKerioDefault);
    else
        DefaultInDocuments(pathValue, documents, "tasks.vcs");
}

// ---- Logon steps -------------------------------------------------------------------

// gGmtOffset: sign, two hour digits, two minute digits of the offset from GMT,
// the negated bias. The sign is taken from the bias itself so that a bias
// under one hour keeps it ("-0030" for a bias of 30).
void FormatGmtOffset(int bias) {
    int magnitude = bias < 0 ? -bias : bias;
    char sign = bias > 0 ? '-' : '+';
    bv_snprintf(gGmtOffset, sizeof gGmtOffset, "%c%.2d%.2d", sign, magnitude / 60, magnitude % 60);
}

void ComputeZoneValues(void) {
    FILETIME now;
    plat_GetSystemTimeAsFileTime(&now);
    int daylight = com_DateIsDST(&now, 0);
    TIME_ZONE_INFORMATION zone;
    memset(&zone, 0, sizeof zone);
    plat_GetTimeZoneInformation(&zone);
    gDstOffset = zone.DaylightBias;
    gUtcBias = zone.Bias;
    int bias = zone.Bias + (daylight ? zone.DaylightBias : 0);
    FormatGmtOffset(bias);
}

// Reads the "/ZFOLDERS" list: lines up to "Folders:", then one folder a
// line as "name^...=count...=class".
void ReadZFoldersFile(void) {
    if (!gZFoldersFile[0]) return;
    FILE *file = plat_fopen(gZFoldersFile, "r");
    if (!file) return;
    FreeFileFolderTable();
    char line[kZFoldersLineCap];
    int inFolders = 0;
    while (fgets(line, sizeof line, file)) {
        // The rest of an overlong line is dropped, not read as a line of its own.
        if (!strchr(line, '\n') && !feof(file)) {
            int c;
            while ((c = fgetc(file)) != EOF && c != '\n') {
            }
        }
        com_StripLineEnd(line);
        if (!inFolders) {
            inFolders = strcmp(line, "Folders:") == 0;
            continue;
        }
        if (gFileFolderCount >= BV_MAX_FILE_FOLDERS) break;
        char *caret = strchr(line, '^');
        if (!caret) continue;
        char *firstEq = strchr(caret + 1, '=');
        if (!firstEq) continue;
        char *secondEq = strchr(firstEq + 1, '=');
        if (!secondEq) continue;
        int count = atoi(firstEq + 1);
        int folderClass = atoi(secondEq + 1);
        if (folderClass < BV_CLASS_CONTACTS || folderClass > BV_CLASS_TASKS) continue;
        FileFolderRecord *record = (FileFolderRecord *)calloc(1, sizeof(FileFolderRecord));
        if (!record) break;
        *caret = '\0';
        com_strncpy(record->name, line, sizeof record->name - 1);
        record->count = count;
        record->folderClass = folderClass;
        gFileFolderTable[gFileFolderCount++] = record;
    }
    fclose(file);
}

// Any entry in the directory of `path`.
int DirectoryOfPathHasEntries(const char *path, char *dirOut, size_t dirCap) {
    com_ExtractFileDir(path, dirOut, dirCap);
    char pattern[BV_HOST_TEXT_LEN];
    bv_snprintf(pattern, sizeof pattern, "%s%s*.*", dirOut[0] ? dirOut : ".", BV_PATH_SEP_STR);
    PlatFindData entry;
    PlatFind *find = plat_FindFirstFile(pattern, &entry);
    if (!find) return 0;
    plat_FindClose(find);
    return 1;
}

// "/OED": the directory must hold at least one DBX or MBX file.
int LogonStoreDirectory(char *path) {
    com_AppendSlash(path, BV_HOST_TEXT_LEN);
    com_strncpy(gStoreRoot, path, sizeof gStoreRoot - 1);
    char pattern[BV_HOST_TEXT_LEN];
    bv_snprintf(pattern, sizeof pattern, "%s*.*", gStoreRoot);
    PlatFindData entry;
    PlatFind *find = plat_FindFirstFile(pattern, &entry);
    if (!find) return 3;
    int found = 0;
    do {
        char ext[64];
        com_ExtractFileExt(entry.name, ext, sizeof ext);
        found = strcasecmp(ext, "MBX") == 0 || strcasecmp(ext, "DBX") == 0;
    } while (!found && plat_FindNextFile(find, &entry));
    plat_FindClose(find);
    return found ? 0 : 3;
}

// The live store: the automation object through COM.
int LogonStoreObject(void) {
    if (gOeApi) {
        gOeApi->lpVtbl->Release(gOeApi);
        gOeApi = nullptr;
        gComStarted = 0;
    }
    if (FAILED(plat_CoInitialize(nullptr))) {
        com_Log("BV Error: Error CoInitialize");
        com_Log("BV Error: OEAPI libraries are not present");
        return 4;
    }
    void *object = nullptr;
    HRESULT hr = plat_CoCreateInstance(&CLSID_OEAPI, nullptr, BV_CLSCTX_ALL_SERVERS, &IID_IOEAPI, &object);
    if (FAILED(hr) || !object) {
        com_Log("BV Error: Error CoCreateInstance");
        com_Log("BV Error: OEAPI libraries are not present");
        return 4;
    }
    gOeApi = (OeRoot *)object;
    gComStarted = 1;
    return 0;
}

// The host's work directory (setting 6). Part files and temporary files are
// named inside it in fixed-size buffers: a directory that leaves no room for
// the longest of those names is refused, where it would be cut and the
// files would land in a parent directory.
bool TakeWorkDirectory(void) {
    char dir[BV_HOST_TEXT_LEN * 4];
    com_GetHostSetting(BVCOM_SETTING_WORK_DIR, dir, sizeof dir);
    size_t len = strlen(dir);
    if (len > kMaxWorkDirLen) {
        com_Log("BV Error: the work directory is too long (%d characters, at most %d): %.200s...", (int)len,
                (int)kMaxWorkDirLen, dir);
        gHostWorkDir[0] = 0;
        return false;
    }
    com_strncpy(gHostWorkDir, dir, sizeof gHostWorkDir - 1);
    return true;
}

int LogonSourceFile(const char *path) {
    com_strncpy(gSourcePath, path, sizeof gSourcePath - 1);
    com_strncpy(gOutputPath, path, sizeof gOutputPath - 1);
    com_strncpy(gCalSourceSpec, path, sizeof gCalSourceSpec - 1);
    if (strncasecmp(path, "http", 4) == 0) return DownloadSourceFile(gCalSourceSpec);
    if (kPathCodepage != CP_UTF8) {
        com_CodepageToWindows(gOutputPath, CP_UTF8, kPathCodepage, sizeof gOutputPath);
        com_CodepageToWindows(gSourcePath, CP_UTF8, kPathCodepage, sizeof gSourcePath);
    }
    char dir[BV_PATH_LEN];
    if (!DirectoryOfPathHasEntries(gSourcePath, dir, sizeof dir)) {
        com_Log("BV Error: invalid source specification: %s", dir);
        return 3;
    }
    com_RegisterSourceFile(gSourcePath);
    return 0;
}

// A target file: its directory must exist or be creatable; a file left from
// an earlier run is deleted so that every run writes a fresh one.
int LogonTargetFile(const char *path) {
    if (!com_ValidateOutputDir(path, 0)) {
        char dir[BV_PATH_LEN];
        com_ExtractFileDir(path, dir, sizeof dir);
        _com_mkdir(dir[0] ? dir : path);
        if (!com_ValidateOutputDir(path, 0)) return 3;
    }
    // The file of a run's source is never a target: it would be deleted here
    // before a single item was read from it.
    if (com_IsSourceFile(path)) {
        com_Log("BV Error: the target %s is the source file of this run; nothing is deleted or written", path);
        return 3;
    }
    com_strncpy(gContactOutPath, path, sizeof gContactOutPath - 1);
    com_strncpy(gOutputPath, path, sizeof gOutputPath - 1);
    if (plat_FileExists(gOutputPath)) plat_DeleteFile(gOutputPath);
    return 0;
}

}  // namespace

BV_EXPORT int BV_CALL GetLogonParameters(int dataType, int adrType, const char *tag, char *out4, char *out5,
                                         char *pathLabel, char *out7, char *checkLabel, BvHostValue, BvHostValue,
                                         char *pathValue, BvHostValue, char *chooser, BvHostValue,
                                         char *switchText) {
    if (!tag) tag = "";
    com_Log("GetLogonParameters BVOLE: DataType=%d, AdrType=%d, Tag=%s", dataType, adrType, tag);
    SetText(out4, "");
    SetText(out5, "");
    SetText(out7, "");

    char storeRoot[BV_HOST_TEXT_LEN] = "";
    int storeRootFound = ReadStoreRoot(storeRoot, sizeof storeRoot);

    SetText(switchText, dataType == 2 ? "/UTF8" : "");

    char documents[BV_PATH_LEN] = "";
    plat_GetSharedDocumentsFolder(documents, sizeof documents);
    com_AppendSlash(documents, sizeof documents);

    ParseOptionSwitches();

    char emptyPath[BV_HOST_TEXT_LEN] = "";
    if (!pathValue) pathValue = emptyPath;
    if (adrType == BV_ADR_MAIL)
        FillMailFields(dataType, pathLabel, checkLabel, pathValue, chooser, storeRootFound, storeRoot);
    else if (adrType >= BV_ADR_CONTACTS_FIRST && adrType <= BV_ADR_CONTACTS_LAST)
        FillContactFields(dataType, tag, pathLabel, checkLabel, pathValue, chooser, documents);
    else if (adrType == BV_ADR_CALENDAR)
        FillCalendarFields(dataType, tag, pathLabel, checkLabel, pathValue, chooser, documents);
    else if (adrType == BV_ADR_TASKS)
        FillTaskFields(tag, pathLabel, checkLabel, pathValue, chooser, documents);
    return 0;
}

BV_EXPORT int BV_CALL Logon(BvHostValue, BvHostValue, char *path, BvHostValue, BvHostValue, BvHostValue,
                            BvHostValue, BvHostValue, BvHostValue, BvHostValue, char *outText, int checkValue,
                            int param, int readFlag, int adrType, const char *tag, BvHostValue) {
    if (!tag) tag = "";
    char emptyPath[BV_HOST_TEXT_LEN] = "";
    if (!path) path = emptyPath;
    com_Log("Running bvole.dll, compile time %s", __DATE__ " " __TIME__);
    com_Log("Outlook Express logon, Param=%d, AdrType=%d, DB=%s, Checkvalue=%d, Tag=%s", param, adrType, path,
            checkValue, tag);
    if (param == 0) return 1;

    plat_GetSystemTimeAsFileTime(&gLogonTime);
    srand(gLogonTime.dwLowDateTime ^ gLogonTime.dwHighDateTime);
    if (!TakeWorkDirectory()) return 3;

    gAdrType = TagIs(tag, "CSVZ") ? BV_ADR_CONTACTS : adrType;
    gUpcomingOnly = (gAdrType == BV_ADR_CALENDAR && checkValue == 1) ? 1 : 0;

    ComputeZoneValues();
    ParseOptionSwitches();
    char scratch[BV_PATH_LEN] = "";
    gHostSetting5 = com_GetHostSetting(5, scratch, sizeof scratch);
    if (gDebug) com_Log("DST Offset=%d, GMT Offset=%s", gDstOffset, gGmtOffset);

    if (outText) outText[0] = '\0';
    if (TagIs(tag, "VCSK")) {
        com_strncpy(gKerioDir, path, sizeof gKerioDir - 1);
        FreeFolderTable();  // a second logon of the session scans afresh
        ScanStoreDir(gKerioDir);
    }

    if (gAdrType == BV_ADR_MAIL) return gOeDirect ? LogonStoreDirectory(path) : LogonStoreObject();

    ReadZFoldersFile();
    return readFlag ? LogonSourceFile(path) : LogonTargetFile(path);
}
