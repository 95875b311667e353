// The recurrence block of a record as an iCalendar RRULE value, and the
// checks and occurrence count of com_ExpandRecur.
#include <string.h>
#include <string>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_RECUR_MAX 10000  // occurrences counted at most
#define BV_RRULE_OUT_LEN 512

static const char *const kDayNames[7] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

static std::string DayList(uint32_t mask, const char *prefix) {
    std::string out;
    for (int d = 0; d < 7; ++d) {
        if (!(mask & (1u << d))) continue;
        if (!out.empty()) out += ",";
        out += prefix;
        out += kDayNames[d];
    }
    return out;
}

static const char *Position(uint32_t weekOfMonth) {
    static const char *const kPos[6] = {"", "1", "2", "3", "4", "-1"};
    return kPos[weekOfMonth > 5 ? 5 : weekOfMonth];
}

// ---- occurrences -----------------------------------------------------------------
// Dates are local to the entry's zone (tzName; the machine's zone when that
// is unknown); the calendar arithmetic is the platform's SYSTEMTIME/FILETIME
// conversion, so a date is a FILETIME at midnight.
static const int64_t kUnitsPerDay = 864000000000LL;

static bool DateAt(int y, int m, int d, FILETIME *out) {
    SYSTEMTIME st = {(uint16_t)y, (uint16_t)m, 0, (uint16_t)d, 0, 0, 0, 0};
    return y >= 1601 && y <= 30000 && plat_SystemTimeToFileTime(&st, out);
}

static FILETIME AddDays(const FILETIME &date, int64_t days) {
    const int64_t kDaysMax = 10500000;  // past the year 30000, where the walk ends; in 100 ns units it fits int64
    if (days > kDaysMax) days = kDaysMax;
    if (days < -kDaysMax) days = -kDaysMax;
    return plat_U64ToFileTime(plat_FileTimeToU64(&date) + (uint64_t)(days * kUnitsPerDay));
}

static int WeekdayOf(const FILETIME &date) {
    SYSTEMTIME st;
    return plat_FileTimeToSystemTime(&date, &st) ? st.wDayOfWeek : 0;
}

static int DaysInMonth(int y, int m) {
    FILETIME first, next;
    if (!DateAt(y, m, 1, &first) || !DateAt(m == 12 ? y + 1 : y, m == 12 ? 1 : m + 1, 1, &next)) return 0;
    return (int)(((int64_t)plat_FileTimeToU64(&next) - (int64_t)plat_FileTimeToU64(&first)) / kUnitsPerDay);
}

// The `week`-th (5: last) day in `mask` of month m of year y; false for none.
static bool PositionInMonth(int y, int m, uint32_t week, uint32_t mask, FILETIME *out) {
    FILETIME first;
    if (!DateAt(y, m, 1, &first)) return false;
    int length = DaysInMonth(y, m), seen = 0;
    bool found = false;
    for (int d = 0; d < length; ++d) {
        FILETIME day = AddDays(first, d);
        if (!(mask & (1u << WeekdayOf(day)))) continue;
        *out = day;
        found = true;
        if (week >= 1 && week <= 4 && ++seen == (int)week) return true;
    }
    return week == 5 && found;
}

struct SeriesWalk {
    const mdat *rec;
    const PlatZone *zone;    // the entry's zone; NULL: the machine's
    FILETIME startDate;      // local midnight of the first occurrence
    uint64_t timeOfDay;      // the start's local time of day
    uint64_t first, last;    // UTC bounds of the occurrences counted
    int count;
};

// No zone is a day or more away from UTC, so a local time two days inside
// both bounds is inside them in UTC too: only the occurrences near a bound
// need the zone's rules (which cost most of a long walk).
constexpr uint64_t kBeyondAnyZoneOffset = 2ULL * 24 * 3600 * 10000000;  // 100 ns units

// False when the series' time on local date `date` lies past the last
// occurrence. *at: its UTC time, or the local time when that lies well inside
// both bounds.
static bool WithinEnd(const SeriesWalk &w, const FILETIME &date, uint64_t *at) {
    uint64_t localTime = plat_FileTimeToU64(&date) + w.timeOfDay;
    if (localTime >= w.first + kBeyondAnyZoneOffset && w.last >= kBeyondAnyZoneOffset &&
        localTime <= w.last - kBeyondAnyZoneOffset) {
        *at = localTime;
        return true;
    }
    FILETIME local = plat_U64ToFileTime(localTime), utc;
    if (!bvcom_ZoneUtcTime(w.zone, &local, &utc)) return false;
    *at = plat_FileTimeToU64(&utc);
    return *at <= w.last;
}

// Counts the occurrence on local date `date` when it lies within the bounds;
// false once the date is past the end.
static bool Take(SeriesWalk &w, const FILETIME &date) {
    uint64_t at;
    if (!WithinEnd(w, date, &at)) return false;
    if (at >= w.first && w.count < BVCOM_RECUR_MAX) ++w.count;
    return true;
}

// The occurrence of a monthly or yearly rule in month m of year y (a month
// without one only moves the walk on); false past the end.
static bool TakeInMonth(SeriesWalk &w, int y, int m, int startDay, bool byPosition) {
    FILETIME date, first;
    uint64_t at;
    if (!DateAt(y, m, 1, &first)) return false;
    const mdat *rec = w.rec;
    if (byPosition) {
        uint32_t mask = rec->recurDayMask & 127u;
        if (PositionInMonth(y, m, rec->recurWeekOfMonth, mask ? mask : 1u << WeekdayOf(w.startDate), &date))
            return Take(w, date);
        return WithinEnd(w, first, &at);
    }
    int dom = rec->recurDayOfMonth ? (int)rec->recurDayOfMonth : startDay;
    if (dom > DaysInMonth(y, m)) return WithinEnd(w, first, &at);
    return DateAt(y, m, dom, &date) && Take(w, date);
}

// Occurrences from the start through the instant `last` (UTC).
static int WalkSeries(SeriesWalk &w) {
    const mdat *rec = w.rec;
    FILETIME localStart;
    SYSTEMTIME s;
    if (!bvcom_ZoneLocalTime(w.zone, &rec->startTime, &localStart) || !plat_FileTimeToSystemTime(&localStart, &s))
        return 0;
    if (!DateAt(s.wYear, s.wMonth, s.wDay, &w.startDate)) return 0;
    w.timeOfDay = plat_FileTimeToU64(&localStart) - plat_FileTimeToU64(&w.startDate);
    const int64_t interval = rec->recurInterval ? rec->recurInterval : 1;
    const uint32_t mask = rec->recurDayMask & 127u;
    for (int64_t k = 0; w.count < BVCOM_RECUR_MAX; ++k) {
        bool more = true;
        switch (rec->recurType) {
            case BV_RECUR_DAILY:
                more = Take(w, AddDays(w.startDate, k * interval));
                break;
            case BV_RECUR_EVERY_WEEKDAY: {
                FILETIME day = AddDays(w.startDate, k);
                uint64_t at;
                bool weekend = WeekdayOf(day) == 0 || WeekdayOf(day) == 6;
                more = weekend ? WithinEnd(w, day, &at) : Take(w, day);
                break;
            }
            case BV_RECUR_WEEKLY: {  // the days of the mask in every interval-th week
                FILETIME weekStart = AddDays(AddDays(w.startDate, k * 7 * interval), -WeekdayOf(w.startDate));
                uint32_t days = mask ? mask : 1u << WeekdayOf(w.startDate);
                for (int dow = 0; dow < 7 && more; ++dow)
                    if (days & (1u << dow)) more = Take(w, AddDays(weekStart, dow));
                break;
            }
            case BV_RECUR_MONTHLY_BY_DATE:
            case BV_RECUR_MONTHLY_BY_POSITION: {
                int64_t months = (int64_t)(s.wMonth - 1) + k * interval;
                bool byPosition = rec->recurType == BV_RECUR_MONTHLY_BY_POSITION;
                more = TakeInMonth(w, s.wYear + (int)(months / 12), (int)(months % 12) + 1, s.wDay, byPosition);
                break;
            }
            case BV_RECUR_YEARLY_BY_DATE:
            case BV_RECUR_YEARLY_BY_POSITION: {
                int month = rec->recurMonth >= 1 && rec->recurMonth <= 12 ? (int)rec->recurMonth : s.wMonth;
                bool byPosition = rec->recurType == BV_RECUR_YEARLY_BY_POSITION;
                more = TakeInMonth(w, s.wYear + (int)(k * interval), month, s.wDay, byPosition);
                break;
            }
            default:
                return 0;
        }
        if (!more) break;
    }
    return w.count;
}

static int CountUntil(const mdat *rec, const FILETIME &last) {
    SeriesWalk w = {rec, bvcom_NamedZone(rec->tzName), {0, 0}, 0, plat_FileTimeToU64(&rec->startTime),
                    plat_FileTimeToU64(&last), 0};
    return WalkSeries(w);
}

// The nth day of the mask in the month: "1MO" for one day; for several days
// (the first weekday of the month) the days and BYSETPOS, since "1MO,1TU"
// would be the first of each.
static std::string PositionedDays(uint32_t mask, uint32_t weekOfMonth) {
    if ((mask & (mask - 1)) == 0) return ";BYDAY=" + DayList(mask, Position(weekOfMonth));
    return ";BYDAY=" + DayList(mask, "") + ";BYSETPOS=" + Position(weekOfMonth);
}

extern "C" {

// out: BV_RRULE_OUT_LEN bytes; empty for a record without a rule.
BVCOM_API void com_Genrrule(mdat *rec, char *out) {
    if (!out) return;
    out[0] = 0;
    if (!rec || rec->recurType == BV_RECUR_NONE || rec->recurType > BV_RECUR_EVERY_WEEKDAY) return;
    uint32_t interval = rec->recurInterval ? rec->recurInterval : 1;
    uint32_t mask = rec->recurDayMask & 127u;
    std::string rule;
    char num[32];
    snprintf(num, sizeof(num), ";INTERVAL=%u", interval);
    switch (rec->recurType) {
        case BV_RECUR_YEARLY_BY_DATE:
            rule = std::string("FREQ=YEARLY") + num;
            if (rec->recurMonth) rule += ";BYMONTH=" + std::to_string(rec->recurMonth);
            if (rec->recurDayOfMonth) rule += ";BYMONTHDAY=" + std::to_string(rec->recurDayOfMonth);
            break;
        case BV_RECUR_YEARLY_BY_POSITION:
            rule = std::string("FREQ=YEARLY") + num;
            if (mask) rule += PositionedDays(mask, rec->recurWeekOfMonth);
            if (rec->recurMonth) rule += ";BYMONTH=" + std::to_string(rec->recurMonth);
            break;
        case BV_RECUR_MONTHLY_BY_DATE:
            rule = std::string("FREQ=MONTHLY") + num;
            if (rec->recurDayOfMonth) rule += ";BYMONTHDAY=" + std::to_string(rec->recurDayOfMonth);
            break;
        case BV_RECUR_MONTHLY_BY_POSITION:
            rule = std::string("FREQ=MONTHLY") + num;
            if (mask) rule += PositionedDays(mask, rec->recurWeekOfMonth);
            break;
        case BV_RECUR_WEEKLY:
            rule = std::string("FREQ=WEEKLY") + num;
            if (mask) rule += ";BYDAY=" + DayList(mask, "");
            break;
        case BV_RECUR_DAILY:
            rule = std::string("FREQ=DAILY") + num;
            break;
        case BV_RECUR_EVERY_WEEKDAY:
            rule = "FREQ=DAILY;INTERVAL=1;BYDAY=MO,TU,WE,TH,FR";
            break;
    }
    if (rec->recurEndType == BV_RECUR_END_COUNT && rec->recurCount > 0) {
        rule += ";COUNT=" + std::to_string(rec->recurCount);
    } else if (rec->recurEndType == BV_RECUR_END_DATE && !com_DateIsNull(&rec->recurEnd)) {
        SYSTEMTIME st;
        if (plat_FileTimeToSystemTime(&rec->recurEnd, &st)) {
            char until[40];
            snprintf(until, sizeof(until), ";UNTIL=%04u%02u%02uT%02u%02u%02uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                     st.wMinute, st.wSecond);
            rule += until;
        }
    }
    com_strncpy(out, rule.c_str(), BV_RRULE_OUT_LEN - 1);
}

// Checks the recurrence block (isRecurring follows recurType, the interval is
// at least 1, week of month at most 5, an end by count without a count never
// ends) and returns the number of occurrences: the count, those up to the end
// date (at most BVCOM_RECUR_MAX), -1 for a rule without end, 0 without a rule.
BVCOM_API int com_ExpandRecur(mdat *rec, const char *workDir) {
    (void)workDir;
    if (!rec) return 0;
    bvcom_AddDeletedOccurrences(rec);  // consumes the EXDATE list in any case
    if (rec->recurType == BV_RECUR_NONE || rec->recurType > BV_RECUR_EVERY_WEEKDAY) {
        rec->isRecurring = 0;
        return 0;
    }
    rec->isRecurring = 1;
    if (rec->recurInterval == 0) rec->recurInterval = 1;
    if (rec->recurWeekOfMonth > 5) rec->recurWeekOfMonth = 5;
    rec->recurDayMask &= 127u;
    if (rec->recurEndType > BV_RECUR_END_NEVER || (rec->recurEndType == BV_RECUR_END_COUNT && rec->recurCount == 0))
        rec->recurEndType = BV_RECUR_END_NEVER;
    if (rec->recurEndType == BV_RECUR_END_NEVER) return -1;
    if (rec->recurEndType == BV_RECUR_END_COUNT)
        return rec->recurCount > BVCOM_RECUR_MAX ? BVCOM_RECUR_MAX : (int)rec->recurCount;
    return CountUntil(rec, rec->recurEnd);
}

}  // extern "C"
