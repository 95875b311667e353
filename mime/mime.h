// RFC 822 / MIME parsing into the item record and its part files.
#pragma once

#include <stdio.h>
#include "record/mdat.h"

#define BV_LINE_BUF_LEN 200000

#ifdef __cplusplus
extern "C" {
#endif

extern char gLineBuf[BV_LINE_BUF_LEN];
// Embedded messages being parsed inside each other, and embedded messages
// made so far for the current top-level message.
extern int gNestLevel;
extern int gEmbeddedMsgCount;

enum MimeParseResult { MIME_PARSED = 0, MIME_PARSE_SKIPPED = 1, MIME_PARSE_FAILED = -101 };
// A MimeParseResult: skipped when empty (or skipped by subject), failed
// when the record or a part file could not be made.
int Parse_RFC822_Msg(FILE *stream, mdat *record, const char *tempDir, const char *enclosingBoundary, int topLevel);
// 0 when a line was read into gLineBuf, 1 at end of file with nothing read.
int ReadMimeLine(FILE *stream, FILE *echoFile, int unfold, int startOffset);
// A body line, without unfolding or echo, that is never cut: a physical line
// longer than the buffer comes in pieces, and gLineContinues is 1 while the
// rest of the line follows in the next call. Results as ReadMimeLine.
int ReadBodyLine(FILE *stream, int startOffset);
extern int gLineContinues;
// Length of the text in gLineBuf (a body line may hold NUL bytes).
extern int gLineLen;
// The line end the last line came with ("\r\n", "\n", "\r", "\r\r\n"; empty
// at end of file or for a piece of a longer line).
extern const char *gLineEnd;

#ifdef __cplusplus
}
#endif
