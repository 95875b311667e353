// The DBX file's own message index: a tree of nodes whose values point to
// message-info objects, each of which names the first block of its message
// and the message's flags. A message the index lists is a message whatever
// its first bytes look like, and its read state is the one Outlook Express
// showed. A file whose index is damaged or missing still has the scan.
#include <string.h>
#include "mailstore/dbx_scan.h"

namespace {

constexpr uint32_t kIndexRootAt = 0xE4;
constexpr uint32_t kItemCountAt = 0xC4;
constexpr unsigned char kMessageStoreSignature[4] = {0xCF, 0xAD, 0x12, 0xFE};
constexpr size_t kNodeHeaderLen = 24;
constexpr size_t kNodeEntryLen = 12;
constexpr int kMaxNodeEntries = 255;  // the entry count is one byte
constexpr int kMaxTreeDepth = 32;      // far deeper than any file of 2 GB needs
constexpr size_t kMaxInfoValues = 255;  // the value count is one byte
constexpr unsigned char kInfoFlags = 0x01;
constexpr unsigned char kInfoFirstBlock = 0x04;
constexpr unsigned char kInfoDirect = 0x80;  // value held in the entry itself
constexpr uint32_t kFlagRead = 0x80;

struct IndexWalk {
    const DbxSource *source;
    uint64_t nodesLeft;
};

// One value of a message-info object; false when it is not there.
bool InfoValue(const IndexWalk *walk, uint32_t infoAt, const unsigned char *values, size_t count,
               unsigned char type, uint32_t *out) {
    for (size_t i = 0; i < count; i++) {
        const unsigned char *v = values + 4 * i;
        if ((v[0] & 0x7F) != type) continue;
        uint32_t value = DbxLe32(v) >> 8;
        if (v[0] & kInfoDirect) {
            *out = value;
            return true;
        }
        unsigned char data[4];
        uint64_t at = (uint64_t)infoAt + 12 + 4 * count + value;
        if (DbxReadAt(walk->source, at, data, 4) != 4) return false;
        *out = DbxLe32(data);
        return true;
    }
    return false;
}

void MarkMessage(const IndexWalk *walk, uint32_t infoAt) {
    unsigned char head[12];
    if (DbxReadAt(walk->source, infoAt, head, sizeof(head)) != sizeof(head) || DbxLe32(head) != infoAt) return;
    size_t count = head[10];
    unsigned char values[4 * kMaxInfoValues];
    if (DbxReadAt(walk->source, (uint64_t)infoAt + 12, values, 4 * count) != 4 * count) return;
    uint32_t firstBlock = 0, flags = 0;
    if (!InfoValue(walk, infoAt, values, count, kInfoFirstBlock, &firstBlock)) return;
    int entry = DbxFindEntryAt(firstBlock);
    if (entry < 0 || gSegmentTable[entry].selfOffset != firstBlock) return;
    gSegmentTable[entry].flags |= DBX_INDEXED;
    if (InfoValue(walk, infoAt, values, count, kInfoFlags, &flags) && !(flags & kFlagRead))
        gSegmentTable[entry].flags |= DBX_UNREAD;
}

void WalkNode(IndexWalk *walk, uint32_t nodeAt, int depth) {
    if (nodeAt == 0 || depth > kMaxTreeDepth || walk->nodesLeft == 0) return;
    walk->nodesLeft--;
    unsigned char node[kNodeHeaderLen + kNodeEntryLen * kMaxNodeEntries];
    if (DbxReadAt(walk->source, nodeAt, node, kNodeHeaderLen) != kNodeHeaderLen || DbxLe32(node) != nodeAt) return;
    size_t entries = node[17];
    size_t len = kNodeEntryLen * entries;
    if (DbxReadAt(walk->source, (uint64_t)nodeAt + kNodeHeaderLen, node + kNodeHeaderLen, len) != len) return;
    WalkNode(walk, DbxLe32(node + 8), depth + 1);  // values before the first entry
    for (size_t i = 0; i < entries; i++) {
        const unsigned char *e = node + kNodeHeaderLen + kNodeEntryLen * i;
        MarkMessage(walk, DbxLe32(e));
        WalkNode(walk, DbxLe32(e + 4), depth + 1);
    }
}

}  // namespace

extern "C" void DbxMarkIndexedMessages(const DbxSource *source) {
    unsigned char head[kIndexRootAt + 4];
    if (gSegmentCount == 0 || DbxReadAt(source, 0, head, sizeof(head)) != sizeof(head)) return;
    if (memcmp(head, kMessageStoreSignature, sizeof(kMessageStoreSignature)) != 0) return;
    if (DbxLe32(head + kItemCountAt) == 0) return;
    // A tree has fewer nodes than the file has blocks; more visits mean a
    // circle, and end the walk.
    uint64_t maxNodes = source->size / kNodeHeaderLen + 1;
    if (maxNodes > (uint64_t)gSegmentCount * 2 + 64) maxNodes = (uint64_t)gSegmentCount * 2 + 64;
    IndexWalk walk = {source, maxNodes};
    WalkNode(&walk, DbxLe32(head + kIndexRootAt), 0);
}
