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

// One parameter value after `at`: leading blanks skipped, cut at ";",
// right-trimmed and unquoted.
static void ParamText(const char *at, char *out, size_t limit) {
    while (*at == ' ') at++;
    CopyUntil(out, limit, at, ";");
    com_rtrim(out);
    com_Remove_Quotes(out);
}

// An extended value (RFC 2231 "*="): the charset'language' prefix of the
// first piece dropped, %XX turned into bytes.
static void DecodeExtendedValue(char *text, int firstPiece) {
    char *r = text;
    if (firstPiece) {
        char *quote = strchr(text, '\'');
        char *second = quote ? strchr(quote + 1, '\'') : NULL;
        if (second) r = second + 1;
    }
    size_t len = strlen(r);
    memmove(text, r, len + 1);
    text[bvcom_DecodeHexEscapes(text, len, '%')] = 0;
}

// An extended value's charset'language' prefix: the charset into out.
static void ExtendedCharset(const char *value, char *out, size_t cap) {
    out[0] = 0;
    const char *quote = strchr(value, '\'');
    if (quote && strchr(quote + 1, '\'')) CopyUntil(out, cap - 1, value, "'");
}

int TakeExtendedParam(const char *line, const char *param, char *out, size_t limit) {
    char key[64], piece[MIME_PART_NAME_LEN + 1], charset[MIME_PART_CHARSET_LEN + 1] = "";
    static char value[MIME_PART_NAME_LEN + 1];
    if (limit > MIME_PART_NAME_LEN) limit = MIME_PART_NAME_LEN;
    bv_snprintf(key, sizeof(key), "%s*=", param);
    const char *single = com_stristr(line, key, 0);
    if (single) {
        ParamText(single + strlen(key), piece, sizeof(piece) - 1);
        ExtendedCharset(piece, charset, sizeof(charset));
        DecodeExtendedValue(piece, 1);
        com_strncpy(value, piece, limit);
    } else {
        // continuations: param*0=, param*1= ... (each also as *N*=)
        value[0] = 0;
        int n = 0;
        for (;; n++) {
            bv_snprintf(key, sizeof(key), "%s*%d=", param, n);
            const char *at = com_stristr(line, key, 0);
            int extended = 0;
            if (!at) {
                bv_snprintf(key, sizeof(key), "%s*%d*=", param, n);
                at = com_stristr(line, key, 0);
                extended = 1;
            }
            if (!at) break;
            ParamText(at + strlen(key), piece, sizeof(piece) - 1);
            if (extended && n == 0) ExtendedCharset(piece, charset, sizeof(charset));
            if (extended) DecodeExtendedValue(piece, n == 0);
            size_t len = strlen(value);
            com_strncpy(value + len, piece, limit - len);
        }
        if (n == 0) return 0;
    }
    int codepage = charset[0] ? com_iso_codepage(0, charset) : 0;
    if (codepage) ConvertToUtf8(value, codepage, limit + 1);
    com_strncpy(out, value, limit);
    return 1;
}

int TakeBoundaryParam(const char *line, char *out, size_t limit) {
    const char *plain = com_stristr(line, "boundary=", 0);
    if (plain) {
        ParamText(plain + 9, out, limit);
        return 1;
    }
    return TakeExtendedParam(line, "boundary", out, limit);
}

int IsBinaryMediaType(const char *line) {
    static const char *const kKinds[] = {"application/", "audio/", "video/", "image/", "model/", "font/"};
    const char *value = HeaderValue(line);
    for (const char *kind : kKinds)
        if (StartsNoCase(value, kind)) return 1;
    return 0;
}

void TakeMediaType(const char *line, char *out, size_t limit) {
    CopyUntil(out, limit, HeaderValue(line), "; \t");
    for (char *c = out; *c; c++)
        if (*c >= 'A' && *c <= 'Z') *c = (char)(*c + 32);
}

int IsKeptMessageType(const char *mediaType) {
    return StartsNoCase(mediaType, "message/") && strcmp(mediaType, "message/rfc822") != 0;
}

void KeepAttachmentType(mpart *part, const char *mediaType) {
    if (!strchr(mediaType, '/')) return;
    bool report = IsKeptMessageType(mediaType) || strcmp(mediaType, "text/rfc822-headers") == 0;
    // A text attachment's charset field holds its charset: its type goes
    // before the contentId, so a text/plain "x.ics" stays text/plain.
    bool charsetTaken = !report && StartsNoCase(mediaType, "text/");
    if (!charsetTaken && strlen(mediaType) < sizeof(part->charset)) {
        com_strncpy(part->charset, mediaType, sizeof(part->charset) - 1);
        return;
    }
    if (strlen(mediaType) > BV_LONG_TYPE_LEN) return;  // no real type is this long
    char contentId[sizeof(part->contentId)];
    bv_snprintf(contentId, sizeof contentId, "%s%s %s", BV_LONG_TYPE_MARKER, mediaType, part->contentId);
    com_strncpy(part->contentId, contentId, sizeof(part->contentId) - 1);
}

int64_t PartFileLength(const char *path) { return plat_GetFileSize(path); }

void PartPath(const char *tempDir, const mdat *record, int index, char *out, size_t cap) {
    com_PartFileName(tempDir, record, index, out, cap);
}

int IsWideCodepage(int codepage) {
    return codepage == 1200 || codepage == 1201 || codepage == 12000 || codepage == 12001;
}

int ConvertsAsAscii(int codepage) {
    // UTF-7, HZ and the UTF-16/32 forms give ASCII bytes another meaning
    return codepage != 65000 && codepage != 52936 && !IsWideCodepage(codepage);
}

int IsPlainAscii(const char *text, size_t len) {
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c >= 0x80 || c == 0x1B) return 0;  // ESC: an ISO-2022 shift
    }
    return 1;
}

int IsValidUtf8(const char *text, size_t len) {
    const unsigned char *p = (const unsigned char *)text, *end = p + len;
    while (p < end) {
        unsigned char c = *p++;
        if (c < 0x80) continue;
        int more = c >= 0xF0 && c <= 0xF4 ? 3 : (c >= 0xE0 ? 2 : (c >= 0xC2 && c <= 0xDF ? 1 : -1));
        if (more < 0 || c > 0xF4 || end - p < more) return 0;
        // no overlong forms, no surrogates, nothing past U+10FFFF
        if ((c == 0xE0 && p[0] < 0xA0) || (c == 0xED && p[0] > 0x9F) || (c == 0xF0 && p[0] < 0x90) ||
            (c == 0xF4 && p[0] > 0x8F))
            return 0;
        for (int i = 0; i < more; i++)
            if ((*p++ & 0xC0) != 0x80) return 0;
    }
    return 1;
}

void ConvertToUtf8(char *text, int codepage, size_t capacity) {
    if (codepage == 65001 || (ConvertsAsAscii(codepage) && IsPlainAscii(text, strlen(text)))) return;
    // Raw header text that is UTF-8 already (as mail software writes it
    // today) is kept; read as ISO-8859-1 it would be encoded twice.
    if (ConvertsAsAscii(codepage) && IsValidUtf8(text, strlen(text))) return;
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
    *classCode = PartClassAsKind(*classCode, BV_PART_ATTACHMENT);  // base64 is still decoded
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
