// The DBX block scan: every message body of a DBX file is a chain of blocks,
// each behind a 16-byte header. The scan finds the headers by their shape
// alone, so that messages the file's index lost are still found; the index,
// where it can be read, adds the messages it lists and their read state.
// Which headers are real blocks and where messages start is then settled
// over the whole table (dbx_chains.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "module/session.h"
#include "platform/platform.h"

#define DBX_BLOCK_HEADER_LEN 16
#define DBX_BLOCK_DATA_LEN 512  // block size field of a body block
#define DBX_BLOCK_LEN (DBX_BLOCK_HEADER_LEN + DBX_BLOCK_DATA_LEN)
#define DBX_SCAN_WINDOW 32  // header plus the first data bytes: the acceptance test

// What the scan and the chain resolution learn about one header.
enum DbxSegmentFlag {
    DBX_PREFIX_START = 1 << 0,   // data begins with one of the message-start prefixes
    DBX_HEADER_FIELD = 1 << 1,   // data, after blank lines, begins with a "Name:" header field
    DBX_INDEXED = 1 << 2,        // first block of a message listed by the file's index
    DBX_UNREAD = 1 << 3,         // that message is unread by the index's flags
    DBX_POINTED_TO = 1 << 4,     // another header's next link leads here
    DBX_NOT_A_BLOCK = 1 << 5,    // overlaps a block of a message chain
    DBX_USED = 1 << 6,           // belongs to a message chain
    DBX_STOP_MISSING = 1 << 7,   // the chain ends here: its next block is not in the table
    DBX_STOP_DUPLICATE = 1 << 8, // the chain ends here: its next block is another chain's
};

// One block header found by the scan. The table is one array of these, in
// file order: 16 bytes per header, so a 2 GB file of about four million
// blocks needs 64 MB.
typedef struct SegmentEntry {
    uint32_t fileOffset;  // where the header was found
    uint32_t selfOffset;  // the header's own-offset field, the target of next links
    uint32_t nextOffset;  // the header's next-block field
    uint16_t isStart;     // 1: a message starts at this block
    uint16_t flags;       // DbxSegmentFlag bits
} SegmentEntry;

#ifdef __cplusplus
static_assert(sizeof(SegmentEntry) == 16, "SegmentEntry is 16 bytes");
extern "C" {
#endif

// Scans `path` for block headers into gSegmentTable and settles the message
// starts; *countOut receives their number. With countOnly the table is left
// empty. 0, or 1 when the file cannot be opened.
int ParseDBX(const char *path, int *countOut, int countOnly);
// The same over bytes already in memory, for the scan's own tests and fuzzing.
int ParseDBXBuffer(const unsigned char *data, size_t size, int *countOut, int countOnly);

// ---- pieces shared by the scan, the index reader, the chains and the reader ----

#define DBX_WINDOW_LEN (64u * 1024u)  // bytes of the file kept around the last read

// The part of the file read last. The blocks of a message and the nodes of
// the index usually lie close together, so most reads land inside it and
// cost no system call.
typedef struct DbxWindow {
    unsigned char *data;  // DBX_WINDOW_LEN bytes
    uint64_t start;       // file offset of data[0]
    size_t len;
} DbxWindow;

// Bytes of the DBX file, from memory or from a file opened by
// DbxOpenSource (read at offsets: the window is its only buffer).
typedef struct DbxSource {
    PlatFile *file;
    const unsigned char *data;
    uint64_t size;
    DbxWindow *window;
} DbxSource;
// 1 when the file is open with its window; else 0 and nothing to close.
int DbxOpenSource(DbxSource *source, const char *path);
void DbxCloseSource(DbxSource *source);
// Copies up to `len` bytes at `offset`; returns how many were there.
size_t DbxReadAt(const DbxSource *source, uint64_t offset, unsigned char *out, size_t len);
uint32_t DbxLe32(const unsigned char *p);

// 1 when `data` (at least 16 bytes) begins with a message-start prefix.
int DbxDataStartsMessage(const unsigned char *data);
// 1 when the first non-blank line of data[0..len) is an RFC 5322 header
// field: a name of printable characters other than ':' that begins with a
// letter, then ':', and the rest of the line text.
int DbxDataStartsWithHeaderField(const unsigned char *data, size_t len);

// Table index of the header at fileOffset, or -1.
int DbxFindEntryAt(uint32_t fileOffset);
// The block that the next link of entry `from` leads to, or -1: the header at
// that offset whose own-offset field names it (also when the whole file is
// shifted by the distance between `from`'s place and its own-offset field).
int DbxFindLinkTarget(int from);

// Marks the first blocks of the messages that the index lists (dbx_index.cpp).
void DbxMarkIndexedMessages(const DbxSource *source);
// Settles real blocks, chains and message starts over the whole table;
// returns the number of message starts (dbx_chains.cpp).
int DbxResolveChains(void);

#ifdef __cplusplus
}
#endif
