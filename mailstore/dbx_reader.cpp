// The DBX folder reader: after ParseDBX has listed every block header and
// settled the chains, each message start is followed along its next-block
// links and its data copied into "temprfc.tmp", which then goes through the
// parser and the hand-over.
#include <stdlib.h>
#include <string.h>
#include "mailstore/dbx_scan.h"
#include "mailstore/mail_reader.h"
#include "platform/platform.h"

#define DBX_CACHE_LEN (64u * 1024u)  // bytes of the file kept around the last block read

// Block reads go through a small window of the file: a message's blocks are
// usually close together, so most links land inside the window.
typedef struct DbxBlockCache {
    FILE *file;
    unsigned char *data;
    uint64_t start;  // file offset of data[0]
    size_t len;
} DbxBlockCache;

// Copies up to one block (header and data) at `offset` into out; returns the
// bytes available there.
static size_t ReadBlockAt(DbxBlockCache *cache, uint32_t offset, unsigned char *out) {
    if (!(offset >= cache->start && offset + (uint64_t)DBX_BLOCK_LEN <= cache->start + cache->len)) {
        // Keep a quarter of the window before the block for chains that step back.
        uint64_t start = offset > DBX_CACHE_LEN / 4 ? offset - DBX_CACHE_LEN / 4 : 0;
        cache->len = 0;
        cache->start = start;
        if (fseek(cache->file, (long)start, SEEK_SET) == 0)
            cache->len = fread(cache->data, 1, DBX_CACHE_LEN, cache->file);
    }
    if (offset < cache->start || offset >= cache->start + cache->len) return 0;
    size_t avail = (size_t)(cache->start + cache->len - offset);
    if (avail > DBX_BLOCK_LEN) avail = DBX_BLOCK_LEN;
    memcpy(out, cache->data + (offset - cache->start), avail);
    return avail;
}

// Writes the data bytes of the block at the entry to out.
static void CopyBlock(DbxBlockCache *cache, const SegmentEntry *entry, FILE *out) {
    unsigned char block[DBX_BLOCK_LEN];
    size_t got = ReadBlockAt(cache, entry->fileOffset, block);
    if (got < DBX_BLOCK_HEADER_LEN) return;
    // The count may claim more than a block holds (a header accepted for its
    // zero next offset); only the block's own data is copied.
    size_t count = DbxLe32(block + 8);
    if (count > got - DBX_BLOCK_HEADER_LEN) count = got - DBX_BLOCK_HEADER_LEN;
    fwrite(block + DBX_BLOCK_HEADER_LEN, 1, count, out);
}

// Copies the message that starts at table entry `start`, block by block,
// along the chain that ParseDBX settled.
static void CopyMessage(DbxBlockCache *cache, int start, FILE *out) {
    fwrite("From -\r\n", 1, 8, out);
    int current = start;
    for (int steps = 0; steps < gSegmentCount; steps++) {
        const SegmentEntry *entry = &gSegmentTable[current];
        CopyBlock(cache, entry, out);
        if (entry->flags & DBX_STOP_MISSING) {
            com_Log("BV Warning: Missing segment!");
            return;
        }
        if (entry->flags & DBX_STOP_DUPLICATE) {
            com_Log("BV Warning: Duplicate segment found!");
            return;
        }
        if (entry->nextOffset == 0) return;
        current = DbxFindLinkTarget(current);
        if (current < 0) return;
    }
}

extern "C" int ReadDbxFolder(MailHandOver *h, const FolderRecord *folder) {
    int count = 0;
    if (ParseDBX(folder->fileName, &count, 0) != 0) return 1;
    DbxBlockCache cache = {NULL, NULL, 0, 0};
    cache.file = plat_fopen(folder->fileName, "rb");
    cache.data = (unsigned char *)malloc(DBX_CACHE_LEN);
    if (!cache.file || !cache.data) {
        if (cache.file) fclose(cache.file);
        free(cache.data);
        FreeSegmentTable();
        if (!cache.data) com_Log("BV Warning: out of memory reading %s", folder->fileName);
        return cache.data ? 1 : 0;
    }
    FILE *scratch = OpenMessageScratch(h, "temprfc.tmp");

    for (int start = 0; scratch && start < gSegmentCount; start++) {
        if (!gSegmentTable[start].isStart) continue;
        plat_ScratchRestart(scratch);
        CopyMessage(&cache, start, scratch);
        // The index's read state; a message only the scan found arrives as read.
        h->record->unread = (gSegmentTable[start].flags & DBX_UNREAD) ? 1 : 0;
        if (ParseAndHandOver(h, scratch)) break;
    }
    plat_CloseScratch(scratch);
    fclose(cache.file);
    free(cache.data);
    FreeSegmentTable();
    return 0;
}
