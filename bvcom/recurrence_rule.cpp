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

// Days since 1970-01-01 and back (proleptic Gregorian).
static int64_t DayNumber(int y, int m, int d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

static int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

static int Weekday(int64_t day) {
    return (int)(((day % 7) + 11) % 7);  // 0 Sunday; day 0 was a Thursday
}

// Day of the `week`-th (5: last) day in `mask` within month m of year y; -1 none.
static int64_t PositionInMonth(int y, int m, uint32_t week, uint32_t mask) {
    int64_t first = DayNumber(y, m, 1);
    int length = DaysInMonth(y, m);
    int seen = 0;
    int64_t last = -1;
    for (int d = 0; d < length; ++d) {
        if (!(mask & (1u << Weekday(first + d)))) continue;
        last = first + d;
        if (week >= 1 && week <= 4 && ++seen == (int)week) return last;
    }
    return week == 5 ? last : -1;
}

static bool LocalDate(const FILETIME &utc, int *y, int *m, int *d) {
    FILETIME local;
    com_FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&local, &st)) return false;
    *y = st.wYear;
    *m = st.wMonth;
    *d = st.wDay;
    return true;
}

// Occurrences from the start's day up to and including day `last`.
static int CountUntil(const mdat *rec, int64_t last) {
    int y, m, d;
    if (!LocalDate(rec->startTime, &y, &m, &d)) return 0;
    const int64_t start = DayNumber(y, m, d);
    const int64_t interval = rec->recurInterval ? rec->recurInterval : 1;
    const uint32_t mask = rec->recurDayMask & 127u;
    int count = 0;
    auto take = [&](int64_t day) {
        if (day >= start && day <= last && count < BVCOM_RECUR_MAX) ++count;
    };
    for (int64_t k = 0; count < BVCOM_RECUR_MAX; ++k) {
        int64_t periodStart;
        switch (rec->recurType) {
            case 6:  // daily
                periodStart = start + k * interval;
                take(periodStart);
                break;
            case 7:  // every weekday
                periodStart = start + k;
                if (Weekday(periodStart) != 0 && Weekday(periodStart) != 6) take(periodStart);
                break;
            case 5: {  // weekly
                periodStart = start - Weekday(start) + k * 7 * interval;
                for (int dow = 0; dow < 7; ++dow)
                    if ((mask ? mask : 1u << Weekday(start)) & (1u << dow)) take(periodStart + dow);
                break;
            }
            case 3:
            case 4: {  // monthly by day or by position
                int64_t months = (int64_t)(m - 1) + k * interval;
                int yy = y + (int)(months / 12), mm = (int)(months % 12) + 1;
                periodStart = DayNumber(yy, mm, 1);
                if (rec->recurType == 3) {
                    int dom = rec->recurDayOfMonth ? (int)rec->recurDayOfMonth : d;
                    if (dom <= DaysInMonth(yy, mm)) take(DayNumber(yy, mm, dom));
                } else {
                    int64_t day = PositionInMonth(yy, mm, rec->recurWeekOfMonth, mask ? mask : 1u << Weekday(start));
                    if (day >= 0) take(day);
                }
                break;
            }
            case 1:
            case 2: {  // yearly by date or by position
                int yy = y + (int)(k * interval);
                int mm = rec->recurMonth >= 1 && rec->recurMonth <= 12 ? (int)rec->recurMonth : m;
                periodStart = DayNumber(yy, mm, 1);
                if (rec->recurType == 1) {
                    int dom = rec->recurDayOfMonth ? (int)rec->recurDayOfMonth : d;
                    if (dom <= DaysInMonth(yy, mm)) take(DayNumber(yy, mm, dom));
                } else {
                    int64_t day = PositionInMonth(yy, mm, rec->recurWeekOfMonth, mask ? mask : 1u << Weekday(start));
                    if (day >= 0) take(day);
                }
                break;
            }
            default:
                return 0;
        }
        if (periodStart > last) break;
    }
    return count;
}

extern "C" {

// out: BV_RRULE_OUT_LEN bytes; empty for a record without a rule.
BVCOM_API void com_Genrrule(mdat *rec, char *out) {
    if (!out) return;
    out[0] = 0;
    if (!rec || rec->recurType == 0 || rec->recurType > 7) return;
    uint32_t interval = rec->recurInterval ? rec->recurInterval : 1;
    uint32_t mask = rec->recurDayMask & 127u;
    std::string rule;
    char num[32];
    snprintf(num, sizeof(num), ";INTERVAL=%u", interval);
    switch (rec->recurType) {
        case 1:
            rule = std::string("FREQ=YEARLY") + num;
            if (rec->recurMonth) rule += ";BYMONTH=" + std::to_string(rec->recurMonth);
            if (rec->recurDayOfMonth) rule += ";BYMONTHDAY=" + std::to_string(rec->recurDayOfMonth);
            break;
        case 2:
            rule = std::string("FREQ=YEARLY") + num;
            if (mask) rule += ";BYDAY=" + DayList(mask, Position(rec->recurWeekOfMonth));
            if (rec->recurMonth) rule += ";BYMONTH=" + std::to_string(rec->recurMonth);
            break;
        case 3:
            rule = std::string("FREQ=MONTHLY") + num;
            if (rec->recurDayOfMonth) rule += ";BYMONTHDAY=" + std::to_string(rec->recurDayOfMonth);
            break;
        case 4:
            rule = std::string("FREQ=MONTHLY") + num;
            if (mask) rule += ";BYDAY=" + DayList(mask, Position(rec->recurWeekOfMonth));
            break;
        case 5:
            rule = std::string("FREQ=WEEKLY") + num;
            if (mask) rule += ";BYDAY=" + DayList(mask, "");
            break;
        case 6:
            rule = std::string("FREQ=DAILY") + num;
            break;
        case 7:
            rule = "FREQ=DAILY;INTERVAL=1;BYDAY=MO,TU,WE,TH,FR";
            break;
    }
    if (rec->recurEndType == 0 && rec->recurCount > 0) {
        rule += ";COUNT=" + std::to_string(rec->recurCount);
    } else if (rec->recurEndType == 1 && !com_DateIsNull(&rec->recurEnd)) {
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
    if (rec->recurType == 0 || rec->recurType > 7) {
        rec->isRecurring = 0;
        return 0;
    }
    rec->isRecurring = 1;
    if (rec->recurInterval == 0) rec->recurInterval = 1;
    if (rec->recurWeekOfMonth > 5) rec->recurWeekOfMonth = 5;
    rec->recurDayMask &= 127u;
    if (rec->recurEndType > 2 || (rec->recurEndType == 0 && rec->recurCount == 0)) rec->recurEndType = 2;
    if (rec->recurEndType == 2) return -1;
    if (rec->recurEndType == 0) return rec->recurCount > BVCOM_RECUR_MAX ? BVCOM_RECUR_MAX : (int)rec->recurCount;
    int y, m, d;
    if (!LocalDate(rec->recurEnd, &y, &m, &d)) return 0;
    return CountUntil(rec, DayNumber(y, m, d));
}

}  // extern "C"
