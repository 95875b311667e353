// Time zones named by the calendar data: Windows names ("W. Europe Standard
// Time"), Olson names ("Europe/Berlin"), and Windows display names
// ("(UTC+01:00) Amsterdam, Berlin, ..."), resolved through ICU's zone data
// and its Windows zone mapping. Daylight time of a parsed VTIMEZONE record.
#include <memory>
#include <stdlib.h>
#include <mutex>
#include <string.h>
#include <strings.h>
#include <string>
#include <unicode/basictz.h>
#include <unicode/calendar.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/tzrule.h>
#include <unicode/tztrans.h>
#include <unordered_map>
#include <vector>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_ZONE_CACHE_MAX 256  // resolved names kept; the cache starts over when full

static std::mutex gZoneLock;
static std::unordered_map<std::string, std::unique_ptr<icu::TimeZone>> gZoneCache;  // null: unknown name
static std::vector<std::string> gOlsonIds;  // for display-name places

static const int64_t kUnitsPerMs = 10000;
static const int64_t kUnixEpochUnits = 116444736000000000LL;

static UDate ToUDate(const FILETIME *time) {
    int64_t units = (int64_t)plat_FileTimeToU64(time);
    return (UDate)((units - kUnixEpochUnits) / kUnitsPerMs);
}

static icu::TimeZone *CreateKnown(const icu::UnicodeString &id) {
    icu::TimeZone *tz = icu::TimeZone::createTimeZone(id);
    if (tz && *tz == icu::TimeZone::getUnknown()) {
        delete tz;
        return nullptr;
    }
    return tz;
}

static icu::TimeZone *FromWindowsName(const std::string &name) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString id;
    icu::TimeZone::getIDForWindowsID(icu::UnicodeString::fromUTF8(name), nullptr, id, status);
    if (U_FAILURE(status) || id.isEmpty()) return nullptr;
    return CreateKnown(id);
}

static std::string Trimmed(const std::string &text) {
    size_t a = text.find_first_not_of(" \t"), b = text.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// A place of a display name: "Eastern Time (US & Canada)" is the Windows zone
// "Eastern Standard Time"; "Berlin" is the Olson zone ".../Berlin".
static icu::TimeZone *FromPlace(const std::string &place) {
    std::string base = Trimmed(place.substr(0, place.find('(')));
    if (base.empty()) return nullptr;
    size_t time = base.rfind(" Time");
    if (time != std::string::npos && time + 5 == base.size()) {
        if (icu::TimeZone *tz = FromWindowsName(base.substr(0, time) + " Standard Time")) return tz;
    }
    if (icu::TimeZone *tz = FromWindowsName(base + " Standard Time")) return tz;
    if (gOlsonIds.empty()) {
        std::unique_ptr<icu::StringEnumeration> ids(icu::TimeZone::createEnumeration());
        UErrorCode status = U_ZERO_ERROR;
        while (ids) {
            const char *id = ids->next(nullptr, status);
            if (!id || U_FAILURE(status)) break;
            gOlsonIds.push_back(id);
        }
    }
    std::string city = "/" + base;
    for (char &c : city)
        if (c == ' ') c = '_';
    for (const std::string &id : gOlsonIds) {
        if (id.size() > city.size() && strcasecmp(id.c_str() + id.size() - city.size(), city.c_str()) == 0)
            return CreateKnown(icu::UnicodeString::fromUTF8(id));
    }
    return nullptr;
}

static icu::TimeZone *Resolve(const std::string &name) {
    if (icu::TimeZone *tz = FromWindowsName(name)) return tz;
    if (name.find('/') != std::string::npos || name.rfind("GMT", 0) == 0 || name.rfind("UTC", 0) == 0) {
        if (icu::TimeZone *tz = CreateKnown(icu::UnicodeString::fromUTF8(name))) return tz;
    }
    if (name[0] == '(') {  // display name
        size_t close = name.find(')');
        if (close == std::string::npos) return nullptr;
        std::string places = name.substr(close + 1);
        size_t start = 0;
        while (start <= places.size()) {
            size_t comma = places.find(',', start);
            if (comma == std::string::npos) comma = places.size();
            if (icu::TimeZone *tz = FromPlace(places.substr(start, comma - start))) return tz;
            start = comma + 1;
        }
        return nullptr;
    }
    return CreateKnown(icu::UnicodeString::fromUTF8(name));
}

// A private copy of the zone of `name`, or null when nothing matches.
static std::unique_ptr<icu::TimeZone> ZoneOf(const char *name) {
    if (!name) return nullptr;
    std::string key = Trimmed(name);
    if (key.empty()) return nullptr;
    std::lock_guard<std::mutex> lock(gZoneLock);
    auto it = gZoneCache.find(key);
    if (it == gZoneCache.end()) {
        if (gZoneCache.size() >= BVCOM_ZONE_CACHE_MAX) gZoneCache.clear();
        it = gZoneCache.emplace(key, std::unique_ptr<icu::TimeZone>(Resolve(key))).first;
    }
    return it->second ? std::unique_ptr<icu::TimeZone>(it->second->clone()) : nullptr;
}

static std::string OffsetText(int32_t ms) {
    int minutes = ms / 60000;
    char out[16];
    snprintf(out, sizeof(out), "%c%02d%02d", minutes < 0 ? '-' : '+', abs(minutes) / 60, abs(minutes) % 60);
    return out;
}

static int DaysInMonthOf(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// One STANDARD or DAYLIGHT block for a change-over at `when` (UTC ms): the
// weekday-in-month rule it follows, first applied in 1970.
static std::string ObservanceBlock(UDate when, int32_t fromOffset, int32_t toOffset, bool toDaylight) {
    static const char *const kDays[7] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    FILETIME wall = plat_U64ToFileTime((uint64_t)(((int64_t)when + fromOffset) * kUnitsPerMs + kUnixEpochUnits));
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&wall, &st)) return "";
    bool last = st.wDay + 7 > DaysInMonthOf(st.wYear, st.wMonth);
    int week = (st.wDay - 1) / 7 + 1;
    // The same rule in 1970.
    SYSTEMTIME first = {1970, st.wMonth, 0, 1, 0, 0, 0, 0};
    FILETIME ft;
    plat_SystemTimeToFileTime(&first, &ft);
    plat_FileTimeToSystemTime(&ft, &first);
    int day = 1 + (st.wDayOfWeek - first.wDayOfWeek + 7) % 7;
    if (last) {
        while (day + 7 <= DaysInMonthOf(1970, st.wMonth)) day += 7;
    } else {
        day += (week - 1) * 7;
    }
    char block[512];
    snprintf(block, sizeof(block),
             "BEGIN:%s\nDTSTART:1970%02u%02dT%02u%02u%02u\nTZOFFSETFROM:%s\nTZOFFSETTO:%s\n"
             "RRULE:FREQ=YEARLY;BYDAY=%s%s;BYMONTH=%u\nEND:%s\n",
             toDaylight ? "DAYLIGHT" : "STANDARD", st.wMonth, day, st.wHour, st.wMinute, st.wSecond,
             OffsetText(fromOffset).c_str(), OffsetText(toOffset).c_str(), last ? "-1" : std::to_string(week).c_str(),
             kDays[st.wDayOfWeek], st.wMonth, toDaylight ? "DAYLIGHT" : "STANDARD");
    return block;
}

// The observances of the current year; a zone without changes gets one
// STANDARD block.
static std::string ObservanceBlocks(const icu::TimeZone &tz) {
    const icu::BasicTimeZone *basic = dynamic_cast<const icu::BasicTimeZone *>(&tz);
    UDate now = icu::Calendar::getNow();
    FILETIME nowFt = plat_U64ToFileTime((uint64_t)((int64_t)now * kUnitsPerMs + kUnixEpochUnits));
    SYSTEMTIME st;
    plat_FileTimeToSystemTime(&nowFt, &st);
    SYSTEMTIME jan1 = {st.wYear, 1, 0, 1, 0, 0, 0, 0};
    FILETIME yearStartFt;
    plat_SystemTimeToFileTime(&jan1, &yearStartFt);
    UDate yearStart = (UDate)(((int64_t)plat_FileTimeToU64(&yearStartFt) - kUnixEpochUnits) / kUnitsPerMs);
    std::string out;
    if (basic && tz.useDaylightTime()) {
        icu::TimeZoneTransition transition;
        UDate from = yearStart;
        for (int i = 0; i < 2 && basic->getNextTransition(from, false, transition); ++i) {
            const icu::TimeZoneRule *before = transition.getFrom(), *after = transition.getTo();
            if (!before || !after) break;
            int32_t fromOffset = before->getRawOffset() + before->getDSTSavings();
            int32_t toOffset = after->getRawOffset() + after->getDSTSavings();
            out += ObservanceBlock(transition.getTime(), fromOffset, toOffset, after->getDSTSavings() != 0);
            from = transition.getTime();
        }
    }
    if (out.empty()) {
        std::string offset = OffsetText(tz.getRawOffset());
        out = "BEGIN:STANDARD\nDTSTART:19700101T000000\nTZOFFSETFROM:" + offset + "\nTZOFFSETTO:" + offset +
              "\nEND:STANDARD\n";
    }
    return out;
}

static int DaylightSavingsMinutes(const icu::TimeZone &tz) {
    return tz.useDaylightTime() ? tz.getDSTSavings() / 60000 : 0;
}

extern "C" {

BVCOM_API int com_GetTZInfo(const char *tzName, int *bias, int *dstBias, int *stdBias, int flag) {
    (void)flag;
    if (bias) *bias = 0;
    if (dstBias) *dstBias = 0;
    if (stdBias) *stdBias = 0;
    std::unique_ptr<icu::TimeZone> tz = ZoneOf(tzName);
    if (!tz) return 0;
    if (bias) *bias = -tz->getRawOffset() / 60000;
    if (dstBias) *dstBias = -DaylightSavingsMinutes(*tz);
    return 1;
}

// *dstBias receives the zone's daylight correction (-60 for an hour), *flag
// 1 when the name was recognised. Non-zero when `time` (UTC) is in daylight time.
BVCOM_API int com_TZDateIsDST(const FILETIME *time, const char *tzName, int *dstBias, int *flag) {
    if (flag) *flag = 0;
    std::unique_ptr<icu::TimeZone> tz = ZoneOf(tzName);
    if (!tz || !time) return 0;
    if (flag) *flag = 1;
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    tz->getOffset(ToUDate(time), false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    if (dstBias) *dstBias = -(dst != 0 ? dst / 60000 : DaylightSavingsMinutes(*tz));
    return dst != 0;
}

// VTIMEZONE text (lines ending in "\n", at most 2047 bytes) with the rules of
// the current year written as yearly rules from 1970, under the TZID written
// to tzid: the name as given, or the Olson name when the given one is a
// display name.
BVCOM_API int com_GetVTimeZone(const char *tzName, char *vtimezoneText, char *tzid) {
    if (vtimezoneText) vtimezoneText[0] = 0;
    if (tzid) tzid[0] = 0;
    std::unique_ptr<icu::TimeZone> tz = ZoneOf(tzName);
    if (!tz || !vtimezoneText || !tzid) return 0;
    std::string id = Trimmed(tzName);
    if (strpbrk(id.c_str(), ":;\"(,")) {
        icu::UnicodeString olson;
        tz->getID(olson);
        id.clear();
        olson.toUTF8String(id);
    }
    std::string text = "BEGIN:VTIMEZONE\nTZID:" + id + "\n" + ObservanceBlocks(*tz) + "END:VTIMEZONE\n";
    if (text.size() > 2047 || id.size() > 255) return 0;
    memcpy(vtimezoneText, text.c_str(), text.size() + 1);
    memcpy(tzid, id.c_str(), id.size() + 1);
    return 1;
}

}  // extern "C"

// ---- a parsed VTIMEZONE ---------------------------------------------------------

// The rule a VTIMEZONE's DTSTART stands for, as Windows keeps it: the same
// weekday in the same week of the month (5: the last), at the same time.
static int64_t RuleInstantInYear(const FILETIME &start, int year) {
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&start, &st)) return -1;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    auto daysIn = [](int y, int m) {
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        return m == 2 && leap ? 29 : kDays[m - 1];
    };
    int week = st.wDay + 7 > daysIn(st.wYear, st.wMonth) ? 5 : (st.wDay - 1) / 7 + 1;
    SYSTEMTIME first = {(uint16_t)year, st.wMonth, 0, 1, st.wHour, st.wMinute, 0, 0};
    FILETIME ft;
    if (!plat_SystemTimeToFileTime(&first, &ft)) return -1;
    SYSTEMTIME check;
    plat_FileTimeToSystemTime(&ft, &check);
    int day = 1 + (st.wDayOfWeek - check.wDayOfWeek + 7) % 7 + (week - 1) * 7;
    while (day > daysIn(year, st.wMonth)) day -= 7;
    first.wDay = (uint16_t)day;
    if (!plat_SystemTimeToFileTime(&first, &ft)) return -1;
    return (int64_t)plat_FileTimeToU64(&ft);
}

// Daylight time by the VTIMEZONE record: `time` is UTC; the change-over
// times of the record are local wall-clock times of the observance before them.
int bvcom_VTimeZoneIsDST(const FILETIME *time, const BvVTimeZone *zone) {
    if (com_DateIsNull(&zone->dstStart) || com_DateIsNull(&zone->stdStart) || zone->dstOffset == zone->stdOffset)
        return -1;  // no usable rules
    SYSTEMTIME st;
    FILETIME localStd = *time;
    com_OffsetFileTimeVal(&localStd, zone->stdOffset);
    if (!plat_FileTimeToSystemTime(&localStd, &st)) return -1;
    int64_t now = (int64_t)plat_FileTimeToU64(&localStd);
    int64_t toDst = RuleInstantInYear(zone->dstStart, st.wYear);
    int64_t toStd = RuleInstantInYear(zone->stdStart, st.wYear);
    if (toDst < 0 || toStd < 0) return -1;
    toStd -= (int64_t)(zone->dstOffset - zone->stdOffset) * 600000000LL;  // its time is daylight time
    if (toDst < toStd) return now >= toDst && now < toStd;
    return now >= toDst || now < toStd;  // southern hemisphere: daylight over the new year
}
