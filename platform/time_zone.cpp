// System time, FILETIME/SYSTEMTIME conversions and the machine's time zone.
// The zone comes from libc (the TZ environment, else /etc/localtime); tzset()
// runs before every zone query so that a changed TZ takes effect at once.
#include <string.h>
#include <time.h>

#include "platform/platform.h"

static const uint64_t kUnitsPerSecond = 10000000ULL;
static const uint64_t kUnixEpochUnits = 116444736000000000ULL;  // 1601 -> 1970
static const int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (Hinnant's algorithm).
static int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = (unsigned)(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

static void CivilFromDays(int64_t z, int *y, unsigned *m, unsigned *d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = (unsigned)(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = (int64_t)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = (int)(yy + (*m <= 2));
}

static int IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

static int DaysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Seconds since 1970 (may be negative) of a FILETIME, rounded down.
static int64_t FileTimeToUnixSeconds(uint64_t units) {
    if (units >= kUnixEpochUnits) return (int64_t)((units - kUnixEpochUnits) / kUnitsPerSecond);
    uint64_t before = kUnixEpochUnits - units;
    return -(int64_t)((before + kUnitsPerSecond - 1) / kUnitsPerSecond);
}

static uint64_t AddSeconds(uint64_t units, int64_t seconds) {
    int64_t delta = seconds * (int64_t)kUnitsPerSecond;
    if (delta < 0 && (uint64_t)(-delta) > units) return 0;
    return units + (uint64_t)delta;
}

// Offset from UTC in seconds (east positive) in force at a UTC instant.
static long ZoneOffsetAt(int64_t unixSeconds, int *isDst) {
    time_t t = (time_t)unixSeconds;
    struct tm local;
    if (!localtime_r(&t, &local)) {
        if (isDst) *isDst = 0;
        return 0;
    }
    if (isDst) *isDst = local.tm_isdst > 0;
    return local.tm_gmtoff;
}

extern "C" {

uint64_t plat_FileTimeToU64(const FILETIME *ft) {
    return ft ? ((uint64_t)ft->dwHighDateTime << 32) | ft->dwLowDateTime : 0;
}

FILETIME plat_U64ToFileTime(uint64_t value) {
    FILETIME ft;
    ft.dwLowDateTime = (uint32_t)value;
    ft.dwHighDateTime = (uint32_t)(value >> 32);
    return ft;
}

int plat_SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out) {
    if (!in || !out) return 0;
    if (in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 ||
        in->wDay > DaysInMonth(in->wYear, in->wMonth) || in->wHour > 23 || in->wMinute > 59 ||
        in->wSecond > 59 || in->wMilliseconds > 999)
        return 0;
    int64_t days = DaysFromCivil(in->wYear, in->wMonth, in->wDay) - DaysFromCivil(1601, 1, 1);
    uint64_t seconds = (uint64_t)days * kSecondsPerDay + in->wHour * 3600u + in->wMinute * 60u + in->wSecond;
    *out = plat_U64ToFileTime(seconds * kUnitsPerSecond + (uint64_t)in->wMilliseconds * 10000u);
    return 1;
}

int plat_FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out) {
    if (!in || !out) return 0;
    uint64_t units = plat_FileTimeToU64(in);
    if (units >= 0x8000000000000000ULL) return 0;
    uint64_t seconds = units / kUnitsPerSecond;
    int64_t days = (int64_t)(seconds / kSecondsPerDay);
    uint64_t rest = seconds % kSecondsPerDay;
    int y;
    unsigned m, d;
    CivilFromDays(days + DaysFromCivil(1601, 1, 1), &y, &m, &d);
    out->wYear = (uint16_t)y;
    out->wMonth = (uint16_t)m;
    out->wDay = (uint16_t)d;
    out->wDayOfWeek = (uint16_t)((days + 1) % 7);  // 1601-01-01 was a Monday
    out->wHour = (uint16_t)(rest / 3600);
    out->wMinute = (uint16_t)(rest / 60 % 60);
    out->wSecond = (uint16_t)(rest % 60);
    out->wMilliseconds = (uint16_t)(units % kUnitsPerSecond / 10000);
    return 1;
}

void plat_GetSystemTimeAsFileTime(FILETIME *out) {
    if (!out) return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *out = plat_U64ToFileTime(kUnixEpochUnits + (uint64_t)now.tv_sec * kUnitsPerSecond + (uint64_t)now.tv_nsec / 100);
}

void plat_GetSystemTime(SYSTEMTIME *out) {
    if (!out) return;
    FILETIME now;
    plat_GetSystemTimeAsFileTime(&now);
    plat_FileTimeToSystemTime(&now, out);
}

// The local offset is the one in force at the given instant (Win32 applies
// today's bias to every date; historical dates come out right here).
int plat_FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local) {
    if (!utc || !local) return 0;
    tzset();
    uint64_t units = plat_FileTimeToU64(utc);
    long offset = ZoneOffsetAt(FileTimeToUnixSeconds(units), nullptr);
    *local = plat_U64ToFileTime(AddSeconds(units, offset));
    return 1;
}

// A wall-clock time in a gap (spring forward) is taken with the offset before
// the change; in the repeated hour (fall back) the first, daylight, reading
// is taken.
int plat_LocalFileTimeToFileTime(const FILETIME *local, FILETIME *utc) {
    if (!local || !utc) return 0;
    tzset();
    uint64_t units = plat_FileTimeToU64(local);
    int64_t wall = FileTimeToUnixSeconds(units);
    long guess = ZoneOffsetAt(wall, nullptr);
    long before = ZoneOffsetAt(wall - guess - 3 * 3600, nullptr);
    long after = ZoneOffsetAt(wall - guess + 3 * 3600, nullptr);
    long offset = guess;
    if (before != after) {
        // Near a change: prefer the earlier offset when it maps back onto itself.
        if (ZoneOffsetAt(wall - before, nullptr) == before) offset = before;
        else if (ZoneOffsetAt(wall - after, nullptr) == after) offset = after;
        else offset = before;
    }
    *utc = plat_U64ToFileTime(AddSeconds(units, -offset));
    return 1;
}

int plat_IsDaylightTime(const FILETIME *utc) {
    if (!utc) return 0;
    tzset();
    int isDst = 0;
    ZoneOffsetAt(FileTimeToUnixSeconds(plat_FileTimeToU64(utc)), &isDst);
    return isDst;
}

void plat_GetLocalTime(SYSTEMTIME *out) {
    if (!out) return;
    FILETIME now, local;
    plat_GetSystemTimeAsFileTime(&now);
    plat_FileTimeToLocalFileTime(&now, &local);
    plat_FileTimeToSystemTime(&local, out);
}

int plat_CompareFileTime(const FILETIME *a, const FILETIME *b) {
    uint64_t x = plat_FileTimeToU64(a), y = plat_FileTimeToU64(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

}  // extern "C"

// ---- zone information ----------------------------------------------------

// First second at which the DST state differs from that at `from`, searched
// in (from, to]; -1 when none.
static int64_t FindTransition(int64_t from, int64_t to) {
    int startDst;
    ZoneOffsetAt(from, &startDst);
    int64_t step = kSecondsPerDay;
    int64_t lo = from, hi = -1;
    for (int64_t t = from + step; t <= to; t += step) {
        int dst;
        ZoneOffsetAt(t, &dst);
        if (dst != startDst) {
            hi = t;
            break;
        }
        lo = t;
    }
    if (hi < 0) return -1;
    while (hi - lo > 1) {
        int64_t mid = lo + (hi - lo) / 2;
        int dst;
        ZoneOffsetAt(mid, &dst);
        if (dst != startDst) hi = mid;
        else lo = mid;
    }
    return hi;
}

// A transition as Win32 stores it: month, weekday, week of the month (5 is
// the last) and the wall-clock time before the change.
static SYSTEMTIME TransitionRule(int64_t when) {
    long offsetBefore = ZoneOffsetAt(when - 1, nullptr);
    int64_t wallSeconds = when + offsetBefore;
    int64_t days = wallSeconds >= 0 ? wallSeconds / kSecondsPerDay : (wallSeconds - kSecondsPerDay + 1) / kSecondsPerDay;
    int64_t secondOfDay = wallSeconds - days * kSecondsPerDay;
    int y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    SYSTEMTIME rule;
    memset(&rule, 0, sizeof(rule));
    rule.wMonth = (uint16_t)m;
    rule.wDayOfWeek = (uint16_t)(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    rule.wDay = (uint16_t)((d + 7 > (unsigned)DaysInMonth(y, (int)m)) ? 5 : (d - 1) / 7 + 1);
    rule.wHour = (uint16_t)(secondOfDay / 3600);
    rule.wMinute = (uint16_t)(secondOfDay / 60 % 60);
    return rule;
}

static void CopyZoneName(WCHAR *out, size_t cap, const char *name) {
    memset(out, 0, cap * sizeof(WCHAR));
    for (size_t i = 0; name && name[i] && i + 1 < cap; ++i) out[i] = (WCHAR)(unsigned char)name[i];
}

extern "C" uint32_t plat_GetTimeZoneInformation(TIME_ZONE_INFORMATION *out) {
    if (!out) return TIME_ZONE_ID_UNKNOWN;
    memset(out, 0, sizeof(*out));
    tzset();
    time_t now = time(nullptr);
    struct tm nowTm;
    localtime_r(&now, &nowTm);
    int64_t yearStart = DaysFromCivil(nowTm.tm_year + 1900, 1, 1) * kSecondsPerDay;
    int64_t yearEnd = DaysFromCivil(nowTm.tm_year + 1901, 1, 1) * kSecondsPerDay;
    int64_t first = FindTransition(yearStart, yearEnd);
    int64_t second = first < 0 ? -1 : FindTransition(first, yearEnd);
    if (first < 0) {
        out->Bias = (int32_t)(-nowTm.tm_gmtoff / 60);
        CopyZoneName(out->StandardName, 32, nowTm.tm_zone);
        CopyZoneName(out->DaylightName, 32, nowTm.tm_zone);
        return TIME_ZONE_ID_UNKNOWN;
    }
    int firstIsDst;
    long firstOffset = ZoneOffsetAt(first, &firstIsDst);
    long otherOffset = ZoneOffsetAt(first - 1, nullptr);
    long stdOffset = firstIsDst ? otherOffset : firstOffset;
    long dstOffset = firstIsDst ? firstOffset : otherOffset;
    int64_t toDst = firstIsDst ? first : second;
    int64_t toStd = firstIsDst ? second : first;
    out->Bias = (int32_t)(-stdOffset / 60);
    out->StandardBias = 0;
    out->DaylightBias = (int32_t)(-(dstOffset - stdOffset) / 60);
    if (toDst >= 0) out->DaylightDate = TransitionRule(toDst);
    if (toStd >= 0) out->StandardDate = TransitionRule(toStd);
    time_t probe = (time_t)(firstIsDst ? first - 1 : first);
    struct tm stdTm, dstTm;
    localtime_r(&probe, &stdTm);
    probe = (time_t)(firstIsDst ? first : first - 1);
    localtime_r(&probe, &dstTm);
    CopyZoneName(out->StandardName, 32, stdTm.tm_zone);
    CopyZoneName(out->DaylightName, 32, dstTm.tm_zone);
    return nowTm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

extern "C" int plat_GetDateFormat(const SYSTEMTIME *in, char *out, size_t outCap) {
    static const char *const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!in || !out || outCap == 0) return 0;
    if (in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 || in->wDay > DaysInMonth(in->wYear, in->wMonth)) return 0;
    int64_t days = DaysFromCivil(in->wYear, in->wMonth, in->wDay);
    int weekday = (int)(((days % 7) + 11) % 7);
    int n = snprintf(out, outCap, "%s, %02u %s %04u", kDays[weekday], in->wDay, kMonths[in->wMonth - 1], in->wYear);
    if (n < 0 || (size_t)n >= outCap) {
        out[0] = 0;
        return 0;
    }
    return n + 1;  // characters written, terminator included, as Win32 counts
}
