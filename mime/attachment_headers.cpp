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
constexpr size_t kBeckyBlock = 2000;    // copy block of an included file
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

void SourceInAttachDir(const char *name, char *out, size_t cap) {
    if (gAttachDir[0]) {
        char dir[MIME_PATH_LEN];
        com_strncpy(dir, gAttachDir, sizeof(dir) - 2);
        com_AppendSlash(dir, sizeof(dir));
        bv_snprintf(out, cap, "%s%s", dir, name);
    } else {
        com_strncpy(out, name, cap - 1);
    }
}

}  // namespace

extern "C" int AddMhsAttachment(mdat *record, const char *value, const char *tempDir) {
    char list[kMhsValueLen + 1];
    com_strncpy(list, value, kMhsValueLen);
    const char *cursor = list;
    char entry[kMhsValueLen + 1];
    while (NextListEntry(&cursor, entry, kMhsValueLen)) {
        if (!entry[0]) continue;
        if (!com_AllocPart(record)) return 0;
        int index = record->partCount;
        mpart *part = record->parts[index];
        part->partType = BV_PART_ATTACHMENT;
        com_strncpy(part->name, entry, sizeof(part->name) - 1);
        com_strncpy(part->charset, kMhsMarker, sizeof(part->charset) - 1);
        char source[MIME_PATH_LEN], target[MIME_PATH_LEN];
        SourceInAttachDir(entry, source, sizeof(source));
        PartPath(tempDir, record, index, target, sizeof(target));
        int64_t copied = com_fcopy(source, target);
        if (copied < 0) {
            FILE *f = plat_fopen(target, "wb");
            if (f) {
                fprintf(f, "File not found (%s)" MIME_TEXT_EOL, source);
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
    char source[MIME_PATH_LEN], target[MIME_PATH_LEN];
    SourceInAttachDir(fileId, source, sizeof(source));
    PartPath(tempDir, record, last, target, sizeof(target));
    int64_t copied = com_fcopy(source, target);
    if (copied >= 0) record->parts[last]->size = (int32_t)(copied > INT32_MAX ? INT32_MAX : copied);
}

extern "C" void CopyBeckyInclude(FILE *partFile, const char *beckyName) {
    char name[BV_NAME_LEN * 3];
    com_strncpy(name, beckyName, BV_NAME_LEN - 1);
    com_CodepageToWindows(name, 850, 65001, sizeof(name));
    char path[MIME_PATH_LEN];
    com_strncpy(path, gMessageFileDir, sizeof(path) - 2);
    com_AppendSlash(path, sizeof(path));
    size_t len = strlen(path);
    bv_snprintf(path + len, sizeof(path) - len, "#Attach%s%s", BV_PATH_SEP_STR, name);
    WCHAR widePath[MIME_PATH_LEN];
    FILE *in = nullptr;
    if (plat_MultiByteToWideChar(65001, path, -1, widePath, MIME_PATH_LEN) > 0) in = plat_wfopen(widePath, "rb");
    if (!in) {
        com_Log("BV Error: Error - unable to open attachment");
        return;
    }
    rewind(partFile);
    char block[kBeckyBlock];
    size_t got;
    while ((got = fread(block, 1, sizeof(block), in)) > 0) fwrite(block, 1, got, partFile);
    fclose(in);
}
