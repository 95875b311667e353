// libFuzzer harness: date-time property texts through ParseVcsDateTime, and
// the same bytes as a zone name through MapTimeZoneName and NormalizeZoneName.
// Checks that the zone record's name and the normalised text stay terminated.
#include "fuzz/cal_time_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < caltimefuzz::kHeader) return 0;
    static mdat rec;
    caltimefuzz::Prepare(data, &rec);
    std::string text = caltimefuzz::Text(data, size);
    memset(&gVtz, 0, sizeof(gVtz));
    if (data[0] & 1) {  // an entry with its own VTIMEZONE
        com_strncpy(gVtz.name, text.c_str() + text.size() / 2, BV_VTZ_NAME_LEN - 1);
        gVtz.stdOffset = (int)data[1] - 128;
        gVtz.dstOffset = gVtz.stdOffset + 60;
        gVtz.stdStart = com_Create_FileTime(10, 25, 1970, 3, 0, 0);
        gVtz.dstStart = com_Create_FileTime(3, 29, 1970, 2, 0, 0);
    }
    FILETIME out = rec.startTime;
    ParseVcsDateTime(text.c_str(), &out);
    if (strnlen(gVtz.name, sizeof(gVtz.name)) >= sizeof(gVtz.name)) abort();
    int position = 0;
    MapTimeZoneName(text.c_str(), &position);
    if (position < -1 || position >= BV_ZONE_STRINGS || (position >= 0 && position % 2 == 0)) abort();
    char zone[BV_VTZ_NAME_LEN];
    size_t capacity = 1 + data[2] % sizeof(zone);
    com_strncpy(zone, text.c_str(), capacity - 1);
    NormalizeZoneName(zone, capacity);
    if (strnlen(zone, capacity) >= capacity) abort();
    return 0;
}
