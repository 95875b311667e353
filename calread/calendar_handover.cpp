// What happens to each parsed calendar or task entry: the session's filters
// in their fixed order, the hand-over to the host, and the recurring series
// that "/D288" keeps aside until the end of the file.
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unordered_map>
#include "calread/calendar_run.h"
#include "module/handover.h"
#include "platform/platform.h"

typedef std::unordered_map<std::string, int> SeriesIndex;

static const char *DupFolder(const CalendarRun *run) { return run->kind == CAL_KIND_TASKS ? "Tasks" : "Calendar"; }

int ReportEntryStatus(CalendarRun *run, int status) {
    if (run->statusCallback) run->statusCallback(run->record, "", status, &run->statusA, &run->statusB, &run->stop);
    if (run->stop) run->stopped = 1;
    return run->stop;
}

// After com_Deallocate_All and com_Deallocate the record is as
// com_ResetObject leaves it, so a third pass over its slots is not made.
static void FreeEntry(CalendarRun *run) {
    com_Pause(0);
    FreeRecordParts(run->record, run->workDir);
    ResetEntryExtras();
}

// One warning for the entry's fields that were cut, before it is handed
// over or skipped.
static void WarnEntryCuts(const CalendarRun *run) {
    char item[VCS_TITLE_MAX + 40];
    bv_snprintf(item, sizeof item, "entry %d (%s)", run->count + 1, run->record->title);
    bvcom_WarnCutFields(item);
}

static void SkipEntry(CalendarRun *run, int status, const char *warning) {
    WarnEntryCuts(run);
    if (warning) com_Log("%s", warning);
    ReportEntryStatus(run, status);
    FreeEntry(run);
}

void HandOverEntry(CalendarRun *run, const VcsEntry *entry) {
    mdat *rec = run->record;
    WarnEntryCuts(run);
    rec->dataType = run->kind;
    com_AddrCharConvert(rec);
    com_WriteNotes(rec, gEntryNotes, run->workDir);
    bvcom_SetExtraReminders(rec, -1, entry->earlierAlarms, entry->earlierAlarmCount);
    int status = BV_STATUS_HANDED_OVER;
    if (com_SearchMsg(rec, run->workDir, 0, 1, 0) == 0)
        status = BV_STATUS_EXCLUDED;
    else if (com_MsgIsDuplicate(rec, run->workDir, BV_DUP_CHECK, DupFolder(run)) != 0)
        status = BV_STATUS_DUPLICATE;
    if (status != BV_STATUS_HANDED_OVER) {
        SkipEntry(run, status, NULL);
        return;
    }
    com_AttachSize(rec, run->workDir, run->count, 0);
    com_AddressTranslate(rec);
    com_SetExDates(gExDates, gExDateTzid);
    com_ExpandRecur(rec, run->workDir);
    int headerSize = 0, itemSize = 0;
    com_CalcMdatSize(rec, &headerSize, &itemSize);
    int answer = run->itemCallback ? run->itemCallback(rec, "", run->workDir, run->count) : 0;
    if (answer == BV_HOST_DID_NOT_TAKE)
        status = BV_STATUS_EXCLUDED;
    else
        com_MsgIsDuplicate(rec, run->workDir, BV_DUP_REGISTER, DupFolder(run));
    run->size += itemSize;
    run->count++;
    ReportEntryStatus(run, status);
    FreeEntry(run);
    // gMaxRead counts from the first item handed over, as for mail.
    if (run->count >= gMaxRead) run->stopped = 1;
}

// ---- series ("/D288") ----------------------------------------------------------------

void FreeSeries(CalendarRun *run) {
    for (int i = 0; i < run->seriesCount; i++) {
        SeriesRecord *series = &run->series[i];
        for (int k = 0; k < series->instanceCount; k++)
            if (series->instances[k].notesFile[0]) plat_DeleteFile(series->instances[k].notesFile);
        free(series->instances);
    }
    free(run->series);
    delete (SeriesIndex *)run->seriesIndex;
    run->series = NULL;
    run->seriesCount = 0;
    run->seriesIndex = NULL;
}

// The occurrence's description goes to a file of the work directory, as
// the exception record carries it; 0 when it cannot be written.
static int SaveInstanceNotes(const CalendarRun *run, int seriesNumber, SeriesInstance *instance, int number) {
    instance->notesFile[0] = 0;
    if (!gEntryNotes[0]) return 1;
    char path[BV_EXC_TEXT_LEN];
    if (plat_snprintf(path, sizeof path, "%sSER%04d%03d.TMP", run->workDir, seriesNumber, number) >= (int)sizeof path)
        return 0;
    FILE *file = plat_fopen(path, "wb");
    if (!file) return 0;
    size_t length = strlen(gEntryNotes);
    int written = fwrite(gEntryNotes, 1, length, file) == length;
    if (fclose(file) != 0) written = 0;
    if (!written) {
        plat_DeleteFile(path);
        return 0;
    }
    com_strncpy(instance->notesFile, path, sizeof instance->notesFile - 1);
    return 1;
}

static int AddInstance(const CalendarRun *run, int seriesNumber, const VcsEntry *entry) {
    SeriesRecord *series = &run->series[seriesNumber];
    const mdat *rec = run->record;
    if (series->instanceCount >= MAX_SERIES_INSTANCES) return 0;
    if (series->instanceCount == series->instanceCap) {
        int cap = series->instanceCap ? series->instanceCap * 2 : 4;
        SeriesInstance *grown = (SeriesInstance *)realloc(series->instances, sizeof(SeriesInstance) * (size_t)cap);
        if (!grown) return 0;
        series->instances = grown;
        series->instanceCap = cap;
    }
    SeriesInstance *instance = &series->instances[series->instanceCount];
    memset(instance, 0, sizeof *instance);
    instance->start = rec->startTime;
    instance->end = rec->endTime;
    instance->recurrenceId = entry->recurrenceIdTime;
    com_strncpy(instance->title, rec->title, sizeof instance->title - 1);
    com_strncpy(instance->location, rec->location, sizeof instance->location - 1);
    instance->reminderSet = rec->reminderSet;
    instance->reminderMinutes = rec->reminderMinutes;
    instance->earlierAlarmCount = entry->earlierAlarmCount;
    memcpy(instance->earlierAlarms, entry->earlierAlarms, sizeof instance->earlierAlarms);
    if (!SaveInstanceNotes(run, seriesNumber, instance, series->instanceCount)) return 0;
    series->instanceCount++;
    return 1;
}

// 1 when the entry was kept aside or added to its series (and reported).
// The series is read again from its master, the entry without RECURRENCE-ID,
// wherever in the file it stands; a second entry without one is an event of
// its own and is handed over alone.
static int GroupIntoSeries(CalendarRun *run, const VcsEntry *entry, int64_t entryPos) {
    if (!run->seriesIndex) run->seriesIndex = new SeriesIndex();
    SeriesIndex *index = (SeriesIndex *)run->seriesIndex;
    int isOccurrence = !com_DateIsNull(&entry->recurrenceIdTime);
    auto found = index->find(entry->uid);
    if (found != index->end()) {
        SeriesRecord *series = &run->series[found->second];
        if (!isOccurrence) {
            if (series->hasMaster) return 0;
            // The occurrences met so far were kept as instances already.
            series->hasMaster = 1;
            series->filePos = entryPos;
            series->isRecurring = run->record->recurType != BV_RECUR_NONE;
        } else if (!AddInstance(run, found->second, entry)) {
            return 0;
        }
        SkipEntry(run, BV_STATUS_EXCLUDED, NULL);
        return 1;
    }
    if (run->seriesCount >= MAX_SERIES) return 0;
    if (!run->series) {
        run->series = (SeriesRecord *)calloc(MAX_SERIES, sizeof(SeriesRecord));
        if (!run->series) return 0;
    }
    SeriesRecord *series = &run->series[run->seriesCount];
    memset(series, 0, sizeof *series);
    series->filePos = entryPos;
    com_strncpy(series->uid, entry->uid, sizeof series->uid - 1);
    series->isRecurring = run->record->recurType != BV_RECUR_NONE;
    series->hasMaster = !isOccurrence;
    if (isOccurrence && !AddInstance(run, run->seriesCount, entry)) {
        free(series->instances);  // the series is not kept: FreeSeries would not see it
        return 0;
    }
    (*index)[entry->uid] = run->seriesCount++;
    FreeEntry(run);
    return 1;
}

static int OwnerDeclined(const mdat *rec) {
    if (!gD159Text[0]) return 0;
    for (int i = 0; i < rec->recipCount; i++)
        if (strcasecmp(rec->recips[i]->addr, gD159Text) == 0 && rec->recips[i]->status == 2) return 1;
    return 0;
}

static int KindMismatch(CalendarRun *run, const VcsEntry *entry) {
    if (run->kind == CAL_KIND_EVENTS && entry->isTodo) {
        SkipEntry(run, BV_STATUS_EXCLUDED, "BV Warning: skipping VTODO");
        return 1;
    }
    if (run->kind == CAL_KIND_TASKS && !entry->isTodo) {
        SkipEntry(run, BV_STATUS_EXCLUDED, "BV Warning: skipping VEVENT in a task source");
        return 1;
    }
    return 0;
}

// Calendar history window (host setting 5): a task that starts more than
// that many days before the logon.
static int TaskStartTooOld(const mdat *rec) {
    if (gHostSetting5 <= 0 || com_DateIsNull(&rec->startTime)) return 0;
    FILETIME limit = gLogonTime;
    com_OffsetFileTime(&limit, -gHostSetting5, 0, 0);
    return plat_CompareFileTime(&rec->startTime, &limit) < 0;
}

// 1 when a date filter skipped the entry.
static int DateFilters(CalendarRun *run) {
    mdat *rec = run->record;
    if (run->kind == CAL_KIND_TASKS) {
        if (TaskStartTooOld(rec)) {
            SkipEntry(run, BV_STATUS_DATE_LIMIT, "BV Warning: Task skipped because of start date");
            return 1;
        }
        if (!com_Check_MaxTaskDate(rec)) {
            SkipEntry(run, BV_STATUS_DATE_LIMIT, "BV Warning: Task skipped - max date");
            return 1;
        }
        return 0;
    }
    if (gUpcomingOnly && plat_CompareFileTime(&rec->startTime, &gLogonTime) < 0) {
        com_ResetObject(rec);
        rec->dataType = CAL_KIND_EVENTS;
        SkipEntry(run, BV_STATUS_DATE_LIMIT, "BV Warning: skipping entry on date");
        return 1;
    }
    if (!com_Check_MaxCalDate(rec)) {
        SkipEntry(run, BV_STATUS_DATE_LIMIT, NULL);
        return 1;
    }
    return 0;
}

void HandleParsedEntry(CalendarRun *run, VcsFile *vf, VcsEntry *entry, int64_t entryPos) {
    (void)vf;
    mdat *rec = run->record;
    if (gD161 && rec->isOwner == 0) return SkipEntry(run, BV_STATUS_EXCLUDED, "BV Warning: skipping non-owner event");
    if (gD226 || gD230) com_strncpy(rec->uid, entry->foreignUid, sizeof rec->uid - 1);
    if (gD160Text[0] && strncasecmp(entry->prodid, gD160Text, strlen(gD160Text)) != 0) {
        com_Log("BV Warning: skipping PRODID %s", entry->prodid);
        return SkipEntry(run, BV_STATUS_EXCLUDED, NULL);
    }
    if (KindMismatch(run, entry)) return;
    if (OwnerDeclined(rec)) return SkipEntry(run, BV_STATUS_EXCLUDED, "BV Warning: skipping owner declined event");
    if (gD288 && run->kind == CAL_KIND_EVENTS && entry->uid[0] && GroupIntoSeries(run, entry, entryPos)) return;
    if (DateFilters(run)) return;
    HandOverEntry(run, entry);
}

// ---- second pass ----------------------------------------------------------------------

// Without a master the series is read from its first occurrence, which is
// then no exception of its own.
static void AddBreakouts(CalendarRun *run, const SeriesRecord *series) {
    mdat *rec = run->record;
    for (int i = series->hasMaster ? 0 : 1; i < series->instanceCount; i++) {
        if (!com_AllocBreakout(rec)) {
            com_Log("BV Warning: series %s has more changed occurrences than the record holds", series->uid);
            return;
        }
        const SeriesInstance *instance = &series->instances[i];
        mexception *exception = rec->exceptions[rec->exceptionCount];
        exception->kind = 0;
        exception->originalStart = instance->recurrenceId;
        exception->newStart = instance->start;
        exception->newEnd = instance->end;
        com_strncpy(exception->title, instance->title, sizeof exception->title - 1);
        com_strncpy(exception->location, instance->location, sizeof exception->location - 1);
        com_strncpy(exception->notesFile, instance->notesFile, sizeof exception->notesFile - 1);
        exception->reminderSet = instance->reminderSet;
        exception->reminderMinutes = instance->reminderMinutes;
        bvcom_SetExtraReminders(rec, rec->exceptionCount, instance->earlierAlarms, instance->earlierAlarmCount);
        rec->exceptionCount++;
        run->breakouts++;
    }
}

void FinishSeries(CalendarRun *run, VcsFile *vf, VcsZoneIndex *zones) {
    if (run->seriesCount == 0) return FreeSeries(run);
    com_Log("Processing recurring events, nRules=%d", run->seriesCount);
    for (int i = 0; i < run->seriesCount && !run->stopped; i++) {
        const SeriesRecord *series = &run->series[i];
        VcsEntry entry;
        com_ResetObject(run->record);
        ResetEntryExtras();
        if (!VcsSeek(vf, series->filePos)) {
            com_Log("BV Warning: cannot go back to the series %s; it is skipped", series->uid);
            ReportEntryStatus(run, BV_STATUS_EXCLUDED);
            continue;
        }
        parse_vcs_entry(vf, run->record, run->workDir, &entry, 0, zones);
        com_Log("Recurring event: %s, UID=%s", run->record->title, series->uid);
        if (!series->hasMaster)
            com_Log("BV Warning: the series %s is not in the file: its changed occurrence \"%s\" is handed over as "
                    "an event of its own", series->uid, run->record->title);
        AddBreakouts(run, series);
        if (DateFilters(run)) continue;
        HandOverEntry(run, &entry);
    }
    FreeSeries(run);
}
