// The DBX block scan: every message body of a DBX file is a chain of blocks,
// each behind a 16-byte header. The scan finds the headers by their shape
// alone, without the file's own index, so that messages the index lost are
// still found.
#pragma once

#include <stdint.h>
#include "module/session.h"

#define DBX_BLOCK_HEADER_LEN 16
#define DBX_BLOCK_DATA_LEN 512  // block size field of a body block
#define DBX_BLOCK_LEN (DBX_BLOCK_HEADER_LEN + DBX_BLOCK_DATA_LEN)
#define DBX_SCAN_WINDOW 32          // header plus the first data bytes
#define DBX_MAX_SEGMENTS 600000     // entries of gSegmentTable

// One block header found by the scan (one allocation each, owned by
// gSegmentTable).
typedef struct SegmentEntry {
    uint32_t fileOffset;  // where the header was found
    uint16_t isStart;     // the data begins like a message header
    uint16_t used;        // copied as the continuation of a message
    uint32_t selfOffset;  // the header's own-offset field, the target of next links
} SegmentEntry;

#ifdef __cplusplus
static_assert(sizeof(SegmentEntry) == 12, "SegmentEntry is 12 bytes");
extern "C" {
#endif

// Scans `path` for block headers into gSegmentTable; *countOut receives the
// number of message starts. With countOnly the table is left empty. 0, or 1
// when the file cannot be opened.
int ParseDBX(const char *path, int *countOut, int countOnly);
// The scan over bytes already in memory, for the scan's own tests and fuzzing:
// same acceptance, same limit, same table.
int ParseDBXBuffer(const unsigned char *data, size_t size, int *countOut, int countOnly);
// 1 when `data` (at least 16 bytes) begins like an RFC 822 header line.
int DbxDataStartsMessage(const unsigned char *data);

#ifdef __cplusplus
}
#endif
