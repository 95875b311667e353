// EXDATE values of a recurring entry to deleted-occurrence exception records,
// so that a series read and written again keeps its deleted occurrences.
#include <mutex>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "bvcom/library_state.h"
#include "platform/platform.h"

static std::mutex gExDateLock;
static std::string gPendingExDates, gPendingTzid;

// "20240115T090000Z", "20240115T090000" or "20240115" into local or UTC time.
static bool ReadValue(const std::string &value, const SYSTEMTIME &seriesLocal, SYSTEMTIME *out, bool *utc) {
    if (value.size() < 8 || value.find_first_not_of("0123456789") < 8) return false;
    *out = seriesLocal;  // a date alone: the series' start time on that day
    out->wYear = (uint16_t)atoi(value.substr(0, 4).c_str());
    out->wMonth = (uint16_t)atoi(value.substr(4, 2).c_str());
    out->wDay = (uint16_t)atoi(value.substr(6, 2).c_str());
    *utc = false;
    if (value.size() >= 13 && value[8] == 'T') {
        out->wHour = (uint16_t)atoi(value.substr(9, 2).c_str());
        out->wMinute = (uint16_t)atoi(value.substr(11, 2).c_str());
        out->wSecond = value.size() >= 15 ? (uint16_t)atoi(value.substr(13, 2).c_str()) : 0;
        *utc = value.find('Z') != std::string::npos;
    }
    out->wMilliseconds = 0;
    return true;
}

// The UTC start of the occurrence an EXDATE value names.
static bool OccurrenceStart(const std::string &value, const PlatZone *zone, const mdat *rec, FILETIME *start) {
    SYSTEMTIME seriesLocal, st;
    FILETIME local;
    if (!bvcom_ZoneLocalTime(zone, &rec->startTime, &local) || !plat_FileTimeToSystemTime(&local, &seriesLocal))
        return false;
    bool utc = false;
    if (!ReadValue(value, seriesLocal, &st, &utc)) return false;
    FILETIME wall;
    if (!plat_SystemTimeToFileTime(&st, &wall)) return false;
    if (utc) {
        *start = wall;
        return true;
    }
    return bvcom_ZoneUtcTime(zone, &wall, start) != 0;
}

static bool AlreadyListed(const mdat *rec, const FILETIME &start) {
    for (int i = 0; i < rec->exceptionCount; ++i)
        if (rec->exceptions[i] && plat_CompareFileTime(&rec->exceptions[i]->originalStart, &start) == 0) return true;
    return false;
}

static void AddDeleted(mdat *rec, const FILETIME &start) {
    if (AlreadyListed(rec, start)) return;
    if (!com_AllocBreakout(rec)) {
        com_Log("BV Warning: deleted occurrence not kept, the entry holds %d exceptions already", rec->exceptionCount);
        return;
    }
    mexception *e = rec->exceptions[rec->exceptionCount++];
    e->kind = 1;
    e->originalStart = e->newStart = e->newEnd = start;
    int64_t length = (int64_t)plat_FileTimeToU64(&rec->endTime) - (int64_t)plat_FileTimeToU64(&rec->startTime);
    if (length > 0) e->newEnd = plat_U64ToFileTime(plat_FileTimeToU64(&start) + (uint64_t)length);
}

void bvcom_AddDeletedOccurrences(mdat *rec) {
    std::string list, tzid;
    {
        std::lock_guard<std::mutex> lock(gExDateLock);
        list.swap(gPendingExDates);
        tzid.swap(gPendingTzid);
    }
    if (rec->recurType == BV_RECUR_NONE || rec->recurType > BV_RECUR_EVERY_WEEKDAY) return;  // no series
    const PlatZone *zone = bvcom_NamedZone(tzid.c_str());
    size_t from = 0;
    while (from < list.size()) {
        size_t to = list.find_first_of(";,", from);
        if (to == std::string::npos) to = list.size();
        std::string value = list.substr(from, to - from);
        from = to + 1;
        size_t blank = value.find_first_not_of(" \t");
        if (blank == std::string::npos) continue;
        value.erase(0, blank);
        FILETIME start;
        if (OccurrenceStart(value, zone, rec, &start)) AddDeleted(rec, start);
        else com_Log("BV Warning: EXDATE value not understood: %.60s", value.c_str());
    }
}

extern "C" BVCOM_API void com_SetExDates(const char *exDates, const char *tzid) {
    std::lock_guard<std::mutex> lock(gExDateLock);
    gPendingExDates = exDates ? exDates : "";
    gPendingTzid = tzid ? tzid : "";
}
