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
// An attachment keeps the media type it came with: the part's charset field,
// which means nothing for content that is not text, carries it (when it
// fits) for the composer. Text keeps its charset; delivery reports keep
// their type.
void KeepAttachmentType(mpart *part, const char *mediaType);
#define MIME_MEDIA_TYPE_LEN 127
int64_t PartFileLength(const char *path);
void PartPath(const char *tempDir, const mdat *record, int index, char *out, size_t cap);
// Text in an ASCII-compatible code page that holds only ASCII is already UTF-8.
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
// Class of a part whose body is still uuencoded ("x-uuencode"); FixTextParts
// decodes it into an attachment named by its "begin" line.
#define MIME_CLASS_UUENCODED 16
// The boundary whose closing delimiter a copy met last: an embedded message
// whose body ran up to the closing delimiter of the multipart around it has
// ended that multipart too.
extern char gClosedBoundary[MIME_BOUNDARY_LEN + 1];
// Set by CopyPartBody when it decoded base64 content (classes 3, 6, 10, 15)
// into the part file; the post-pass then only settles the class.
extern int gLastCopyDecodedBase64;
// Set by the caller before one CopyPartBody: the code page whose text the
// copy converts to UTF-8 line by line on the way (0: none).
extern int gCopyConvertCodepage;
int CopyPartBody(FILE *stream, FILE *out, const char *boundary, const char *enclosingBoundary, int classCode,
                 int quotedPrintable, const char *charset, int32_t *sizeOut, int64_t byteCount);

// ---- walker (part_walker.cpp) ----
// Per top-level message: clears the embedded-message count and the walker's memory.
void ResetPartWalker(void);
// Part files written with their final bytes: FixTextParts then only settles
// the class (PART_DECODED) or the charset (PART_CONVERTED). TakePartMark
// returns 1 once for a part marked so.
enum { PART_DECODED = 1, PART_CONVERTED = 2 };
void MarkPart(const mpart *part, int mark);
int TakePartMark(const mpart *part, int mark);
// 65001 when a text/plain leaf at `index` is UTF-8 text that FixTextParts
// would only copy: it is then final as it is written; else 0 (the pass
// converts it afterwards).
int ConvertWhileWriting(const mdat *record, int index, int classCode, const char *charset);
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
void ExpandEmlAttachments(mdat *record, const char *tempDir);
int KeepLongSubject(mdat *record, const char *tempDir, const char *subjectText);
void ConvertStickyNote(mdat *record, const char *tempDir);

#ifdef __cplusplus
}
#endif
