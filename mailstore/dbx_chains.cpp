// DbxResolveChains: which of the headers the scan found are real blocks,
// which chains of blocks are messages, and where each one starts.
//
// The scan takes any 16 bytes of the right shape for a header, so an
// attachment can hold bytes that look like one. Real blocks never overlap:
// once a block belongs to a message chain, every header within one block
// length of it is not a block. Chains are therefore claimed in the order of
// trust: the messages the file's index lists, then chain heads (blocks that
// no next link leads to) whose own-offset field matches their place, then
// the other heads, and only then blocks that a link leads to. A head starts
// a message when its data begins with a start prefix or with any header
// field; a block that a link leads to only with a start prefix, and only
// when no chain claimed it first, so that a continuation stored before its
// own start block does not cut that message short.
#include <string.h>
#include "mailstore/dbx_scan.h"

namespace {

bool Consistent(const SegmentEntry &e) { return e.selfOffset == e.fileOffset; }

bool Free(const SegmentEntry &e) { return !(e.flags & (DBX_USED | DBX_NOT_A_BLOCK)); }

// Index of the first entry at or after fileOffset.
int LowerBound(uint64_t fileOffset) {
    int lo = 0, hi = gSegmentCount;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (gSegmentTable[mid].fileOffset < fileOffset) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

// The block joins a chain; headers that overlap it are not blocks.
void Claim(int index) {
    SegmentEntry *table = gSegmentTable;
    uint32_t at = table[index].fileOffset;
    table[index].flags |= DBX_USED;
    int from = LowerBound(at > DBX_BLOCK_LEN - 1 ? (uint64_t)at - (DBX_BLOCK_LEN - 1) : 0);
    for (int j = from; j < gSegmentCount && table[j].fileOffset < (uint64_t)at + DBX_BLOCK_LEN; j++) {
        if (j != index && !(table[j].flags & DBX_USED)) table[j].flags |= DBX_NOT_A_BLOCK;
    }
}

// Follows the chain from `start`, claiming each block, and marks where and
// why it ends.
void ClaimChain(int start) {
    SegmentEntry *table = gSegmentTable;
    table[start].isStart = 1;
    Claim(start);
    for (int current = start; table[current].nextOffset != 0;) {
        int next = DbxFindLinkTarget(current);
        if (next < 0 || (table[next].flags & DBX_NOT_A_BLOCK)) {
            table[current].flags |= DBX_STOP_MISSING;
            return;
        }
        if (table[next].flags & DBX_USED) {
            table[current].flags |= DBX_STOP_DUPLICATE;
            return;
        }
        Claim(next);
        current = next;
    }
}

// Heads are the blocks that no link from a block still standing leads to.
void MarkLinkTargets() {
    for (int i = 0; i < gSegmentCount; i++) gSegmentTable[i].flags &= (uint16_t)~DBX_POINTED_TO;
    for (int i = 0; i < gSegmentCount; i++) {
        if (gSegmentTable[i].flags & DBX_NOT_A_BLOCK) continue;
        int target = DbxFindLinkTarget(i);
        if (target >= 0 && target != i) gSegmentTable[target].flags |= DBX_POINTED_TO;
    }
}

enum StartRule { INDEXED, HEAD_CONSISTENT, HEAD_OTHER, LINKED_CONSISTENT, LINKED_OTHER };

bool Qualifies(const SegmentEntry &e, StartRule rule) {
    bool head = !(e.flags & DBX_POINTED_TO);
    bool headStart = head && (e.flags & (DBX_PREFIX_START | DBX_HEADER_FIELD));
    bool linkedStart = !head && (e.flags & DBX_PREFIX_START);
    switch (rule) {
        case INDEXED: return e.flags & DBX_INDEXED;
        case HEAD_CONSISTENT: return headStart && Consistent(e);
        case HEAD_OTHER: return headStart && !Consistent(e);
        case LINKED_CONSISTENT: return linkedStart && Consistent(e);
        case LINKED_OTHER: return linkedStart && !Consistent(e);
    }
    return false;
}

void ClaimStarts(StartRule rule) {
    for (int i = 0; i < gSegmentCount; i++) {
        if (Free(gSegmentTable[i]) && Qualifies(gSegmentTable[i], rule)) ClaimChain(i);
    }
}

}  // namespace

extern "C" int DbxFindEntryAt(uint32_t fileOffset) {
    int i = LowerBound(fileOffset);
    return i < gSegmentCount && gSegmentTable[i].fileOffset == fileOffset ? i : -1;
}

// Only the header at the linked offset can be the linked block (or, in a
// file whose every offset is shifted by the same distance, the header that
// distance away): searching the whole table for a matching own-offset field
// would let a header forged inside an attachment take the chain over.
extern "C" int DbxFindLinkTarget(int from) {
    const SegmentEntry &e = gSegmentTable[from];
    uint32_t target = e.nextOffset;
    if (target == 0) return -1;
    int i = DbxFindEntryAt(target);
    if (i >= 0 && gSegmentTable[i].selfOffset == target) return i;
    int64_t shifted = (int64_t)target + ((int64_t)e.fileOffset - (int64_t)e.selfOffset);
    if (shifted == target || shifted < 0 || shifted > (int64_t)UINT32_MAX) return -1;
    i = DbxFindEntryAt((uint32_t)shifted);
    return i >= 0 && gSegmentTable[i].selfOffset == target ? i : -1;
}

extern "C" int DbxResolveChains(void) {
    MarkLinkTargets();
    ClaimStarts(INDEXED);
    // Claiming turns forged headers into non-blocks, which can leave a real
    // block without the link that made it a non-head: heads are counted again.
    for (int round = 0; round < 2; round++) {
        ClaimStarts(HEAD_CONSISTENT);
        ClaimStarts(HEAD_OTHER);
        MarkLinkTargets();
    }
    ClaimStarts(LINKED_CONSISTENT);
    ClaimStarts(LINKED_OTHER);
    int starts = 0;
    for (int i = 0; i < gSegmentCount; i++) starts += gSegmentTable[i].isStart;
    return starts;
}
