// parse_vcs_entry: one VEVENT or VTODO into the record. A single pass over
// logical lines; each line is tested against the property rules in a fixed
// order, and several rules may act on one line unless one says it is done.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include "calread/vcs_parser.h"
#include "platform/platform.h"

#define ROOM_NAME_LEN BV_NAME_LEN
#define LOCATION_MAX 500
#define DESCRIPTION_CONT_MAX 249
#define LONG_REMINDER_MINUTES 20160  // 14 days: an absolute alarm further away keeps no minutes
#define RECUR_END_FIX_MINUTES 10512000  // 7,300 days

char gEntryNotes[BV_NOTES_LEN];
RDatePeriod *gRDatePeriods[VCS_MAX_RDATE_PERIODS];
int gRDateCount;
char gCalFileBase[BV_PATH_LEN];

// Per-entry state of the parser.
typedef struct EntryState {
    VcsFile *vf;
    mdat *rec;
    const char *workDir;
    VcsEntry *out;
    VcsZoneIndex *zones;
    int logTitle;
    int alarmTriggered;  // the current VALARM had its TRIGGER
    int inEvent, inAlarm, mira, oracleClass, intendedStatus, busyStatusSeen, dtendSeen, recurrenceIdSeen;
    int quotedPrintable;
    int durationMinutes;
    int role;  // of the next attendee
    char rrule[VCS_VALUE_MAX + 1];
    char alarmSummary[VCS_TITLE_BUF_LEN];
    char room[ROOM_NAME_LEN];
    FILETIME triggerTime;
} EntryState;

extern "C" void ResetEntryExtras(void) {
    gExDates[0] = 0;
    gExDateTzid[0] = 0;
    for (int i = 0; i < gRDateCount; i++) {
        free(gRDatePeriods[i]);
        gRDatePeriods[i] = NULL;
    }
    gRDateCount = 0;
}

// ---- small helpers --------------------------------------------------------------

// Every line meets some sixty names: the first letter, folded to lower case
// by its 0x20 bit, turns most of them away before the full comparison.
static int Is(const char *line, const char *name) {
    return (line[0] | 0x20) == (name[0] | 0x20) && strncasecmp(line, name, strlen(name)) == 0;
}
static int IsEither(const char *line, const char *name1, const char *name2) {
    return Is(line, name1) || Is(line, name2);
}
// The value begins after the first colon outside a quoted parameter value
// (ALTREP="cid:..." holds colons); with an unclosed quote, the first colon.
static const char *ValueOf(const char *line) {
    int quoted = 0;
    for (const char *p = line; *p; p++) {
        if (*p == '"') quoted = !quoted;
        else if (*p == ':' && !quoted) return p + 1;
    }
    const char *colon = strchr(line, ':');
    return colon ? colon + 1 : NULL;
}
static void CopyValue(char *out, const char *value, size_t max) { com_strncpy(out, value ? value : "", max); }
static const char *SkipOneBlank(const char *value) { return *value == ' ' ? value + 1 : value; }

static int64_t LocalMinutes(const FILETIME *utc) {
    FILETIME local;
    com_FileTimeToLocalFileTime(utc, &local);
    return (int64_t)(plat_FileTimeToU64(&local) / 600000000ULL);
}

// Parses text with a ":" in front (the date-time reader expects the
// property text from its parameters or colon on).
static int ParseWithColon(const char *text, FILETIME *out) {
    char buf[VCS_VALUE_MAX * 2 + 2];
    buf[0] = ':';
    com_strncpy(buf + 1, text, sizeof buf - 2);
    return ParseVcsDateTime(buf, out);
}

// A start, end or due time. Some producers write a day without
// "VALUE=DATE" ("DTSTART:20060611"): it is read as the day it is.
static int ParseEntryTime(const char *text, FILETIME *out) {
    const char *value = strrchr(text, ':');
    if (!value || strlen(value + 1) != 8 || strspn(value + 1, "0123456789") != 8 || strstr(text, "VALUE=DATE:"))
        return ParseVcsDateTime(text, out);
    char dated[VCS_VALUE_MAX * 2];
    bv_snprintf(dated, sizeof dated, ";VALUE=DATE:%s", value + 1);
    return ParseVcsDateTime(dated, out);
}

// ---- the VTIMEZONE block ------------------------------------------------------------

static int TzOffsetMinutes(const char *value) {
    int sign = 1;
    if (*value == '-' || *value == '+') sign = *value++ == '-' ? -1 : 1;
    int hh = 0, mm = 0;
    if (isdigit((unsigned char)value[0]) && isdigit((unsigned char)value[1])) hh = (value[0] - '0') * 10 + value[1] - '0';
    if (isdigit((unsigned char)value[2]) && isdigit((unsigned char)value[3])) mm = (value[2] - '0') * 10 + value[3] - '0';
    return sign * (hh * 60 + mm);
}

// Zone names are text values: "Kuala Lumpur\, Singapore" is the zone that
// times name as TZID="Kuala Lumpur, Singapore".
static void ZoneNameValue(char *out, const char *value) {
    if (strncmp(value, "GMT +0100", 9) == 0)
        com_strncpy(out, "W. Europe Standard Time", VCS_VALUE_MAX);
    else
        CopyValue(out, value, VCS_VALUE_MAX);
    UnescapeVcsText(out);
}

static void ApplyZoneToRecord(mdat *rec, const char *tzidText) {
    char name[BV_VTZ_NAME_LEN];
    com_strncpy(name, tzidText, sizeof name - 1);
    int position = -1;
    MapTimeZoneName(name, &position);
    if (position > 0 && position < BV_ZONE_STRINGS && gZoneTable[position]) com_strncpy(name, gZoneTable[position], sizeof name - 1);
    NormalizeZoneName(name, sizeof name);
    com_strncpy(rec->tzName, name, sizeof rec->tzName - 1);
    // A zone without daylight time keeps its standard offset: the date-time
    // reader converts the entry's times with it, and zeroing it would shift
    // every time of such a zone by its offset.
    rec->tzBias = -gVtzStdOffset;
    rec->tzStdBias = 0;
    rec->tzDstBias = gVtzStdOffset - gVtzDstOffset;
    rec->tzStdStart = gVtzStdStart;
    rec->tzDstStart = gVtzDstStart;
}

// The entry's zone (the zone state and the record's zone fields) to and
// from a remembered zone.
static void SaveZone(VcsZoneEntry *slot, const mdat *rec) {
    slot->vtz = gVtz;
    memcpy(slot->tzName, rec->tzName, sizeof slot->tzName);
    slot->tzBias = rec->tzBias;
    slot->tzStdBias = rec->tzStdBias;
    slot->tzDstBias = rec->tzDstBias;
    slot->tzStdStart = rec->tzStdStart;
    slot->tzDstStart = rec->tzDstStart;
}

static void LoadZone(mdat *rec, const VcsZoneEntry *slot) {
    gVtz = slot->vtz;
    memcpy(rec->tzName, slot->tzName, sizeof rec->tzName);
    rec->tzBias = slot->tzBias;
    rec->tzStdBias = slot->tzStdBias;
    rec->tzDstBias = slot->tzDstBias;
    rec->tzStdStart = slot->tzStdStart;
    rec->tzDstStart = slot->tzDstStart;
}

static VcsZoneEntry *FindZone(VcsZoneIndex *index, const char *tzid) {
    for (int i = 0; index && i < index->count; i++)
        if (strcmp(index->zones[i].tzid, tzid) == 0) return &index->zones[i];
    return NULL;
}

static void RememberZone(EntryState *st, const char *tzid) {
    VcsZoneIndex *index = st->zones;
    if (!index || !tzid[0]) return;
    VcsZoneEntry *slot = FindZone(index, tzid);
    if (!slot && index->count < VCS_FILE_ZONES) slot = &index->zones[index->count++];
    if (!slot) return;
    com_strncpy(slot->tzid, tzid, sizeof slot->tzid - 1);
    SaveZone(slot, st->rec);
}

// Reads the block up to END:VTIMEZONE; its lines are not seen by the rules.
// With apply 0 the block is only remembered (the entry has its zone).
static void ReadVTimeZone(EntryState *st, int apply) {
    static VcsZoneEntry before;
    SaveZone(&before, st->rec);
    gVtzName[0] = 0;
    gVtzStdOffset = gVtzDstOffset = 0;
    gVtzStdStart = gVtzDstStart = FILETIME{0, 0};
    char tzid[VCS_VALUE_MAX + 1] = "";
    char tzname[VCS_VALUE_MAX + 1] = "";
    int inStandard = 0;
    while (ReadVcsLine(st->vf, 0) == 0) {
        const char *line = gTextLine;
        if (Is(line, "END:VTIMEZONE")) break;
        const char *value = ValueOf(line);
        if (Is(line, "TZID:") && value && strlen(value) > 2) ZoneNameValue(tzid, value);
        if (Is(line, "TZNAME:") && value && !tzname[0]) ZoneNameValue(tzname, value);
        if (Is(line, "BEGIN:STANDARD")) inStandard = 1;
        if (Is(line, "END:STANDARD")) inStandard = 0;
        if (Is(line, "DTSTART")) ParseVcsDateTime(line + 7, inStandard ? &gVtzStdStart : &gVtzDstStart);
        if (Is(line, "TZOFFSETTO:") && value) *(inStandard ? &gVtzStdOffset : &gVtzDstOffset) = TzOffsetMinutes(value);
    }
    char key[VCS_VALUE_MAX + 1];
    com_strncpy(key, tzid, VCS_VALUE_MAX);
    if (strcasecmp(tzid, "TZID") == 0) com_strncpy(tzid, tzname, VCS_VALUE_MAX);
    com_strncpy(gVtzName, tzid, BV_VTZ_NAME_LEN - 1);
    ApplyZoneToRecord(st->rec, tzid);
    RememberZone(st, key);
    if (!apply) LoadZone(st->rec, &before);
}

// An entry whose start names a zone of the file that the entry did not
// define itself takes that zone.
static void UseFileZone(EntryState *st, const char *line) {
    const char *tzidParam = com_stristr(line, "TZID=", 0);
    if (!tzidParam || !st->zones) return;
    char tzid[VCS_VALUE_MAX + 1];
    CopyValue(tzid, tzidParam + 5, VCS_VALUE_MAX);
    tzid[strcspn(tzid, ":;")] = 0;
    com_Remove_Quotes(tzid);
    if (strcmp(gVtzName, tzid) == 0) return;
    const VcsZoneEntry *zone = FindZone(st->zones, tzid);
    if (zone) LoadZone(st->rec, zone);
}

// ---- the rules ------------------------------------------------------------------------

// Rules 1-6: encoding, UID, PRODID, X-MIRA, RECURRENCE-ID, foreign UID.
static void IdentityRules(EntryState *st, const char *line, const char *value) {
    mdat *rec = st->rec;
    VcsEntry *out = st->out;
    if (Is(line, "Content-Transfer-Encoding: quoted-printable") || Is(line, "Content-Transfer-Encoding:quoted-printable"))
        st->quotedPrintable = 1;
    if (com_stristr(line, "charset=\"utf-8\"", 0)) gUtf8 = 1;
    if (Is(line, "UID:") && !st->inAlarm && value) {
        if (strncasecmp(value, "mcal:", 5) == 0) value += 5;
        CopyValue(out->uid, value, VCS_VALUE_MAX);
        out->uid[strcspn(out->uid, "@")] = 0;
        com_strncpy(rec->messageId, out->uid, sizeof rec->messageId - 1);
    }
    if (Is(line, "PRODID:") && value) CopyValue(out->prodid, value, VCS_VALUE_MAX);
    if (Is(line, "X-MIRA")) {
        st->mira = 1;
        if (Is(line, "X-MIRA-STATUS:") && value && strstr(value, "NOTBUSY")) rec->busyStatus = 0;
    }
    if (IsEither(line, "RECURRENCE-ID:", "RECURRENCE-ID;")) {
        st->recurrenceIdSeen = 1;
        com_strncpy(out->foreignUid, out->uid, VCS_ID_LEN - 1);
        const char *rest = strchr(line, ';');
        if (!rest || rest > strchr(line, ':')) rest = strchr(line, ':');
        UseFileZone(st, line);
        if (rest) ParseWithColon(rest + 1, &out->recurrenceIdTime);
    }
    if (Is(line, "X-MIRA-FOREIGNUID;") && value) {
        CopyValue(out->foreignUid, value, VCS_VALUE_MAX);
        out->foreignUid[strcspn(out->foreignUid, "-")] = 0;
        size_t n = strlen(line);
        const char *dash = strrchr(line, '-');
        if (n > 0 && line[n - 1] == 'Z' && dash) ParseWithColon(dash + 1, &out->recurrenceIdTime);
    }
}

// Rules 7-10: location, class, Lotus charset, Oracle class.
static void PlaceAndClassRules(EntryState *st, const char *line, const char *value) {
    mdat *rec = st->rec;
    if (IsEither(line, "Location;", "Location:") && value) {
        bvcom_CopyField(rec->location, value, LOCATION_MAX, "location");
        UnescapeVcsText(rec->location);
    }
    if (!gNhs && IsEither(line, "Class;", "Class:") && value) {
        const char *v = SkipOneBlank(value);
        if (Is(v, "CONFIDENTIAL") && gD220) rec->sensitivity = 1;
        if (Is(v, "PRIVATE") && !st->oracleClass) rec->sensitivity = 1;
    }
    if (gNhs && Is(line, "X-MIRA-ACCESSREAD:") && value && Is(value, "INCLUDE")) rec->sensitivity = 1;
    if (Is(line, "X-LOTUS-CHARSET:UTF-8")) st->out->lotusUtf8 = 1;
    if (Is(line, "X-ORACLE-CLASS:")) {
        st->oracleClass = 1;
        if (value && Is(SkipOneBlank(value), "NORMAL")) rec->sensitivity = 0;
    }
}

static void AppendExDate(const char *line, const char *value) {
    size_t used = strlen(gExDates);
    size_t need = strlen(value) + 1;
    if (used + need < sizeof gExDates) {
        gExDates[used] = ';';
        memcpy(gExDates + used + 1, value, need);
    } else {
        com_Log("BV Warning: too many EXDATE values, the rest are dropped");
    }
    const char *tzid = strstr(line, "TZID=");
    if (gExDateTzid[0] || !tzid) return;
    CopyValue(gExDateTzid, tzid + 5, BV_VTZ_NAME_LEN - 1);
    gExDateTzid[strcspn(gExDateTzid, ":")] = 0;
    com_Remove_Quotes(gExDateTzid);
}

static void AddRDatePeriods(const char *value) {
    char list[VCS_LOGICAL_LINE_MAX];
    com_strncpy(list, value, sizeof list - 1);
    char *save = NULL;
    for (char *period = strtok_r(list, ",", &save); period; period = strtok_r(NULL, ",", &save)) {
        char *slash = strchr(period, '/');
        if (!slash) continue;
        if (gRDateCount >= VCS_MAX_RDATE_PERIODS) {
            com_Log("BV Warning: more than %d RDATE periods, the rest are dropped", VCS_MAX_RDATE_PERIODS);
            return;
        }
        *slash = 0;
        RDatePeriod *row = (RDatePeriod *)calloc(1, sizeof *row);
        if (!row) return;
        ParseWithColon(period, &row->start);
        ParseWithColon(slash + 1, &row->end);
        gRDatePeriods[gRDateCount++] = row;
    }
}

static int BusyLetter(const char *value) {
    switch (*SkipOneBlank(value)) {
    case 'F': return 0;
    case 'T': return 1;
    case 'B': return 2;
    case 'O': return 3;
    default: return -1;
    }
}

// Rules 11-19: begin, EXDATE, priority, RDATE, status, free/busy, percent, MALARM.
// Returns 1 when the line is done.
static int StateRules(EntryState *st, const char *line, const char *value) {
    mdat *rec = st->rec;
    VcsEntry *out = st->out;
    if (Is(line, "BEGIN:VEVENT")) {
        st->inEvent = 1;
        out->sawBegin = 1;
        st->rrule[0] = 0;
        rec->startTime = rec->endTime = FILETIME{0, 0};
    }
    if (IsEither(line, "EXDATE:", "EXDATE;") && value) AppendExDate(line, value);
    if (IsEither(line, "Priority;", "Priority:")) {
        int n = value ? atoi(value) : 5;
        rec->importance = (n >= 1 && n <= 4) ? 2 : (n == 0 || n == 5) ? 1 : 0;
    }
    if (IsEither(line, "RDATE:", "RDATE;")) {
        if (strstr(line, "VALUE=PERIOD") && value) AddRDatePeriods(value);
        return 1;
    }
    if (IsEither(line, "Status;", "Status:")) {
        if (out->taskFlag == VCS_TASK) {
            if (strstr(line, ":IN-PROCESS")) rec->taskStatus = 2;
            if (strstr(line, ":COMPLETED")) rec->taskStatus = 3;
            if (strstr(line, ":NEEDS-ACTION")) rec->taskStatus = 1;
            if (strstr(line, "X-ZIMBRA-STATUS-WAITING")) rec->taskStatus = 4;
            if (strstr(line, "X-ZIMBRA-STATUS-DEFERRED")) rec->taskStatus = 5;
        }
        if (strstr(line, ":CANCELLED")) out->taskFlag = VCS_CANCELLED;
    }
    if (Is(line, "Transp:") && com_stristr(line, "transparent", 0) && !st->mira && !st->intendedStatus &&
        !st->busyStatusSeen)
        rec->busyStatus = 0;
    if (Is(line, "X-MICROSOFT-CDO-INTENDEDSTATUS:") && value) {
        st->intendedStatus = 1;
        int busy = BusyLetter(value);
        if (busy >= 0) rec->busyStatus = (int16_t)busy;
    }
    if (Is(line, "X-MICROSOFT-CDO-BUSYSTATUS:") && value && !st->intendedStatus) {
        st->busyStatusSeen = 1;
        int busy = BusyLetter(value);
        if (busy >= 0) rec->busyStatus = (int16_t)busy;
    }
    if (IsEither(line, "Percent-complete;", "Percent-complete:") && value) rec->percentComplete = atoi(value);
    if (IsEither(line, "MALARM;", "MALARM:") && value) {
        ParseVcsDateTime(value - 1, &out->malarmTime);
        out->malarm = 1;
    }
    return 0;
}

static void SummaryRule(EntryState *st, const char *value) {
    static char title[VCS_TITLE_BUF_LEN];
    int pos = 0;
    title[0] = 0;
    AppendVcsText(title, value, &pos, VCS_TITLE_CAP);
    UnescapeVcsText(title);
    com_ltrim(title);
    com_rtrim(title);
    if (gLSub && st->logTitle) com_Log("Calendar/Task title: %s", title);
    if (st->inAlarm)
        com_strncpy(st->alarmSummary, title, sizeof st->alarmSummary - 1);
    else
        bvcom_CopyField(st->rec->title, title, VCS_TITLE_MAX, "title");
}

static void MarkOwnerOrganizer(mdat *rec, int withAddress) {
    if (!gD159Text[0]) return;
    if (strcasecmp(gD159Text, rec->organizerName) != 0 && strcasecmp(gD159Text, rec->organizerAddr) != 0) return;
    rec->isOwner = 1;
    if (!gDebug) return;
    if (withAddress)
        com_Log("debug: meeting owner found for %s <%s>", rec->organizerName, rec->organizerAddr);
    else
        com_Log("debug: meeting owner found for %s", rec->organizerName);
}

// Rule 22: ORGANIZER without parameters.
static void PlainOrganizer(mdat *rec, const char *value) {
    char text[BV_NAME_LEN];
    CopyValue(text, value, sizeof text - 1);
    const char *name = com_stristr(text, "mailto:", 0) ? text + 7 : text;
    if (strlen(text) < 7) name = text;
    com_strncpy(rec->organizerName, name, sizeof rec->organizerName - 1);
    if (strchr(rec->organizerName, '@')) {
        com_strncpy(rec->organizerAddr, rec->organizerName, sizeof rec->organizerAddr - 1);
        com_Remove_Quotes(rec->organizerAddr);
        rec->organizerName[strcspn(rec->organizerName, "@")] = 0;
    }
    MarkOwnerOrganizer(rec, 0);
}

static void TakeParam(char *out, const char *text, const char *param) {
    const char *found = strstr(text, param);
    if (!found) return;
    CopyValue(out, found + strlen(param), VCS_VALUE_MAX);
    out[strcspn(out, ";")] = 0;
}

// Rule 23: ORGANIZER with parameters.
static void ParamOrganizer(mdat *rec, const char *params) {
    char name[VCS_VALUE_MAX + 1] = "";
    TakeParam(name, params, "X-NSCP-ORGANIZER-UID=");
    TakeParam(name, params, "CN=");
    for (char *colon = strchr(name, ':'); colon; colon = strchr(colon + 1, ':')) {
        if (colon > name && tolower((unsigned char)colon[-1]) == 'o') continue;
        char after[VCS_VALUE_MAX + 1];
        com_strncpy(after, colon + 1, VCS_VALUE_MAX);
        *colon = 0;
        if (!name[0]) com_strncpy(name, after, VCS_VALUE_MAX);
        break;
    }
    com_Remove_Quotes(name);
    com_Remove_Quotes(name);
    char address[BV_ADDR_LEN] = "";
    const char *mailto = com_stristr(params, "mailto:", 0);
    const char *s1cs = strstr(params, "X-S1CS-EMAIL=");
    if (mailto) {
        CopyValue(address, mailto + 7, sizeof address - 1);
    } else if (s1cs) {
        CopyValue(address, s1cs + 13, sizeof address - 1);
        address[strcspn(address, ":")] = 0;
    }
    address[strcspn(address, "\"")] = 0;
    com_strncpy(rec->organizerName, name, sizeof rec->organizerName - 1);
    if (address[0]) {
        com_Remove_Quotes(address);
        com_strncpy(rec->organizerAddr, address, sizeof rec->organizerAddr - 1);
    }
    MarkOwnerOrganizer(rec, 1);
}

// "Name <addr>" of the owner: the name is the organizer, the address its address.
static void OldStyleOrganizer(mdat *rec, const char *name) {
    com_strncpy(rec->organizerName, name, sizeof rec->organizerName - 1);
    char *open = strchr(rec->organizerName, '<');
    char *close = open ? strchr(open, '>') : NULL;
    if (!open || !close || open == rec->organizerName) return;
    *close = 0;
    if (!rec->organizerAddr[0]) com_strncpy(rec->organizerAddr, open + 1, sizeof rec->organizerAddr - 1);
    *open = 0;
    com_rtrim(rec->organizerName);
}

// Rule 25, vCalendar 1.0 style: the value is the attendee.
static void OldStyleAttendee(EntryState *st, const char *line, const char *value) {
    mdat *rec = st->rec;
    char name[VCS_VALUE_MAX + 1];
    CopyValue(name, value, VCS_VALUE_MAX);
    char *uuid = strstr(name, " <!uuid");
    if (uuid) *uuid = 0;
    int owner = strstr(line, "OWNER") != NULL;
    int status = strstr(line, "DECLINED") ? 2 : strstr(line, "CONFIRMED") ? 1 : 0;
    if (strstr(line, "PARTSTAT=ACCEPTED")) status = 1;
    if (strstr(line, "PARTSTAT=DECLINED")) status = 2;
    if (strstr(line, "PARTSTAT=TENTATIVE")) status = 3;
    char *colon = strchr(name, ':');
    if (colon) memmove(name, colon + 1, strlen(colon + 1) + 1);
    com_Remove_Quotes(name);
    if (owner) OldStyleOrganizer(rec, name);
    if (!name[0]) return;
    int before = rec->recipCount;
    AddVcsAttendee(rec, name, "", owner, status, st->role);
    if (rec->recipCount == before) st->out->droppedAttendees++;
}

static void AttendeeRule(EntryState *st, const char *line) {
    if (st->inAlarm) return;
    mdat *rec = st->rec;
    static char name[BV_NAME_LEN * 2];
    static char address[BV_ADDR_LEN * 2 + 8];
    int role = 3, status = 0;
    int add = ParseVcsAttendee(name, address, st->room, &role, &status);
    if (!add) return;
    st->role = role;
    if (name[0] && (strstr(line, "CN=") || address[0])) {
        int before = rec->recipCount;
        AddVcsAttendee(rec, name, address, 0, status, role);
        if (rec->recipCount == before) st->out->droppedAttendees++;
        return;
    }
    const char *value = ValueOf(line);
    if (value) OldStyleAttendee(st, line, value);
}

// Another alarm follows: the record's reminder becomes the new one, the one
// it held goes to the entry's earlier alarms.
static void KeepEarlierAlarm(EntryState *st) {
    VcsEntry *out = st->out;
    if (out->earlierAlarmCount < BV_MAX_EXTRA_REMINDERS)
        out->earlierAlarms[out->earlierAlarmCount++] = st->rec->reminderMinutes;
    else
        out->droppedAlarms++;
}

// Rules 20-28: summary, RRULE, organizer, attachments, attendees, alarms, duration.
// Returns 1 when the line is done.
static int PeopleAndAlarmRules(EntryState *st, const char *line, const char *value) {
    mdat *rec = st->rec;
    if (IsEither(line, "Summary;", "Summary:") && value) SummaryRule(st, value);
    if (IsEither(line, "RRULE:", "RRULE;") && value) {
        if (st->rrule[0]) st->out->droppedRules++;
        CopyValue(st->rrule, SkipOneBlank(value), VCS_VALUE_MAX);
    }
    if (Is(line, "ORGANIZER:") && value) PlainOrganizer(rec, value);
    if (Is(line, "ORGANIZER;")) ParamOrganizer(rec, line + 10);
    if (Is(line, "ATTACH")) {
        ParseVcsAttach(st->workDir, rec, st->vf);
        return 1;
    }
    if (Is(line, "Attendee:") || Is(line, "Attendee;") || Is(line, "X-MIRA-EXTERNALATTENDEE;")) {
        AttendeeRule(st, line);
        return 1;
    }
    if (Is(line, "BEGIN:VALARM")) {
        st->inAlarm = 1;
        st->alarmTriggered = 0;
        if (!st->inEvent) st->out->taskAlarm = 1;
    }
    if (strcasecmp(line, "END:VALARM") == 0) st->inAlarm = 0;
    if (Is(line, "TRIGGER") && value) {
        if (!st->alarmTriggered && rec->reminderSet) KeepEarlierAlarm(st);
        st->alarmTriggered = 1;
        if (strchr(value, 'P')) {
            ParseVcsDuration(value - 1, &rec->reminderMinutes);
            // A relative alarm is an alarm too: without the flag the event
            // writer would drop it.
            rec->reminderSet = 1;
        } else {
            ParseVcsDateTime(value - 1, &st->triggerTime);
            int64_t minutes = LocalMinutes(&rec->startTime) - LocalMinutes(&st->triggerTime);
            if (minutes < 0) minutes = -minutes;
            if (minutes <= LONG_REMINDER_MINUTES) rec->reminderMinutes = (int)minutes;
            rec->reminderTime = st->triggerTime;
            rec->reminderSet = 1;
        }
    }
    // A repeating alarm's DURATION is not the entry's.
    if (Is(line, "DURATION") && value && !st->inAlarm) ParseVcsDuration(value - 1, &st->durationMinutes);
    return 0;
}

static void DescriptionRule(EntryState *st, const char *value) {
    int pos = 0;
    gEntryNotes[0] = 0;
    AppendVcsText(gEntryNotes, value, &pos, VCS_NOTES_CAP);
    char *css = strstr(gEntryNotes, "body { font");
    char *close = css ? strchr(css, '}') : NULL;
    if (close) {
        memmove(gEntryNotes, close + 1, strlen(close + 1) + 1);
        pos = (int)strlen(gEntryNotes);
    }
    // Lines left folded after a logical line reached its limit.
    static char more[VCS_LOGICAL_LINE_MAX + 1];
    for (;;) {
        int first = VcsPeekByte(st->vf);
        if (first != ' ') break;
        size_t n = 0;
        VcsReadPhysical(st->vf, more, VCS_LOGICAL_LINE_MAX, &n);
        more[strcspn(more, "\r")] = 0;
        AppendVcsText(gEntryNotes, more + 1, &pos, VCS_NOTES_CAP);
    }
    UnescapeVcsText(gEntryNotes);
}

// Rules 29-34: tasks, zones, times, description. Returns 1 when the line is done.
static int TimeRules(EntryState *st, const char *line, const char *value) {
    mdat *rec = st->rec;
    VcsEntry *out = st->out;
    if (Is(line, "BEGIN:VTODO") && !st->inEvent) {
        out->taskFlag = VCS_TASK;
        out->isTodo = 1;
        out->sawBegin = 1;
        rec->startTime = rec->endTime = FILETIME{0, 0};
    }
    if (Is(line, "BEGIN:VTIMEZONE")) {
        ReadVTimeZone(st, gVtzName[0] == 0);
        return 1;
    }
    if (Is(line, "DTSTART")) {
        UseFileZone(st, line);
        if (ParseEntryTime(line + 7, &rec->startTime) == 1) {
            rec->allDay = 1;
            if (!st->dtendSeen) rec->endTime = rec->startTime;
        }
    }
    if (Is(line, "DTEND")) {
        ParseEntryTime(line + 5, &rec->endTime);
        st->dtendSeen = 1;
        if (st->mira && LocalMinutes(&rec->endTime) - LocalMinutes(&rec->startTime) == 1440) rec->allDayKind = 2;
    }
    if (Is(line, "DUE")) ParseEntryTime(line + 3, &rec->endTime);
    if (Is(line, "DCREATED")) ParseVcsDateTime(line + 8, &out->createdTime);
    if (Is(line, "CREATED")) ParseVcsDateTime(line + 7, &out->createdTime);
    if (Is(line, "COMPLETED")) {
        ParseVcsDateTime(line + 9, &rec->completedTime);
        rec->itemFlag = 2;
    }
    if (IsEither(line, "Description;", "Description:") && !st->inAlarm) {
        if (value) DescriptionRule(st, value);
        return 1;
    }
    return 0;
}

static void ApplyRules(EntryState *st) {
    const char *line = gTextLine;
    const char *value = ValueOf(line);
    IdentityRules(st, line, value);
    PlaceAndClassRules(st, line, value);
    if (StateRules(st, line, value)) return;
    if (PeopleAndAlarmRules(st, line, value)) return;
    TimeRules(st, line, value);
}

// ---- after the last line ----------------------------------------------------------------

static void OrganizerAmongAttendees(EntryState *st) {
    mdat *rec = st->rec;
    for (int i = 0; i < rec->recipCount; i++) {
        mrecip *r = rec->recips[i];
        if ((rec->organizerName[0] && strcasecmp(r->name, rec->organizerName) == 0) ||
            (rec->organizerAddr[0] && strcasecmp(r->addr, rec->organizerAddr) == 0)) {
            r->type = 31;
            return;
        }
    }
    if (!gD159Text[0] || gD242 != 1) return;
    if (rec->isOwner && !rec->organizerName[0]) {
        AddVcsAttendee(rec, gD159Text, "", 1, 1, st->role);
        return;
    }
    char name[BV_NAME_LEN];
    com_strncpy(name, rec->organizerName, sizeof name - 1);
    name[strcspn(name, "@")] = 0;
    if (name[0] || rec->organizerAddr[0]) AddVcsAttendee(rec, name, rec->organizerAddr, 1, 1, st->role);
}

static void FinishUid(EntryState *st, const char *workDir) {
    mdat *rec = st->rec;
    com_strncpy(rec->uid, st->out->uid, sizeof rec->uid - 1);
    if (!rec->uid[0]) {
        com_MsgIsDuplicate(rec, workDir, BV_DUP_DIGEST, "");
        bvcom_HexEncode(rec->digest, sizeof rec->digest, rec->uid, sizeof rec->uid);
    }
    FILETIME now;
    plat_GetSystemTimeAsFileTime(&now);
    unsigned long seconds = (unsigned long)((plat_FileTimeToU64(&now) - 116444736000000000ULL) / 10000000ULL);
    char stamped[BV_UID_LEN];
    bv_snprintf(stamped, sizeof stamped, "%s-timestamp-%lu", rec->uid, seconds);
    com_strncpy(rec->uid, stamped, sizeof rec->uid - 1);
}

static void AfterEntry(EntryState *st) {
    mdat *rec = st->rec;
    VcsEntry *out = st->out;
    if (plat_FileTimeToU64(&out->createdTime) == 0) out->createdTime = rec->startTime;
    if (st->rrule[0]) {
        com_strncpy(rec->rrule, st->rrule, sizeof rec->rrule - 1);
        ParseRecurRule(st->rrule, rec);
        com_strncpy(out->foreignUid, out->uid, VCS_ID_LEN - 1);
    }
    OrganizerAmongAttendees(st);
    if (!rec->title[0]) com_strncpy(rec->title, st->alarmSummary, VCS_TITLE_MAX);
    if (st->recurrenceIdSeen && !out->foreignUid[0]) com_strncpy(out->foreignUid, out->uid, VCS_ID_LEN - 1);
    if (!st->dtendSeen && com_DateIsNull(&rec->endTime)) {
        rec->endTime = rec->startTime;
        com_OffsetFileTimeVal(&rec->endTime, st->durationMinutes);
    }
    if (!rec->organizerName[0]) com_strncpy(rec->organizerName, rec->organizerAddr, sizeof rec->organizerName - 1);
    if (!rec->location[0]) com_strncpy(rec->location, st->room, sizeof rec->location - 1);
    FinishUid(st, st->workDir);
    if (rec->recurType != BV_RECUR_NONE && rec->recurEndType == BV_RECUR_END_DATE &&
        plat_FileTimeToU64(&rec->startTime) > plat_FileTimeToU64(&rec->recurEnd)) {
        rec->recurEnd = rec->startTime;
        com_OffsetFileTimeVal(&rec->recurEnd, RECUR_END_FIX_MINUTES);
    }
}

extern "C" int parse_vcs_entry(VcsFile *vf, mdat *rec, const char *workDir, VcsEntry *out, int logTitle,
                               VcsZoneIndex *zones) {
    memset(out, 0, sizeof *out);
    gEntryNotes[0] = 0;
    memset(&gVtz, 0, sizeof gVtz);
    static EntryState st;
    memset(&st, 0, sizeof st);
    st.vf = vf;
    st.rec = rec;
    st.workDir = workDir ? workDir : "";
    st.out = out;
    st.zones = zones;
    st.logTitle = logTitle;
    st.role = 3;

    int result = 1;
    for (;;) {
        int64_t lineStart = VcsTell(vf);
        if (ReadVcsLine(vf, st.quotedPrintable) != 0) break;
        if (Is(gTextLine, "end:vevent") || Is(gTextLine, "end:vtodo")) {
            result = 0;
            break;
        }
        // The next entry begins before this one ended: this one stops here
        // and the next is read whole by the next call.
        if (out->sawBegin && (Is(gTextLine, "BEGIN:VEVENT") || Is(gTextLine, "BEGIN:VTODO"))) {
            VcsSeek(vf, lineStart);
            result = VCS_ENTRY_CUT_SHORT;
            break;
        }
        ApplyRules(&st);
    }
    if (out->droppedAttendees)
        com_Log("BV Warning: %d attendees of \"%s\" beyond the limit of %d were dropped", out->droppedAttendees,
                rec->title, BV_MAX_RECIPS);
    if (out->droppedRules)
        com_Log("BV Warning: \"%s\" has %d RRULEs besides its last one; only the last one is kept", rec->title,
                out->droppedRules);
    if (out->droppedAlarms)
        com_Log("BV Warning: %d alarms of \"%s\" beyond the limit of %d were dropped", out->droppedAlarms,
                rec->title, BV_MAX_EXTRA_REMINDERS + 1);
    if (vf->longLines) {
        com_Log("BV Warning: %d calendar lines longer than %d characters were cut", vf->longLines,
                VCS_LOGICAL_LINE_MAX - 1);
        vf->longLines = 0;
    }
    AfterEntry(&st);
    return result;
}
