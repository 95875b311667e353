// ParseDBX: finds every DBX block header by sliding a 32-byte window over
// the file one byte at a time. The file is read in large blocks; the window
// test runs over the bytes in memory, with the whole block behind each
// header at hand for the message-start tests.
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

// The table grows for as long as the file has headers: a fixed cap would
// end the scan part way through a large file and lose every message after
// it without a trace. Memory stays at 16 bytes per header.
static size_t gSegmentCapacity;  // entries allocated in gSegmentTable

extern "C" uint32_t DbxLe32(const unsigned char *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

extern "C" int DbxOpenSource(DbxSource *source, const char *path) {
    *source = DbxSource{NULL, NULL, 0, NULL};
    int64_t size = 0;
    PlatFile *file = plat_OpenForReading(path, &size);
    DbxWindow *window = (DbxWindow *)calloc(1, sizeof(DbxWindow));
    unsigned char *data = (unsigned char *)malloc(DBX_WINDOW_LEN);
    if (!file || !window || !data) {
        plat_CloseFile(file);
        free(window);
        free(data);
        return 0;
    }
    window->data = data;
    *source = DbxSource{file, NULL, (uint64_t)size, window};
    return 1;
}

extern "C" void DbxCloseSource(DbxSource *source) {
    plat_CloseFile(source->file);
    if (source->window) free(source->window->data);
    free(source->window);
    *source = DbxSource{NULL, NULL, 0, NULL};
}

// Bytes read at `offset`; 0 on error.
static size_t ReadFileAt(const DbxSource *source, uint64_t offset, unsigned char *out, size_t len) {
    int64_t got = plat_ReadAt(source->file, (int64_t)offset, out, len);
    return got > 0 ? (size_t)got : 0;
}

extern "C" size_t DbxReadAt(const DbxSource *source, uint64_t offset, unsigned char *out, size_t len) {
    if (offset >= source->size) return 0;
    if (len > source->size - offset) len = (size_t)(source->size - offset);
    if (source->data) {
        memcpy(out, source->data + offset, len);
        return len;
    }
    DbxWindow *w = source->window;
    if (len > DBX_WINDOW_LEN / 2) return ReadFileAt(source, offset, out, len);  // larger than any block or node
    if (!(offset >= w->start && offset + len <= w->start + w->len)) {
        // A quarter of the window before the offset, for chains and index
        // links that step back.
        w->start = offset > DBX_WINDOW_LEN / 4 ? offset - DBX_WINDOW_LEN / 4 : 0;
        w->len = ReadFileAt(source, w->start, w->data, DBX_WINDOW_LEN);
    }
    if (offset < w->start || offset >= w->start + w->len) return 0;
    size_t avail = (size_t)(w->start + w->len - offset);
    if (len > avail) len = avail;
    memcpy(out, w->data + (offset - w->start), len);
    return len;
}

extern "C" int DbxDataStartsMessage(const unsigned char *data) {
    for (const char *prefix : kMessageStartPrefixes) {
        if (memcmp(data, prefix, strlen(prefix)) == 0) return 1;
    }
    return 0;
}

extern "C" int DbxDataStartsWithHeaderField(const unsigned char *data, size_t len) {
    size_t i = 0;
    while (i < len && (data[i] == '\r' || data[i] == '\n')) i++;
    // A field name begins with a letter; binary data that happens to hold a
    // colon is no header: the whole line must be text.
    if (i >= len || !((data[i] | 0x20) >= 'a' && (data[i] | 0x20) <= 'z')) return 0;
    while (i < len && data[i] > 32 && data[i] < 127 && data[i] != ':') i++;
    if (i >= len || data[i] != ':') return 0;
    for (; i < len && data[i] != '\n'; i++)
        if (data[i] < 32 && data[i] != '\t' && data[i] != '\r') return 0;
    return 1;
}

// Appends one entry; 0 when memory ran out.
static int AppendSegment(uint32_t fileOffset, const unsigned char *header, size_t avail) {
    if (!gSegmentTable) gSegmentCapacity = 0;  // freed by FreeSegmentTable
    if ((size_t)gSegmentCount >= gSegmentCapacity) {
        size_t capacity = gSegmentCapacity ? gSegmentCapacity + gSegmentCapacity / 2 : 4096;
        if (capacity > (size_t)INT32_MAX) capacity = (size_t)INT32_MAX;
        if (capacity <= (size_t)gSegmentCount) return 0;
        SegmentEntry *grown = (SegmentEntry *)realloc(gSegmentTable, sizeof(SegmentEntry) * capacity);
        if (!grown) return 0;
        gSegmentTable = grown;
        gSegmentCapacity = capacity;
    }
    const unsigned char *data = header + DBX_BLOCK_HEADER_LEN;
    size_t dataLen = avail - DBX_BLOCK_HEADER_LEN;
    uint32_t count = DbxLe32(header + 8);
    if (dataLen > count) dataLen = count;
    SegmentEntry *entry = &gSegmentTable[gSegmentCount++];
    entry->fileOffset = fileOffset;
    entry->selfOffset = DbxLe32(header);
    entry->nextOffset = DbxLe32(header + 12);
    entry->isStart = 0;
    entry->flags = 0;
    if (DbxDataStartsMessage(data)) entry->flags |= DBX_PREFIX_START;
    if (DbxDataStartsWithHeaderField(data, dataLen)) entry->flags |= DBX_HEADER_FIELD;
    return 1;
}

typedef struct DbxScan {
    int stopped;  // memory ran out
} DbxScan;

// Tests every window that starts in buf[0 .. scanEnd); `len` bytes are in
// buf, so each header has its block behind it where the file has one.
// `base` is the file offset of buf[0]. The block size field (bytes 4-7 of a
// header) must be 512, so the search jumps from one 0x02 byte at offset 5 to
// the next.
static void ScanWindows(DbxScan *scan, const unsigned char *buf, size_t scanEnd, size_t len, uint64_t base) {
    if (len < DBX_SCAN_WINDOW) return;
    if (scanEnd > len - DBX_SCAN_WINDOW + 1) scanEnd = len - DBX_SCAN_WINDOW + 1;
    size_t pos = 0;
    while (pos < scanEnd && !scan->stopped) {
        const unsigned char *hit = (const unsigned char *)memchr(buf + pos + 5, 0x02, scanEnd - pos);
        if (!hit) return;
        pos = (size_t)(hit - buf) - 5;
        const unsigned char *header = buf + pos;
        if (header[4] == 0 && header[6] == 0 && header[7] == 0) {
            uint32_t dataCount = DbxLe32(header + 8);
            uint32_t next = DbxLe32(header + 12);
            if (dataCount == DBX_BLOCK_DATA_LEN || next == 0) {
                size_t avail = len - pos < DBX_BLOCK_LEN ? len - pos : DBX_BLOCK_LEN;
                if (base + pos > UINT32_MAX || !AppendSegment((uint32_t)(base + pos), header, avail)) {
                    scan->stopped = 1;
                    com_Log("BV Warning: out of memory in ParseDBX");
                    return;
                }
            }
        }
        pos++;
    }
}

// Index, chains and starts over the finished table.
static int SettleTable(const DbxSource *source, int countOnly) {
    DbxMarkIndexedMessages(source);
    int starts = DbxResolveChains();
    if (countOnly) FreeSegmentTable();
    return starts;
}

extern "C" int ParseDBXBuffer(const unsigned char *data, size_t size, int *countOut, int countOnly) {
    FreeSegmentTable();  // a new scan replaces the table of an earlier one
    DbxScan scan = {0};
    ScanWindows(&scan, data, size, size, 0);
    DbxSource source = {NULL, data, size, NULL};
    int starts = SettleTable(&source, countOnly);
    if (countOut) *countOut = starts;
    return 0;
}

extern "C" int ParseDBX(const char *path, int *countOut, int countOnly) {
    if (countOut) *countOut = 0;
    if (gDebug) com_Log("debug: starting ParseDBX of %s", path);
    DbxSource source;
    if (!DbxOpenSource(&source, path)) {
        com_Log("BV Warning: Cannot open input file");
        return 1;
    }
    FreeSegmentTable();
    DbxScan scan = {0};
    // Windows that start before the first byte of the file would read zeros
    // in place of the header's first bytes; a block lies inside the file, so
    // the scan starts with the first full window. The last block's worth of
    // each read is kept for the next, so that every header is tested with
    // its block in memory.
    const size_t keep = DBX_BLOCK_LEN - 1;
    unsigned char *buf = (unsigned char *)malloc(DBX_READ_CHUNK + keep);
    if (!buf) {
        DbxCloseSource(&source);
        com_Log("BV Warning: out of memory in ParseDBX");
        return 0;
    }
    size_t kept = 0;
    uint64_t base = 0;  // file offset of buf[0]
    for (;;) {
        size_t got = ReadFileAt(&source, base + kept, buf + kept, DBX_READ_CHUNK);
        size_t len = kept + got;
        // Until the end of the file, windows in the kept tail wait for the next read.
        size_t scanEnd = got == 0 ? len : (len > keep ? len - keep : 0);
        ScanWindows(&scan, buf, scanEnd, len, base);
        if (got == 0 || scan.stopped) break;
        size_t drop = scanEnd;
        memmove(buf, buf + drop, len - drop);
        kept = len - drop;
        base += drop;
    }
    free(buf);
    int starts = SettleTable(&source, countOnly);
    DbxCloseSource(&source);
    if (countOut) *countOut = starts;
    return 0;
}
