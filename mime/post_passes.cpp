// Passes over the parts of a parsed message: transfer decoding and charset
// conversion of text parts (FixTextParts), .eml attachments parsed as
// embedded messages, an overlong subject kept as body text, and sticky notes
// turned into plain text. Files are streamed through scratch files in the
// work directory; no part is read into memory whole.
#include <errno.h>
#include <string.h>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr size_t kMetaLineLen = 200000;   // characters of an HTML line searched for a meta charset
constexpr size_t kMetaCharsetLen = 30;
constexpr size_t kConvertChunk = 65536;  // bytes of a text line converted at once
constexpr size_t kConvertCapacity = kConvertChunk * 4 + 16;
constexpr size_t kWrapPiece = 511;        // characters of an inline-text line per piece
constexpr size_t kLongSubject = 250;
constexpr size_t kSubjectWrapColumn = 66;
constexpr size_t kStickyFirstLine = 500;

void ScratchPath(const char *tempDir, const char *name, char *out, size_t cap) {
    bv_snprintf(out, cap, "%s%s", tempDir, name);
}

int32_t ClampSize(int64_t size) { return (int32_t)(size < 0 ? 0 : (size > INT32_MAX ? INT32_MAX : size)); }

// Reads one line (with its LF) of at most `cap - 1` bytes; returns its length.
size_t ReadChunkLine(FILE *in, char *buf, size_t cap) {
    size_t n = 0;
    int c;
    while (n + 1 < cap && (c = MIME_GETC(in)) != EOF) {
        buf[n++] = (char)c;
        if (c == '\n') break;
    }
    buf[n] = 0;
    return n;
}

void CopyRest(FILE *in, FILE *out) {
    static char block[kConvertChunk];
    size_t got;
    while ((got = fread(block, 1, sizeof(block), in)) > 0) fwrite(block, 1, got, out);
}

// The charset that an HTML part names in a meta tag.
void TakeMetaCharset(const char *path, mpart *part) {
    FILE *in = plat_fopen(path, "rb");
    if (!in) return;
    static char line[kMetaLineLen + 1];
    while (fgets(line, sizeof(line), in)) {
        if (!com_stristr(line, "<meta http", 0) && !com_stristr(line, "<meta charset", 0)) continue;
        const char *cs = com_stristr(line, "charset=", 0);
        if (!cs) continue;
        cs += 8;
        if (*cs == '"') cs++;
        char name[kMetaCharsetLen + 1];
        CopyUntil(name, kMetaCharsetLen, cs, "\">");
        if (strcasecmp(name, "unicode") != 0 && strcasecmp(name, "utf-16") != 0)
            com_strncpy(part->charset, name, sizeof(part->charset) - 1);
        break;
    }
    fclose(in);
}

}  // namespace

// ISO-8859-1 is the first 256 code points: two bytes for each high one.
extern "C" size_t Latin1ToUtf8(const char *text, size_t len, char *utf8) {
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x80) {
            utf8[n++] = (char)c;
        } else {
            utf8[n++] = (char)(0xC0 | (c >> 6));
            utf8[n++] = (char)(0x80 | (c & 0x3F));
        }
    }
    return n;
}

extern "C" size_t WriteConverted(char *line, size_t len, int codepage, FILE *out) {
    if (ConvertsAsAscii(codepage) && IsPlainAscii(line, len)) {
        fwrite(line, 1, len, out);
        return len;
    }
    size_t written = 0;
    if (codepage == 28591) {
        static char utf8[kConvertChunk * 2];
        for (size_t start = 0; start < len; start += kConvertChunk) {
            size_t n = Latin1ToUtf8(line + start, len - start > kConvertChunk ? kConvertChunk : len - start, utf8);
            fwrite(utf8, 1, n, out);
            written += n;
        }
        return written;
    }
    static char piece[kConvertCapacity];
    size_t start = 0;
    while (start <= len) {
        size_t n = strnlen(line + start, len - start);
        if (n > kConvertChunk) n = kConvertChunk;  // the rest is the next piece
        memcpy(piece, line + start, n);
        piece[n] = 0;
        com_CodepageToWindows(piece, codepage, 65001, sizeof(piece));
        size_t converted = strlen(piece);
        fwrite(piece, 1, converted, out);
        written += converted;
        bool atNul = start + n < len && line[start + n] == 0;
        if (atNul) {
            fputc(0, out);
            written++;
        }
        start += n + (atNul ? 1 : 0);
        if (start == len && !atNul) break;
    }
    return written;
}

namespace {

// How a text file reads when its charset is converted to UTF-8.
enum TextFileKind {
    TEXT_FILE_UNREADABLE,
    TEXT_NEEDS_CONVERSION,
    TEXT_READS_AS_UTF8,  // plain ASCII, or well-formed UTF-8 with non-ASCII bytes
};

// One pass over the file in blocks; *size receives the bytes read. ASCII
// here excludes ESC (an ISO-2022 shift), which the conversion would act on.
TextFileKind ReadTextFileKind(const char *path, int64_t *size) {
    FILE *in = plat_fopen(path, "rb");
    if (!in) return TEXT_FILE_UNREADABLE;
    static char block[kConvertChunk];
    Utf8Check check;
    size_t got;
    *size = 0;
    while (check.valid && (got = fread(block, 1, sizeof(block), in)) > 0) {
        *size += (int64_t)got;
        check.Take(block, got);
    }
    fclose(in);
    return check.IsAscii() || check.IsUtf8Text() ? TEXT_READS_AS_UTF8 : TEXT_NEEDS_CONVERSION;
}

// Closes a rewrite and puts the scratch file in place of the part file; a
// scratch file not written whole is dropped and fails the message.
bool ReplaceWithRewrite(FILE *in, FILE *out, const char *path, const char *scratch) {
    fclose(in);
    if (!plat_CloseWritten(out)) {
        plat_DeleteFile(scratch);
        NotePartWriteFailure(scratch);
        return false;
    }
    plat_DeleteFile(path);
    plat_MoveFile(scratch, path);
    return true;
}

// Rewrites a text part through the scratch file: HTML gets a meta line
// naming its charset, other text is converted to UTF-8. Text that reads the
// same in UTF-8 keeps its file. False when the scratch file cannot be made.
bool RewriteTextPart(const char *path, mpart *part, const char *tempDir) {
    char scratch[MIME_PATH_LEN];
    ScratchPath(tempDir, "TEMPFILE.TMP", scratch, sizeof(scratch));
    int codepage = part->partType == BV_PART_HTML ? 0 : com_iso_codepage(0, part->charset);
    if (part->partType != BV_PART_HTML) {
        if (codepage == 0) return true;  // unknown charset: left as it is
        // Text that is UTF-8 already, whatever charset it claims (or was
        // given for want of one), is kept: converted again it would be
        // garbled.
        int64_t size = 0;
        TextFileKind kind = ReadTextFileKind(path, &size);
        if (kind == TEXT_FILE_UNREADABLE) return true;
        if (codepage == 65001 || (ConvertsAsAscii(codepage) && kind == TEXT_READS_AS_UTF8)) {
            com_strncpy(part->charset, "UTF-8", sizeof(part->charset) - 1);
            if (kind == TEXT_READS_AS_UTF8) part->size = ClampSize(size);  // read whole
            else part->size = ClampSize(plat_GetFileSize(path));
            return true;
        }
    }
    FILE *out = plat_fopen(scratch, "wb");
    if (!out) {
        NotePartWriteFailure(scratch);
        return false;
    }
    FILE *in = plat_fopen(path, "rb");
    if (!in) {
        fclose(out);
        plat_DeleteFile(scratch);
        return true;
    }
    if (part->partType == BV_PART_HTML) {
        fprintf(out, "<html><META http-equiv=\"Content-Type\" content=\"text/html; charset=%s\">" MIME_TEXT_EOL,
                part->charset);
        CopyRest(in, out);
    } else if (IsWideCodepage(codepage)) {
        // two- and four-byte line ends: the text is one stream, not lines
        if (!bvcom_WideTextToUtf8(in, out, codepage, part->charset))
            com_Log("BV Warning: text part %s is not valid %s; converted as far as it reads", path, part->charset);
    } else {
        static char buf[kConvertCapacity];
        size_t len;
        while ((len = ReadChunkLine(in, buf, kConvertChunk)) > 0) WriteConverted(buf, len, codepage, out);
    }
    if (!ReplaceWithRewrite(in, out, path, scratch)) return false;
    if (part->partType != BV_PART_HTML) com_strncpy(part->charset, "UTF-8", sizeof(part->charset) - 1);
    part->size = ClampSize(plat_GetFileSize(path));
    return true;
}

// A part converted from ISO-8859-1 while it was written whose bytes were
// UTF-8 already: each two-byte sequence the conversion made is one byte
// again, so the file holds the text as it came. False when the scratch file
// cannot be made.
bool RestoreUtf8Text(const char *path, mpart *part, const char *tempDir) {
    char scratch[MIME_PATH_LEN];
    ScratchPath(tempDir, "TEMPFILE.TMP", scratch, sizeof(scratch));
    FILE *in = plat_fopen(path, "rb");
    if (!in) return true;
    FILE *out = plat_fopen(scratch, "wb");
    if (!out) {
        fclose(in);
        NotePartWriteFailure(scratch);
        return false;
    }
    static unsigned char block[kConvertChunk], bytes[kConvertChunk];
    unsigned lead = 0;  // first byte of a sequence split by the block's end
    size_t got;
    while ((got = fread(block, 1, sizeof(block), in)) > 0) {
        size_t n = 0;
        for (size_t i = 0; i < got; i++) {
            unsigned c = block[i];
            if (lead) {
                bytes[n++] = (unsigned char)((lead & 0x03) << 6 | (c & 0x3F));
                lead = 0;
            } else if (c >= 0x80) {
                lead = c;
            } else {
                bytes[n++] = (unsigned char)c;
            }
        }
        fwrite(bytes, 1, n, out);
    }
    if (!ReplaceWithRewrite(in, out, path, scratch)) return false;
    com_strncpy(part->charset, "UTF-8", sizeof(part->charset) - 1);
    part->size = ClampSize(plat_GetFileSize(path));
    return true;
}

void ConvertPartName(const mdat *record, mpart *part) {
    if (com_Decode_iso(part->name, 0)) return;
    bool charsetNamed = part->charset[0] && !strchr(part->charset, '/');  // not a kept media type
    int codepage = charsetNamed ? com_iso_codepage(0, part->charset) : record->codepage;
    // Header text is never in a charset that gives ASCII bytes another
    // meaning (a UTF-16 body's name is plain text).
    if (!codepage || !ConvertsAsAscii(codepage)) codepage = 28591;
    ConvertToUtf8(part->name, codepage, sizeof(part->name));
}

// One uuencoded line into out (64 bytes); returns the bytes it holds. The
// first character gives the count; a short line reads as padded with zeros.
size_t UudecodeLine(const char *line, unsigned char *out) {
    size_t want = (size_t)((line[0] - 32) & 63), n = 0, len = strlen(line);
    for (size_t i = 1; n < want; i += 4) {
        unsigned v[4];
        for (size_t k = 0; k < 4; k++) v[k] = i + k < len ? (unsigned)((line[i + k] - 32) & 63) : 0;
        const unsigned char bytes[3] = {(unsigned char)(v[0] << 2 | v[1] >> 4),
                                        (unsigned char)(v[1] << 4 | v[2] >> 2), (unsigned char)(v[2] << 6 | v[3])};
        for (int k = 0; k < 3 && n < want; k++) out[n++] = bytes[k];
    }
    return n;
}

// Decodes a uuencoded part through the scratch file; the name on its
// "begin" line names the attachment.
void DecodeUuencoded(const char *path, mpart *part, const char *tempDir) {
    char scratch[MIME_PATH_LEN];
    ScratchPath(tempDir, "TEMPFILE.TMP", scratch, sizeof(scratch));
    FILE *in = plat_fopen(path, "rb");
    if (!in) return;
    FILE *out = plat_fopen(scratch, "wb");
    if (!out) {
        fclose(in);
        NotePartWriteFailure(scratch);
        return;
    }
    static char line[kMetaLineLen + 1];
    bool inData = false;
    while (fgets(line, sizeof(line), in)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!inData) {
            unsigned mode = 0;
            char name[MIME_PART_NAME_LEN + 1] = "";
            if (bv_sscanf(line, "begin %o %500[^\n]", &mode, name) == 2) {
                com_strncpy(part->name, name, sizeof(part->name) - 1);
                inData = true;
            }
            continue;
        }
        if (strcmp(line, "end") == 0) break;
        unsigned char bytes[64];
        if (line[0]) fwrite(bytes, 1, UudecodeLine(line, bytes), out);
    }
    ReplaceWithRewrite(in, out, path, scratch);
}

// Base64 and uuencoded parts get their decoded class; a part file that the
// walker did not already write decoded is decoded now. Returns true when a
// file was rewritten.
bool DecodeTransfer(const char *path, mpart *part, const char *tempDir) {
    int t = part->partType;
    if (t == MIME_CLASS_UUENCODED) {
        DecodeUuencoded(path, part, tempDir);
        part->partType = BV_PART_ATTACHMENT;
        return true;
    }
    if (t == MIME_CLASS_KEPT_ENCODED) {
        part->partType = BV_PART_ATTACHMENT;
        return false;
    }
    if (PartClassEncoding(t) != MIME_BODY_BASE64) return false;
    part->partType = PartClassKind(t);
    if (TakePartMark(part, PART_DECODED)) return false;
    if (com_convert_base64(path, tempDir) < 0) NotePartWriteFailure(path);
    return true;
}

// Inline text of a message with an HTML body is shown as preformatted HTML.
void WrapInlineText(mdat *record, const char *tempDir) {
    int inlineIndex = -1;
    bool hasHtml = false;
    for (int i = 0; i < record->partCount; i++) {
        mpart *p = record->parts[i];
        if (!p) continue;
        if (p->partType == BV_PART_INLINE_TEXT && inlineIndex < 0) inlineIndex = i;
        if (p->partType == BV_PART_HTML) hasHtml = true;
    }
    if (inlineIndex < 0 || !hasHtml) return;
    mpart *part = record->parts[inlineIndex];
    part->partType = BV_PART_HTML;
    char path[MIME_PATH_LEN], scratch[MIME_PATH_LEN];
    PartPath(tempDir, record, inlineIndex, path, sizeof(path));
    ScratchPath(tempDir, "TEMPFILE.TMP", scratch, sizeof(scratch));
    FILE *in = plat_fopen(path, "rb");
    if (!in) return;
    FILE *out = plat_fopen(scratch, "wb");
    if (!out) {
        fclose(in);
        NotePartWriteFailure(scratch);
        return;
    }
    fputs("<HR><pre>" MIME_TEXT_EOL, out);
    char piece[kWrapPiece + 1];
    while (fgets(piece, sizeof(piece), in)) {
        piece[strcspn(piece, "\r\n")] = 0;
        fputs(piece, out);
        fputs(MIME_TEXT_EOL, out);
    }
    fputs("</pre>" MIME_TEXT_EOL, out);
    if (!ReplaceWithRewrite(in, out, path, scratch)) return;
    part->size = ClampSize(plat_GetFileSize(path));
}

// The subject broken into lines at the first blank 66 or more characters
// after the previous break; the blanks after a break are dropped.
size_t WrapSubject(const char *subject, char *out, size_t cap) {
    size_t w = 0, sinceBreak = 0;
    for (const char *p = subject; *p && w + 3 < cap; p++) {
        if (*p == ' ' && sinceBreak >= kSubjectWrapColumn) {
            out[w++] = '\r';
            out[w++] = '\n';
            sinceBreak = 0;
            while (p[1] == ' ') p++;
            continue;
        }
        out[w++] = *p;
        sinceBreak++;
    }
    out[w] = 0;
    return w;
}

}  // namespace

extern "C" void FixTextParts(mdat *record, const char *tempDir) {
    bool firstTextSeen = false, decodedSeen = false;
    for (int i = 0; i < record->partCount; i++) {
        mpart *part = record->parts[i];
        if (!part) continue;
        char path[MIME_PATH_LEN];
        PartPath(tempDir, record, i, path, sizeof(path));
        if ((part->partType == BV_PART_HTML || part->partType == BV_PART_TEXT) && part->size == 2) {
            part->partType = BV_PART_EMPTY_BODY;  // a lone line end
            continue;
        }
        if (part->partType == BV_PART_TEXT) {
            if (firstTextSeen) part->partType = BV_PART_ATTACHMENT;
            firstTextSeen = true;
        }
        ConvertPartName(record, part);
        if (DecodeTransfer(path, part, tempDir)) decodedSeen = true;
        if (decodedSeen) part->size = ClampSize(plat_GetFileSize(path));
        if (part->partType == BV_PART_HTML) TakeMetaCharset(path, part);
        if (!part->charset[0] || part->partType == BV_PART_ATTACHMENT || part->partType == BV_PART_EMBEDDED) continue;
        if (TakePartMark(part, PART_CONVERTED)) {
            com_strncpy(part->charset, "UTF-8", sizeof(part->charset) - 1);  // converted while it was written
        } else if (TakePartMark(part, PART_LATIN1_OF_UTF8)) {
            if (!RestoreUtf8Text(path, part, tempDir)) return;
        } else if (!RewriteTextPart(path, part, tempDir)) {
            return;
        }
    }
    WrapInlineText(record, tempDir);
}

extern "C" void ExpandEmlAttachments(mdat *record, const char *tempDir) {
    for (int i = 0; i < record->partCount; i++) {
        mpart *part = record->parts[i];
        if (!part || !com_stristr(part->name, ".EML", 0) || part->partType == BV_PART_EMBEDDED) continue;
        char path[MIME_PATH_LEN];
        PartPath(tempDir, record, i, path, sizeof(path));
        FILE *file = plat_fopen(path, "rb");
        if (!file) return;
        char first[16] = "";
        // one level too deep, the file stays an attachment as it is
        if (gNestLevel < MIME_MAX_NEST_LEVEL && fgets(first, sizeof(first), file) && StartsNoCase(first, "From -") &&
            com_AllocSubMsg(record, i) &&
            part->subMsg) {
            rewind(file);
            part->partType = BV_PART_EMBEDDED;
            Parse_RFC822_Msg(file, part->subMsg, tempDir, "", 0);
            gNestLevel--;
        }
        fclose(file);
    }
}

extern "C" int KeepLongSubject(mdat *record, const char *tempDir, const char *subjectText) {
    if (!subjectText || strlen(subjectText) < kLongSubject) return 0;
    int textIndex = -1;
    for (int i = 0; i < record->partCount; i++)
        if (record->parts[i] && record->parts[i]->partType == BV_PART_TEXT) textIndex = i;
    if (textIndex >= 0 && record->parts[textIndex]->size != 0) return 0;
    static char wrapped[2 * 2400 + 16];
    size_t len = WrapSubject(subjectText, wrapped, sizeof(wrapped));
    bool newPart = textIndex < 0;
    if (newPart) {
        textIndex = record->partCount;
        if (!AllocPartOrWarn(record)) return 0;
        mpart *part = record->parts[textIndex];
        part->partType = BV_PART_TEXT;
        com_strncpy(part->name, "Message Text", sizeof(part->name) - 1);
    }
    char path[MIME_PATH_LEN];
    PartPath(tempDir, record, textIndex, path, sizeof(path));
    FILE *out = plat_fopen(path, "wb");
    if (out) {
        fwrite(wrapped, 1, len, out);
        fclose(out);
    }
    record->parts[textIndex]->size = (int32_t)len;
    if (newPart) record->partCount++;
    return 1;
}

extern "C" void ConvertStickyNote(mdat *record, const char *tempDir) {
    int index = -1;
    for (int i = 0; i < record->partCount && index < 0; i++)
        if (record->parts[i] && record->parts[i]->partType == BV_PART_TEXT) index = i;
    if (index < 0) return;
    char path[MIME_PATH_LEN], scratch[MIME_PATH_LEN];
    PartPath(tempDir, record, index, path, sizeof(path));
    FILE *in = plat_fopen(path, "rb");
    if (!in) return;
    char line[kStickyFirstLine];
    if (!fgets(line, sizeof(line), in) || !StartsNoCase(line, "BEGIN:")) {
        fclose(in);
        return;
    }
    fgets(line, sizeof(line), in);  // the second line is not text
    for (int i = 0; i < 5 && getc(in) != EOF; i++) {
    }
    ScratchPath(tempDir, "sticky.tmp", scratch, sizeof(scratch));
    FILE *out = plat_fopen(scratch, "wb");
    if (!out) {
        fclose(in);
        return;
    }
    int c;
    while ((c = getc(in)) != EOF) {
        if (c == '\r') continue;
        if (c == '\n') {
            int next = getc(in);
            if (next == 'E' || next == 'P' || next == EOF) break;
            continue;  // a folded continuation: LF and its blank dropped
        }
        if (c == '\\') {
            int next = getc(in);
            if (next == 'n') {
                fputs("\r\n", out);
                continue;
            }
            fputc(c, out);
            if (next != EOF) fputc(next, out);
            continue;
        }
        fputc(c, out);
    }
    fclose(in);
    fclose(out);
    int64_t size = com_fcopy(scratch, path);
    plat_DeleteFile(scratch);
    if (size >= 0) record->parts[index]->size = ClampSize(size);
    if (!record->fromAddr[0]) com_strncpy(record->fromAddr, "Sticky Note", sizeof(record->fromAddr) - 1);
}
