// Shared set-up of the calendar time harnesses: the input as a zero-terminated
// text and a record whose start the first input bytes choose.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "calread/cal_time.h"

namespace caltimefuzz {

const size_t kHeader = 4;  // bytes that choose the start time and the machine biases

// Start between 1990 and 2058; the session biases between -14 and +14 hours.
inline void Prepare(const uint8_t *data, mdat *rec) {
    memset(rec, 0, sizeof(*rec));
    uint32_t minutes = (uint32_t)data[0] << 16 | (uint32_t)data[1] << 8 | data[2];
    rec->startTime = com_Create_FileTime(1, 1, 1990, 0, 0, 0);
    com_OffsetFileTimeVal(&rec->startTime, (int)(minutes * 2));
    rec->endTime = rec->startTime;
    com_OffsetFileTimeVal(&rec->endTime, 90);
    gUtcBias = ((int)data[3] - 128) * 15 % 840;
    gDstOffset = data[3] & 1 ? -60 : 0;
}

inline std::string Text(const uint8_t *data, size_t size) {
    return std::string((const char *)data + kHeader, size - kHeader).c_str();
}

}  // namespace caltimefuzz
