// RRULE values of the iCalendar and vCalendar 1.0 grammars to the recurrence
// block of the record.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "calread/cal_time.h"
#include "platform/platform.h"

namespace {

const uint32_t kMondayToFriday = 62, kAllDays = 127;
const int kLastWeek = 5;
const int kMinutesPerDay = 1440;
const int kRecurEndFallbackMinutes = 10512000;  // 7,300 days

struct DayName {
    const char *name;
    uint32_t bit;
};
const DayName kDayNames[7] = {{"SU", 1}, {"MO", 2}, {"TU", 4}, {"WE", 8}, {"TH", 16}, {"FR", 32}, {"SA", 64}};

// Calendar fields of a FILETIME in the machine's local time.
SYSTEMTIME LocalFields(const FILETIME &utc) {
    FILETIME local;
    com_FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME st;
    memset(&st, 0, sizeof(st));
    plat_FileTimeToSystemTime(&local, &st);
    return st;
}

uint32_t WeekdayBit(const SYSTEMTIME &st) {
    return 1u << (st.wDayOfWeek % 7);
}

// The number after "KEY=" anywhere in the text (case ignored); `missing` without it.
int ParamNumber(const char *text, const char *key, int missing) {
    const char *at = com_stristr(text, key, 0);
    return at ? atoi(at + strlen(key)) : missing;
}

// Day names (exact case, as iCalendar writes them) of a BYDAY list.
uint32_t MaskFromList(const char *list) {
    char cut[BV_RRULE_TEXT_MAX];
    com_strncpy(cut, list, strcspn(list, ";") < sizeof(cut) - 1 ? strcspn(list, ";") : sizeof(cut) - 1);
    uint32_t mask = 0;
    for (const DayName &d : kDayNames)
        if (strstr(cut, d.name)) mask |= d.bit;
    return mask;
}

// Day names anywhere in the text, case ignored; 0 when there are none.
uint32_t MaskFromNames(const char *text) {
    uint32_t mask = 0;
    for (const DayName &d : kDayNames)
        if (com_stristr(text, d.name, 0)) mask |= d.bit;
    return mask;
}

// Week of month of a vCalendar position ("1+" first .. "1-" last); 0 for none.
uint32_t WeekFromPosition(const char *text) {
    static const struct {
        const char *mark;
        uint32_t week;
    } kMarks[] = {{"1+", 1}, {"2+", 2}, {"3+", 3}, {"4+", 4}, {"5+", 5}, {"1-", 5}, {"2-", 3}};
    uint32_t week = 0;
    for (const auto &m : kMarks)
        if (strstr(text, m.mark)) week = m.week;
    return week;
}

// The number after the first run of spaces; `missing` when there is none.
int NumberAfterSpaces(const char *text, int missing) {
    const char *space = strchr(text, ' ');
    if (!space) return missing;
    while (*space == ' ') ++space;
    return atoi(space);
}

void Align(mdat *rec) {
    AlignToWeekday(rec->recurDayMask, &rec->startTime, &rec->endTime,
                   rec->recurEndType == BV_RECUR_END_DATE ? &rec->recurEnd : nullptr);
}

void MonthlyICal(mdat *rec, int weekOfMonth, int byMonthDay, const SYSTEMTIME &start) {
    if (weekOfMonth == 0) {
        rec->recurDayOfMonth = start.wDay;
    } else if (byMonthDay < 1) {
        rec->recurType = BV_RECUR_MONTHLY_BY_POSITION;
        if (rec->recurDayMask == 0 || rec->recurDayMask == kAllDays) rec->recurDayMask = WeekdayBit(start);
    } else {
        rec->recurWeekOfMonth = 0;
        rec->recurDayOfMonth = start.wDay;
    }
}

// The UTC date-time token of a vCalendar rule ("...T093000Z"): 20:00 of its day.
bool VCalEndDate(const char *text, FILETIME *end) {
    size_t length = strlen(text);
    for (size_t i = 0; i + 7 < length; ++i) {
        if (text[i] != 'T' || text[i + 7] != 'Z') continue;
        size_t from = i;
        while (from > 0 && text[from - 1] != ' ') --from;
        char token[64] = ":";
        com_strncpy(token + 1, text + from, strcspn(text + from, " ") < 62 ? strcspn(text + from, " ") : 62);
        FILETIME utc = {0, 0};
        ParseVcsDateTime(token, &utc);
        SYSTEMTIME st;
        if (!plat_FileTimeToSystemTime(&utc, &st)) return false;
        *end = com_Create_FileTime(st.wMonth, st.wDay, st.wYear, 20, 0, 0);
        return true;
    }
    return false;
}

void ParseVCal(const char *text, mdat *rec) {
    if (!strchr("DWMY", text[0]) || !text[0]) return;  // not a rule: the entry stays single
    bool hasEnd = VCalEndDate(text, &rec->recurEnd);
    const char *hash = strchr(text, '#');
    int count = hash ? atoi(hash + 1) : 0;
    rec->recurCount = count > 0 ? (uint32_t)count : 0;
    rec->recurEndType = hasEnd ? BV_RECUR_END_DATE : count >= 1 ? BV_RECUR_END_COUNT : BV_RECUR_END_NEVER;
    SYSTEMTIME start = LocalFields(rec->startTime);
    switch (text[0]) {
        case 'D':
            rec->recurType = BV_RECUR_DAILY;
            rec->recurInterval = (uint32_t)atoi(text + 1);
            rec->recurDayMask = 0;
            break;
        case 'W': {
            rec->recurType = BV_RECUR_WEEKLY;
            int interval = atoi(text + 1);
            DayMaskFromNames(text, rec);
            if (interval == 0) {
                com_Log("BV Error: zero interval found for rrule (%s)", text);
                interval = 1;
            }
            rec->recurInterval = (uint32_t)interval;
            Align(rec);
            if (hasEnd) com_OffsetFileTimeVal(&rec->recurEnd, kMinutesPerDay);
            break;
        }
        case 'M':
            rec->recurInterval = (uint32_t)atoi(text + 2);
            if (text[1] == 'D') {
                rec->recurType = BV_RECUR_MONTHLY_BY_DATE;
                rec->recurDayOfMonth = (uint32_t)NumberAfterSpaces(text, 1);
            } else if (text[1] == 'P') {
                rec->recurType = BV_RECUR_MONTHLY_BY_POSITION;
                DayMaskFromNames(text, rec);
                rec->recurWeekOfMonth = WeekFromPosition(text);
            }
            break;
        case 'Y':
            rec->recurType = BV_RECUR_YEARLY_BY_DATE;
            rec->recurInterval = (uint32_t)atoi(text + 2);
            rec->recurMonth = (uint32_t)NumberAfterSpaces(text, 1);
            rec->recurDayOfMonth = start.wDay;
            if (strstr(text, "BYM=")) {
                rec->recurType = BV_RECUR_YEARLY_BY_POSITION;
                rec->recurDayMask = MaskFromNames(text);
                rec->recurWeekOfMonth = WeekFromPosition(text);
            }
            break;
    }
}

void ClearRecurrence(mdat *rec) {
    rec->recurType = BV_RECUR_NONE;
    rec->recurInterval = 0;
    rec->recurWeekOfMonth = 0;
    rec->recurDayMask = 0;
    rec->recurMonth = 0;
    rec->recurDayOfMonth = 0;
    rec->recurEndType = BV_RECUR_END_COUNT;
    rec->recurCount = 0;
    rec->recurEnd = FILETIME{0, 0};
}

}  // namespace

void DayMaskFromNames(const char *text, mdat *rec) {
    rec->recurDayMask = MaskFromNames(text ? text : "");
    if (rec->recurDayMask == 0) rec->recurDayMask = WeekdayBit(LocalFields(rec->startTime));
}

void AlignToWeekday(uint32_t dayMask, FILETIME *start, FILETIME *end, const FILETIME *recurEnd) {
    FILETIME local = *start;
    com_OffsetFileTimeVal(&local, -gUtcBias);
    bool hasEnd = recurEnd && !com_DateIsNull(recurEnd);
    for (int i = 0; i < 7; ++i) {
        SYSTEMTIME st;
        if (!plat_FileTimeToSystemTime(&local, &st) || (dayMask & WeekdayBit(st))) return;
        FILETIME next = *start;
        com_OffsetFileTimeVal(&next, kMinutesPerDay);
        if (hasEnd && plat_CompareFileTime(&next, recurEnd) >= 0) return;
        *start = next;
        com_OffsetFileTimeVal(end, kMinutesPerDay);
        com_OffsetFileTimeVal(&local, kMinutesPerDay);
    }
}

void ParseRRuleICal(const char *text, mdat *rec) {
    const char *freq = com_stristr(text, "FREQ=", 0);
    if (!freq) return;
    static const struct {
        char letter;
        BvRecurType type;
    } kFreqs[] = {
        {'D', BV_RECUR_DAILY}, {'W', BV_RECUR_WEEKLY}, {'M', BV_RECUR_MONTHLY_BY_DATE}, {'Y', BV_RECUR_YEARLY_BY_DATE}};
    for (const auto &f : kFreqs)
        if ((freq[5] & ~0x20) == f.letter) rec->recurType = f.type;
    if (rec->recurType == BV_RECUR_NONE) return;
    SYSTEMTIME start = LocalFields(rec->startTime);
    rec->recurEndType = BV_RECUR_END_NEVER;
    rec->recurInterval = (uint32_t)ParamNumber(text, "INTERVAL=", 1);
    if (const char *count = com_stristr(text, "COUNT=", 0)) {
        rec->recurCount = (uint32_t)atoi(count + 6);
        rec->recurEndType = BV_RECUR_END_COUNT;
    }
    int weekOfMonth = ParamNumber(text, "BYSETPOS=", 0);
    if (weekOfMonth < 0 || weekOfMonth > kLastWeek) weekOfMonth = kLastWeek;
    if (const char *until = com_stristr(text, "UNTIL=", 0)) {
        char value[64] = ":";
        size_t n = strcspn(until + 6, ";");
        com_strncpy(value + 1, until + 6, n < 62 ? n : 62);
        ParseVcsDateTime(value, &rec->recurEnd);
        rec->recurEndType = BV_RECUR_END_DATE;
    }
    int byMonth = ParamNumber(text, "BYMONTH=", 0), byMonthDay = ParamNumber(text, "BYMONTHDAY=", 0);
    if (const char *byDay = com_stristr(text, "BYDAY=", 0)) {
        int position = atoi(byDay + 6);
        if (position != 0) weekOfMonth = position;
        rec->recurDayMask = MaskFromList(byDay + 6);
        if (rec->recurType == BV_RECUR_DAILY && rec->recurDayMask == kMondayToFriday)
            rec->recurType = BV_RECUR_EVERY_WEEKDAY;
    }
    rec->recurWeekOfMonth = (uint32_t)weekOfMonth;
    switch (rec->recurType) {
        case BV_RECUR_WEEKLY:
            if (rec->recurDayMask == 0) rec->recurDayMask = WeekdayBit(start);
            Align(rec);
            break;
        case BV_RECUR_MONTHLY_BY_DATE:
            MonthlyICal(rec, weekOfMonth, byMonthDay, start);
            break;
        case BV_RECUR_YEARLY_BY_DATE:
            rec->recurDayOfMonth = byMonthDay > 0 ? (uint32_t)byMonthDay : start.wDay;
            rec->recurMonth = byMonth > 0 ? (uint32_t)byMonth : start.wMonth;
            // "the second Sunday of May" stays a rule by position: read as a
            // date it would lose every year after the first.
            if (weekOfMonth != 0 && rec->recurDayMask != 0 && byMonthDay < 1)
                rec->recurType = BV_RECUR_YEARLY_BY_POSITION;
            break;
        default:
            break;
    }
    if ((int32_t)rec->recurWeekOfMonth < 0) rec->recurWeekOfMonth = kLastWeek;
}

void ParseRecurRule(const char *text, mdat *rec) {
    if (!rec) return;
    ClearRecurrence(rec);
    if (!text) return;
    char rule[BV_RRULE_TEXT_MAX];
    size_t length = strlen(text);
    if (length > sizeof(rule) - 1) {
        com_Log("BV Warning: RRULE text cut to %d characters: %.40s...", (int)sizeof(rule) - 1, text);
        length = sizeof(rule) - 1;
    }
    com_strncpy(rule, text, length);
    if (com_stristr(rule, "FREQ", 0)) ParseRRuleICal(rule, rec);
    else ParseVCal(rule, rec);
}

void CheckRecurEnd(mdat *rec) {
    if (!rec || rec->recurType == BV_RECUR_NONE || rec->recurEndType != BV_RECUR_END_DATE) return;
    if (plat_CompareFileTime(&rec->startTime, &rec->recurEnd) <= 0) return;
    rec->recurEnd = rec->startTime;
    com_OffsetFileTimeVal(&rec->recurEnd, kRecurEndFallbackMinutes);
}
