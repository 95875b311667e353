// One event as a VEVENT, followed by a VEVENT per changed occurrence.
// Without "/D301" all times are UTC; with it each event is a VCALENDAR object
// of its own and an event with a known time zone is written in that zone's
// local time under its TZID, with the zone's VTIMEZONE before it.
#include <stdlib.h>
#include <string.h>
#include "calwrite/calwrite_internal.h"
#include "platform/platform.h"

namespace {

#define BV_VTIMEZONE_LEN 8192   // the zone's changes from the year before the event on
#define BV_TZID_LEN 256
#define BV_RRULE_VALUE_LEN 512
#define BV_OCCURRENCE_NOTES_MAX 32768   // bytes of an occurrence's notes file that are written
#define BV_ATTENDEE_LINE_LEN 1024       // one line of an occurrence's attendee file

enum RecipientType { RECIP_REQUIRED = 3, RECIP_OPTIONAL = 11, RECIP_ORGANIZER = 31 };
enum ExceptionKind { OCCURRENCE_CHANGED = 0, OCCURRENCE_DELETED = 1 };

// What the lines of one event share.
struct EventText {
    char uid[BV_UID_HEX_LEN];
    char subject[BV_NAME_LEN];   // converted copy of the title
    char location[BV_NAME_LEN];  // converted copy; "My Location" when empty
    char tzid[BV_TZID_LEN];
    char organizer[BV_NAME_LEN];
    FILETIME start, end;
};

bool IsLater(const FILETIME &a, const FILETIME &b) { return plat_FileTimeToU64(&a) > plat_FileTimeToU64(&b); }

// Moves a UTC time to the wall-clock time of the zone, with the offset in
// force at that instant: the VTIMEZONE written carries the zone's past
// changes too, and a zone's standard offset may have been another one then.
void ToZoneTime(FILETIME *time, const char *tzName) {
    FILETIME local;
    if (bvcom_ZoneWallTime(tzName, time, &local)) *time = local;
}

// The VTIMEZONE of a zone from January 1 of a year on; the events of one
// calendar mostly share zone and year, and the block takes ICU a while.
struct ZoneBlock {
    char tzName[BV_TZNAME_LEN];
    int year;
    int written;  // what bvcom_GetVTimeZoneSince returned
    char tzid[BV_TZID_LEN];
    char text[BV_VTIMEZONE_LEN];
};

#define BV_ZONE_BLOCKS_KEPT 4  // zone and year pairs kept, the oldest replaced

const ZoneBlock &ZoneBlockFor(const char *tzName, int year) {
    static ZoneBlock kept[BV_ZONE_BLOCKS_KEPT];
    static int next;
    for (const ZoneBlock &block : kept)
        if (block.year == year && strcmp(block.tzName, tzName) == 0) return block;
    ZoneBlock &block = kept[next];
    next = (next + 1) % BV_ZONE_BLOCKS_KEPT;
    com_strncpy(block.tzName, tzName, sizeof block.tzName - 1);
    block.year = year;
    FILETIME since = com_Create_FileTime(1, 1, year, 0, 0, 0);
    block.written = bvcom_GetVTimeZoneSince(tzName, &since, block.text, sizeof block.text, block.tzid);
    return block;
}

// The zone's VTIMEZONE covers the event's times with the offsets they had:
// every change from the year before the start on (a reader then also has
// the observance in force at the start). A zone that changed too often for
// the block gets the rules of that time only.
void WriteZoneHeader(const mdat *rec, EventText *ev) {
    bv_fprintf(gOutFile, "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Brevanto Migrator\n");
    if (!rec->tzName[0]) return;
    SYSTEMTIME st = {};
    plat_FileTimeToSystemTime(&rec->startTime, &st);
    const ZoneBlock &zone = ZoneBlockFor(rec->tzName, st.wYear - 1);
    if (zone.written == 1 && rec->isRecurring)
        com_Log("BV Warning: WriteEvent: the zone %s changed too often to write every change; occurrences in "
                "years of other rules may be off: %s", rec->tzName, rec->title);
    if (zone.text[0]) bv_fprintf(gOutFile, "%s", zone.text);
    com_strncpy(ev->tzid, zone.tzid, sizeof ev->tzid - 1);
    if (!ev->tzid[0]) return;
    ToZoneTime(&ev->start, rec->tzName);
    ToZoneTime(&ev->end, rec->tzName);
}

bool IsAllDay(const mdat *rec) { return rec->allDayKind == 1 || rec->allDayKind == 2 || rec->allDay; }

void WriteTimeLine(const char *name, const FILETIME &time, bool allDay, const char *tzid) {
    SYSTEMTIME st = {};
    plat_FileTimeToSystemTime(&time, &st);
    char text[BV_CAL_TIME_LEN];
    MinuteText(&time, text);
    if (allDay)
        bv_fprintf(gOutFile, "%s;VALUE=DATE:%d%02d%02d\n", name, st.wYear, st.wMonth, st.wDay);
    else if (tzid[0])
        bv_fprintf(gOutFile, "%s;TZID=\"%s\":%s00\n", name, tzid, text);
    else if (gD84)
        bv_fprintf(gOutFile, "%s:%s00Z\n", name, text);
    else
        bv_fprintf(gOutFile, "%s:%s00\n", name, text);
}

// An all-day event without a zone is written in the machine's local dates.
// With a zone both times are already local to it and stay as they are.
void WriteTimes(const mdat *rec, EventText *ev) {
    bool allDay = IsAllDay(rec);
    if (allDay && !ev->tzid[0]) {
        com_FileTimeToLocalFileTime(&ev->start, &ev->start);
        com_FileTimeToLocalFileTime(&ev->end, &ev->end);
    }
    if (gD77) {
        char text[BV_CAL_TIME_LEN];
        MinuteText(&ev->start, text);
        bv_fprintf(gOutFile, "TRANSP:1\nSTATUS:CONFIRMED\nSEQUENCE:0\nDCREATED:%s00Z\nX-ORACLE-CLASS:NORMAL\n", text);
    }
    WriteTimeLine("DTSTART", ev->start, allDay, ev->tzid);
    WriteTimeLine("DTEND", ev->end, allDay, ev->tzid);
}

// A common name holding ':', ';' or ',' is quoted, as readers split
// parameters there; a quote inside it becomes a single quote.
void WriteAttendee(const mdat *rec, const char *name, const char *role, const char *partstat, const char *addr) {
    char cn[BV_NAME_LEN];
    com_strncpy(cn, name, sizeof cn - 1);
    ToRecordCodepage(rec, cn, sizeof cn);
    for (char *p = cn; *p; p++) {
        if (*p == '"') *p = '\'';
        if (*p == '\r' || *p == '\n') *p = ' ';
    }
    const char *quote = strpbrk(cn, ":;,") ? "\"" : "";
    bv_fprintf(gOutFile, "ATTENDEE;CN=%s%s%s;ROLE=%s;", quote, cn, quote, role);
    if (partstat) bv_fprintf(gOutFile, "PARTSTAT=%s;", partstat);
    bv_fprintf(gOutFile, "RSVP=%s:mailto:%s\n", rec->rsvp ? "TRUE" : "FALSE", addr);
}

// A role or reply of an unknown value keeps the text of the attendee before.
void WriteAttendees(const mdat *rec) {
    const char *role = "";
    const char *partstat = "";
    static const char *const kReplies[] = {"NEEDS-ACTION", "ACCEPTED", "DECLINED", "TENTATIVE"};
    for (int i = 0; i < rec->recipCount && i < BV_MAX_RECIPS; i++) {
        const mrecip *recip = rec->recips[i];
        if (!recip || recip->type == RECIP_ORGANIZER) continue;
        if (recip->type == RECIP_REQUIRED) role = "REQ-PARTICIPANT";
        if (recip->type == RECIP_OPTIONAL) role = "OPT-PARTICIPANT";
        if (recip->status >= 0 && recip->status <= 3) partstat = kReplies[recip->status];
        WriteAttendee(rec, recip->name, role, partstat, recip->addr);
    }
}

void ChooseOrganizer(const mdat *rec, EventText *ev) {
    const char *text = rec->organizerName;
    if (rec->organizerAddr[0] && strchr(rec->organizerAddr, '@')) text = rec->organizerAddr;
    com_strncpy(ev->organizer, text, sizeof ev->organizer - 1);
}

void WriteOrganizer(const EventText &ev) {
    if (!ev.organizer[0]) return;
    bv_fprintf(gOutFile, "ORGANIZER:%s", strchr(ev.organizer, '@') ? "mailto:" : "");
    WriteLineValue(ev.organizer);
    bv_fprintf(gOutFile, "\n");
}

void WriteDescription(const mdat *rec, const char *workDir) {
    bv_fprintf(gOutFile, "DESCRIPTION:");
    gNotesBuf[0] = '\0';
    com_ReadNotes((mdat *)rec, gNotesBuf, workDir);
    gNotesBuf[BV_NOTES_LEN - 1] = '\0';
    ToRecordCodepage(rec, gNotesBuf, BV_NOTES_LEN);
    WriteFoldedText(gNotesBuf);
}

// An occurrence of an all-day series is a day, as its series' start is (in
// the zone's dates under a TZID, else the machine's): a reader matches
// EXDATE and RECURRENCE-ID against the rule's dates, and a UTC time there
// would name no occurrence. Other occurrences are UTC times.
void WriteOccurrenceTime(const char *name, const FILETIME &time, const mdat *rec, const EventText &ev) {
    if (IsAllDay(rec)) {
        FILETIME local = time;
        SYSTEMTIME st = {};
        if (ev.tzid[0])
            ToZoneTime(&local, rec->tzName);
        else
            com_FileTimeToLocalFileTime(&time, &local);
        plat_FileTimeToSystemTime(&local, &st);
        bv_fprintf(gOutFile, "%s;VALUE=DATE:%d%02d%02d\n", name, st.wYear, st.wMonth, st.wDay);
        return;
    }
    char text[BV_CAL_TIME_LEN];
    UtcSecondText(&time, text);
    bv_fprintf(gOutFile, "%s:%s\n", name, text);
}

// Days from the start's date in the record's zone to its date in UTC (-1, 0
// or 1).
int UtcDayShift(const mdat *rec) {
    FILETIME local = rec->startTime;
    ToZoneTime(&local, rec->tzName);
    const uint64_t day = 864000000000ULL;
    return (int)(plat_FileTimeToU64(&rec->startTime) / day) - (int)(plat_FileTimeToU64(&local) / day);
}

uint32_t RotateWeekdays(uint32_t mask, int shift) {
    if (shift == 1) return ((mask << 1) | (mask >> 6)) & 127u;
    if (shift == -1) return ((mask >> 1) | (mask << 6)) & 127u;
    return mask;
}

// The weekdays of a weekly or every-weekday rule are the zone's. Written
// with UTC times (no TZID), a start that falls on another day in UTC moves
// the weekdays with it, or the rule would name the wrong days; every weekday
// then becomes a weekly rule of the moved days.
void WriteRecurrence(mdat *rec, const EventText &ev) {
    char rule[BV_RRULE_VALUE_LEN] = "";
    const uint16_t type = rec->recurType;
    const uint32_t days = rec->recurDayMask, interval = rec->recurInterval;
    bool weekdays = type == BV_RECUR_WEEKLY || type == BV_RECUR_EVERY_WEEKDAY;
    int shift = weekdays && !ev.tzid[0] && rec->tzName[0] ? UtcDayShift(rec) : 0;
    if (shift) {
        const uint32_t mondayToFriday = 62;
        rec->recurDayMask = RotateWeekdays(type == BV_RECUR_EVERY_WEEKDAY ? mondayToFriday : days & 127u, shift);
        if (type == BV_RECUR_EVERY_WEEKDAY) {
            rec->recurType = BV_RECUR_WEEKLY;
            rec->recurInterval = 1;
        }
    }
    com_Genrrule(rec, rule);
    rec->recurType = type;
    rec->recurDayMask = days;
    rec->recurInterval = interval;
    if (rule[0]) bv_fprintf(gOutFile, "RRULE:%s\n", rule);
    for (int i = 0; i < rec->exceptionCount && i < BV_MAX_EXCEPTIONS; i++) {
        const mexception *exc = rec->exceptions[i];
        if (!exc || exc->kind != OCCURRENCE_DELETED) continue;
        WriteOccurrenceTime("EXDATE", exc->originalStart, rec, ev);
    }
}

void WriteAlarm(int minutes, const char *subject, const FILETIME &start, const char *location) {
    char when[64];
    com_FileTimeText(&start, when, sizeof when);
    bv_fprintf(gOutFile, "BEGIN:VALARM\nTRIGGER:-PT%dM\nACTION:DISPLAY\nDESCRIPTION:", minutes);
    WriteLineValue(subject);
    bv_fprintf(gOutFile, " at %s, Location: ", when);
    WriteLineValue(location);
    bv_fprintf(gOutFile, "\nEND:VALARM\n");
}

// The alarms of the event (occurrence -1) or of one changed occurrence: those
// the library keeps beside the record, in the order read, then the one its
// fields hold.
void WriteAlarms(const mdat *rec, int occurrence, int reminderSet, int reminderMinutes, const char *subject,
                 const FILETIME &start, const char *location) {
    if (!reminderSet) return;
    int earlier[BV_MAX_EXTRA_REMINDERS];
    int count = bvcom_GetExtraReminders(rec, occurrence, earlier, BV_MAX_EXTRA_REMINDERS);
    for (int i = 0; i < count; i++) WriteAlarm(earlier[i], subject, start, location);
    WriteAlarm(reminderMinutes, subject, start, location);
}

void WriteOccurrenceNotes(const mdat *rec, const char *notesFile) {
    bv_fprintf(gOutFile, "DESCRIPTION:");
    static char notes[BV_OCCURRENCE_NOTES_MAX + 1];
    size_t got = 0;
    FILE *in = plat_fopen(notesFile, "rb");
    if (in) {
        got = fread(notes, 1, BV_OCCURRENCE_NOTES_MAX, in);
        fclose(in);
    }
    notes[got] = '\0';
    ToRecordCodepage(rec, notes, sizeof notes);
    WriteFoldedText(notes);
}

// Lines of "name;address;required"; false when the file cannot be read.
bool WriteOccurrenceAttendees(const mdat *rec, const char *attendeeFile) {
    FILE *in = plat_fopen(attendeeFile, "rb");
    if (!in) return false;
    char line[BV_ATTENDEE_LINE_LEN];
    while (fgets(line, sizeof line, in)) {
        CutAtLineBreak(line);
        char *addr = strchr(line, ';');
        char *required = addr ? strchr(addr + 1, ';') : nullptr;
        if (addr) *addr++ = '\0';
        if (required) *required++ = '\0';
        const char *role = required && atoi(required) ? "REQ-PARTICIPANT" : "OPT-PARTICIPANT";
        WriteAttendee(rec, line, role, nullptr, addr ? addr : "");
    }
    fclose(in);
    return true;
}

void WriteChangedOccurrence(const mdat *rec, const EventText &ev, int index) {
    const mexception *exc = rec->exceptions[index];
    bv_fprintf(gOutFile, "BEGIN:VEVENT\nUID:%s\n", ev.uid);
    char title[BV_NAME_LEN], location[BV_NAME_LEN];
    com_strncpy(title, exc->title[0] ? exc->title : rec->title, sizeof title - 1);
    com_strncpy(location, exc->location[0] ? exc->location : rec->location, sizeof location - 1);
    CutAtLineBreak(title);
    ToRecordCodepage(rec, title, sizeof title);
    ToRecordCodepage(rec, location, sizeof location);
    bv_fprintf(gOutFile, "LOCATION;ENCODING=QUOTED-PRINTABLE:");
    WriteLineValue(location);
    bv_fprintf(gOutFile, "\nSUMMARY;ENCODING=QUOTED-PRINTABLE:%s\n", title);
    if (exc->notesFile[0]) WriteOccurrenceNotes(rec, exc->notesFile);
    WriteOrganizer(ev);
    if (!exc->attendeeFile[0] || !WriteOccurrenceAttendees(rec, exc->attendeeFile)) WriteAttendees(rec);
    WriteOccurrenceTime("RECURRENCE-ID", exc->originalStart, rec, ev);
    WriteOccurrenceTime("DTSTART", exc->newStart, rec, ev);
    WriteOccurrenceTime("DTEND", exc->newEnd, rec, ev);
    bv_fprintf(gOutFile, "SEQUENCE:%d\n", index + 1);
    FILETIME start = exc->newStart;
    if (ev.tzid[0]) ToZoneTime(&start, rec->tzName);
    WriteAlarms(rec, index, exc->reminderSet, exc->reminderMinutes, title, start,
                location[0] ? location : "My Location");
    bv_fprintf(gOutFile, "END:VEVENT\n");
}

// The title is cut at its first line break in the record; the copies for
// the alarm and the occurrences are in the record's code page.
void PrepareEvent(mdat *rec, EventText *ev) {
    CutAtLineBreak(rec->title);
    ev->start = rec->startTime;
    ev->end = IsLater(rec->startTime, rec->endTime) ? rec->startTime : rec->endTime;
    com_strncpy(ev->subject, rec->title, sizeof ev->subject - 1);
    com_strncpy(ev->location, rec->location, sizeof ev->location - 1);
    ToRecordCodepage(rec, ev->subject, sizeof ev->subject);
    ToRecordCodepage(rec, ev->location, sizeof ev->location);
    if (!ev->location[0]) com_strncpy(ev->location, "My Location", sizeof ev->location - 1);
    ChooseOrganizer(rec, ev);
}

void WriteEventHead(const mdat *rec, const EventText &ev) {
    bv_fprintf(gOutFile, "BEGIN:VEVENT\nUID:%s\n", ev.uid);
    if (rec->importance == 2) bv_fprintf(gOutFile, "PRIORITY:1\n");
    if (rec->importance == 0) bv_fprintf(gOutFile, "PRIORITY:9\n");
    bv_fprintf(gOutFile, "LOCATION;ENCODING=QUOTED-PRINTABLE:");
    WriteLineValue(rec->location);
    bv_fprintf(gOutFile, "\nSUMMARY;ENCODING=QUOTED-PRINTABLE:%s\n", rec->title);
    if (rec->sensitivity) bv_fprintf(gOutFile, "CLASS:PRIVATE\n");
}

}  // namespace

extern "C" int WriteEvent(mdat *rec, const char *workDir, int) {
    if (!gOutFile || !gNotesBuf) {
        com_Log("BV Warning: WriteEvent: no calendar file is open, event not written: %s", rec->title);
        return 0;
    }
    EventText ev = {};
    PrepareEvent(rec, &ev);
    if (gD301) WriteZoneHeader(rec, &ev);
    ItemUid(rec, workDir, ev.uid);
    WriteEventHead(rec, ev);
    WriteTimes(rec, &ev);
    WriteAttendees(rec);
    WriteItemAttachments(rec, workDir);
    WriteOrganizer(ev);
    WriteDescription(rec, workDir);
    WriteRecurrence(rec, ev);
    bv_fprintf(gOutFile, "SEQUENCE:0\n");
    WriteAlarms(rec, -1, rec->reminderSet, rec->reminderMinutes, ev.subject, ev.start, ev.location);
    bv_fprintf(gOutFile, "END:VEVENT\n");
    for (int i = 0; i < rec->exceptionCount && i < BV_MAX_EXCEPTIONS; i++) {
        const mexception *exc = rec->exceptions[i];
        if (exc && exc->kind == OCCURRENCE_CHANGED) WriteChangedOccurrence(rec, ev, i);
    }
    if (gD301) bv_fprintf(gOutFile, "END:VCALENDAR\n\n");
    return 0;
}
