// One read of a calendar or task folder: the host's callbacks and counters,
// the filters of each entry, the hand-over, and the recurring series kept
// aside for the second pass over a file.
#pragma once

#include "calread/vcs_parser.h"

#define MAX_SERIES 3000              // series records of one file ("/D288")
#define MAX_SERIES_INSTANCES 512     // changed occurrences kept per series

typedef struct SeriesInstance {
    FILETIME start, end, recurrenceId;
    char title[BV_EXC_TEXT_LEN];      // the occurrence's own title
    char location[BV_EXC_TEXT_LEN];   // and location
    char notesFile[BV_EXC_TEXT_LEN];  // its description in the work directory; empty: none
    int reminderSet, reminderMinutes;  // its last alarm
    int earlierAlarms[BV_MAX_EXTRA_REMINDERS];
    int earlierAlarmCount;
} SeriesInstance;

typedef struct SeriesRecord {
    int64_t filePos;  // of the series' entry: its master, else its first changed occurrence
    char uid[VCS_ID_LEN];
    int isRecurring;
    int hasMaster;  // an entry without RECURRENCE-ID was met
    int instanceCount;
    SeriesInstance *instances;  // grown as instances come
    int instanceCap;
} SeriesRecord;

enum CalendarKind { CAL_KIND_EVENTS = 2, CAL_KIND_TASKS = 3 };  // the record's dataType

typedef struct CalendarRun {
    int kind;  // CalendarKind
    mdat *record;
    BvItemCallback itemCallback;
    const char *workDir;
    BvStatusCallback statusCallback;
    int count, size;  // handed over, and their size
    int statusA, statusB, stop;
    int breakouts;  // exception records made in second passes
    int stopped;    // the host asked to stop, or gMaxRead was reached
    // Series of the current file.
    SeriesRecord *series;
    int seriesCount;
    void *seriesIndex;  // UID -> series number
} CalendarRun;

// Calls the status callback; 1 when the host asked to stop.
int ReportEntryStatus(CalendarRun *run, int status);
// Filters and hands over the entry just parsed into run->record; frees it.
void HandleParsedEntry(CalendarRun *run, VcsFile *vf, VcsEntry *entry, int64_t entryPos);
// The hand-over steps; the record is freed afterwards.
void HandOverEntry(CalendarRun *run, const VcsEntry *entry);
// Second pass over the file for the series kept aside; frees the table.
void FinishSeries(CalendarRun *run, VcsFile *vf, VcsZoneIndex *zones);
void FreeSeries(CalendarRun *run);
// Every entry of one open file (already logged and reset).
void ReadEntriesOfStream(CalendarRun *run, FILE *file, const char *path);
// One file by path: opened, read, closed. .eml files through the mail parser.
void ReadCalendarPath(CalendarRun *run, const char *path);
// Every file of a directory, a mask or one file; 0 when nothing was found.
int ReadCalendarSearch(CalendarRun *run, const char *path, const char *directoryMask, const char *kindName);
// Unison calendar text.
void ReadUnisonFile(CalendarRun *run, const char *path);
