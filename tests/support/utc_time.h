// A UTC time of day as the records hold it.
#pragma once

#include <stdint.h>
#include "platform/platform.h"

namespace bvtest {

inline FILETIME UtcTime(int year, int month, int day, int hour, int minute) {
    SYSTEMTIME parts{};
    parts.wYear = (uint16_t)year;
    parts.wMonth = (uint16_t)month;
    parts.wDay = (uint16_t)day;
    parts.wHour = (uint16_t)hour;
    parts.wMinute = (uint16_t)minute;
    FILETIME time{};
    plat_SystemTimeToFileTime(&parts, &time);
    return time;
}

}  // namespace bvtest
