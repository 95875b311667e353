// Pieces shared by the event and the task writer.
#pragma once

#include <stddef.h>
#include "calwrite/calwrite.h"

#define BV_UID_HEX_LEN 33         // 32 hexadecimal digits of the digest, terminator
#define BV_CAL_TIME_LEN 32        // "20240115T1400" and the like
#define BV_FOLD_COLUMN 76         // a written line is folded once it holds this many characters
#define BV_FOLD_LINE_MAX 1024     // a run of non-ASCII bytes is folded here at the latest
#define BV_ATTACH_LINE_CHARS 72   // base64 characters per attachment line

// The item's UID: com_MsgIsDuplicate fills the digest, written as 32
// lower-case hexadecimal digits.
void ItemUid(mdat *record, const char *workDir, char out[BV_UID_HEX_LEN]);
// "%d%02d%02dT%02d%02d" of a time (no seconds: the callers append them).
void MinuteText(const FILETIME *time, char out[BV_CAL_TIME_LEN]);
// "%d%02d%02dT%02d%02d%02dZ" of a time.
void UtcSecondText(const FILETIME *time, char out[BV_CAL_TIME_LEN]);
// Cuts text at its first CR or LF.
void CutAtLineBreak(char *text);
// Converts text in place from UTF-8 to the record's code page, unless "/UTF8".
void ToRecordCodepage(const mdat *record, char *text, size_t capacity);
// Writes a one-line value with each line break (CR LF, CR or LF) as the two
// characters backslash and n, so the value stays on its line.
void WriteLineValue(const char *text);
// A description value after "DESCRIPTION:" (CR as backslash-n, LF dropped,
// lines folded with a TAB).
void WriteFoldedText(const char *text);
// One ATTACH property with the part file's bytes in base64.
void WriteAttach(const char *tempPath, const mpart *part);
// Every attachment part of the record, under "/EVCS" with bit 2 of its level.
void WriteItemAttachments(const mdat *record, const char *workDir);
// Opens the task list beside the calendar file and writes its header row.
void OpenTaskCsv(void);
