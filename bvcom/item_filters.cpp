// Per-item checks and adjustments that the host configures: date range,
// subject patterns, search filter, attachment size limit, address map,
// character conversion and pause. With nothing configured every check
// accepts and every adjustment leaves the record as it is.
#include <ctype.h>
#include <mutex>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unordered_map>
#include <vector>

#include "bvcom/library_state.h"
#include "platform/platform.h"

static std::mutex gFilterLock;
static bool gHaveFrom, gHaveTo;
static uint64_t gDateFrom, gDateTo;
static std::vector<std::string> gSubjectPatterns;
static BvSearchFilter gSearchFilter;
static int64_t gAttachLimit;  // 0: none
static std::unordered_map<std::string, std::string> gAddressMap;  // lower-case key
static int gConvertFrom, gConvertTo;
static int gPauseEnabled;

static std::string Lower(const char *text) {
    std::string out(text ? text : "");
    for (char &c : out) c = (char)tolower((unsigned char)c);
    return out;
}

extern "C" {

BVCOM_API void bvcom_SetDateRange(const FILETIME *from, const FILETIME *to) {
    std::lock_guard<std::mutex> lock(gFilterLock);
    gHaveFrom = from != nullptr;
    gHaveTo = to != nullptr;
    gDateFrom = from ? plat_FileTimeToU64(from) : 0;
    gDateTo = to ? plat_FileTimeToU64(to) : 0;
}

BVCOM_API void bvcom_AddSubjectPattern(const char *pattern) {
    std::lock_guard<std::mutex> lock(gFilterLock);
    if (!pattern) gSubjectPatterns.clear();
    else if (*pattern) gSubjectPatterns.push_back(pattern);
}

BVCOM_API void bvcom_SetSearchFilter(BvSearchFilter filter) {
    gSearchFilter = filter;
}

BVCOM_API void bvcom_SetAttachSizeLimit(int64_t bytes) {
    gAttachLimit = bytes > 0 ? bytes : 0;
}

BVCOM_API void bvcom_AddAddressMapping(const char *from, const char *to) {
    std::lock_guard<std::mutex> lock(gFilterLock);
    if (!from) {
        gAddressMap.clear();
        return;
    }
    if (*from && to) gAddressMap[Lower(from)] = to;
}

BVCOM_API void bvcom_SetCharConversion(int fromCodepage, int toCodepage) {
    gConvertFrom = fromCodepage;
    gConvertTo = toCodepage;
}

BVCOM_API void bvcom_SetPause(int enabled) {
    gPauseEnabled = enabled;
}

// ---- checks -------------------------------------------------------------------

static int DateAccepted(const FILETIME &when) {
    if (com_DateIsNull(&when)) return 1;  // an item without a date is never filtered by date
    std::lock_guard<std::mutex> lock(gFilterLock);
    uint64_t value = plat_FileTimeToU64(&when);
    if (gHaveFrom && value < gDateFrom) return 0;
    if (gHaveTo && value > gDateTo) return 0;
    return 1;
}

BVCOM_API int com_Check_MaxMsgDate(mdat *rec, BvHostValue hostValue) {
    (void)hostValue;
    return rec ? DateAccepted(rec->date) : 1;
}

BVCOM_API int com_Check_MaxCalDate(mdat *rec) {
    return rec ? DateAccepted(rec->startTime) : 1;
}

// A task is dated by its start, else by its due date.
BVCOM_API int com_Check_MaxTaskDate(mdat *rec) {
    if (!rec) return 1;
    return DateAccepted(com_DateIsNull(&rec->startTime) ? rec->endTime : rec->startTime);
}

BVCOM_API int com_SearchMsg(mdat *rec, const char *workDir, BvHostValue a, BvHostValue b, BvHostValue c) {
    (void)workDir;
    BvSearchFilter filter = gSearchFilter;
    if (!rec || !filter) return 1;
    return filter(rec, a, b, c) ? 1 : 0;
}

// Patterns match anywhere in the text ('*' and '?' wildcards, case ignored).
BVCOM_API int com_ExcludeSubject(const char *text) {
    if (!text) return 0;
    std::lock_guard<std::mutex> lock(gFilterLock);
    for (const std::string &pattern : gSubjectPatterns) {
        std::string anywhere = "*" + pattern + "*";
        if (bvcom_WildcardMatch(anywhere.c_str(), text)) return 1;
    }
    return 0;
}

BVCOM_API void com_Pause(int milliseconds) {
    if (gPauseEnabled && milliseconds > 0) plat_Sleep((uint32_t)milliseconds);
}

}  // extern "C"

// ---- attachment size -------------------------------------------------------------

// Every part file of the subtree below part `index` (embedded records).
static void CollectSubtreeFiles(const mdat *rec, const char *workDir, std::vector<std::string> &out, int depth) {
    if (depth > 64) return;
    for (int i = 0; i < BV_MAX_PARTS; ++i) {
        if (!rec->parts[i] && i >= rec->partCount) continue;
        char path[BVCOM_PATH_LEN];
        com_PartFileName(workDir, rec, i, path, sizeof(path));
        out.push_back(path);
        if (rec->parts[i] && rec->parts[i]->subMsg) CollectSubtreeFiles(rec->parts[i]->subMsg, workDir, out, depth + 1);
    }
}

// Moves part `from` to slot `to` (free), renaming its file and the files of
// any record embedded in it.
static void MovePart(mdat *rec, int from, int to, const char *workDir) {
    std::vector<std::string> oldNames, newNames;
    char oldPath[BVCOM_PATH_LEN], newPath[BVCOM_PATH_LEN];
    com_PartFileName(workDir, rec, from, oldPath, sizeof(oldPath));
    com_PartFileName(workDir, rec, to, newPath, sizeof(newPath));
    mdat *sub = rec->parts[from] ? rec->parts[from]->subMsg : nullptr;
    if (sub) CollectSubtreeFiles(sub, workDir, oldNames, 0);
    rec->parts[to] = rec->parts[from];
    rec->parts[from] = nullptr;
    if (sub) {
        bvcom_RelinkEmbedded(sub, rec, to);
        CollectSubtreeFiles(sub, workDir, newNames, 0);
    }
    if (plat_FileExists(oldPath)) plat_MoveFile(oldPath, newPath);
    for (size_t i = 0; i < oldNames.size() && i < newNames.size(); ++i) {
        if (plat_FileExists(oldNames[i].c_str())) plat_MoveFile(oldNames[i].c_str(), newNames[i].c_str());
    }
}

// Attachments (and embedded messages) larger than the smaller of the
// caller's limit and the host's limit are removed; the parts after them move
// down one index with their files.
extern "C" BVCOM_API void com_AttachSize(mdat *rec, const char *workDir, int itemNumber, BvHostValue limit) {
    (void)itemNumber;
    if (!rec) return;
    int64_t effective = gAttachLimit;
    if (limit > 0 && (effective == 0 || (int64_t)limit < effective)) effective = (int64_t)limit;
    if (effective <= 0) return;
    const char *dir = workDir ? workDir : bvcom_WorkDirectory();
    int count = rec->partCount < BV_MAX_PARTS ? rec->partCount : BV_MAX_PARTS;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        mpart *part = rec->parts[i];
        bool drop = part && (part->partType == BV_PART_ATTACHMENT || part->partType == BV_PART_EMBEDDED) &&
                    (int64_t)part->size > effective;
        if (drop) {
            com_Log("BV Info: attachment %s removed, size %d above the limit %lld", part->name, part->size,
                    (long long)effective);
            bvcom_FreePartTree(rec, i, dir);
            continue;
        }
        if (kept != i) MovePart(rec, i, kept, dir);
        ++kept;
    }
    rec->partCount = kept;
}

// ---- addresses and character sets -------------------------------------------------

static void MapAddress(char *addr, size_t cap) {
    if (!addr[0]) return;
    auto it = gAddressMap.find(Lower(addr));
    if (it != gAddressMap.end()) com_strncpy(addr, it->second.c_str(), cap - 1);
}

extern "C" BVCOM_API void com_AddressTranslate(mdat *rec) {
    if (!rec) return;
    std::lock_guard<std::mutex> lock(gFilterLock);
    if (gAddressMap.empty()) return;
    MapAddress(rec->fromAddr, sizeof(rec->fromAddr));
    MapAddress(rec->organizerAddr, sizeof(rec->organizerAddr));
    MapAddress(rec->emailAddr, sizeof(rec->emailAddr));
    MapAddress(rec->email2Addr, sizeof(rec->email2Addr));
    MapAddress(rec->email3Addr, sizeof(rec->email3Addr));
    for (int i = 0; i < rec->recipCount && i < BV_MAX_RECIPS; ++i) {
        if (rec->recips[i]) MapAddress(rec->recips[i]->addr, sizeof(rec->recips[i]->addr));
    }
}

#define CONVERT(field) com_CodepageToWindows(rec->field, from, to, sizeof(rec->field))

// Contact and attendee texts, from and to the code pages the host set.
extern "C" BVCOM_API void com_AddrCharConvert(mdat *rec) {
    int from = gConvertFrom, to = gConvertTo;
    if (!rec || !from || !to || from == to) return;
    CONVERT(firstName);
    CONVERT(lastName);
    CONVERT(middleName);
    CONVERT(displayName);
    CONVERT(company);
    CONVERT(title);
    CONVERT(location);
    CONVERT(organizerName);
    for (int i = 0; i < rec->recipCount && i < BV_MAX_RECIPS; ++i) {
        if (rec->recips[i]) com_CodepageToWindows(rec->recips[i]->name, from, to, sizeof(rec->recips[i]->name));
    }
}

// Mail header texts before a store import, likewise.
extern "C" BVCOM_API void com_CharConvert(mdat *rec, const char *workDir) {
    (void)workDir;
    int from = gConvertFrom, to = gConvertTo;
    if (!rec || !from || !to || from == to) return;
    CONVERT(subject);
    CONVERT(fromName);
    for (int i = 0; i < rec->recipCount && i < BV_MAX_RECIPS; ++i) {
        if (rec->recips[i]) com_CodepageToWindows(rec->recips[i]->name, from, to, sizeof(rec->recips[i]->name));
    }
}
