// Zone texts to offsets and table rows (MapTimeZoneName), and display names to
// Windows zone names (NormalizeZoneName).
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "calread/cal_time.h"

namespace {

enum KeyMatch { kWhole, kFirst, kContained };  // kFirst: the text begins with the key
const int kKeep = -1;                          // the key leaves the position as it is

// An offset is in hours when whole, else in minutes (|value| >= 13).
struct ZoneKey {
    const char *key;
    KeyMatch match;
    int offset;
    int position;
};

// Tested in this order; every match overrides the ones before, so the last
// matching key decides. Keys that name a zone without a row of its own keep
// the position.
const ZoneKey kZoneKeys[] = {
    {"America/Los_Angeles", kWhole, -8, 9},
    {"America/Tijuana", kWhole, -8, 157},
    {"America/Bosie", kWhole, -7, 11},
    {"America/Chicago", kWhole, -6, 17},
    {"America/Denver", kWhole, -7, 11},
    {"America/Phoenix", kWhole, -7, 15},
    {"America/New_York", kWhole, -5, 25},
    {"America/Indiana/Indianapolis", kWhole, -5, 27},
    {"America/Detroit", kWhole, -5, 25},
    {"America/Montreal", kWhole, -5, 25},
    {"America/Rio_Branco", kWhole, -5, 29},
    {"America/Mexico_City", kWhole, -6, 21},
    {"Guadalajara, Mexico City, Monterrey", kWhole, -6, 21},
    {"America/Bogata", kWhole, -5, 29},
    {"America/Bogota", kWhole, -5, 29},
    {"America/Argentina/Buenos_Aires", kWhole, -3, 41},
    {"Argentina", kFirst, -3, 41},
    {"Buenos_Aires", kFirst, -3, 41},
    {"Montevideo", kWhole, -3, 181},
    {"America/Buenos_Aires", kWhole, -3, 41},
    {"America/Lima", kWhole, -5, 29},
    {"America/Puerto_Rico", kWhole, -4, 175},
    {"America/Edmonton", kWhole, -7, 11},
    {"America/Yellowknife", kWhole, -7, 11},
    {"America/Dawson_Creek", kWhole, -7, 15},
    {"America/Vancouver", kWhole, -8, 9},
    {"America/Whitehorse", kWhole, -7, 159},
    {"America/Toronto", kWhole, -5, 25},
    {"America/Iqaluit", kWhole, -5, 25},
    {"America/Regina", kWhole, -6, 19},
    {"America/Winnipeg", kWhole, -6, 17},
    {"America/Halifax", kWhole, -4, 31},
    {"America/St_Johns", kWhole, -210, 37},
    {"America/Anchorage", kWhole, -9, 7},
    {"America/Sao_Paulo", kWhole, -3, 39},
    {"Pacific/Honolulu", kWhole, -10, 5},
    {"Pacific/Guam", kWhole, 10, 141},
    {"Pacific/Auckland", kWhole, 12, 147},
    {"New Zealand Standard Time", kWhole, 12, 147},
    {"Canada/Pacific", kWhole, -8, 9},
    {"Canada/Mountain", kWhole, -7, 11},
    {"Canada/Central", kWhole, -6, 17},
    {"Canada/Eastern", kWhole, -5, 25},
    {"Atlantic/Azores", kWhole, -1, 47},
    {"Atlantic/Reykjavik", kWhole, 0, 193},
    {"Europe", kFirst, 1, kKeep},
    {"Europe/London", kWhole, 0, 51},
    {"UTC", kWhole, 0, 51},
    {"Europe/Athens", kWhole, 2, 65},
    {"Europe/Helsinki", kWhole, 2, 69},
    {"Europe/Amsterdam", kWhole, 1, 61},
    {"Europe/Berlin", kWhole, 1, 61},
    {"Europe/Prague", kWhole, 1, 55},
    {"Europe/Belgrade", kWhole, 1, 55},
    {"Europe/Brussels", kWhole, 1, 59},
    {"Europe/Budapest", kWhole, 1, 55},
    {"Europe/Madrid", kWhole, 1, 59},
    {"Europe/Lisbon", kWhole, 0, 51},
    {"Europe/Dublin", kWhole, 0, 51},
    {"Europe/Edinburgh", kWhole, 0, 51},
    {"Europe/Reykjavik", kWhole, 0, 193},
    {"Europe/Paris", kWhole, 1, 59},
    {"Europe/Rome", kWhole, 1, 61},
    {"Europe/Vienna", kWhole, 1, 61},
    {"Europe/Stockholm", kWhole, 1, 61},
    {"Europe/Oslo", kWhole, 1, 61},
    {"Europe/Copenhagen", kWhole, 1, 59},
    {"Europe/Zurich", kWhole, 1, 61},
    {"Western/Central Europe", kWhole, 1, 61},
    {"Amsterdam", kContained, 1, 61},
    {"Berlin", kContained, 1, 61},
    {"Brussels", kContained, 1, 59},
    {"Budapest", kContained, 1, 55},
    {"Madrid", kContained, 1, 59},
    {"Paris", kContained, 1, 59},
    {"Paris, Madrid", kContained, 1, 59},
    {"Prague", kContained, 1, 55},
    {"Stockholm", kContained, 1, 61},
    {"US/Eastern", kWhole, -5, 25},
    {"US/Central", kWhole, -6, 17},
    {"US/Mountain", kWhole, -7, 11},
    {"US/Pacific", kWhole, -8, 9},
    {"NorthAmerica/Eastern", kWhole, -5, 25},
    {"NorthAmerica/Central", kWhole, -6, 17},
    {"NorthAmerica/Mountain", kWhole, -7, 11},
    {"NorthAmerica/Pacific", kWhole, -8, 9},
    {"Pacific Standard Time", kWhole, -8, 9},
    {"Mountain Standard Time", kWhole, -7, 11},
    {"Central Standard Time", kWhole, -6, 17},
    {"Eastern Standard Time", kWhole, -5, 25},
    {"Atlantic Standard Time", kWhole, -4, 31},
    {"SA Western Standard Time", kWhole, -4, 33},
    {"SA Pacific Standard Time", kWhole, -5, 29},
    {"SA Eastern Standard Time", kWhole, -3, 41},
    {"S.A. Western Standard Time", kWhole, -4, 33},
    {"S.A. Pacific Standard Time", kWhole, -5, 29},
    {"S.A. Eastern Standard Time", kWhole, -3, 41},
    {"Tokyo Standard Time", kWhole, 9, 125},
    {"Singapore Standard Time", kWhole, 8, 115},
    {"Nepal Standard Time", kWhole, 345, 99},
    {"E. South America Standard Time", kWhole, -3, 39},
    {"Turkey Standard Time", kWhole, 3, 205},
    {"Kaliningrad Standard Time", kWhole, 2, kKeep},  // no row of its own
    {"US Pacific Standard Time", kWhole, -8, 9},
    {"US Mountain Standard Time", kWhole, -7, 15},
    {"US Central Standard Time", kWhole, -6, 17},
    {"US Eastern Standard Time", kWhole, -5, 27},
    {"Eastern Time", kFirst, -5, 25},
    {"Central Time", kFirst, -6, 17},
    {"Mountain Time", kFirst, -7, 11},
    {"Pacific Time", kFirst, -8, 9},
    {"Arizona", kFirst, -7, 15},
    {"US/Arizona", kFirst, -7, 15},
    {"Eastern", kFirst, -5, 25},
    {"Central", kFirst, -6, 17},
    {"Mountain", kFirst, -7, 11},
    {"Pacific", kFirst, -8, 9},
    {"Est", kFirst, -5, 25},
    {"Cst", kFirst, -6, 17},
    {"Mst", kFirst, -7, 11},
    {"Pst", kFirst, -8, 9},
    {"Canada Central", kFirst, -6, 19},
    {"Alaskan", kFirst, -9, 7},
    {"Hawaiian", kFirst, -10, 5},
    {"Mid-Atlantic", kFirst, -2, 45},
    {"GMT", kFirst, 0, kKeep},
    {"Dublin", kFirst, 0, 51},
    {"Greenwich", kFirst, 0, 193},
    {"Central Europe", kFirst, 1, 55},
    {"Mitteleurop\xE5\xAA\xB3" "che Zeit", kWhole, 1, 61},
    {"W. Europe", kFirst, 1, 61},
    {"Romance", kFirst, 1, 59},
    {"US Eastern", kFirst, -5, 27},
    {"US Mountain", kFirst, -7, 15},
    {"New Zealand", kFirst, 12, 147},
    {"India", kFirst, 330, 97},
    {"Cuba Standard Time", kFirst, -5, 167},
    {"Australia/Adelaide", kWhole, 570, 131},
    {"Australia/Darwin", kWhole, 570, 129},
    {"Australia/Brisbane", kWhole, 10, 135},
    {"Australia/Canberra", kWhole, 10, 133},
    {"Australia/Melbourne", kWhole, 10, 133},
    {"Australia/Sydney", kWhole, 10, 133},
    {"Australia/Perth", kWhole, 8, 119},
    {"AUS Eastern", kWhole, 10, 133},
    {"Adelaide", kWhole, 570, 131},
    {"Darwin", kWhole, 570, 129},
    {"Brisbane", kWhole, 10, 135},
    {"Canberra", kWhole, 10, 133},
    {"Melbourne", kWhole, 10, 133},
    {"Sydney", kWhole, 10, 133},
    {"Perth", kWhole, 8, 119},
    {"Canberra, Melbourne, Sydney", kWhole, 10, 133},
    {"Arab Standard Time", kWhole, 3, 79},
    {"Arabian Standard Time", kWhole, 4, 87},
    {"Abu Dhabi, Muscat", kWhole, 4, 87},
    {"Arabian", kWhole, 4, 87},
    {"Arab/E. Africa/Russian", kWhole, 3, 79},
    {"West Asia/Ekaterinburg", kWhole, 5, 95},
    {"Mauritius Standard Time", kWhole, 4, kKeep},  // no row of its own
    {"Asia/Dubai", kWhole, 4, 87},
    {"Asia/Kuwait", kWhole, 3, 79},
    {"Asia/Riyadh", kWhole, 3, 79},
    {"Asia/Muscat", kWhole, 4, 87},
    {"Asia/Shanghai", kWhole, 8, 113},
    {"Asia/Hong_Kong", kWhole, 8, 113},
    {"Asia/Taipei", kWhole, 8, 117},
    {"Asia/Seoul", kWhole, 9, 123},
    {"Asia/Singapore", kWhole, 8, 115},
    {"Asia/Kuala_Lumpur", kWhole, 8, 115},
    {"Asia/Bangkok", kWhole, 7, 109},
    {"Asia/Ho_Chi_Minh", kWhole, 7, 109},
    {"Asia/Yangon", kWhole, 390, 107},
    {"Asia/Hanoi", kWhole, 7, 109},
    {"Asia/Phnom_Penh", kWhole, 7, 109},
    {"Asia/Krasnoyarsk", kWhole, 7, 111},
    {"Asia/Chongqing", kWhole, 8, 113},
    {"Asia/Jakarta", kWhole, 7, 109},
    {"Asia/Hanoi", kWhole, 7, 109},
    {"Asia/Tokyo", kWhole, 9, 125},
    {"Asia/Calcutta", kWhole, 330, 97},
    {"Asia/Kolkata", kWhole, 330, 97},
    {"Asia/Jerusalem", kWhole, 2, 73},
    {"Africa/Johannesburg", kWhole, 2, 75},
    {"Africa/Cairo", kWhole, 2, 67},
    {"Africa/Ceuta", kWhole, 1, 59},
    {"Egypt Standard Time", kWhole, 2, 67},
    {"Africa/Nairobi", kWhole, 3, 81},
    {"W. Central Africa Time", kWhole, 1, 63},
    {"SE Asia Standard Time", kWhole, 7, 109},
    {"S.E. Asia Standard Time", kWhole, 7, 109},
    {"China Standard Time", kWhole, 8, 113},
    {"China", kWhole, 8, 113},
    {"China/", kFirst, 8, kKeep},
};
static_assert(sizeof(kZoneKeys) / sizeof(kZoneKeys[0]) == 194, "194 zone keys");

const int kHoursLimit = 13;  // a smaller offset is in hours

bool KeyMatches(const ZoneKey &k, const char *text) {
    switch (k.match) {
        case kWhole: return strcasecmp(text, k.key) == 0;
        case kFirst: return strncasecmp(text, k.key, strlen(k.key)) == 0;
        case kContained: return com_stristr(text, k.key, 0) != nullptr;
    }
    return false;
}

// "GMT+0100", "GMT -0330", "GMT+5", "GMT" (text after "GMT"): minutes east.
int GmtOffsetMinutes(const char *rest) {
    while (*rest == ' ' || *rest == '\t') ++rest;
    char num[16];
    size_t n = strcspn(rest, " ");
    com_strncpy(num, rest, n < 9 ? n : 9);
    // "-05:00)" of a display name reads as hours and minutes too.
    for (char *c = num; *c; ++c)
        if (*c == ':') *c = '.';
    if (!num[0]) strcpy(num, "00.00");
    if (!strchr(num, '.')) {
        if (strlen(num) < 4) strcat(num, "00");
        size_t len = strlen(num);
        memmove(num + len - 1, num + len - 2, 3);
        num[len - 2] = '.';
    }
    int sign = 1;
    const char *digits = num;
    if (*digits == '+' || *digits == '-') sign = *digits++ == '-' ? -1 : 1;
    return sign * (atoi(digits) * 60 + atoi(strchr(digits, '.') + 1));
}

// A text through every key of the table.
int LookUpZoneName(const char *text, int *position) {
    int offset = -1, pos = -1;
    bool known = false;
    bool inMinutes = false;  // offsets from the keys may be hours, see kHoursLimit
    if (!text) text = "";
    for (const ZoneKey &k : kZoneKeys) {
        if (!KeyMatches(k, text)) continue;
        offset = k.offset;
        known = true;
        if (k.position != kKeep) pos = k.position;
    }
    const char *gmt = strncasecmp(text, "(GMT", 4) == 0 ? text + 1 : text;
    if (strncasecmp(gmt, "GMT", 3) == 0) {
        offset = GmtOffsetMinutes(gmt + 3);
        known = inMinutes = true;  // already minutes: "+0010" is ten minutes
    }
    if (strncasecmp(text, "/ORACLE/OCAL/", 13) == 0 && strlen(text) >= 16) {
        offset = -atoi(text + 16);  // "/ORACLE/OCAL/EST5EDT": -5 hours
        known = true;
        inMinutes = false;
    }
    *position = pos;
    if (!known) return -1;
    if (!inMinutes && abs(offset) < kHoursLimit) offset *= 60;
    return offset;
}

// A calendar names the same few zones in every entry, and each lookup runs
// through the whole table, so the names mapped last are remembered (names
// longer than kRememberedNameLen are looked up each time).
constexpr size_t kRememberedNameLen = 64;
struct MappedName {
    char text[kRememberedNameLen];
    int offset, position;
};
constexpr int kRememberedNames = 4;
thread_local MappedName tMapped[kRememberedNames];
thread_local int tMappedCount, tNextMapped;

}  // namespace

int MapTimeZoneName(const char *text, int *position) {
    if (!text) text = "";
    int unused;
    if (!position) position = &unused;
    size_t len = strnlen(text, kRememberedNameLen);
    for (int i = 0; i < tMappedCount; i++) {
        if (len == kRememberedNameLen || strcmp(tMapped[i].text, text) != 0) continue;
        *position = tMapped[i].position;
        return tMapped[i].offset;
    }
    int offset = LookUpZoneName(text, position);
    if (len < kRememberedNameLen) {
        MappedName &m = tMapped[tNextMapped];
        memcpy(m.text, text, len + 1);
        m.offset = offset;
        m.position = *position;
        tNextMapped = (tNextMapped + 1) % kRememberedNames;
        if (tMappedCount < kRememberedNames) tMappedCount++;
    }
    return offset;
}

int NormalizeZoneName(char *text, size_t capacity) {
    if (!text || capacity == 0) return 0;
    char copy[BV_VTZ_NAME_LEN + 8];
    if (strncmp(text, "(GMT", 4) == 0) snprintf(copy, sizeof(copy), "(UTC%s", text + 4);
    else com_strncpy(copy, text, sizeof(copy) - 1);
    for (int p = 0; p < BV_ZONE_STRINGS && gZoneTable[p][0]; ++p) {
        const char *display = gZoneTable[p];
        if (strncmp(display, "(UTC", 4) != 0) continue;
        const char *place = strchr(display, ' ');
        bool same = strcmp(display, copy) == 0 || (place && strncasecmp(copy, place + 1, strlen(place + 1)) == 0);
        if (!same) continue;
        com_strncpy(text, gZoneTable[p - 1], capacity - 1);
        return 1;
    }
    return 0;
}
