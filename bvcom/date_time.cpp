// FILETIME helpers: building, shifting, local time, daylight time, text.
#include <string.h>

#include "bvcom/library_state.h"
#include "platform/platform.h"

static const int64_t kUnitsPerMinute = 600000000LL;

static void ShiftMinutes(FILETIME *time, int64_t minutes) {
    if (!time) return;
    uint64_t value = plat_FileTimeToU64(time);
    int64_t delta = minutes * kUnitsPerMinute;
    if (delta < 0 && (uint64_t)(-delta) > value) value = 0;
    else value += (uint64_t)delta;
    *time = plat_U64ToFileTime(value);
}

extern "C" {

// Daylight time at `time` (UTC): by the rules of the VTIMEZONE record when it
// holds any, else by its zone name, else by the machine's zone.
BVCOM_API int com_DateIsDST(const FILETIME *time, const BvVTimeZone *zone) {
    if (!time) return 0;
    if (zone) {
        int byRules = bvcom_VTimeZoneIsDST(time, zone);
        if (byRules >= 0) return byRules;
        int known = 0, dstBias = 0;
        int byName = com_TZDateIsDST(time, zone->name, &dstBias, &known);
        if (known) return byName;
    }
    return plat_IsDaylightTime(time);
}

// No date: zero, or any time in the year 1601 (the readers' "no date").
BVCOM_API int com_DateIsNull(const FILETIME *time) {
    if (!time) return 1;
    uint64_t value = plat_FileTimeToU64(time);
    if (value == 0) return 1;
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(time, &st)) return 1;
    return st.wYear == 1601;
}

// A zero FILETIME when the fields do not form a valid date and time.
BVCOM_API FILETIME com_Create_FileTime(int month, int day, int year, int hour, int minute, int second) {
    FILETIME out = {0, 0};
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1601 || year > 30827 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return out;
    SYSTEMTIME st;
    memset(&st, 0, sizeof(st));
    st.wYear = (uint16_t)year;
    st.wMonth = (uint16_t)month;
    st.wDay = (uint16_t)day;
    st.wHour = (uint16_t)hour;
    st.wMinute = (uint16_t)minute;
    st.wSecond = (uint16_t)second;
    if (!plat_SystemTimeToFileTime(&st, &out)) out = FILETIME{0, 0};
    return out;
}

// Shifts stop at 1601-01-01 (zero) rather than wrapping.
BVCOM_API void com_OffsetFileTime(FILETIME *time, int days, int hours, int minutes) {
    ShiftMinutes(time, (int64_t)days * 1440 + (int64_t)hours * 60 + minutes);
}

BVCOM_API void com_OffsetFileTimeVal(FILETIME *time, int minutes) {
    ShiftMinutes(time, minutes);
}

// Local time of the machine's zone with the offset in force at that instant.
BVCOM_API void com_FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local) {
    if (!utc || !local) return;
    if (!plat_FileTimeToLocalFileTime(utc, local)) *local = *utc;
}

// Ordinal 43: "2024-01-15 14:00:00", the time as given (no zone applied).
BVCOM_API void com_FileTimeText(const FILETIME *time, char *out, size_t outCap) {
    if (!out || outCap == 0) return;
    out[0] = 0;
    SYSTEMTIME st;
    if (!time || !plat_FileTimeToSystemTime(time, &st)) return;
    int n = snprintf(out, outCap, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                     st.wSecond);
    if (n < 0 || (size_t)n >= outCap) out[0] = 0;
}

}  // extern "C"
