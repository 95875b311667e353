// ParseDBX: finds every DBX block header by sliding a 32-byte window over
// the file one byte at a time. The file is read in large blocks; the window
// test runs over the bytes in memory.
#include <stdlib.h>
#include <string.h>
#include "mailstore/dbx_scan.h"
#include "mailstore/mailstore.h"
#include "platform/platform.h"

#define DBX_READ_CHUNK (1u << 20)  // bytes read from the file at a time

// Texts that open a message: a block whose data begins with one of them is a
// message start (compared with regard to case).
static const char *const kMessageStartPrefixes[] = {
    "From: ",   "Reply-",  "Date: ",        "Deliv",          "Status", "Return-",
    "Received: ", "from ", "Subject: ",     "Message-",       "X-",     "Path: ",
    "Sender: ", "Envelope-to: ", "Content-Type: ", "To: ",    "From ",
};

static int gSegmentCapacity;  // slots allocated in gSegmentTable

static uint32_t ReadLe32(const unsigned char *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

extern "C" int DbxDataStartsMessage(const unsigned char *data) {
    for (const char *prefix : kMessageStartPrefixes) {
        if (memcmp(data, prefix, strlen(prefix)) == 0) return 1;
    }
    return 0;
}

// Appends one entry; 0 when memory ran out.
static int AppendSegment(uint32_t fileOffset, uint32_t selfOffset, int isStart) {
    if (!gSegmentTable) gSegmentCapacity = 0;  // freed by FreeSegmentTable
    if (gSegmentCount >= gSegmentCapacity) {
        int capacity = gSegmentCapacity ? gSegmentCapacity * 2 : 4096;
        if (capacity > DBX_MAX_SEGMENTS) capacity = DBX_MAX_SEGMENTS;
        SegmentEntry **grown = (SegmentEntry **)realloc(gSegmentTable, sizeof(SegmentEntry *) * (size_t)capacity);
        if (!grown) return 0;
        gSegmentTable = grown;
        gSegmentCapacity = capacity;
    }
    SegmentEntry *entry = (SegmentEntry *)malloc(sizeof(SegmentEntry));
    if (!entry) return 0;
    entry->fileOffset = fileOffset;
    entry->selfOffset = selfOffset;
    entry->isStart = (uint16_t)isStart;
    entry->used = 0;
    gSegmentTable[gSegmentCount++] = entry;
    return 1;
}

typedef struct DbxScan {
    int countOnly;
    int accepted;  // entries taken (or counted, in counting mode)
    int starts;
    int stopped;   // the limit was reached or memory ran out
} DbxScan;

// Tests every window that starts in buf[0 .. len-32]; `base` is the file
// offset of buf[0]. The block size field (bytes 4-7 of a header) must be 512,
// so the search jumps from one 0x02 byte at offset 5 to the next.
static void ScanWindows(DbxScan *scan, const unsigned char *buf, size_t len, uint64_t base) {
    if (len < DBX_SCAN_WINDOW) return;
    const size_t last = len - DBX_SCAN_WINDOW;  // last window start
    size_t pos = 0;
    while (pos <= last && !scan->stopped) {
        const unsigned char *hit = (const unsigned char *)memchr(buf + pos + 5, 0x02, last - pos + 1);
        if (!hit) return;
        pos = (size_t)(hit - buf) - 5;
        const unsigned char *header = buf + pos;
        if (header[4] == 0 && header[6] == 0 && header[7] == 0) {
            uint32_t dataCount = ReadLe32(header + 8);
            uint32_t next = ReadLe32(header + 12);
            if (dataCount == DBX_BLOCK_DATA_LEN || next == 0) {
                if (scan->accepted >= DBX_MAX_SEGMENTS) {
                    scan->stopped = 1;
                    com_Log("BV Warning: more than %d blocks, the rest of the file is not scanned", DBX_MAX_SEGMENTS);
                    return;
                }
                int isStart = DbxDataStartsMessage(header + DBX_BLOCK_HEADER_LEN);
                if (!scan->countOnly &&
                    !AppendSegment((uint32_t)(base + pos), ReadLe32(header), isStart)) {
                    scan->stopped = 1;
                    com_Log("BV Warning: out of memory in ParseDBX");
                    return;
                }
                scan->accepted++;
                scan->starts += isStart;
            }
        }
        pos++;
    }
}

static void BeginScan(DbxScan *scan, int countOnly) {
    memset(scan, 0, sizeof(*scan));
    scan->countOnly = countOnly;
    // A new scan replaces the table of an earlier one.
    FreeSegmentTable();
}

extern "C" int ParseDBXBuffer(const unsigned char *data, size_t size, int *countOut, int countOnly) {
    DbxScan scan;
    BeginScan(&scan, countOnly);
    ScanWindows(&scan, data, size, 0);
    if (countOut) *countOut = scan.starts;
    return 0;
}

extern "C" int ParseDBX(const char *path, int *countOut, int countOnly) {
    if (countOut) *countOut = 0;
    if (gDebug) com_Log("debug: starting ParseDBX of %s", path);
    FILE *file = plat_fopen(path, "rb");
    if (!file) {
        com_Log("BV Warning: Cannot open input file");
        return 1;
    }
    DbxScan scan;
    BeginScan(&scan, countOnly);
    // Windows that start before the first byte of the file would read zeros
    // in place of the header's first bytes; a block lies inside the file, so
    // the scan starts with the first full window. The last 31 bytes of each
    // read are kept so that windows across two reads are tested too.
    unsigned char *buf = (unsigned char *)malloc(DBX_READ_CHUNK + DBX_SCAN_WINDOW);
    if (!buf) {
        fclose(file);
        com_Log("BV Warning: out of memory in ParseDBX");
        return 0;
    }
    size_t kept = 0;
    uint64_t base = 0;  // file offset of buf[0]
    for (;;) {
        size_t got = fread(buf + kept, 1, DBX_READ_CHUNK, file);
        if (got == 0) break;
        size_t len = kept + got;
        ScanWindows(&scan, buf, len, base);
        if (scan.stopped) break;
        kept = len < DBX_SCAN_WINDOW - 1 ? len : DBX_SCAN_WINDOW - 1;
        memmove(buf, buf + len - kept, kept);
        base += len - kept;
    }
    free(buf);
    fclose(file);
    if (countOut) *countOut = scan.starts;
    return 0;
}
