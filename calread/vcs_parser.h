// The calendar entry parser and the routines that only it uses: a buffered
// line reader over an open calendar file, the text appender, durations,
// attendees and attachments.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include "calread/cal_time.h"
#include "module/session.h"

// ---- limits, named once ---------------------------------------------------------
#define BV_TEXT_LINE_LEN 100000    // gTextLine
#define VCS_LOGICAL_LINE_MAX 64000  // a logical line stays below this length
#define VCS_CONTINUATION_MAX 2499   // one folded continuation line
#define VCS_TITLE_CAP 4090          // AppendVcsText capacity of a title
#define VCS_TITLE_BUF_LEN 4096
#define VCS_NOTES_CAP 16384         // AppendVcsText capacity of the notes
#define VCS_TITLE_MAX 350           // characters of a title that reach `title`
#define VCS_VALUE_MAX 250           // UID, PRODID, RRULE, zone names, ...
#define VCS_ID_LEN 256              // UID, foreign UID and PRODID outputs
#define VCS_MAX_RDATE_PERIODS 1000
#define VCS_READ_BLOCK 65536        // bytes read from the file at a time
#define VCS_FILE_ZONES 32           // VTIMEZONE blocks remembered per file
#define VCS_ZONE_TEXT_LEN 251
#define BV_SEARCH_PATH_LEN (BV_PATH_LEN * 2)  // a search pattern or a path found by it

// ---- the buffered calendar file ------------------------------------------------------
// Reads a calendar file in blocks, so that looking one line ahead (folded
// lines) and going back to an entry costs no system call.
typedef struct VcsFile {
    FILE *file;
    char *block;        // VCS_READ_BLOCK bytes
    size_t length;      // valid bytes in block
    size_t pos;         // next byte to read in block
    int64_t blockStart; // file offset of block[0]
    int atEnd;
    int longLines;      // physical lines cut at the logical-line limit
} VcsFile;

// A VTIMEZONE block as read: the zone state and the record's zone fields.
typedef struct VcsZoneEntry {
    char tzid[VCS_ZONE_TEXT_LEN];
    BvVTimeZone vtz;
    char tzName[BV_TZNAME_LEN];
    int32_t tzBias, tzStdBias, tzDstBias;
    FILETIME tzStdStart, tzDstStart;
} VcsZoneEntry;

// The VTIMEZONE blocks met so far in one file, by TZID: a file names its
// zones once, before its first entry, and every later entry whose start
// names one of them gets it.
typedef struct VcsZoneIndex {
    VcsZoneEntry zones[VCS_FILE_ZONES];
    int count;
} VcsZoneIndex;

// What parse_vcs_entry returns besides the record.
typedef struct VcsEntry {
    char uid[VCS_ID_LEN];
    char foreignUid[VCS_ID_LEN];  // UID of the master of an exception
    char prodid[VCS_ID_LEN];
    int taskAlarm;  // a VALARM began before any BEGIN:VEVENT
    int taskFlag;   // 0 event, 1 task, 99 cancelled
    int lotusUtf8;  // "X-LOTUS-CHARSET:UTF-8" seen
    int malarm;
    FILETIME malarmTime;
    FILETIME createdTime;
    FILETIME recurrenceIdTime;
    int sawBegin;  // a BEGIN:VEVENT or BEGIN:VTODO line was read
    int isTodo;    // BEGIN:VTODO came before any BEGIN:VEVENT (also when cancelled)
    int droppedAttendees;  // attendees beyond the record's limit
    // The record holds the last alarm read; the earlier ones, in the order read.
    int earlierAlarms[BV_MAX_EXTRA_REMINDERS];
    int earlierAlarmCount;
    int droppedAlarms;  // beyond BV_MAX_EXTRA_REMINDERS
    int droppedRules;   // RRULEs before the last one: the record holds one rule
} VcsEntry;

enum VcsTaskFlag { VCS_EVENT = 0, VCS_TASK = 1, VCS_CANCELLED = 99 };

typedef struct RDatePeriod {
    FILETIME start;
    FILETIME end;
} RDatePeriod;

#ifdef __cplusplus
extern "C" {
#endif

extern char gTextLine[BV_TEXT_LINE_LEN];
extern char gEntryNotes[BV_NOTES_LEN];  // description of the entry being read
extern RDatePeriod *gRDatePeriods[VCS_MAX_RDATE_PERIODS];
extern int gRDateCount;
extern char gCalFileBase[BV_PATH_LEN];  // current file name without directory and extension

// ---- buffered file ----
int VcsOpen(VcsFile *vf, FILE *file);  // 0 when the block cannot be allocated
void VcsClose(VcsFile *vf);            // frees the block, leaves the FILE open
int64_t VcsTell(const VcsFile *vf);
int VcsSeek(VcsFile *vf, int64_t offset);
// One physical line without its "\n", cut at max bytes (the rest of the line
// is dropped and counted in longLines). Returns 1 at end of file with nothing read.
int VcsReadPhysical(VcsFile *vf, char *out, size_t max, size_t *lengthOut);
// The first byte of the next line, -1 at end of file.
int VcsPeekByte(VcsFile *vf);

// ---- parser ----
int ReadVcsLine(VcsFile *vf, int quotedPrintable);
void AppendVcsText(char *dest, const char *source, int *position, int capacity);
void ParseVcsDuration(const char *text, int *minutes);
int ParseVcsAttendee(char *name, char *address, char *room, int *role, int *status);
void AddVcsAttendee(mdat *rec, const char *name, const char *address, int owner, int status, int role);
void ParseVcsAttach(const char *workDir, mdat *rec, VcsFile *vf);
// Reads one entry; 0 at its end line, 1 when the file ended first,
// VCS_ENTRY_CUT_SHORT when the next entry began first (the file is left at
// that entry's BEGIN line).
#define VCS_ENTRY_CUT_SHORT 2
int parse_vcs_entry(VcsFile *vf, mdat *rec, const char *workDir, VcsEntry *out, int logTitle, VcsZoneIndex *zones);
// Escapes of iCalendar text values: "\," "\;" "\\" become the character.
void UnescapeVcsText(char *text);
// The search pattern of a calendar source (a directory gets `directoryMask`)
// and the directory of what it finds, with a trailing separator; both
// BV_SEARCH_PATH_LEN bytes.
void CalendarSearchPattern(const char *path, const char *directoryMask, char *pattern, char *dir);
// Empties gExDates, gExDateTzid and the RDATE table.
void ResetEntryExtras(void);

#ifdef __cplusplus
}
#endif
