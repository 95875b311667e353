// Time zones named by the calendar data: Windows names ("W. Europe Standard
// Time"), Olson names ("Europe/Berlin"), and Windows display names
// ("(UTC+01:00) Amsterdam, Berlin, ..."). The zone data and daylight rules
// come from the platform's zone functions; this file only resolves names.
#include <memory>
#include <mutex>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unordered_map>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_ZONE_CACHE_MAX 256  // resolved names kept; the cache starts over when full
#define BVCOM_VTZ_TEXT_LEN 2048
#define BVCOM_TZID_LEN 256

struct ZoneCloser {
    void operator()(PlatZone *zone) const { plat_CloseZone(zone); }
};
typedef std::unique_ptr<PlatZone, ZoneCloser> ZoneHandle;

static std::mutex gZoneLock;
static std::unordered_map<std::string, std::string> gZoneIds;  // name -> canonical id, "" unknown
// Opened zones by canonical id, kept for the life of the process: building
// a zone reads the platform's zone data, and calendars ask about the same
// few zones for every entry. Bounded by the platform's list of zones.
static std::unordered_map<std::string, ZoneHandle> gOpenZones;

static std::string Trimmed(const std::string &text) {
    size_t a = text.find_first_not_of(" \t"), b = text.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// A place of a display name: "Eastern Time (US & Canada)" is the Windows zone
// "Eastern Standard Time"; "Berlin" is the Olson zone ".../Berlin".
static PlatZone *FromPlace(const std::string &place) {
    std::string base = Trimmed(place.substr(0, place.find('(')));
    if (base.empty()) return nullptr;
    size_t time = base.rfind(" Time");
    if (time != std::string::npos && time + 5 == base.size()) {
        if (PlatZone *zone = plat_OpenZone((base.substr(0, time) + " Standard Time").c_str())) return zone;
    }
    if (PlatZone *zone = plat_OpenZone((base + " Standard Time").c_str())) return zone;
    return plat_OpenZoneByCity(base.c_str());
}

static PlatZone *Resolve(const std::string &name) {
    if (name[0] != '(') return plat_OpenZone(name.c_str());
    size_t close = name.find(')');  // a display name: the first place that names a zone
    if (close == std::string::npos) return nullptr;
    std::string places = name.substr(close + 1);
    for (size_t start = 0; start <= places.size();) {
        size_t comma = places.find(',', start);
        if (comma == std::string::npos) comma = places.size();
        if (PlatZone *zone = FromPlace(places.substr(start, comma - start))) return zone;
        start = comma + 1;
    }
    return nullptr;
}

// The opened zone of a canonical id; `opened` is used when the id is new.
// Caller holds gZoneLock.
static const PlatZone *Kept(const std::string &id, ZoneHandle opened) {
    auto it = gOpenZones.find(id);
    if (it != gOpenZones.end()) return it->second.get();
    if (!opened) opened.reset(plat_OpenZone(id.c_str()));
    if (!opened) return nullptr;
    return gOpenZones.emplace(id, std::move(opened)).first->second.get();
}

// The zone of `name`, or null when nothing matches; owned by the cache.
// Names resolve once; the canonical id they resolve to is opened once.
static const PlatZone *ZoneOf(const char *name) {
    std::string key = name ? Trimmed(name) : std::string();
    if (key.empty()) return nullptr;
    std::lock_guard<std::mutex> lock(gZoneLock);
    auto it = gZoneIds.find(key);
    if (it != gZoneIds.end()) return it->second.empty() ? nullptr : Kept(it->second, nullptr);
    if (gZoneIds.size() >= BVCOM_ZONE_CACHE_MAX) gZoneIds.clear();
    ZoneHandle zone(Resolve(key));
    char id[BVCOM_TZID_LEN] = "";
    if (zone) plat_ZoneId(zone.get(), id, sizeof(id));
    gZoneIds[key] = id;
    return id[0] ? Kept(id, std::move(zone)) : nullptr;
}

extern "C" {

// Windows terms: UTC = local + bias; dstBias -60 for an hour of daylight time.
BVCOM_API int com_GetTZInfo(const char *tzName, int *bias, int *dstBias, int *stdBias, int flag) {
    (void)flag;
    if (bias) *bias = 0;
    if (dstBias) *dstBias = 0;
    if (stdBias) *stdBias = 0;
    const PlatZone *zone = ZoneOf(tzName);
    FILETIME now;
    plat_GetSystemTimeAsFileTime(&now);
    int stdMinutes = 0;
    if (!zone || !plat_ZoneOffsetsAt(zone, &now, &stdMinutes, nullptr)) return 0;
    if (bias) *bias = -stdMinutes;
    if (dstBias) *dstBias = -plat_ZoneDaylightSaving(zone);
    return 1;
}

// *dstBias receives the zone's daylight correction (-60 for an hour), *flag
// 1 when the name was recognised. Non-zero when `time` (UTC) is in daylight time.
BVCOM_API int com_TZDateIsDST(const FILETIME *time, const char *tzName, int *dstBias, int *flag) {
    if (flag) *flag = 0;
    const PlatZone *zone = ZoneOf(tzName);
    if (!zone || !time) return 0;
    if (flag) *flag = 1;
    int dstMinutes = 0;
    if (!plat_ZoneOffsetsAt(zone, time, nullptr, &dstMinutes)) return 0;
    if (dstBias) *dstBias = -(dstMinutes != 0 ? dstMinutes : plat_ZoneDaylightSaving(zone));
    return dstMinutes != 0;
}

// The TZID for a zone: the name as given, or the canonical id when the given
// one cannot stand in a TZID parameter (a display name). Zero when neither fits.
static int TzidOf(const PlatZone *zone, const char *tzName, char id[BVCOM_TZID_LEN]) {
    std::string given = Trimmed(tzName);
    if (strpbrk(given.c_str(), ":;\"(,") || given.size() >= BVCOM_TZID_LEN)
        return plat_ZoneId(zone, id, BVCOM_TZID_LEN);
    memcpy(id, given.c_str(), given.size() + 1);
    return 1;
}

// The zone's rules in force now as a VTIMEZONE block.
BVCOM_API int com_GetVTimeZone(const char *tzName, char *vtimezoneText, char *tzid) {
    if (vtimezoneText) vtimezoneText[0] = 0;
    if (tzid) tzid[0] = 0;
    const PlatZone *zone = ZoneOf(tzName);
    char id[BVCOM_TZID_LEN];
    if (!zone || !vtimezoneText || !tzid || !TzidOf(zone, tzName, id)) return 0;
    FILETIME now;
    plat_GetSystemTimeAsFileTime(&now);
    if (!plat_ZoneVTimeZoneText(zone, &now, id, vtimezoneText, BVCOM_VTZ_TEXT_LEN)) return 0;
    memcpy(tzid, id, strlen(id) + 1);
    return 1;
}

BVCOM_API int bvcom_GetVTimeZoneSince(const char *tzName, const FILETIME *since, char *text, size_t textCap,
                                      char *tzid) {
    if (text && textCap) text[0] = 0;
    if (tzid) tzid[0] = 0;
    const PlatZone *zone = ZoneOf(tzName);
    char id[BVCOM_TZID_LEN];
    if (!zone || !since || !text || !tzid || !TzidOf(zone, tzName, id)) return 0;
    int written = plat_ZoneHistoryText(zone, since, id, text, textCap) ? 2 : 0;
    if (!written) written = plat_ZoneVTimeZoneText(zone, since, id, text, textCap) ? 1 : 0;
    if (written) memcpy(tzid, id, strlen(id) + 1);
    return written;
}

BVCOM_API int bvcom_ZoneWallTime(const char *tzName, const FILETIME *utc, FILETIME *local) {
    const PlatZone *zone = ZoneOf(tzName);
    return zone && utc && local && bvcom_ZoneLocalTime(zone, utc, local);
}

}  // extern "C"

const PlatZone *bvcom_NamedZone(const char *tzName) {
    return ZoneOf(tzName);
}

int bvcom_ZoneLocalTime(const PlatZone *zone, const FILETIME *utc, FILETIME *local) {
    int stdMinutes = 0, dstMinutes = 0;
    if (!zone) return plat_FileTimeToLocalFileTime(utc, local);
    if (!plat_ZoneOffsetsAt(zone, utc, &stdMinutes, &dstMinutes)) return 0;
    *local = *utc;
    com_OffsetFileTimeVal(local, stdMinutes + dstMinutes);
    return 1;
}

int bvcom_ZoneUtcTime(const PlatZone *zone, const FILETIME *local, FILETIME *utc) {
    return zone ? plat_ZoneLocalToUtc(zone, local, utc) : plat_LocalFileTimeToFileTime(local, utc);
}

// Daylight time by the VTIMEZONE record's yearly rules; -1 without usable rules.
int bvcom_VTimeZoneIsDST(const FILETIME *time, const BvVTimeZone *zone) {
    if (com_DateIsNull(&zone->dstStart) || com_DateIsNull(&zone->stdStart)) return -1;
    return plat_RulesIsDaylight(time, zone->stdOffset, &zone->stdStart, zone->dstOffset, &zone->dstStart);
}
