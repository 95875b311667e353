// Mail dates into FILETIME (UTC): RFC 5322 dates with numeric or named zones,
// the obsolete RFC 822 forms (two- and three-digit years, military and North
// American zone names, missing seconds), ctime-style dates of mbox separator
// lines ("Sat Jan  3 01:05:34 1996") and ISO-8601 dates.
//
// A text that holds no readable date sets `date` to zero, which is
// 1601-01-01 00:00 UTC: callers test the year for 1601 to tell.
#include <ctype.h>
#include <stdint.h>
#include <string.h>
#include "record/com.h"

namespace {

constexpr int kMaxDateText = 256;  // longer text is cut; no date needs more
constexpr int kMaxTokens = 24;

struct DateFields {
    int year = -1, month = 0, day = -1;
    int hour = -1, minute = -1, second = 0;
    int zoneMinutes = 0;  // east of UTC
    bool zoneSeen = false;
};

int MonthFromName(const char *s, size_t n) {
    static const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (n < 3) return 0;
    for (int i = 0; i < 12; i++)
        if (strncasecmp(s, kMonths[i], 3) == 0) return i + 1;
    return 0;
}

bool IsWeekdayName(const char *s, size_t n) {
    static const char *const kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    if (n < 3) return false;
    for (const char *d : kDays)
        if (strncasecmp(s, d, 3) == 0) return true;
    return false;
}

// Named zones of RFC 822 (military letters count as UTC, as RFC 5322 says).
bool ZoneFromName(const char *s, size_t n, int *minutes) {
    struct Zone { const char *name; int hours; };
    static const Zone kZones[] = {{"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},    {"EST", -5}, {"EDT", -4},
                                  {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7},
                                  {"CET", 1},  {"CEST", 2}, {"MET", 1},  {"MEST", 2}, {"BST", 1},  {"EET", 2},
                                  {"EEST", 3}, {"WET", 0},  {"WEST", 1}, {"JST", 9},  {"KST", 9},  {"IST", 5}};
    for (const Zone &z : kZones) {
        if (strlen(z.name) == n && strncasecmp(s, z.name, n) == 0) {
            *minutes = z.hours * 60 + (strcmp(z.name, "IST") == 0 ? 30 : 0);
            return true;
        }
    }
    if (n == 1 && isalpha((unsigned char)s[0]) && toupper((unsigned char)s[0]) != 'J') {
        *minutes = 0;
        return true;
    }
    return false;
}

int ParseDigits(const char *s, size_t n) {
    int v = 0;
    for (size_t i = 0; i < n && i < 9; i++) v = v * 10 + (s[i] - '0');
    return v;
}

bool AllDigits(const char *s, size_t n) {
    if (n == 0) return false;
    for (size_t i = 0; i < n; i++)
        if (!isdigit((unsigned char)s[i])) return false;
    return true;
}

// "hh:mm[:ss]" or "hh.mm[.ss]".
bool ParseClock(const char *s, size_t n, DateFields *f) {
    int parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (i < n && count < 3) {
        size_t start = i;
        while (i < n && isdigit((unsigned char)s[i])) i++;
        if (i == start || i - start > 2) return false;
        parts[count++] = ParseDigits(s + start, i - start);
        if (i < n) {
            if (s[i] != ':' && s[i] != '.') return false;
            i++;
        }
    }
    if (count < 2 || i < n) return false;
    f->hour = parts[0];
    f->minute = parts[1];
    f->second = count == 3 ? parts[2] : 0;
    return true;
}

// "+hhmm", "-hhmm", "+hh:mm", "+hh".
bool ParseNumericZone(const char *s, size_t n, DateFields *f) {
    if (n < 3 || (s[0] != '+' && s[0] != '-')) return false;
    char digits[5];
    size_t d = 0;
    for (size_t i = 1; i < n; i++) {
        if (s[i] == ':' && i == 3) continue;
        if (!isdigit((unsigned char)s[i]) || d == 4) return false;
        digits[d++] = s[i];
    }
    if (d != 2 && d != 4) return false;
    int hours = ParseDigits(digits, 2);
    int minutes = d == 4 ? ParseDigits(digits + 2, 2) : 0;
    if (hours > 23 || minutes > 59) return false;
    f->zoneMinutes = (s[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    f->zoneSeen = true;
    return true;
}

// "2024-01-15", "2024-01-15T14:00:00Z", "2024-01-15T14:00:00+01:00".
bool ParseIsoDate(const char *s, DateFields *f) {
    if (!(isdigit((unsigned char)s[0]) && isdigit((unsigned char)s[1]) && isdigit((unsigned char)s[2]) &&
          isdigit((unsigned char)s[3]) && s[4] == '-'))
        return false;
    if (!(isdigit((unsigned char)s[5]) && isdigit((unsigned char)s[6]) && s[7] == '-' &&
          isdigit((unsigned char)s[8]) && isdigit((unsigned char)s[9])))
        return false;
    f->year = ParseDigits(s, 4);
    f->month = ParseDigits(s + 5, 2);
    f->day = ParseDigits(s + 8, 2);
    f->hour = f->minute = 0;
    const char *p = s + 10;
    if (*p != 'T' && *p != 't' && *p != ' ') return true;
    p++;
    size_t n = 0;
    while (p[n] && (isdigit((unsigned char)p[n]) || p[n] == ':' || p[n] == '.')) n++;
    if (n && ParseClock(p, n > 8 ? 8 : n, f)) {
        p += n;
        if (*p == 'Z' || *p == 'z') f->zoneSeen = true;
        else if (*p == '+' || *p == '-') {
            size_t z = 1;
            while (p[z] && (isdigit((unsigned char)p[z]) || p[z] == ':')) z++;
            ParseNumericZone(p, z, f);
        }
    }
    return true;
}

struct Token {
    const char *s;
    size_t n;
};

int SplitTokens(const char *text, Token *tokens) {
    int count = 0;
    const char *p = text;
    while (*p && count < kMaxTokens) {
        while (*p && (isspace((unsigned char)*p) || *p == ',' || *p == '(' || *p == ')' || *p == '"')) p++;
        if (!*p) break;
        const char *start = p;
        if (*p == '+' || *p == '-') p++;
        while (*p && !isspace((unsigned char)*p) && *p != ',' && *p != '(' && *p != ')' && *p != '"') p++;
        tokens[count++] = {start, (size_t)(p - start)};
    }
    return count;
}

// Splits "15-Jan-2024" into its three pieces in place of one token.
int SplitDashedDate(Token *tokens, int count) {
    Token out[kMaxTokens];
    int n = 0;
    for (int i = 0; i < count && n < kMaxTokens; i++) {
        const Token &t = tokens[i];
        const char *dash1 = (const char *)memchr(t.s, '-', t.n);
        if (t.s[0] != '-' && t.s[0] != '+' && dash1 && dash1 > t.s && MonthFromName(dash1 + 1, t.n - (dash1 + 1 - t.s))) {
            const char *end = t.s + t.n;
            const char *dash2 = (const char *)memchr(dash1 + 1, '-', end - dash1 - 1);
            out[n++] = {t.s, (size_t)(dash1 - t.s)};
            if (n < kMaxTokens) out[n++] = {dash1 + 1, (size_t)((dash2 ? dash2 : end) - dash1 - 1)};
            if (dash2 && n < kMaxTokens) out[n++] = {dash2 + 1, (size_t)(end - dash2 - 1)};
            continue;
        }
        out[n++] = t;
    }
    memcpy(tokens, out, sizeof(Token) * n);
    return n;
}

void ReadTokens(const char *text, DateFields *f) {
    Token tokens[kMaxTokens];
    int count = SplitDashedDate(tokens, SplitTokens(text, tokens));
    for (int i = 0; i < count; i++) {
        const char *s = tokens[i].s;
        size_t n = tokens[i].n;
        if (isalpha((unsigned char)s[0])) {
            int month = MonthFromName(s, n);
            int zone;
            if (month && f->month == 0 && (n == 3 || (n > 3 && isalpha((unsigned char)s[3])))) f->month = month;
            else if (IsWeekdayName(s, n)) continue;
            else if (f->hour >= 0 && !f->zoneSeen && ZoneFromName(s, n, &zone)) {
                f->zoneMinutes = zone;
                f->zoneSeen = true;
            } else if (n == 2 && f->hour >= 0 && (strncasecmp(s, "AM", 2) == 0 || strncasecmp(s, "PM", 2) == 0)) {
                if (toupper((unsigned char)s[0]) == 'P' && f->hour < 12) f->hour += 12;
                if (toupper((unsigned char)s[0]) == 'A' && f->hour == 12) f->hour = 0;
            }
            continue;
        }
        if ((s[0] == '+' || s[0] == '-') && f->hour >= 0 && !f->zoneSeen) {
            ParseNumericZone(s, n, f);
            continue;
        }
        if (memchr(s, ':', n) && f->hour < 0) {
            ParseClock(s, n, f);
            continue;
        }
        if (!AllDigits(s, n)) continue;
        int value = ParseDigits(s, n);
        if (n <= 2 && f->day < 0 && (f->month == 0 || f->year < 0)) f->day = value;
        else if (f->year < 0 && n <= 4) f->year = n == 4 ? value : (n == 3 ? value + 1900 : (value < 50 ? 2000 + value : 1900 + value));
        else if (n <= 2 && f->day < 0) f->day = value;
    }
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysSince1601(int year, int month, int day) {
    int64_t y = year - (month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t mp = (month + 9) % 12;
    int64_t doy = (153 * mp + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t daysSince1970 = era * 146097 + doe - 719468;
    return daysSince1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool FieldsToFileTime(const DateFields &f, FILETIME *out) {
    if (f.year < 1601 || f.year > 30827 || f.month < 1 || f.month > 12 || f.day < 1 ||
        f.day > DaysInMonth(f.year, f.month))
        return false;
    int hour = f.hour < 0 ? 0 : f.hour, minute = f.minute < 0 ? 0 : f.minute;
    int second = f.second > 59 ? 59 : f.second;  // leap second
    if (hour > 23 || minute > 59 || second < 0) return false;
    int64_t minutes = DaysSince1601(f.year, f.month, f.day) * 1440 + hour * 60 + minute - f.zoneMinutes;
    if (minutes < 0) return false;
    uint64_t ticks = ((uint64_t)minutes * 60 + (uint64_t)second) * 10000000ULL;
    out->dwLowDateTime = (uint32_t)ticks;
    out->dwHighDateTime = (uint32_t)(ticks >> 32);
    return true;
}

}  // namespace

BVCOM_API void com_Parse_Mime_Date(const char *text, mdat *rec) {
    if (!rec) return;
    rec->date.dwLowDateTime = rec->date.dwHighDateTime = 0;
    if (!text) return;
    char buf[kMaxDateText];
    com_strncpy(buf, text, sizeof(buf) - 1);
    const char *p = buf;
    while (*p == ' ' || *p == '\t' || *p == ';') p++;
    DateFields f;
    if (!ParseIsoDate(p, &f)) ReadTokens(p, &f);
    FILETIME ft;
    if (FieldsToFileTime(f, &ft)) rec->date = ft;
}
