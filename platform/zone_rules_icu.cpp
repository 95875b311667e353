// Named time zones and daylight rules through ICU: the Windows-ID mapping,
// zone offsets at any instant, ICU's VTIMEZONE writer, and rule-based zones
// built from the yearly rules of a VTIMEZONE record.
#include <memory>
#include <mutex>
#include <string.h>
#include <strings.h>
#include <string>
#include <unicode/basictz.h>
#include <unicode/dtrule.h>
#include <unicode/gregocal.h>
#include <unicode/rbtz.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/tzrule.h>
#include <unicode/vtzone.h>
#include <vector>

#include "platform/platform.h"

struct PlatZone {
    std::unique_ptr<icu::BasicTimeZone> tz;
};

static const int64_t kUnitsPerMs = 10000;
static const int64_t kUnixEpochUnits = 116444736000000000LL;  // 1601 -> 1970 in FILETIME units
static const int32_t kMsPerMinute = 60000;

static UDate ToUDate(const FILETIME *time) {
    return (UDate)(((int64_t)plat_FileTimeToU64(time) - kUnixEpochUnits) / kUnitsPerMs);
}

static bool FromUDate(UDate when, FILETIME *out) {
    int64_t units = (int64_t)when * kUnitsPerMs + kUnixEpochUnits;
    if (units < 0) return false;
    *out = plat_U64ToFileTime((uint64_t)units);
    return true;
}

static PlatZone *Wrap(icu::TimeZone *tz) {
    icu::BasicTimeZone *basic = dynamic_cast<icu::BasicTimeZone *>(tz);
    if (!basic || *tz == icu::TimeZone::getUnknown()) {
        delete tz;
        return nullptr;
    }
    PlatZone *zone = new PlatZone;
    zone->tz.reset(basic);
    return zone;
}

static PlatZone *ById(const icu::UnicodeString &id) {
    return id.isEmpty() ? nullptr : Wrap(icu::TimeZone::createTimeZone(id));
}

extern "C" {

PlatZone *plat_OpenZone(const char *name) {
    if (!name || !name[0]) return nullptr;
    icu::UnicodeString given = icu::UnicodeString::fromUTF8(name), id;
    UErrorCode status = U_ZERO_ERROR;
    icu::TimeZone::getIDForWindowsID(given, nullptr, id, status);
    if (U_SUCCESS(status) && !id.isEmpty()) return ById(id);
    return ById(given);
}

PlatZone *plat_OpenZoneByCity(const char *city) {
    static std::mutex lock;
    static std::vector<std::string> ids;
    if (!city || !city[0]) return nullptr;
    std::string suffix = std::string("/") + city;
    for (char &c : suffix)
        if (c == ' ') c = '_';
    std::lock_guard<std::mutex> guard(lock);
    if (ids.empty()) {
        std::unique_ptr<icu::StringEnumeration> all(icu::TimeZone::createEnumeration());
        UErrorCode status = U_ZERO_ERROR;
        while (all) {
            const char *id = all->next(nullptr, status);
            if (!id || U_FAILURE(status)) break;
            ids.push_back(id);
        }
    }
    for (const std::string &id : ids) {
        if (id.size() > suffix.size() && strcasecmp(id.c_str() + id.size() - suffix.size(), suffix.c_str()) == 0)
            return ById(icu::UnicodeString::fromUTF8(id));
    }
    return nullptr;
}

void plat_CloseZone(PlatZone *zone) {
    delete zone;
}

int plat_ZoneOffsetsAt(const PlatZone *zone, const FILETIME *utc, int *stdMinutes, int *dstMinutes) {
    if (!zone || !utc) return 0;
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone->tz->getOffset(ToUDate(utc), false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    if (stdMinutes) *stdMinutes = raw / kMsPerMinute;
    if (dstMinutes) *dstMinutes = dst / kMsPerMinute;
    return 1;
}

int plat_ZoneDaylightSaving(const PlatZone *zone) {
    return zone && zone->tz->useDaylightTime() ? zone->tz->getDSTSavings() / kMsPerMinute : 0;
}

int plat_ZoneLocalToUtc(const PlatZone *zone, const FILETIME *local, FILETIME *utc) {
    if (!zone || !local || !utc) return 0;
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    UDate wall = ToUDate(local);
    zone->tz->getOffsetFromLocal(wall, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_FORMER, raw, dst, status);
    return U_SUCCESS(status) && FromUDate(wall - raw - dst, utc);
}

int plat_ZoneId(const PlatZone *zone, char *out, size_t outCap) {
    if (!zone || !out || outCap == 0) return 0;
    icu::UnicodeString id;
    std::string text;
    zone->tz->getID(id).toUTF8String(text);
    if (text.size() >= outCap) return 0;
    memcpy(out, text.c_str(), text.size() + 1);
    return 1;
}

// The rules in force at `when` as a zone of their own that has always kept
// them (from 1970), so the VTIMEZONE reads like the yearly rules Windows keeps.
static icu::RuleBasedTimeZone *CurrentRules(const icu::BasicTimeZone &tz, UDate when) {
    UErrorCode status = U_ZERO_ERROR;
    icu::InitialTimeZoneRule *initial = nullptr;
    icu::AnnualTimeZoneRule *toStd = nullptr, *toDst = nullptr;
    tz.getSimpleRulesNear(when, initial, toStd, toDst, status);
    icu::RuleBasedTimeZone *rules = nullptr;
    if (U_SUCCESS(status) && initial) {
        icu::UnicodeString id;
        tz.getID(id);
        int32_t raw = toStd ? toStd->getRawOffset() : initial->getRawOffset();
        rules = new icu::RuleBasedTimeZone(id, new icu::InitialTimeZoneRule("STD", raw, 0));
        if (toStd && toDst) {
            const int32_t kFirstYear = 1970, kLastYear = icu::AnnualTimeZoneRule::MAX_YEAR;
            rules->addTransitionRule(new icu::AnnualTimeZoneRule("DST", toDst->getRawOffset(), toDst->getDSTSavings(),
                                                                 *toDst->getRule(), kFirstYear, kLastYear),
                                     status);
            rules->addTransitionRule(new icu::AnnualTimeZoneRule("STD", toStd->getRawOffset(), toStd->getDSTSavings(),
                                                                 *toStd->getRule(), kFirstYear, kLastYear),
                                     status);
        }
        rules->complete(status);
    }
    delete initial;
    delete toStd;
    delete toDst;
    if (U_FAILURE(status)) {
        delete rules;
        return nullptr;
    }
    return rules;
}

// One line of ICU's VTIMEZONE text as written here: our TZID, offsets as
// +hhmm when they have no seconds; ICU's own X- lines, the names it makes up
// for observances ("America/New_York(DST)", "(STD)") and broken lines left out.
static bool TidyLine(std::string &line, const char *tzid) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.find(':') == std::string::npos || line.compare(0, 2, "X-") == 0) return false;
    if (line.compare(0, 7, "TZNAME:") == 0 && line.back() == ')') return false;
    if (line.compare(0, 5, "TZID:") == 0) line = std::string("TZID:") + tzid;
    bool offset = line.compare(0, 13, "TZOFFSETFROM:") == 0 || line.compare(0, 11, "TZOFFSETTO:") == 0;
    size_t colon = line.find(':');
    if (offset && line.size() == colon + 8 && line.compare(colon + 6, 2, "00") == 0) line.resize(colon + 6);
    return true;
}

// ICU's VTIMEZONE text of `vtz` (from `since` on when given), tidied line by
// line into out. Zero (out empty) when it does not fit.
static int TidiedText(icu::VTimeZone &vtz, const UDate *since, const char *tzid, char *out, size_t outCap) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString written;
    if (since)
        vtz.write(*since, written, status);
    else
        vtz.write(written, status);
    if (U_FAILURE(status)) return 0;
    std::string raw, text;
    written.toUTF8String(raw);
    for (size_t from = 0; from < raw.size();) {
        size_t end = raw.find('\n', from);
        if (end == std::string::npos) end = raw.size();
        std::string line = raw.substr(from, end - from);
        from = end + 1;
        if (TidyLine(line, tzid)) text += line + "\n";
    }
    if (text.size() >= outCap) return 0;
    memcpy(out, text.c_str(), text.size() + 1);
    return 1;
}

int plat_ZoneVTimeZoneText(const PlatZone *zone, const FILETIME *when, const char *tzid, char *out, size_t outCap) {
    if (out && outCap) out[0] = 0;
    if (!zone || !when || !tzid || !out || outCap == 0) return 0;
    std::unique_ptr<icu::RuleBasedTimeZone> rules(CurrentRules(*zone->tz, ToUDate(when)));
    if (!rules) return 0;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::VTimeZone> vtz(icu::VTimeZone::createVTimeZoneFromBasicTimeZone(*rules, status));
    if (!vtz || U_FAILURE(status)) return 0;
    return TidiedText(*vtz, nullptr, tzid, out, outCap);
}

int plat_ZoneHistoryText(const PlatZone *zone, const FILETIME *since, const char *tzid, char *out, size_t outCap) {
    if (out && outCap) out[0] = 0;
    if (!zone || !since || !tzid || !out || outCap == 0) return 0;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::VTimeZone> vtz(icu::VTimeZone::createVTimeZoneFromBasicTimeZone(*zone->tz, status));
    if (!vtz || U_FAILURE(status)) return 0;
    UDate start = ToUDate(since);
    return TidiedText(*vtz, &start, tzid, out, outCap);
}

}  // extern "C"

// ---- yearly rules of a VTIMEZONE record -------------------------------------------

// The DTSTART of an observance as ICU's "weekday in week of month at time"
// rule; null when the date is unusable.
static icu::DateTimeRule *RuleOf(const FILETIME *start) {
    SYSTEMTIME st;
    if (!start || !plat_FileTimeToSystemTime(start, &st) || st.wMonth < 1 || st.wMonth > 12) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(icu::TimeZone::getGMT()->clone(), status);
    if (U_FAILURE(status)) return nullptr;
    calendar.clear();
    calendar.set(st.wYear, st.wMonth - 1, 1);
    int length = calendar.getActualMaximum(UCAL_DAY_OF_MONTH, status);
    int week = st.wDay + 7 > length ? -1 : (st.wDay - 1) / 7 + 1;
    int32_t millis = ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * 1000;
    return new icu::DateTimeRule(st.wMonth - 1, week, st.wDayOfWeek + UCAL_SUNDAY, millis,
                                 icu::DateTimeRule::WALL_TIME);
}

struct RuleKey {
    int stdOffset, dstOffset;
    uint64_t stdStart, dstStart;
    bool operator==(const RuleKey &o) const {
        return stdOffset == o.stdOffset && dstOffset == o.dstOffset && stdStart == o.stdStart &&
               dstStart == o.dstStart;
    }
};

static icu::RuleBasedTimeZone *BuildRules(const RuleKey &key, const FILETIME *stdStart, const FILETIME *dstStart) {
    icu::DateTimeRule *toDst = RuleOf(dstStart), *toStd = RuleOf(stdStart);
    if (!toDst || !toStd) {
        delete toDst;
        delete toStd;
        return nullptr;
    }
    int32_t raw = key.stdOffset * kMsPerMinute, saving = (key.dstOffset - key.stdOffset) * kMsPerMinute;
    std::unique_ptr<icu::RuleBasedTimeZone> zone(new icu::RuleBasedTimeZone(
        icu::UnicodeString("VTIMEZONE record"), new icu::InitialTimeZoneRule("standard", raw, 0)));
    UErrorCode status = U_ZERO_ERROR;
    zone->addTransitionRule(new icu::AnnualTimeZoneRule("daylight", raw, saving, toDst, 1601,
                                                        icu::AnnualTimeZoneRule::MAX_YEAR),
                            status);
    zone->addTransitionRule(new icu::AnnualTimeZoneRule("standard", raw, 0, toStd, 1601,
                                                        icu::AnnualTimeZoneRule::MAX_YEAR),
                            status);
    zone->complete(status);
    return U_SUCCESS(status) ? zone.release() : nullptr;
}

extern "C" int plat_RulesIsDaylight(const FILETIME *utc, int stdOffset, const FILETIME *stdStart, int dstOffset,
                                    const FILETIME *dstStart) {
    static std::mutex lock;
    static RuleKey lastKey;
    static std::unique_ptr<icu::RuleBasedTimeZone> last;  // the rules of one entry are asked again and again
    if (!utc || !stdStart || !dstStart || stdOffset == dstOffset) return -1;
    RuleKey key = {stdOffset, dstOffset, plat_FileTimeToU64(stdStart), plat_FileTimeToU64(dstStart)};
    std::lock_guard<std::mutex> guard(lock);
    if (!last || !(key == lastKey)) {
        last.reset(BuildRules(key, stdStart, dstStart));
        lastKey = key;
    }
    if (!last) return -1;
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    last->getOffset(ToUDate(utc), false, raw, dst, status);
    return U_FAILURE(status) ? -1 : dst != 0;
}
