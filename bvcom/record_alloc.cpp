// Sub-records of the item record and their part files.
//
// Part files: part i of a top-level record is "PRT%03d%02d.TMP" (msgNumber,
// i) in the work directory. An embedded record (the subMsg of part p of a
// record whose stem is S) has the stem S + "%02d" (p) + "E", so part i of the
// message embedded at part 2 of message 7 is "PRT00702E00.TMP", and a level
// deeper "PRT00702E01E00.TMP". Top-level names never hold an 'E', so no two
// live records share a file.
#include <mutex>
#include <stdlib.h>
#include <string.h>
#include <unordered_map>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_STEM_LEN 256  // "PRT" + number + one "%02dE" per nesting level

struct EmbeddedLink {
    const mdat *parent;
    int partIndex;
};

// Every embedded record the library handed out, with the part it hangs from.
static std::mutex gEmbeddedLock;
static std::unordered_map<const mdat *, EmbeddedLink> gEmbedded;

// One past the highest recipient and exception slot the library filled in
// each record, so freeing walks those slots and not all 5,512: records are
// freed once or twice per item. A record without an entry holds none.
struct SlotMarks {
    int recips, exceptions;
};
static std::mutex gMarksLock;
static std::unordered_map<const mdat *, SlotMarks> gSlotMarks;

static void MarkSlot(const mdat *rec, int SlotMarks::*which, int index) {
    std::lock_guard<std::mutex> lock(gMarksLock);
    SlotMarks &marks = gSlotMarks[rec];
    if (marks.*which <= index) marks.*which = index + 1;
}

static SlotMarks TakeMarks(const mdat *rec) {
    std::lock_guard<std::mutex> lock(gMarksLock);
    auto it = gSlotMarks.find(rec);
    if (it == gSlotMarks.end()) return SlotMarks{0, 0};
    SlotMarks marks = it->second;
    gSlotMarks.erase(it);
    return marks;
}

static int PartFileStem(const mdat *rec, char *out, size_t outCap, int depth) {
    EmbeddedLink link{nullptr, 0};
    {
        std::lock_guard<std::mutex> lock(gEmbeddedLock);
        auto it = gEmbedded.find(rec);
        if (it != gEmbedded.end()) link = it->second;
    }
    if (!link.parent || depth > 64) return snprintf(out, outCap, "PRT%03d", rec->msgNumber);
    int n = PartFileStem(link.parent, out, outCap, depth + 1);
    if (n < 0 || (size_t)n >= outCap) return n;
    int m = snprintf(out + n, outCap - (size_t)n, "%02dE", link.partIndex);
    return m < 0 ? m : n + m;
}

static void FreeRecordContents(mdat *rec, const char *workDir);

static void FreePart(mdat *rec, int index, const char *workDir) {
    mpart *part = rec->parts[index];
    if (!part) return;
    if (part->subMsg) {
        FreeRecordContents(part->subMsg, workDir);
        {
            std::lock_guard<std::mutex> lock(gEmbeddedLock);
            gEmbedded.erase(part->subMsg);
        }
        bvcom_DropItemExtras(part->subMsg);
        free(part->subMsg);
    }
    free(part);
    rec->parts[index] = nullptr;
}

static void DeletePartFiles(mdat *rec, const char *workDir) {
    if (!workDir) return;
    for (int i = 0; i < BV_MAX_PARTS; ++i) {
        if (!rec->parts[i] && i >= rec->partCount) continue;
        char path[BVCOM_PATH_LEN];
        com_PartFileName(workDir, rec, i, path, sizeof(path));
        if (path[0]) plat_DeleteFile(path);
    }
}

// Frees every recipient and exception slot the library filled; a sub-record
// allocated but never counted is still owned here.
static void FreeRecipsAndExceptions(mdat *rec) {
    SlotMarks marks = TakeMarks(rec);
    for (int i = 0; i < marks.recips && i < BV_MAX_RECIPS; ++i) {
        free(rec->recips[i]);
        rec->recips[i] = nullptr;
    }
    for (int i = 0; i < marks.exceptions && i < BV_MAX_EXCEPTIONS; ++i) {
        free(rec->exceptions[i]);
        rec->exceptions[i] = nullptr;
    }
    rec->recipCount = 0;
    rec->exceptionCount = 0;
}

// Frees every sub-record and deletes the part files (when workDir is given),
// embedded records depth first. Slots beyond the counts are checked too.
static void FreeRecordContents(mdat *rec, const char *workDir) {
    DeletePartFiles(rec, workDir);
    for (int i = 0; i < BV_MAX_PARTS; ++i) FreePart(rec, i, workDir);
    FreeRecipsAndExceptions(rec);
    rec->partCount = 0;
}

// Every item field empty or zero; groupFolder (set once per folder) kept;
// priority and importance at their neutral value.
static void ClearItemFields(mdat *rec) {
    char groupFolder[BV_NAME_LEN];
    size_t len = strnlen(rec->groupFolder, BV_NAME_LEN - 1);
    memcpy(groupFolder, rec->groupFolder, len);
    memset(rec, 0, sizeof(*rec));
    memcpy(rec->groupFolder, groupFolder, len);  // the text only: nothing behind its end
    rec->priority = 1;
    rec->importance = 1;
}

template <typename T>
static int AllocSlot(T **slots, int32_t count, int limit) {
    if (count < 0 || count >= limit) return 0;
    if (!slots[count]) {
        slots[count] = (T *)calloc(1, sizeof(T));
        if (!slots[count]) return 0;
    } else {
        memset(slots[count], 0, sizeof(T));
    }
    return 1;
}

void bvcom_FreePartTree(mdat *rec, int index, const char *workDir) {
    if (!rec || index < 0 || index >= BV_MAX_PARTS) return;
    if (workDir) {
        char path[BVCOM_PATH_LEN];
        com_PartFileName(workDir, rec, index, path, sizeof(path));
        if (path[0]) plat_DeleteFile(path);
    }
    FreePart(rec, index, workDir);
}

void bvcom_RelinkEmbedded(const mdat *sub, const mdat *parent, int partIndex) {
    std::lock_guard<std::mutex> lock(gEmbeddedLock);
    auto it = gEmbedded.find(sub);
    if (it != gEmbedded.end()) it->second = EmbeddedLink{parent, partIndex};
}

extern "C" {

BVCOM_API int com_AllocPart(mdat *rec) {
    if (!rec) return 0;
    int32_t index = rec->partCount;
    if (index >= 0 && index < BV_MAX_PARTS && rec->parts[index]) FreePart(rec, index, nullptr);
    return AllocSlot(rec->parts, rec->partCount, BV_MAX_PARTS);
}

BVCOM_API int com_AllocRecip(mdat *rec) {
    if (!rec || !AllocSlot(rec->recips, rec->recipCount, BV_MAX_RECIPS)) return 0;
    MarkSlot(rec, &SlotMarks::recips, rec->recipCount);
    return 1;
}

BVCOM_API int com_AllocBreakout(mdat *rec) {
    if (!rec || !AllocSlot(rec->exceptions, rec->exceptionCount, BV_MAX_EXCEPTIONS)) return 0;
    MarkSlot(rec, &SlotMarks::exceptions, rec->exceptionCount);
    return 1;
}

// The embedded record starts cleared, with the parent's message number.
BVCOM_API int com_AllocSubMsg(mdat *rec, int partIndex) {
    if (!rec || partIndex < 0 || partIndex >= BV_MAX_PARTS || !rec->parts[partIndex]) return 0;
    mpart *part = rec->parts[partIndex];
    if (part->subMsg) {
        FreeRecordContents(part->subMsg, nullptr);
        std::lock_guard<std::mutex> lock(gEmbeddedLock);
        gEmbedded.erase(part->subMsg);
        free(part->subMsg);
        part->subMsg = nullptr;
    }
    mdat *sub = (mdat *)calloc(1, sizeof(mdat));
    if (!sub) return 0;
    ClearItemFields(sub);
    sub->msgNumber = rec->msgNumber;
    sub->dataType = BV_DATA_MAIL;
    {
        std::lock_guard<std::mutex> lock(gEmbeddedLock);
        gEmbedded[sub] = EmbeddedLink{rec, partIndex};
    }
    part->subMsg = sub;
    return 1;
}

BVCOM_API void com_PartFileName(const char *workDir, const mdat *rec, int partIndex, char *out, size_t outCap) {
    if (!out || outCap == 0) return;
    out[0] = 0;
    if (!rec) return;
    char stem[BVCOM_STEM_LEN];
    int n = PartFileStem(rec, stem, sizeof(stem), 0);
    if (n < 0 || (size_t)n >= sizeof(stem)) return;
    n = snprintf(out, outCap, "%s%s%02d.TMP", workDir ? workDir : "", stem, partIndex);
    if (n < 0 || (size_t)n >= outCap) out[0] = 0;
}

// Frees what the item still holds (the part files in the host's work
// directory included) and clears the item fields.
BVCOM_API void com_ResetObject(mdat *rec) {
    if (!rec) return;
    const char *workDir = bvcom_WorkDirectory();
    FreeRecordContents(rec, *workDir ? workDir : nullptr);
    bvcom_DropItemExtras(rec);
    ClearItemFields(rec);
}

// Recipients, exceptions and notes of the item.
BVCOM_API void com_Deallocate_All(mdat *rec, const char *workDir) {
    (void)workDir;
    if (!rec) return;
    FreeRecipsAndExceptions(rec);
    bvcom_DropItemExtras(rec);
}

// Parts with their files, embedded records included, then the item fields.
BVCOM_API void com_Deallocate(mdat *rec, const char *workDir) {
    if (!rec) return;
    FreeRecordContents(rec, workDir);
    bvcom_DropItemExtras(rec);
    ClearItemFields(rec);
}

// headerSize: bytes of the header block parts; itemSize: bytes of every part
// file, embedded records included, or for an item without parts the length
// of its texts.
static int64_t TextBytes(const mdat *rec);

static void SumParts(const mdat *rec, int64_t *header, int64_t *total, int depth) {
    for (int i = 0; i < rec->partCount && i < BV_MAX_PARTS; ++i) {
        const mpart *part = rec->parts[i];
        if (!part) continue;
        int64_t size = part->size > 0 ? part->size : 0;
        *total += size;
        if (part->partType == BV_PART_HEADER && depth == 0) *header += size;
        if (part->subMsg && depth < 64) SumParts(part->subMsg, header, total, depth + 1);
    }
}

BVCOM_API void com_CalcMdatSize(mdat *rec, int *headerSize, int *itemSize) {
    int64_t header = 0, total = 0;
    if (rec) {
        SumParts(rec, &header, &total, 0);
        if (rec->partCount == 0) total = TextBytes(rec);
    }
    if (headerSize) *headerSize = header > INT32_MAX ? INT32_MAX : (int)header;
    if (itemSize) *itemSize = total > INT32_MAX ? INT32_MAX : (int)total;
}

}  // extern "C"

// Text length of the fields that make up an item without part files
// (contacts, events, tasks), recipients included.
static int64_t TextBytes(const mdat *rec) {
    int64_t total = 0;
    total += (int64_t)strnlen(rec->fromName, sizeof(rec->fromName));
    total += (int64_t)strnlen(rec->fromAddr, sizeof(rec->fromAddr));
    total += (int64_t)strnlen(rec->subject, sizeof(rec->subject));
    total += (int64_t)strnlen(rec->firstName, sizeof(rec->firstName));
    total += (int64_t)strnlen(rec->lastName, sizeof(rec->lastName));
    total += (int64_t)strnlen(rec->displayName, sizeof(rec->displayName));
    total += (int64_t)strnlen(rec->title, sizeof(rec->title));
    total += (int64_t)strnlen(rec->location, sizeof(rec->location));
    total += (int64_t)strnlen(rec->emailAddr, sizeof(rec->emailAddr));
    total += (int64_t)strnlen(rec->company, sizeof(rec->company));
    total += (int64_t)strnlen(rec->uid, sizeof(rec->uid));
    for (int i = 0; i < rec->recipCount && i < BV_MAX_RECIPS; ++i) {
        if (!rec->recips[i]) continue;
        total += (int64_t)strnlen(rec->recips[i]->name, sizeof(rec->recips[i]->name));
        total += (int64_t)strnlen(rec->recips[i]->addr, sizeof(rec->recips[i]->addr));
    }
    return total;
}
