// The common library (libbvcom.so): what the module calls, and the set-up
// API through which a host configures it. Functions that the suite imports by
// ordinal carry the ordinal in their comment.
//
// Buffer contracts: a function that writes text takes the capacity of the
// buffer where the call sites cannot agree on one width; where it does not,
// the comment names the width the caller must provide.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include "platform/wintypes.h"
#include "record/mdat.h"

#if defined(BVCOM_BUILD)
#define BVCOM_API BV_EXTERN_C __attribute__((visibility("default")))
#else
#define BVCOM_API BV_EXTERN_C
#endif

// A value the host passes through the module to the library untouched.
typedef intptr_t BvHostValue;

#define BV_NOTES_LEN 18432     // note text of one item, terminator included
#define BV_TOKEN_LEN 256       // one switch token, terminator included
#define BV_ADR_ENTRY_LEN 2048  // one entry of com_Extract_Adr

// ---- log, switches -----------------------------------------------------------
// One line per call; the log file is flushed after each line.
BVCOM_API void com_Log(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Token `index` (from 0) of the host's switch string into buf (BV_TOKEN_LEN).
BVCOM_API int com_GetParm(int index, char *buf);

// ---- record --------------------------------------------------------------------
// Each Alloc appends a zeroed sub-record at index partCount / recipCount /
// exceptionCount; the caller raises the count. Zero when the limit is reached.
BVCOM_API int com_AllocPart(mdat *rec);
BVCOM_API int com_AllocRecip(mdat *rec);
BVCOM_API int com_AllocSubMsg(mdat *rec, int partIndex);
BVCOM_API int com_AllocBreakout(mdat *rec);
BVCOM_API void com_ResetObject(mdat *rec);
BVCOM_API void com_Deallocate_All(mdat *rec, const char *workDir);
BVCOM_API void com_Deallocate(mdat *rec, const char *workDir);
BVCOM_API void com_CalcMdatSize(mdat *rec, int *headerSize, int *itemSize);
// Part file name "%sPRT%03d%02d.TMP" of part `partIndex` of `rec`.
BVCOM_API void com_PartFileName(const char *workDir, const mdat *rec, int partIndex, char *out, size_t outCap);

// ---- item checks ------------------------------------------------------------------
#define BV_DUP_DIGEST (-99)
#define BV_DUP_CHECK 101
#define BV_DUP_REGISTER 102
BVCOM_API int com_MsgIsDuplicate(mdat *rec, const char *workDir, int mode, const char *folder);
BVCOM_API int com_SearchMsg(mdat *rec, const char *workDir, BvHostValue a, BvHostValue b, BvHostValue c);
BVCOM_API int com_Check_MaxMsgDate(mdat *rec, BvHostValue hostValue);
BVCOM_API int com_Check_MaxCalDate(mdat *rec);
BVCOM_API int com_Check_MaxTaskDate(mdat *rec);
BVCOM_API int com_ExcludeSubject(const char *text);
BVCOM_API void com_AttachSize(mdat *rec, const char *workDir, int itemNumber, BvHostValue limit);
BVCOM_API void com_AddressTranslate(mdat *rec);
BVCOM_API void com_AddrCharConvert(mdat *rec);
BVCOM_API void com_CharConvert(mdat *rec, const char *workDir);
BVCOM_API void com_Pause(int milliseconds);

// ---- notes ------------------------------------------------------------------------
BVCOM_API void com_WriteNotes(mdat *rec, const char *notes, const char *workDir);
// Fills notes (BV_NOTES_LEN bytes) with the item's note text; returns its length.
BVCOM_API int com_ReadNotes(mdat *rec, char *notes, const char *workDir);

// ---- dates ------------------------------------------------------------------------
BVCOM_API void com_Parse_Mime_Date(const char *text, mdat *rec);
BVCOM_API int com_DateIsDST(const FILETIME *time, int isLocal);
BVCOM_API int com_TZDateIsDST(const FILETIME *time, const char *tzName, int *dstBias, int *flag);
BVCOM_API int com_DateIsNull(const FILETIME *time);  // zero or year 1601
BVCOM_API FILETIME com_Create_FileTime(int month, int day, int year, int hour, int minute, int second);
BVCOM_API void com_OffsetFileTime(FILETIME *time, int days, int hours, int minutes);
BVCOM_API void com_OffsetFileTimeVal(FILETIME *time, int minutes);
BVCOM_API void com_FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local);
BVCOM_API int com_GetTZInfo(const char *tzName, int *bias, int *dstBias, int *stdBias, int flag);
// vtimezoneText: 2048 bytes; tzid: 256 bytes.
BVCOM_API int com_GetVTimeZone(const char *tzName, char *vtimezoneText, char *tzid);
BVCOM_API int com_ExpandRecur(mdat *rec, const char *workDir);
BVCOM_API void com_Genrrule(mdat *rec, char *out);  // out: 512 bytes
// Ordinal 43: a FILETIME as text ("2024-01-15 14:00:00").
BVCOM_API void com_FileTimeText(const FILETIME *time, char *out, size_t outCap);

// ---- text -----------------------------------------------------------------------
// Converts text in place between Windows code pages, through ICU; the result
// is cut (at a character boundary) to fit `capacity` bytes with terminator.
BVCOM_API int com_CodepageToWindows(char *text, int fromCodepage, int toCodepage, size_t capacity);
// codepage 0: returns the code page of charset `name` (0 unknown); otherwise
// writes the charset name of `codepage` into name (BV_CHARSET_LEN bytes).
BVCOM_API int com_iso_codepage(int codepage, char *name);
// Decodes RFC 2047 encoded words in place into UTF-8; never lengthens the text.
// Returns the code page of the words, or 0 when there were none.
BVCOM_API int com_Decode_iso(char *text, int flags);
// Encodes non-ASCII text in place as RFC 2047 words of `codepage`; charsetOut
// (BV_CHARSET_LEN) receives the charset used.
BVCOM_API void com_Encode_iso(char *text, int codepage, char *charsetOut, size_t capacity);
// mode "/fn/ln": splits name into first (out1), last (out2) and rest (out3).
// Otherwise mode is a mail domain and out3 receives the full address line.
// Each output holds BV_NAME_LEN bytes.
BVCOM_API int com_NameConvert(const char *name, const char *mode, char *out1, char *out2, char *out3, int flags);
// nameOut: BV_NAME_LEN bytes; addrOut: BV_ADDR_LEN bytes.
BVCOM_API void com_ExtractMIMEAddr(const char *text, char *nameOut, char *addrOut);
// Next entry of an address list (BV_ADR_ENTRY_LEN); advances *cursor.
BVCOM_API int com_Extract_Adr(const char **cursor, char *entryOut);
BVCOM_API void com_Unescape(char *text);
BVCOM_API void com_delspaces(char *text);
BVCOM_API void com_ltrim(char *text);
BVCOM_API void com_rtrim(char *text);
BVCOM_API void com_Remove_Quotes(char *text);
BVCOM_API void com_StripCR(char *text);
BVCOM_API void com_DeSlash(char *text);
// Copies at most n characters and always terminates: dst holds n + 1 bytes.
BVCOM_API char *com_strncpy(char *dst, const char *src, size_t n);
// Decode a part file in place; return the new size, -1 on failure.
BVCOM_API int64_t com_convert_base64(const char *partFile, const char *tempDir);
BVCOM_API int64_t com_uudecode(const char *partFile, const char *tempDir);
BVCOM_API void decode_modified_ut7(char *text, size_t capacity);
// Ordinal 35: case-insensitive search from offset `start`; first match or NULL.
BVCOM_API char *com_stristr(const char *text, const char *pattern, int start);
// Ordinal 47: strips the line end (CR, LF) of a line.
BVCOM_API void com_StripLineEnd(char *line);

// ---- files ------------------------------------------------------------------------
BVCOM_API void com_AppendSlash(char *path, size_t capacity);
BVCOM_API void com_ExtractFileDir(const char *path, char *out, size_t outCap);   // no trailing separator
BVCOM_API void com_ExtractFileExt(const char *path, char *out, size_t outCap);   // without the dot
BVCOM_API void com_ExtractFileName(const char *path, char *out, size_t outCap);
BVCOM_API int64_t com_GetFileSize(const char *path);  // -1 when missing
BVCOM_API int64_t com_fcopy(const char *source, const char *target);  // bytes copied, -1 no source
BVCOM_API int com_ValidateOutputDir(const char *path, int flags);  // non-zero when usable
BVCOM_API int _com_mkdir(const char *path);  // creates missing parents; non-zero on success
// Makes a relative path absolute against the host's settings directory.
BVCOM_API void com_AddSystemDir(char *path, size_t capacity);

// ---- host settings ------------------------------------------------------------------
#define BV_HKEY_USERS 3
#define BV_HKEY_LOCAL_MACHINE 2
#define BV_HKEY_CURRENT_USER 1
// Ordinal 37: registry read; non-zero on success.
BVCOM_API int com_RegistryRead(int rootKey, const char *keyPath, const char *valueName, char *out, size_t outCap);
// Ordinal 45: host setting `number` into out (6: the download/work directory).
BVCOM_API int com_GetHostSetting(int number, char *out, size_t outCap);

// ---- host-facing set-up ---------------------------------------------------------------
BVCOM_API void bvcom_SetSwitches(const char *switchString);
BVCOM_API void bvcom_SetWorkDir(const char *workDir);
BVCOM_API void bvcom_SetLogFile(const char *path);  // NULL closes it
BVCOM_API void bvcom_SetLogEcho(int toStderr);
BVCOM_API void bvcom_SetHostSetting(int number, const char *value);
BVCOM_API void bvcom_SetRegistryFile(const char *path);
BVCOM_API void bvcom_SetMessageBoxAnswer(int answer);
