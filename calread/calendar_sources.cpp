// The calendar and task sources: a downloaded address, a Unison text file,
// the list made from a calendar listing page, or a path, directory or mask on
// disk; per file the BOM, mail files that carry calendar parts, and the
// entry loop.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include "calread/calendar_run.h"
#include "calread/calread.h"
#include "calread/listing_page.h"
#include "http/http.h"
#include "mime/mime.h"
#include "platform/platform.h"

#define ICS_LIST_LINE_LEN 2048

static void LogEntry(const mdat *rec, const VcsEntry *entry, int result) {
    if (!gDebug) return;
    char date[64];
    com_FileTimeText(&rec->startTime, date, sizeof date);
    com_Log("debug: return from parse_vcs_entry: ret=%d, title=%s, date=%s, recur=%d, reminder=%d, freetime=%d, "
            "Organizer=%s <%s>, attendees=%d, UID=%s, FUID=%s",
            result, rec->title, date, rec->recurType, rec->reminderMinutes, rec->busyStatus, rec->organizerName,
            rec->organizerAddr, rec->recipCount, entry->uid, entry->foreignUid);
}

// An entry that the file ended inside: reported as skipped, never merged
// into another entry.
static void SkipUnterminated(CalendarRun *run, const char *path) {
    com_Log("BV Warning: entry \"%s\" in %s has no end line; it is skipped", run->record->title, path);
    ReportEntryStatus(run, BV_STATUS_EXCLUDED);
    com_ResetObject(run->record);
    ResetEntryExtras();
}

static void SetFileBase(const char *path) {
    char name[BV_PATH_LEN];
    com_ExtractFileName(path, name, sizeof name);
    char *dot = strrchr(name, '.');
    if (dot) *dot = 0;
    com_strncpy(gCalFileBase, name, sizeof gCalFileBase - 1);
}

// Returns the number of entries met (handed over or skipped).
static int EntryLoop(CalendarRun *run, VcsFile *vf, const char *path) {
    static VcsZoneIndex zones;
    memset(&zones, 0, sizeof zones);
    // The PRODID of the calendar stands once, before its first entry, and
    // holds for every entry of the file.
    char fileProdid[VCS_ID_LEN] = "";
    int entries = 0;
    while (!run->stopped) {
        int64_t entryPos = VcsTell(vf);
        VcsEntry entry;
        ResetEntryExtras();
        int result = parse_vcs_entry(vf, run->record, run->workDir, &entry, 1, &zones);
        LogEntry(run->record, &entry, result);
        if (result == VCS_ENTRY_CUT_SHORT) {
            SkipUnterminated(run, path);
            entries++;
            continue;
        }
        if (result != 0) {
            if (entry.sawBegin) {
                SkipUnterminated(run, path);
                entries++;
            }
            break;
        }
        if (!entry.sawBegin) {
            // An end line with no entry begun (damaged files): nothing to hand over.
            com_Log("BV Warning: end line without an entry in %s ignored", path);
            com_ResetObject(run->record);
            continue;
        }
        entries++;
        if (entry.prodid[0])
            com_strncpy(fileProdid, entry.prodid, sizeof fileProdid - 1);
        else
            com_strncpy(entry.prodid, fileProdid, sizeof entry.prodid - 1);
        HandleParsedEntry(run, vf, &entry, entryPos);
    }
    FinishSeries(run, vf, &zones);
    com_ResetObject(run->record);
    return entries;
}

// A UTF-8 byte-order mark sets the session's UTF-8 flag.
static void NoteByteOrderMark(FILE *file) {
    unsigned char head[3] = {0, 0, 0};
    size_t n = fread(head, 1, sizeof head, file);
    if (n >= 2 && head[0] == 0xEF && head[1] == 0xBB) gUtf8 = 1;
    fseek(file, 0, SEEK_SET);
}

void ReadEntriesOfStream(CalendarRun *run, FILE *file, const char *path) {
    NoteByteOrderMark(file);
    VcsFile vf;
    if (!VcsOpen(&vf, file)) {
        com_Log("BV Warning: no memory to read %s", path);
        return;
    }
    SetFileBase(path);
    EntryLoop(run, &vf, path);
    VcsClose(&vf);
}

// ---- mail files ----------------------------------------------------------------------

static int HasCalendarText(FILE *file) {
    static char line[4096];
    int found = 0;
    while (!found && fgets(line, sizeof line, file)) found = com_stristr(line, "BEGIN:VCALENDAR", 0) != NULL;
    fseek(file, 0, SEEK_SET);
    return found;
}

// Calendar parts that the mail parser decoded (base64 invitations) are
// copied aside, because the record and its part files are reset per entry.
static int SaveCalendarParts(CalendarRun *run, char saved[][BV_PATH_LEN], int max) {
    mdat *rec = run->record;
    int n = 0;
    for (int i = 0; i < rec->partCount && n < max; i++) {
        mpart *part = rec->parts[i];
        if (!part || part->partType != BV_PART_EMPTY_BODY) continue;
        char source[BV_PATH_LEN];
        com_PartFileName(run->workDir, rec, i, source, sizeof source);
        bv_snprintf(saved[n], BV_PATH_LEN, "%scalpart%02d.tmp", run->workDir, n);
        if (com_fcopy(source, saved[n]) >= 0) n++;
    }
    return n;
}

#define MAX_MAIL_CALENDAR_PARTS 8

static void ReadMailFile(CalendarRun *run, FILE *file, const char *path) {
    mdat *rec = run->record;
    Parse_RFC822_Msg(file, rec, run->workDir, "", 1);
    if (gDebug) com_Log("debug: after Parse_RFC822");
    int marked = 0;
    for (int i = 0; i < rec->partCount; i++) {
        mpart *part = rec->parts[i];
        if (!part || (!strstr(part->name, ".vcs") && !strstr(part->name, ".ics"))) continue;
        part->partType = BV_PART_EMPTY_BODY;
        marked = 1;
    }
    fseek(file, 0, SEEK_SET);
    // Invitations carry their calendar as an inline text/calendar part
    // without a file name; the text itself tells.
    if (!marked && !HasCalendarText(file)) {
        com_Log("BV Info: skipping non-calendar .eml file");
        ReportEntryStatus(run, BV_STATUS_EXCLUDED);
        com_ResetObject(rec);
        return;
    }
    char saved[MAX_MAIL_CALENDAR_PARTS][BV_PATH_LEN];
    int savedCount = SaveCalendarParts(run, saved, MAX_MAIL_CALENDAR_PARTS);
    com_ResetObject(rec);
    VcsFile vf;
    int entries = 0;
    if (VcsOpen(&vf, file)) {
        SetFileBase(path);
        entries = EntryLoop(run, &vf, path);
        VcsClose(&vf);
    }
    // Nothing readable in the message text (a base64 part): the decoded parts.
    for (int i = 0; i < savedCount; i++) {
        if (entries == 0) {
            FILE *part = plat_fopen(saved[i], "rb");
            if (part) {
                ReadEntriesOfStream(run, part, path);
                fclose(part);
            }
        }
        plat_DeleteFile(saved[i]);
    }
}

void ReadCalendarPath(CalendarRun *run, const char *path) {
    FILE *file = plat_fopen(path, "rb");
    if (!file) {
        com_Log("BV Warning: fopen on file %s, error %d", path, errno);
        return;
    }
    com_Log(run->kind == CAL_KIND_TASKS ? "Opened VCS task file %s" : "opened VCS calendar file %s", path);
    com_ResetObject(run->record);
    if (com_stristr(path, ".eml", 0))
        ReadMailFile(run, file, path);
    else
        ReadEntriesOfStream(run, file, path);
    fclose(file);
}

// A task source directory holds calendar and mail files among others.
static int IsTaskFileName(const char *name) {
    char ext[32];
    com_ExtractFileExt(name, ext, sizeof ext);
    return strcasecmp(ext, "vcs") == 0 || strcasecmp(ext, "vcal") == 0 || strcasecmp(ext, "ics") == 0 ||
           strcasecmp(ext, "eml") == 0;
}

// ---- sources ---------------------------------------------------------------------------

extern "C" void CalendarSearchPattern(const char *path, const char *directoryMask, char *pattern, char *dir) {
    com_strncpy(pattern, path, BV_SEARCH_PATH_LEN - 1);
    if (plat_DirectoryExists(path)) {
        com_AppendSlash(pattern, BV_SEARCH_PATH_LEN);
        size_t n = strlen(pattern);
        com_strncpy(pattern + n, directoryMask, BV_SEARCH_PATH_LEN - 1 - n);
    }
    com_ExtractFileDir(pattern, dir, BV_SEARCH_PATH_LEN);
    if (dir[0]) com_AppendSlash(dir, BV_SEARCH_PATH_LEN);
}

int ReadCalendarSearch(CalendarRun *run, const char *path, const char *directoryMask, const char *kindName) {
    char pattern[BV_SEARCH_PATH_LEN];
    char dir[BV_SEARCH_PATH_LEN];
    CalendarSearchPattern(path, directoryMask, pattern, dir);
    PlatFindData found;
    PlatFind *find = plat_FindFirstFile(pattern, &found);
    if (!find) {
        com_Log("BV Info: no files found for %s %s, error=%ld", kindName, path, (long)errno);
        return 0;
    }
    do {
        if (found.name[0] == '.' || found.isDirectory) continue;
        if (run->kind == CAL_KIND_TASKS && !IsTaskFileName(found.name)) continue;
        char file[BV_SEARCH_PATH_LEN];
        bv_snprintf(file, sizeof file, "%s%s", dir, found.name);
        ReadCalendarPath(run, file);
    } while (!run->stopped && plat_FindNextFile(find, &found));
    plat_FindClose(find);
    return 1;
}

// One download per line of the list made from a listing page.
static void ReadListedFiles(CalendarRun *run) {
    char listPath[BV_PATH_LEN * 2];
    IcsListPath(listPath, sizeof listPath);
    FILE *list = plat_fopen(listPath, "r");
    if (!list) {
        com_Log("BV Warning: fopen on file %s, error %d", listPath, errno);
        return;
    }
    char listingSource[sizeof gCalSourceSpec];
    ListingBaseSpec(listingSource, sizeof listingSource);
    char line[ICS_LIST_LINE_LEN];
    while (!run->stopped && fgets(line, sizeof line, list)) {
        com_StripLineEnd(line);
        if (!line[0]) continue;
        char address[sizeof listingSource + ICS_LIST_LINE_LEN];
        bv_snprintf(address, sizeof address, "%.*s/%s", (int)strcspn(listingSource, "|"), listingSource, line);
        com_Log("Downloading file %s", address);  // without the credentials
        char local[BV_PATH_LEN];
        if (DownloadEntry(listingSource, line, local) != 0) continue;
        ReadCalendarPath(run, local);
    }
    fclose(list);
}

// A downloaded address: the file itself, or a listing page of files.
static int DownloadSource(const char *address) {
    if (DownloadSourceFile(address) != 0) {
        com_Log("BV Warning: download of %s failed", address);
        return 0;
    }
    if (IsListingPage(gOutputPath)) MakeIcsList(gOutputPath);
    return 1;
}

static void StartRun(CalendarRun *run, int kind, mdat *record, BvItemCallback itemCallback, const char *workDir,
                     BvStatusCallback statusCallback) {
    memset(run, 0, sizeof *run);
    run->kind = kind;
    run->record = record;
    run->itemCallback = itemCallback;
    run->workDir = workDir ? workDir : "";
    run->statusCallback = statusCallback;
}

// The source loop shared by calendars and tasks.
static void ReadSource(CalendarRun *run, const char *source, const char *directoryMask, const char *kindName) {
    char path[BV_PATH_LEN];
    com_strncpy(path, source, sizeof path - 1);
    int saveUtcBias = gUtcBias, saveDstOffset = gDstOffset;
    if (strncasecmp(path, "http", 4) == 0) {
        if (!DownloadSource(path)) return;
        com_strncpy(path, gOutputPath, sizeof path - 1);
    }
    if (run->kind == CAL_KIND_EVENTS && com_stristr(path, ".txt", 0))
        ReadUnisonFile(run, path);
    else if (gIcsListMade)
        ReadListedFiles(run);
    else
        ReadCalendarSearch(run, path, directoryMask, kindName);
    gUtcBias = saveUtcBias;
    gDstOffset = saveDstOffset;
}

extern "C" void ReadCalendarFolder(mdat *record, BvItemCallback itemCallback, int recipientMax, const char *workDir,
                                   int *countOut, int *sizeOut, BvStatusCallback statusCallback) {
    (void)recipientMax;
    if (countOut) *countOut = 0;
    if (sizeOut) *sizeOut = 0;
    CalendarRun run;
    StartRun(&run, CAL_KIND_EVENTS, record, itemCallback, workDir, statusCallback);
    char source[BV_PATH_LEN];
    com_strncpy(source, gOutputPath, sizeof source - 1);
    ReadSource(&run, source, "*.*", "(calendar)");
    // A later read of the folder starts from the same source.
    com_strncpy(gOutputPath, source, sizeof gOutputPath - 1);
    com_Log("%d breakout events processed", run.breakouts);
    if (countOut) *countOut = run.count;
    if (sizeOut) *sizeOut = run.size;
}

extern "C" void ReadTaskFolder(mdat *record, BvItemCallback itemCallback, int folderIndex, const char *workDir,
                               int *countOut, BvStatusCallback statusCallback) {
    if (countOut) *countOut = 0;
    CalendarRun run;
    StartRun(&run, CAL_KIND_TASKS, record, itemCallback, workDir, statusCallback);
    // The folder's own source (a listed file folder has its own address).
    char source[BV_PATH_LEN];
    const FolderRecord *folder =
        folderIndex >= 0 && folderIndex < gFolderCount ? gFolderTable[folderIndex] : NULL;
    com_strncpy(source, folder && folder->fileName[0] ? folder->fileName : gOutputPath, sizeof source - 1);
    char saved[BV_PATH_LEN];
    com_strncpy(saved, gOutputPath, sizeof saved - 1);
    // Every calendar and mail file of a directory, not only "*.eml": a
    // directory of .ics task files is a task source too.
    ReadSource(&run, source, "*.*", "(tasks):");
    com_strncpy(gOutputPath, saved, sizeof gOutputPath - 1);
    if (countOut) *countOut = run.count;
}

extern "C" int ReadCalendarFile(const char *path, int dataType, mdat *record, BvItemCallback itemCallback,
                                const char *workDir, int *count, int *size, BvStatusCallback statusCallback) {
    CalendarRun run;
    StartRun(&run, dataType == CAL_KIND_TASKS ? CAL_KIND_TASKS : CAL_KIND_EVENTS, record, itemCallback, workDir,
             statusCallback);
    run.count = count ? *count : 0;
    run.size = size ? *size : 0;
    ReadCalendarPath(&run, path);
    if (count) *count = run.count;
    if (size) *size = run.size;
    return run.stopped;
}
