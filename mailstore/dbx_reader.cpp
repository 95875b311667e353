// The DBX folder reader: after ParseDBX has listed every block header, each
// message start is followed along its next-block links and its data copied
// into "temprfc.tmp", which then goes through the parser and the hand-over.
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <utility>
#include <vector>
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

static uint32_t Le32(const unsigned char *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Writes the data bytes of the block at the entry to out; returns the block's
// next offset (0 when the block could not be read).
static uint32_t CopyBlock(DbxBlockCache *cache, const SegmentEntry *entry, FILE *out) {
    unsigned char block[DBX_BLOCK_LEN];
    size_t got = ReadBlockAt(cache, entry->fileOffset, block);
    if (got < DBX_BLOCK_HEADER_LEN) return 0;
    // The count may claim more than a block holds (a header accepted for its
    // zero next offset); only the block's own data is copied.
    size_t count = Le32(block + 8);
    if (count > got - DBX_BLOCK_HEADER_LEN) count = got - DBX_BLOCK_HEADER_LEN;
    fwrite(block + DBX_BLOCK_HEADER_LEN, 1, count, out);
    return Le32(block + 12);
}

// Chain links by selfOffset: (selfOffset, table index) pairs in order, so the
// first pair of a key is the first entry of the table with that selfOffset.
typedef std::vector<std::pair<uint32_t, int>> SegmentIndex;

static void BuildSegmentIndex(SegmentIndex *index) {
    index->clear();
    index->reserve((size_t)gSegmentCount);
    for (int i = 0; i < gSegmentCount; i++) index->emplace_back(gSegmentTable[i]->selfOffset, i);
    std::sort(index->begin(), index->end());
}

static int FindFirstSegment(const SegmentIndex *index, uint32_t selfOffset) {
    auto it = std::lower_bound(index->begin(), index->end(), std::make_pair(selfOffset, -1));
    if (it == index->end() || it->first != selfOffset) return -1;
    return it->second;
}

static int NextMessageStart(int from) {
    for (int i = from; i < gSegmentCount; i++) {
        if (!gSegmentTable[i]->used && gSegmentTable[i]->isStart) return i;
    }
    return -1;
}

// Copies the message that starts at table entry `start`, block by block.
static void CopyMessage(DbxBlockCache *cache, const SegmentIndex *index, int start, FILE *out) {
    fwrite("From -\r\n", 1, 8, out);
    uint32_t next = CopyBlock(cache, gSegmentTable[start], out);
    while (next != 0) {
        int link = FindFirstSegment(index, next);
        if (link < 0) {
            com_Log("BV Warning: Missing segment!");
            return;
        }
        SegmentEntry *entry = gSegmentTable[link];
        if (entry->used) {
            com_Log("BV Warning: Duplicate segment found!");
            return;
        }
        entry->used = 1;
        next = CopyBlock(cache, entry, out);
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
    SegmentIndex index;
    BuildSegmentIndex(&index);
    FILE *scratch = OpenMessageScratch(h, "temprfc.tmp");

    for (int current = 0; scratch;) {
        int start = NextMessageStart(current);
        if (start < 0) break;
        plat_ScratchRestart(scratch);
        CopyMessage(&cache, &index, start, scratch);
        current = start + 1;
        if (ParseAndHandOver(h, scratch)) break;
    }
    plat_CloseScratch(scratch);
    fclose(cache.file);
    free(cache.data);
    FreeSegmentTable();
    return 0;
}
