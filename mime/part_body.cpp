// CopyPartBody: streams the body of one part, line by line, from the message
// into its part file (or only scans it), up to the next delimiter of its
// multipart. Quoted-printable and base64 are decoded on the way, so the part
// file is written once with its final bytes.
#include <string.h>
#include <strings.h>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

extern "C" {
char gClosedBoundary[MIME_BOUNDARY_LEN + 1];
int gLastCopyDecodedBase64;
int gCopyConvertCodepage;
int gCopyKeepsLineEnds;
int gLastCopyRawWasUtf8;
int gLastCopyRawWasAscii;
}

namespace {

constexpr size_t kCopyBlock = 65536;

struct Delimiters {
    char open[MIME_DELIM_LEN];
    char close[MIME_DELIM_LEN];
    size_t openLen;
};

void MakeDelimiters(const char *boundary, Delimiters *d) {
    if (boundary[0]) {
        bv_snprintf(d->open, sizeof(d->open), "--%.*s", MIME_BOUNDARY_LEN, boundary);
        bv_snprintf(d->close, sizeof(d->close), "--%.*s--", MIME_BOUNDARY_LEN, boundary);
    } else {
        d->open[0] = d->close[0] = 0;
    }
    d->openLen = strlen(d->open);
}

bool IsOpening(const char *line, const Delimiters &d) {
    return d.openLen && line[0] == '-' && line[1] == '-' && strncasecmp(line, d.open, d.openLen) == 0;
}

// Decodes quoted-printable in place; an "=" before anything but two hex
// digits is kept as it stands. Returns the new length; *softBreak is set
// when the line ended in "=".
int DecodeQuotedPrintable(char *line, int len, bool *softBreak) {
    *softBreak = len > 0 && line[len - 1] == '=';
    if (*softBreak) len--;
    return (int)bvcom_DecodeHexEscapes(line, (size_t)len, '=');
}

// Quoted-printable text at the end of a piece that may be an escape split
// by the piece's end: it is decoded with the next piece.
int SplitEscapeLength(const char *text, int len) {
    if (len >= 1 && text[len - 1] == '=') return 1;
    if (len >= 2 && text[len - 2] == '=') return 2;
    return 0;
}

// Where and how CopyPartBody writes a part's content: base64 is decoded
// while it is written, text may be converted to UTF-8 from `codepage`; with
// checkRaw the bytes before any conversion are checked on the way in `raw`.
struct BodyOutput {
    FILE *out;
    bool quotedPrintable;
    bool holdLineEnd;
    bool lineEndHeld;
    BvBase64State *base64;
    int codepage;
    bool checkRaw;
    Utf8Check raw;
    bool keepLineEnds;  // else every line ends in CR LF
    const char *lineEnd;  // the last line's own, when kept
    size_t gathered;  // bytes waiting in gBodyBlock
};

// Body bytes are gathered into blocks: one stdio call per block instead of
// one or two per line.
char gBodyBlock[kCopyBlock];

void FlushBody(BodyOutput &o) {
    if (o.gathered) fwrite(gBodyBlock, 1, o.gathered, o.out);
    o.gathered = 0;
}

void EmitBody(BodyOutput &o, const void *bytes, size_t len) {
    if (o.gathered + len > sizeof gBodyBlock) FlushBody(o);
    if (len > sizeof gBodyBlock) {
        fwrite(bytes, 1, len, o.out);
        return;
    }
    memcpy(gBodyBlock + o.gathered, bytes, len);
    o.gathered += len;
}

int WriteLineEnd(BodyOutput &o) {
    const char *eol = o.keepLineEnds ? o.lineEnd : MIME_TEXT_EOL;
    size_t len = strlen(eol);
    EmitBody(o, eol, len);
    if (o.checkRaw) o.raw.Take(eol, len);
    return (int)len;
}

// Writes the piece of a body line in gLineBuf; a line end follows the last
// piece unless it ends in a soft line break (or is held, to be written
// before the next line). *carry receives the length of the text moved to
// the front of gLineBuf for the next piece. Returns the bytes written.
int64_t WriteBodyPiece(BodyOutput &o, bool continues, int *carry) {
    int len = gLineLen;
    bool softBreak = false;
    if (o.quotedPrintable) {
        if (continues) *carry = SplitEscapeLength(gLineBuf, len);
        len = DecodeQuotedPrintable(gLineBuf, len - *carry, &softBreak);
        if (continues && softBreak) {
            gLineBuf[len++] = '=';  // inside a line an "=" before "=" is text
            softBreak = false;
        }
    }
    int64_t written = 0;
    if (o.base64) {  // line ends are no content
        static unsigned char decoded[BV_LINE_BUF_LEN / 4 * 3 + 8];
        size_t n = bvcom_Base64Decode(o.base64, gLineBuf, (size_t)len, decoded);
        EmitBody(o, decoded, n);
        written = (int64_t)n;
    } else {
        if (o.lineEndHeld) {
            written += WriteLineEnd(o);
            o.lineEndHeld = false;
        }
        if (o.checkRaw) o.raw.Take(gLineBuf, (size_t)len);
        if (o.codepage == 28591 && 2 * (size_t)len <= sizeof gBodyBlock) {
            if (o.gathered + 2 * (size_t)len > sizeof gBodyBlock) FlushBody(o);
            size_t n = Latin1ToUtf8(gLineBuf, (size_t)len, gBodyBlock + o.gathered);
            o.gathered += n;
            written += (int64_t)n;
        } else if (o.codepage) {
            FlushBody(o);
            written += (int64_t)WriteConverted(gLineBuf, (size_t)len, o.codepage, o.out);
        } else {
            EmitBody(o, gLineBuf, (size_t)len);
            written += len;
        }
    }
    if (*carry) memmove(gLineBuf, gLineBuf + gLineLen - *carry, (size_t)*carry);
    if (o.base64 || continues || softBreak) return written;
    if (o.keepLineEnds) o.lineEnd = gLineEnd;
    if (o.holdLineEnd) o.lineEndHeld = true;
    else written += WriteLineEnd(o);
    return written;
}

// Multi-byte escape charsets whose sequences must not be split by a soft break.
bool NeedsSoftBreakJoin(int classCode, int quotedPrintable, const char *charset) {
    if (!quotedPrintable || PartClassEncoding(classCode) == MIME_BODY_BASE64 || !charset) return false;
    return strcasecmp(charset, "iso-2022-jp") == 0 || strcasecmp(charset, "iso-2022-kr") == 0 ||
           strcasecmp(charset, "koi8-r") == 0;
}

int CopyByteCount(FILE *stream, FILE *out, const Delimiters &d, int32_t *sizeOut, int64_t byteCount) {
    static char block[kCopyBlock];
    int64_t left = byteCount, copied = 0;
    while (left > 0) {
        size_t want = left > (int64_t)sizeof(block) ? sizeof(block) : (size_t)left;
        size_t got = fread(block, 1, want, stream);
        if (got == 0) break;
        if (out) fwrite(block, 1, got, out);
        copied += (int64_t)got;
        left -= (int64_t)got;
    }
    *sizeOut = (int32_t)(copied > INT32_MAX ? INT32_MAX : copied);
    int atEnd = ReadMimeLine(stream, NULL, 0, 0);
    if (!atEnd && gLineBuf[0] == 0) atEnd = ReadMimeLine(stream, NULL, 0, 0);
    if (!atEnd && d.openLen && strcmp(gLineBuf, d.open) == 0) return COPY_AT_DELIMITER;
    if (!atEnd && d.openLen && strcmp(gLineBuf, d.close) == 0) {
        com_strncpy(gClosedBoundary, d.open + 2, MIME_BOUNDARY_LEN);
        return COPY_AT_CLOSE;
    }
    return atEnd ? COPY_AT_EOF : COPY_AT_DELIMITER;
}

// A delimiter of the enclosing multipart inside this part: this part and
// this multipart end there. Returns -1 when the line is no such delimiter.
int EnclosingDelimiterResult(const char *line, const char *enclosing, const Delimiters &d) {
    if (!enclosing[0] || line[0] != '-' || line[1] != '-') return -1;
    size_t span = d.openLen ? d.openLen : strlen(enclosing);
    if (strncasecmp(line + 2, enclosing, span) != 0) return -1;
    if (d.openLen && strcasecmp(line, d.open) == 0) return -1;
    char enclosingDelim[MIME_DELIM_LEN];
    bv_snprintf(enclosingDelim, sizeof(enclosingDelim), "--%.*s", MIME_BOUNDARY_LEN, enclosing);
    return strcmp(line, enclosingDelim) == 0 ? COPY_AT_CLOSE : COPY_AT_DELIMITER;
}


}  // namespace

extern "C" int CopyPartBody(FILE *stream, FILE *out, const char *boundary, const char *enclosingBoundary,
                            int classCode, int quotedPrintable, const char *charset, int32_t *sizeOut,
                            int64_t byteCount) {
    int32_t scratchSize;
    if (!sizeOut) sizeOut = &scratchSize;
    *sizeOut = 0;
    if (!boundary) boundary = "";
    if (!enclosingBoundary) enclosingBoundary = "";
    Delimiters d;
    MakeDelimiters(boundary, &d);
    gLastCopyDecodedBase64 = 0;
    gLastCopyRawWasUtf8 = gLastCopyRawWasAscii = 0;
    bool checkRaw = out && gCopyConvertCodepage && gCopyConvertCodepage != 65001;
    int codepage = checkRaw && gCopyConvertCodepage == 28591 ? 28591 : 0;  // the one converted on the way
    gCopyConvertCodepage = 0;
    bool sentBinary = gCopyKeepsLineEnds != 0;
    gCopyKeepsLineEnds = 0;
    if (byteCount > 0) return CopyByteCount(stream, out, d, sizeOut, byteCount);
    BvBase64State base64State = {0, 0};
    BvBase64State *base64 = out && PartClassEncoding(classCode) == MIME_BODY_BASE64 ? &base64State : nullptr;
    gLastCopyDecodedBase64 = base64 != nullptr;
    bool joinSoftBreaks = NeedsSoftBreakJoin(classCode, quotedPrintable, charset);
    // The line end before a delimiter belongs to the delimiter: an
    // attachment kept as it came ends with its last byte, not with an added
    // CR LF. (At the end of the file the last line end is kept.) A body sent
    // as binary, and UTF-16 or UTF-32 text, keeps the line ends it came with:
    // they are content, and a wide charset's own line ends are several
    // bytes, of which the line reader sees one or two.
    bool attachment = classCode == BV_PART_ATTACHMENT;
    bool keepLineEnds = !base64 && !quotedPrintable &&
                        (sentBinary || (charset && IsWideCodepage(com_iso_codepage(0, (char *)charset))));
    BodyOutput body = {out,      quotedPrintable != 0, attachment || keepLineEnds,
                       false,    base64,               codepage,
                       checkRaw, Utf8Check(),          keepLineEnds,
                       "",       0};
    int64_t written = 0;
    int result = COPY_AT_EOF;
    // A line longer than the buffer comes in pieces; only the first piece of
    // a line can be a delimiter, and the pieces are written as one line.
    bool atLineStart = true;
    int carry = 0;
    while (ReadBodyLine(stream, carry) == 0) {
        carry = 0;
        if (atLineStart) {
            while (joinSoftBreaks && !gLineContinues && gLineLen > 0 && gLineBuf[gLineLen - 1] == '=' &&
                   !IsOpening(gLineBuf, d)) {
                if (ReadBodyLine(stream, gLineLen - 1) != 0) break;
            }
            int enclosing = EnclosingDelimiterResult(gLineBuf, enclosingBoundary, d);
            if (enclosing >= 0) {
                result = enclosing;
                break;
            }
            if (IsOpening(gLineBuf, d)) {
                result = strcmp(gLineBuf, d.close) == 0 ? COPY_AT_CLOSE : COPY_AT_DELIMITER;
                if (result == COPY_AT_CLOSE) com_strncpy(gClosedBoundary, boundary, MIME_BOUNDARY_LEN);
                break;
            }
        }
        bool continues = gLineContinues != 0;
        atLineStart = !continues;
        if (!out) continue;
        written += WriteBodyPiece(body, continues, &carry);
    }
    if (body.lineEndHeld && result == COPY_AT_EOF) written += WriteLineEnd(body);
    FlushBody(body);
    gLastCopyRawWasUtf8 = checkRaw && body.raw.IsUtf8Text();
    gLastCopyRawWasAscii = checkRaw && body.raw.IsAscii();
    *sizeOut = (int32_t)(written > INT32_MAX ? INT32_MAX : written);
    return result;
}
