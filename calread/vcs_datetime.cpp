// A vCalendar/iCalendar date-time property value to a UTC FILETIME.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "calread/cal_time.h"

namespace {

// atoi of the characters [from, from + count) of value (1-based places).
int FieldAt(const char *value, size_t length, size_t from, size_t count) {
    if (from - 1 >= length) return 0;
    char digits[8];
    size_t n = length - (from - 1) < count ? length - (from - 1) : count;
    com_strncpy(digits, value + from - 1, n);
    return atoi(digits);
}

// Where the value starts: after the last ":" that a digit follows, else
// after the first ":". NULL without any ":".
const char *ValueStart(const char *text) {
    const char *first = strchr(text, ':');
    if (!first) return nullptr;
    for (const char *c = text + strlen(text); c-- > first;)
        if (*c == ':' && c[1] >= '0' && c[1] <= '9') return c + 1;
    return first + 1;
}

// The TZID parameter's zone name into name (BV_VTZ_NAME_LEN); empty without one.
// A quoted name runs to its closing quote (display names hold ":"); otherwise
// the name ends at ";" or at the ":" before the value, so that an unquoted
// display name keeps its "(UTC+01:00)".
void TzidName(const char *text, const char *value, char *name) {
    name[0] = 0;
    const char *tzid = com_stristr(text, "TZID=", 0);
    if (!tzid || tzid >= value) return;
    const char *from = tzid + 5, *to;
    if (*from == '"') {
        ++from;
        to = strchr(from, '"');
        if (!to || to > value) to = value - 1;
    } else {
        to = from + strcspn(from, ";");
        if (to > value - 1) to = value - 1;
    }
    size_t n = (size_t)(to - from);
    if (n > BV_VTZ_NAME_LEN - 1) {
        com_Log("BV Warning: time zone name cut to %d characters: %.40s...", BV_VTZ_NAME_LEN - 1, from);
        n = BV_VTZ_NAME_LEN - 1;
    }
    com_strncpy(name, from, n);
    com_Remove_Quotes(name);
    if (strncmp(name, "GMT +0100", 9) == 0) com_strncpy(name, "W. Europe Standard Time", BV_VTZ_NAME_LEN - 1);
}

// Daylight correction (minutes, -60 for an hour) at `time` in the zone named
// by the entry's zone record; 0 in standard time.
int ZoneDaylightCorrection(const FILETIME *time) {
    int correction = 0, known = 0;
    if (com_TZDateIsDST(time, gVtz.name, &correction, &known)) return correction;
    // A zone name that only the entry's own VTIMEZONE defines: its rules decide.
    bool hasRules = !com_DateIsNull(&gVtz.stdStart) && !com_DateIsNull(&gVtz.dstStart) &&
                    gVtz.stdOffset != gVtz.dstOffset;
    if (!known && hasRules && com_DateIsDST(time, &gVtz)) return gVtz.stdOffset - gVtz.dstOffset;
    return 0;
}

// A TZID that itself names a zone without daylight time ("UTC", "Etc/GMT-3")
// gets no correction, although its row's display name ("(UTC) Dublin, ...")
// would give one in summer.
bool KnownWithoutDaylightTime(const char *zone) {
    int bias = 0, dstBias = 0, stdBias = 0;
    return com_GetTZInfo(zone, &bias, &dstBias, &stdBias, 0) && dstBias == 0;
}

}  // namespace

int ParseVcsDateTime(const char *text, FILETIME *out) {
    if (!text || !out) return 0;
    const char *value = ValueStart(text);
    if (!value) return 0;
    char zone[BV_VTZ_NAME_LEN];
    TzidName(text, value, zone);
    bool hasZone = zone[0] != 0;
    int position = -1, offset = 0;
    if (hasZone) {
        offset = MapTimeZoneName(zone, &position);
        if (offset == -1) offset = strcmp(zone, gVtz.name) == 0 ? gVtz.stdOffset : 0;
    }
    size_t length = strcspn(value, ";");
    bool isDate = strstr(text, "VALUE=DATE:") != nullptr;
    int year = FieldAt(value, length, 1, 4), month = FieldAt(value, length, 5, 2), day = FieldAt(value, length, 7, 2);
    int hour = isDate ? 12 : FieldAt(value, length, 10, 2), minute = FieldAt(value, length, 12, 2);
    *out = com_Create_FileTime(month, day, year, hour, minute, 0);
    if (isDate) return 1;  // all-day values stay at noon of their day
    if (hasZone) {
        com_OffsetFileTimeVal(out, -offset);
        if (position >= 0) com_strncpy(gVtz.name, gZoneTable[position], BV_VTZ_NAME_LEN - 1);
        if (!KnownWithoutDaylightTime(zone)) com_OffsetFileTimeVal(out, ZoneDaylightCorrection(out));
    } else if (!memchr(value, 'Z', length)) {
        com_OffsetFileTimeVal(out, gUtcBias);
        if (com_DateIsDST(out, &gVtz)) com_OffsetFileTimeVal(out, gDstOffset);
    }
    return 0;
}
