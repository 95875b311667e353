// Pieces of the message parser shared between its files: the part walker,
// the body copy, the post-passes and the small text helpers.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "mime/mime.h"

// Limits, each named once next to what it bounds.
#define MIME_MAX_LINE_CHARS 199990    // characters kept of one logical line
#define MIME_MAX_ECHO_CHARS 4095      // echo buffer of a physical line (written out when full)
#define MIME_MAX_CARRY_CHARS 16       // room a body piece always has after the text carried into it
#define MIME_MAX_SEMICOLON_JOINS 21   // folds joined with ";" in one logical line
#define MIME_MAX_NEST_LEVEL 30        // embedded messages inside each other
#define MIME_MAX_EMBEDDED_MSGS 500    // embedded messages of one top-level message
#define MIME_MAX_MULTIPART_DEPTH 100  // multiparts inside each other, whole message tree
#define MIME_BOUNDARY_LEN 256         // boundary text kept
#define MIME_DELIM_LEN (MIME_BOUNDARY_LEN + 8)
#define MIME_PART_NAME_LEN 500        // part name built by the walker
#define MIME_HEADER_NAME_LEN 250      // part name taken from a top-level header
#define MIME_PART_CHARSET_LEN 32      // charset of a body part
#define MIME_MSG_CHARSET_LEN 127      // charset of the message
#define MIME_PATH_LEN 1024
#define MIME_MAX_INCLUDED_FILE_BYTES ((int64_t)256 << 20)  // a file that a message names by path

// Part files are written in binary mode; where a line ends as in a text-mode
// file of the original platform, it ends in CR LF.
#define MIME_TEXT_EOL "\r\n"

// One character from a stream that only this thread reads.
#if defined(__GLIBC__)
#define MIME_GETC(f) getc_unlocked(f)
#else
#define MIME_GETC(f) getc(f)
#endif

#ifdef __cplusplus
extern "C" {
#endif

extern int gMultipartDepth;
// Set by the caller of ParseMimeParts when the multipart it walks next is a
// multipart/digest; the walk takes and clears it.
extern int gNextMultipartIsDigest;

// ---- text helpers (mime_text.cpp) ----
int StartsNoCase(const char *text, const char *prefix);
// Value of a header line: after the first colon, one ";" and all spaces.
const char *HeaderValue(const char *line);
// Copies src up to the first character of `stops` (or its end), at most
// `limit` characters, into out (limit + 1 bytes).
void CopyUntil(char *out, size_t limit, const char *src, const char *stops);
// Part name from "NAME=" (cut at ";") and then from NAME=" (cut at the
// closing quote); returns non-zero when either was found.
int TakeNameParam(const char *line, char *out, size_t limit);
// The boundary of a Content-Type line into out (limit + 1 bytes): from
// "boundary=", or joined from the RFC 2231 pieces "boundary*0=",
// "boundary*0*=" and on. Returns non-zero when one was found.
int TakeBoundaryParam(const char *line, char *out, size_t limit);
// An RFC 2231 parameter ("name*=", "name*0=", "name*0*=", ...) into out
// (limit + 1 bytes): pieces joined, %XX decoded, text in the charset it names
// converted to UTF-8. Returns non-zero when the line has one.
int TakeExtendedParam(const char *line, const char *param, char *out, size_t limit);
// 1 when a Content-Type line names content that is not text (application/,
// audio/, video/, image/ and the like): it stays an attachment, bytes as
// they came.
int IsBinaryMediaType(const char *line);
// The media type of a Content-Type line ("application/pdf"), lower case.
void TakeMediaType(const char *line, char *out, size_t limit);
// 1 for a message/ media type other than message/rfc822 (a report, a news
// article): kept as an attachment of that type, its bytes as they came.
int IsKeptMessageType(const char *mediaType);
// An attachment keeps the media type it came with: the part's charset field,
// which means nothing for content that is not text, carries it for the
// composer; a type too long for it goes before the contentId
// (BV_LONG_TYPE_MARKER). Text keeps its charset; reports keep their type.
void KeepAttachmentType(mpart *part, const char *mediaType);
#define MIME_MEDIA_TYPE_LEN (BV_LONG_TYPE_LEN + 1)  // one more, to tell a longer type
int64_t PartFileLength(const char *path);
void PartPath(const char *tempDir, const mdat *record, int index, char *out, size_t cap);
// Text in an ASCII-compatible code page that holds only ASCII is already UTF-8.
// UTF-16 and UTF-32 in either byte order.
int IsWideCodepage(int codepage);
int ConvertsAsAscii(int codepage);
int IsPlainAscii(const char *text, size_t len);
// 1 when text[0..len) is well-formed UTF-8 (plain ASCII included).
int IsValidUtf8(const char *text, size_t len);
// com_CodepageToWindows(text, codepage, 65001, capacity), skipped when nothing would change.
void ConvertToUtf8(char *text, int codepage, size_t capacity);
void LogDebug(const char *format, ...) __attribute__((format(printf, 1, 2)));
// "BV Warning: " naming the message, for data that a limit leaves out.
void WarnLimit(const mdat *record, const char *what);
// com_AllocPart, with one warning per record when its part slots are full.
int AllocPartOrWarn(mdat *record);
void ForgetPartLimitWarning(void);
// An embedded message one level deeper than the parser follows: its text is
// stored as the attachment "Message.eml" (warned), so no level is lost.
void KeepTooDeepMessage(const mdat *record, int *classCode, char *name, size_t nameCap);

// ---- body copy (part_body.cpp) ----
enum { COPY_AT_DELIMITER = 0, COPY_AT_EOF = 2, COPY_AT_CLOSE = 3 };
// A part's class while the parser reads it is a kind (BV_PART_ATTACHMENT,
// BV_PART_TEXT, BV_PART_HTML, BV_PART_INLINE_TEXT) with the encoding its
// body still has. The record carries the combined class until FixTextParts
// has decoded the file; then only the kind is left.
enum MimePartClass {
    MIME_CLASS_UNSET = -1,          // no type seen yet
    MIME_CLASS_BASE64 = 3,          // base64, decoded into an attachment unless a text type follows
    MIME_CLASS_BASE64_TEXT = 6,
    MIME_CLASS_BASE64_HTML = 10,
    MIME_CLASS_BASE64_BINARY = 15,  // older records: as MIME_CLASS_BASE64
    MIME_CLASS_UUENCODED = 16,      // "x-uuencode": an attachment named by its "begin" line
    MIME_CLASS_KEPT_ENCODED = 4,    // an attachment kept in its transfer encoding
};
enum MimeBodyEncoding { MIME_BODY_AS_IS, MIME_BODY_BASE64, MIME_BODY_UUENCODED };

static inline int PartClassEncoding(int partClass) {
    switch (partClass) {
    case MIME_CLASS_BASE64:
    case MIME_CLASS_BASE64_TEXT:
    case MIME_CLASS_BASE64_HTML:
    case MIME_CLASS_BASE64_BINARY: return MIME_BODY_BASE64;
    case MIME_CLASS_UUENCODED: return MIME_BODY_UUENCODED;
    default: return MIME_BODY_AS_IS;
    }
}

// What the part is once its body is decoded.
static inline int PartClassKind(int partClass) {
    switch (partClass) {
    case MIME_CLASS_BASE64_TEXT: return BV_PART_TEXT;
    case MIME_CLASS_BASE64_HTML: return BV_PART_HTML;
    case MIME_CLASS_BASE64:
    case MIME_CLASS_BASE64_BINARY:
    case MIME_CLASS_UUENCODED: return BV_PART_ATTACHMENT;
    default: return partClass;
    }
}

// The class of a part of `kind` whose body has `encoding`.
static inline int PartClassOf(int kind, int encoding) {
    if (encoding == MIME_BODY_UUENCODED) return MIME_CLASS_UUENCODED;
    if (encoding == MIME_BODY_AS_IS) return kind;
    if (kind == BV_PART_TEXT) return MIME_CLASS_BASE64_TEXT;
    if (kind == BV_PART_HTML) return MIME_CLASS_BASE64_HTML;
    return MIME_CLASS_BASE64;
}

// The same body taken as another kind: the encoding stays to be undone.
static inline int PartClassAsKind(int partClass, int kind) {
    return PartClassOf(kind, PartClassEncoding(partClass));
}

// Where one step of the multipart walk (ParseMimeParts) leaves it.
enum MimeWalkResult {
    WALK_FAILED = MIME_PARSE_FAILED,  // hard failure: the message is not handed over
    WALK_NEXT_PART = -1,              // go on with the next part
    WALK_AT_CLOSE = 0,                // this level's closing delimiter, or done with the record as it is
    WALK_AT_EOF = 1,
    WALK_NO_BOUNDARY = 2,             // the inner boundary never came: the part is stored as a leaf
    WALK_CLOSED_IN_BODY = 3,          // a body ran up to this level's closing delimiter
};
// The boundary whose closing delimiter a copy met last: an embedded message
// whose body ran up to the closing delimiter of the multipart around it has
// ended that multipart too.
extern char gClosedBoundary[MIME_BOUNDARY_LEN + 1];
// Set by CopyPartBody when it decoded base64 content (the MIME_CLASS_BASE64* classes)
// into the part file; the post-pass then only settles the class.
extern int gLastCopyDecodedBase64;
// Set by the caller before one CopyPartBody: the code page whose text the
// copy converts to UTF-8 line by line on the way (0: none).
extern int gCopyConvertCodepage;
// Set by the caller before one CopyPartBody: the body was sent as "binary",
// so the line ends inside it are content and are kept as they came.
extern int gCopyKeepsLineEnds;
// Set by a CopyPartBody that converted: its bytes before the conversion were
// well-formed UTF-8 with non-ASCII bytes (mislabelled text, kept as UTF-8).
extern int gLastCopyRawWasUtf8;
// ... or ASCII without ESC: the same in UTF-8.
extern int gLastCopyRawWasAscii;
int CopyPartBody(FILE *stream, FILE *out, const char *boundary, const char *enclosingBoundary, int classCode,
                 int quotedPrintable, const char *charset, int32_t *sizeOut, int64_t byteCount);

// ---- walker (part_walker.cpp) ----
// Per top-level message: clears the embedded-message count and the walker's memory.
void ResetPartWalker(void);
// Part files written with their final bytes: FixTextParts then only settles
// the class (PART_DECODED) or the charset (PART_CONVERTED). TakePartMark
// returns 1 once for a part marked so.
// PART_LATIN1_OF_UTF8: converted from ISO-8859-1 while written, but its bytes
// were UTF-8 already: the pass maps them back.
enum { PART_DECODED = 1, PART_CONVERTED = 2, PART_LATIN1_OF_UTF8 = 4 };
void MarkPart(const mpart *part, int mark);
int TakePartMark(const mpart *part, int mark);
// The code page of a text/plain leaf at `index` whose conversion to UTF-8 is
// settled while it is written (0: by FixTextParts afterwards): 65001 (UTF-8
// text is final as it is), 28591 (ISO-8859-1 is converted on the way: its
// conversion goes byte by byte, so a copy in line pieces gives what a pass
// over the file would) or another ASCII-compatible one-byte code page (the
// copy checks whether the bytes read as UTF-8; only when not, the pass
// converts the file).
int ConvertWhileWriting(const mdat *record, int index, int classCode, const char *charset);
// After the copy of a part whose code page ConvertWhileWriting gave (0:
// none): marks the part for FixTextParts, by what the copy saw of its bytes.
void MarkConvertedCopy(const mpart *part, int codepage);
// A part file of the message could not be written whole (full disk, short
// write): logged, and the message fails instead of arriving damaged.
extern int gPartWriteFailed;
void NotePartWriteFailure(const char *path);
int ParseMimeParts(mdat *record, const char *boundary, const char *enclosingBoundary, const char *tempDir,
                   FILE *stream, const char *charset);

// ---- header handlers of the store formats (attachment_headers.cpp) ----
int AddMhsAttachment(mdat *record, const char *value, const char *tempDir);
void NameMhsAttachments(mdat *record, const char *names);
void CopyFileIdAttachment(mdat *record, const char *fileId, const char *tempDir);
void CopyBeckyInclude(FILE *partFile, const char *beckyName);

// ---- addresses (address_list.cpp) ----
void ParseAddressList(mdat *record, const char *value, int type);
void CleanAddress(char *addr);

// ---- post-passes (post_passes.cpp) ----
void FixTextParts(mdat *record, const char *tempDir);
// One line to UTF-8 from `codepage` (NUL bytes kept); returns the bytes written.
size_t WriteConverted(char *line, size_t len, int codepage, FILE *out);
// ISO-8859-1 text as UTF-8 into utf8 (room for 2 * len bytes); returns its length.
size_t Latin1ToUtf8(const char *text, size_t len, char *utf8);
void ExpandEmlAttachments(mdat *record, const char *tempDir);
int KeepLongSubject(mdat *record, const char *tempDir, const char *subjectText);
void ConvertStickyNote(mdat *record, const char *tempDir);

#ifdef __cplusplus
}

// Whether bytes read in order form well-formed UTF-8 with non-ASCII bytes,
// or are ASCII without ESC (an ISO-2022 shift, which a conversion acts on).
struct Utf8Check {
    int pending = 0;  // continuation bytes still due
    bool high = false, valid = true, escape = false;

    void Take(const char *text, size_t len) {
        for (size_t i = 0; i < len && valid; i++) {
            unsigned c = (unsigned char)text[i];
            if (pending > 0) {
                valid = (c & 0xC0) == 0x80;
                pending--;
            } else if (c >= 0x80) {
                high = true;
                pending = c >= 0xC2 && c <= 0xDF ? 1 : (c >= 0xE0 && c <= 0xEF ? 2 : (c >= 0xF0 && c <= 0xF4 ? 3 : -1));
                valid = pending > 0;
            } else if (c == 0x1B) {
                escape = true;
            }
        }
    }
    bool IsUtf8Text() const { return high && valid && pending == 0; }
    bool IsAscii() const { return !high && !escape; }
};
#endif
