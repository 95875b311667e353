// Attachments that a message names by file instead of carrying them: the
// MHS "Attachment:" / "Attachment-name:" / "FileID:" headers and Becky!'s
// "X-Becky-Include:" part header.
#include <errno.h>
#include <string.h>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr size_t kMhsValueLen = 2000;   // "Attachment:" value kept
constexpr const char *kMhsMarker = "MHS";

void Trim(char *text) {
    size_t lead = strspn(text, " \t");
    if (lead) memmove(text, text + lead, strlen(text + lead) + 1);
    com_rtrim(text);
}

// Next entry of a list separated by ";" or ","; false at the end.
bool NextListEntry(const char **cursor, char *out, size_t limit) {
    const char *p = *cursor;
    if (!*p) return false;
    CopyUntil(out, limit, p, ";,");
    p += strcspn(p, ";,");
    *cursor = *p ? p + 1 : p;
    Trim(out);
    return true;
}

// The directory that named files are taken from: /ATTACHDIR when set, else
// the directory of the store being read.
const char *IncludeBaseDir() { return gAttachDir[0] ? gAttachDir : gMessageFileDir; }

// A name from a header, inside the base directory (relative names are
// joined to it; absolute ones stay as they are and must lie inside it).
void PathInBase(const char *base, const char *name, char *out, size_t cap) {
    if (name[0] == BV_PATH_SEP || !base[0]) {
        com_strncpy(out, name, cap - 1);
        return;
    }
    char dir[MIME_PATH_LEN];
    com_strncpy(dir, base, sizeof(dir) - 2);
    com_AppendSlash(dir, sizeof(dir));
    bv_snprintf(out, cap, "%s%s", dir, name);
}

// Why the file a message names is not copied into it, or nullptr when it
// may be: only a regular file of the store, within the size limit, is taken
// (a received message must not pull /etc/passwd, a key file or /dev/zero
// into the migrated store).
const char *IncludeRefusal(const char *base, const char *path) {
    if (!base[0]) return "there is no store directory to take it from";
    if (!plat_PathIsInside(base, path)) return "it is not inside the store directory";
    int64_t size = plat_GetFileSize(path);
    if (size < 0) return "it is not a regular file";
    if (size > MIME_MAX_INCLUDED_FILE_BYTES) return "it is larger than the limit for a named file";
    return nullptr;
}

void WarnNotIncluded(const char *name, const char *reason) {
    com_Log("BV Warning: the file %s that a message names is not included: %s", name, reason);
}

// Copies an open named file into the part file and closes it, at most the
// size limit (a file that grows past it while being copied is cut there,
// with a warning). Returns the bytes copied.
int64_t CopyNamedFile(FILE *in, FILE *out, const char *name) {
    static char block[65536];
    int64_t copied = 0;
    size_t got;
    while (copied < MIME_MAX_INCLUDED_FILE_BYTES && (got = fread(block, 1, sizeof(block), in)) > 0) {
        if ((int64_t)got > MIME_MAX_INCLUDED_FILE_BYTES - copied) got = (size_t)(MIME_MAX_INCLUDED_FILE_BYTES - copied);
        fwrite(block, 1, got, out);
        copied += (int64_t)got;
    }
    if (copied >= MIME_MAX_INCLUDED_FILE_BYTES && fread(block, 1, 1, in) == 1)
        WarnNotIncluded(name, "it grew past the limit for a named file while it was copied; cut there");
    fclose(in);
    return copied;
}

// Copies the named file over the part file at `target`; -1 when the file is
// missing, -2 when it is refused (warned), else the bytes copied.
int64_t IncludeNamedFile(const char *name, const char *target) {
    char source[MIME_PATH_LEN];
    const char *base = IncludeBaseDir();
    PathInBase(base, name, source, sizeof(source));
    char resolved[MIME_PATH_LEN];
    if (!plat_ResolvePath(source, resolved, sizeof(resolved))) return -1;
    const char *refusal = IncludeRefusal(base, source);
    if (refusal) {
        WarnNotIncluded(name, refusal);
        return -2;
    }
    FILE *in = plat_fopen(source, "rb");
    if (!in) return -1;
    FILE *out = plat_fopen(target, "wb");
    if (!out) {
        fclose(in);
        return -1;
    }
    int64_t copied = CopyNamedFile(in, out, name);
    fclose(out);
    return copied;
}

}  // namespace

extern "C" int AddMhsAttachment(mdat *record, const char *value, const char *tempDir) {
    char list[kMhsValueLen + 1];
    com_strncpy(list, value, kMhsValueLen);
    const char *cursor = list;
    char entry[kMhsValueLen + 1];
    while (NextListEntry(&cursor, entry, kMhsValueLen)) {
        if (!entry[0]) continue;
        if (!AllocPartOrWarn(record)) return 0;
        int index = record->partCount;
        mpart *part = record->parts[index];
        part->partType = BV_PART_ATTACHMENT;
        com_strncpy(part->name, entry, sizeof(part->name) - 1);
        com_strncpy(part->charset, kMhsMarker, sizeof(part->charset) - 1);
        char target[MIME_PATH_LEN];
        PartPath(tempDir, record, index, target, sizeof(target));
        int64_t copied = IncludeNamedFile(entry, target);
        if (copied < 0) {
            // the part says what became of the file instead of holding it
            FILE *f = plat_fopen(target, "wb");
            if (f) {
                if (copied == -1) fprintf(f, "File not found (%s)" MIME_TEXT_EOL, entry);
                else fprintf(f, "File not included (%s)" MIME_TEXT_EOL, entry);
                fclose(f);
            }
            size_t len = strlen(part->name);
            com_strncpy(part->name + len, ".txt", sizeof(part->name) - 1 - len);
            part->size = 0;
        } else {
            part->size = (int32_t)(copied > INT32_MAX ? INT32_MAX : copied);
        }
        record->partCount++;
    }
    return 1;
}

extern "C" void NameMhsAttachments(mdat *record, const char *names) {
    const char *cursor = names;
    char entry[BV_NAME_LEN];
    int next = 0;
    while (NextListEntry(&cursor, entry, sizeof(entry) - 1)) {
        for (; next < record->partCount; next++) {
            mpart *part = record->parts[next];
            if (part && com_stristr(part->charset, kMhsMarker, 0)) break;
        }
        if (next >= record->partCount) return;
        mpart *part = record->parts[next++];
        part->charset[0] = 0;
        com_strncpy(part->name, entry, MIME_HEADER_NAME_LEN);
    }
}

extern "C" void CopyFileIdAttachment(mdat *record, const char *fileId, const char *tempDir) {
    // part 0 is the header block being written; only later parts take a file
    if (record->partCount < 2) return;
    int last = record->partCount - 1;
    char target[MIME_PATH_LEN];
    PartPath(tempDir, record, last, target, sizeof(target));
    int64_t copied = IncludeNamedFile(fileId, target);
    if (copied >= 0) record->parts[last]->size = (int32_t)(copied > INT32_MAX ? INT32_MAX : copied);
}

extern "C" void CopyBeckyInclude(FILE *partFile, const char *beckyName) {
    char name[BV_NAME_LEN * 3];
    com_strncpy(name, beckyName, BV_NAME_LEN - 1);
    com_CodepageToWindows(name, 850, 65001, sizeof(name));
    char base[MIME_PATH_LEN];
    com_strncpy(base, gMessageFileDir, sizeof(base) - 2);
    com_AppendSlash(base, sizeof(base));
    size_t len = strlen(base);
    bv_snprintf(base + len, sizeof(base) - len, "#Attach");
    char path[MIME_PATH_LEN];
    PathInBase(base, name, path, sizeof(path));
    char resolved[MIME_PATH_LEN];
    if (!plat_ResolvePath(path, resolved, sizeof(resolved))) {
        com_Log("BV Error: Error - unable to open attachment");
        return;
    }
    const char *refusal = gMessageFileDir[0] ? IncludeRefusal(base, path) : "there is no store directory to take it from";
    if (refusal) {
        WarnNotIncluded(name, refusal);
        return;
    }
    WCHAR widePath[MIME_PATH_LEN];
    FILE *in = nullptr;
    if (plat_MultiByteToWideChar(65001, path, -1, widePath, MIME_PATH_LEN) > 0) in = plat_wfopen(widePath, "rb");
    if (!in) {
        com_Log("BV Error: Error - unable to open attachment");
        return;
    }
    rewind(partFile);
    CopyNamedFile(in, partFile, name);
}
