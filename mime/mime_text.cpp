// Small text helpers of the header and part parsers.
#include <stdarg.h>
#include <string.h>
#include <strings.h>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

extern "C" {

int StartsNoCase(const char *text, const char *prefix) {
    return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

const char *HeaderValue(const char *line) {
    const char *colon = strchr(line, ':');
    if (!colon) return line + strlen(line);
    const char *v = colon + 1;
    if (*v == ';') v++;  // left by a fold joined with ";"
    while (*v == ' ') v++;
    return v;
}

void CopyUntil(char *out, size_t limit, const char *src, const char *stops) {
    size_t n = strcspn(src, stops);
    if (n > limit) n = limit;
    memcpy(out, src, n);
    out[n] = 0;
}

int TakeNameParam(const char *line, char *out, size_t limit) {
    int found = 0;
    const char *plain = com_stristr(line, "NAME=", 0);
    if (plain) {
        CopyUntil(out, limit, plain + 5, ";");
        found = 1;
    }
    const char *quoted = com_stristr(line, "NAME=\"", 0);
    if (quoted) {
        CopyUntil(out, limit, quoted + 6, "\"");
        found = 1;
    }
    return found;
}

int64_t PartFileLength(const char *path) { return plat_GetFileSize(path); }

void PartPath(const char *tempDir, const mdat *record, int index, char *out, size_t cap) {
    com_PartFileName(tempDir, record, index, out, cap);
}

int ConvertsAsAscii(int codepage) {
    // UTF-7, HZ and the UTF-16/32 forms give ASCII bytes another meaning
    return codepage != 65000 && codepage != 52936 && codepage != 1200 && codepage != 1201 && codepage != 12000 &&
           codepage != 12001;
}

int IsPlainAscii(const char *text, size_t len) {
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c >= 0x80 || c == 0x1B) return 0;  // ESC: an ISO-2022 shift
    }
    return 1;
}

void ConvertToUtf8(char *text, int codepage, size_t capacity) {
    if (codepage == 65001 || (ConvertsAsAscii(codepage) && IsPlainAscii(text, strlen(text)))) return;
    com_CodepageToWindows(text, codepage, 65001, capacity);
}

void WarnLimit(const mdat *record, const char *what) {
    com_Log("BV Warning: message %d (subject \"%.100s\"): %s", record->msgNumber, record->subject, what);
}

static const mdat *sPartLimitWarned;  // the record whose full part list was reported

int AllocPartOrWarn(mdat *record) {
    if (com_AllocPart(record)) return 1;
    if (record != sPartLimitWarned) {
        sPartLimitWarned = record;
        char what[96];
        bv_snprintf(what, sizeof(what), "parts past the record's %d part slots left out", BV_MAX_PARTS);
        WarnLimit(record, what);
    }
    return 0;
}

void KeepTooDeepMessage(const mdat *record, int *classCode, char *name, size_t nameCap) {
    char what[160];
    bv_snprintf(what, sizeof(what),
                "an embedded message nested deeper than %d levels is kept whole as the attachment Message.eml",
                MIME_MAX_NEST_LEVEL);
    WarnLimit(record, what);
    *classCode = *classCode == 3 ? 3 : BV_PART_ATTACHMENT;  // base64 is still decoded
    com_strncpy(name, "Message.eml", nameCap - 1);
}

void ForgetPartLimitWarning(void) { sPartLimitWarned = nullptr; }

void LogDebug(const char *format, ...) {
    if (!gDebug) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    com_Log("%s", line);
}

}  // extern "C"
