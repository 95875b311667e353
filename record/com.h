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
#include <stdio.h>
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
// Non-zero once the host asked the migration to stop (bvcom_RequestStop);
// long steps that run without a status callback (downloads) poll it.
BVCOM_API int com_StopRequested(void);
// Token `index` (from 0) of the host's switch string into buf (BV_TOKEN_LEN).
BVCOM_API int com_GetParm(int index, char *buf);

// ---- record --------------------------------------------------------------------
// Each Alloc appends a zeroed sub-record at index partCount / recipCount /
// exceptionCount; the caller raises the count. Zero when the limit is reached.
BVCOM_API int com_AllocPart(mdat *rec);
BVCOM_API int com_AllocRecip(mdat *rec);
BVCOM_API int com_AllocSubMsg(mdat *rec, int partIndex);
BVCOM_API int com_AllocBreakout(mdat *rec);
// Clearing: after com_ResetObject, and after com_Deallocate_All followed by
// com_Deallocate, every item field is empty or zero except `groupFolder`
// (kept) and `priority` and `importance` (1, normal); the notes are dropped.
// com_ResetObject also frees what the record still holds and deletes its part
// files in the host's work directory (bvcom_SetWorkDir).
BVCOM_API void com_ResetObject(mdat *rec);
// Frees the recipients and exceptions, drops the notes.
BVCOM_API void com_Deallocate_All(mdat *rec, const char *workDir);
// Frees the parts, embedded records recursively, deletes their part files in
// workDir, and clears the item fields as above.
BVCOM_API void com_Deallocate(mdat *rec, const char *workDir);
// headerSize: bytes of the header-block parts; itemSize: bytes of all part
// files (embedded records included), or for an item without parts the length
// of its main texts.
BVCOM_API void com_CalcMdatSize(mdat *rec, int *headerSize, int *itemSize);
// Part file name "%sPRT%03d%02d.TMP" (workDir, msgNumber, partIndex) of part
// `partIndex` of `rec`; every part file is named through this function. For
// a record embedded by com_AllocSubMsg the stem grows by the parent's part
// index and an 'E' per level: part 0 of the message embedded at part 2 of
// message 7 is "PRT00702E00.TMP", one level deeper "PRT00702E01E00.TMP".
// com_Deallocate deletes these files, embedded levels included.
BVCOM_API void com_PartFileName(const char *workDir, const mdat *rec, int partIndex, char *out, size_t outCap);

// ---- item checks ------------------------------------------------------------------
#define BV_DUP_DIGEST (-99)
#define BV_DUP_CHECK 101
#define BV_DUP_REGISTER 102
// Every mode first fills `digest` with an MD5 over the identifying fields of
// the item's kind (mail: messageId, fromAddr, subject and the SHA-256 of every
// part file, embedded messages included, never the date; contact: names,
// company, title, addresses, phones; event and task: title, location, start,
// end, rrule, organizerAddr); 102 on the record that 101 checked last takes
// the digest of that check. 101: non-zero when registered for `folder`;
// 102: registers it (non-zero when it already was). The register is the file
// that bvcom_SetDuplicateRegister named, else "bvdupreg.txt" in workDir (else
// the host's work directory).
BVCOM_API int com_MsgIsDuplicate(mdat *rec, const char *workDir, int mode, const char *folder);
// The checks accept (non-zero) unless the host set a filter below.
BVCOM_API int com_SearchMsg(mdat *rec, const char *workDir, BvHostValue a, BvHostValue b, BvHostValue c);
BVCOM_API int com_Check_MaxMsgDate(mdat *rec, BvHostValue hostValue);  // `date` in the host's range
BVCOM_API int com_Check_MaxCalDate(mdat *rec);                         // `startTime` in the range
BVCOM_API int com_Check_MaxTaskDate(mdat *rec);  // `startTime`, else `endTime`, in the range
// Non-zero when a host pattern matches anywhere in the text.
BVCOM_API int com_ExcludeSubject(const char *text);
// Removes attachment and embedded-message parts larger than `limit` bytes
// (when positive) or the host's limit, whichever is smaller; later parts move
// down with their files renamed.
BVCOM_API void com_AttachSize(mdat *rec, const char *workDir, int itemNumber, BvHostValue limit);
BVCOM_API void com_AddressTranslate(mdat *rec);  // the host's address map
// Convert contact / mail texts between the code pages the host set; none by default.
BVCOM_API void com_AddrCharConvert(mdat *rec);
BVCOM_API void com_CharConvert(mdat *rec, const char *workDir);
// Sleeps only when the host enabled pauses (bvcom_SetPause); else returns at once.
BVCOM_API void com_Pause(int milliseconds);

// ---- notes ------------------------------------------------------------------------
// Kept in the library under the record's address (so another module instance
// of the process reads them), at most BV_NOTES_LEN - 1 bytes; cleared with the
// record by com_ResetObject, com_Deallocate_All and com_Deallocate.
BVCOM_API void com_WriteNotes(mdat *rec, const char *notes, const char *workDir);
// Fills notes (BV_NOTES_LEN bytes) with the item's note text; returns its length.
BVCOM_API int com_ReadNotes(mdat *rec, char *notes, const char *workDir);

// ---- dates ------------------------------------------------------------------------
BVCOM_API void com_Parse_Mime_Date(const char *text, mdat *rec);
// The first VTIMEZONE of a calendar entry as the entry parser keeps it.
#define BV_VTZ_NAME_LEN 251
typedef struct BvVTimeZone {
    int32_t stdOffset;  // minutes east of UTC of the STANDARD observance
    FILETIME stdStart;  // its DTSTART
    int32_t dstOffset;  // of the DAYLIGHT observance
    FILETIME dstStart;
    char name[BV_VTZ_NAME_LEN];  // the zone's TZID (or display name), at most 250 characters
} BvVTimeZone;
// Non-zero when `time` (UTC) lies in daylight time: by the rules of `zone`
// when it holds both observances (each DTSTART read as "that weekday in that
// week of that month", week 5 the last), else by `zone->name` as
// com_TZDateIsDST reads it, else (zone NULL or empty) by the machine's zone.
BVCOM_API int com_DateIsDST(const FILETIME *time, const BvVTimeZone *zone);
// Zone names: a Windows name ("W. Europe Standard Time"), an Olson name
// ("Europe/Berlin"), or a Windows display name ("(UTC+01:00) Amsterdam, ...").
// Non-zero when `time` (UTC) is in daylight time there; *dstBias receives the
// daylight correction (-60 for an hour), *flag 1 when the name was recognised.
BVCOM_API int com_TZDateIsDST(const FILETIME *time, const char *tzName, int *dstBias, int *flag);
BVCOM_API int com_DateIsNull(const FILETIME *time);  // zero or year 1601
// Zero when the fields are not a valid date and time.
BVCOM_API FILETIME com_Create_FileTime(int month, int day, int year, int hour, int minute, int second);
BVCOM_API void com_OffsetFileTime(FILETIME *time, int days, int hours, int minutes);
BVCOM_API void com_OffsetFileTimeVal(FILETIME *time, int minutes);
// With the zone offset in force at that instant.
BVCOM_API void com_FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local);
// Offsets of a zone in Windows terms (UTC = local + bias; dstBias -60 for an
// hour of daylight time; stdBias 0); zeros and result 0 for an unknown name.
BVCOM_API int com_GetTZInfo(const char *tzName, int *bias, int *dstBias, int *stdBias, int flag);
// vtimezoneText: 2048 bytes, the zone's current rules as a VTIMEZONE block with
// "\n" line ends; tzid: 256 bytes, its TZID (the name as given, or the Olson
// name for a display name). Result 0 and empty texts for an unknown name.
BVCOM_API int com_GetVTimeZone(const char *tzName, char *vtimezoneText, char *tzid);
// The zone's rules and changes from `since` (UTC) on as a VTIMEZONE block,
// so a date of a past year reads with the offset it had; when that does not
// fit in textCap bytes, the rules in force at `since`. tzid as above.
// 2: every change from `since`; 1: the rules of that time only; 0: unknown.
BVCOM_API int bvcom_GetVTimeZoneSince(const char *tzName, const FILETIME *since, char *text, size_t textCap,
                                      char *tzid);
// Wall-clock time of the named zone at a UTC instant, with the offset in
// force then. Zero for an unknown name.
BVCOM_API int bvcom_ZoneWallTime(const char *tzName, const FILETIME *utc, FILETIME *local);
// ---- further reminders ----------------------------------------------------------
// The alarms of an item beyond the one its fields hold (`reminderSet`,
// `reminderMinutes` of the record or of an exception record), kept in the
// library under the record's address like its notes and cleared with it.
// `occurrence`: -1 for the item itself, else the index of its exception record.
#define BV_MAX_EXTRA_REMINDERS 16  // per item or occurrence
// Replaces the list (at most BV_MAX_EXTRA_REMINDERS minutes are kept; the
// number kept is returned); count 0 removes it.
BVCOM_API int bvcom_SetExtraReminders(const mdat *rec, int occurrence, const int *minutes, int count);
// Copies at most `max` minutes into `minutes`; returns the number copied.
BVCOM_API int bvcom_GetExtraReminders(const mdat *rec, int occurrence, int *minutes, int max);
// The EXDATE values of the entry that com_ExpandRecur is called for next:
// exDates ";20240115T090000;20240122T090000Z;20240129" (";" or "," between
// values; UTC with "Z", else local time of zone `tzid`, or of the machine
// when tzid is empty or unknown; a date alone means the series' start time on
// that day). The library copies both; com_ExpandRecur consumes them.
BVCOM_API void com_SetExDates(const char *exDates, const char *tzid);
// Checks the recurrence block (isRecurring follows recurType, interval at
// least 1, week of month at most 5, a count end without a count never ends),
// adds one deleted-occurrence exception record (kind 1, originalStart and
// newStart the occurrence's UTC start, newEnd its end) for each EXDATE handed
// over by com_SetExDates that no exception record holds yet, and returns the
// number of occurrences: recurCount, or those that start from startTime
// through the instant recurEnd (at most 10000), days counted in the zone
// tzName (else the machine's); -1 without end; 0 without rule.
BVCOM_API int com_ExpandRecur(mdat *rec, const char *workDir);
// The iCalendar RRULE value of the recurrence block ("FREQ=WEEKLY;INTERVAL=2;
// BYDAY=MO,WE;COUNT=10"); empty for a record without a rule. out: 512 bytes.
BVCOM_API void com_Genrrule(mdat *rec, char *out);
// Ordinal 43: a FILETIME as text ("2024-01-15 14:00:00"), no zone applied.
BVCOM_API void com_FileTimeText(const FILETIME *time, char *out, size_t outCap);

// ---- text -----------------------------------------------------------------------
// Converts text in place between Windows code pages, through ICU; the result
// is cut (at a character boundary) to fit `capacity` bytes with terminator.
// Returns the new length, -1 (text unchanged) when a code page is unknown.
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
// Quoted pairs \" and \\ become " and \; other backslashes stay.
BVCOM_API void com_Unescape(char *text);
// Blanks and tabs at both ends (inner blanks stay).
BVCOM_API void com_delspaces(char *text);
// Blanks, tabs and line ends at the start / at the end.
BVCOM_API void com_ltrim(char *text);
BVCOM_API void com_rtrim(char *text);
// Enclosing double quotes (a doubled quote inside becomes one; a lone quote at
// either end is dropped too) or a pair of enclosing single quotes.
BVCOM_API void com_Remove_Quotes(char *text);
// Every CR, and the line feeds at the end.
BVCOM_API void com_StripCR(char *text);
// Trailing path separators; a lone root separator stays.
BVCOM_API void com_DeSlash(char *text);
// Copies at most n characters and always terminates: dst holds n + 1 bytes.
BVCOM_API char *com_strncpy(char *dst, const char *src, size_t n);
// com_strncpy for a record field that reports a cut: returns 1 when src
// fitted in `limit` bytes; else 0, and the field's name is kept for the
// item's one warning (bvcom_WarnCutFields).
BVCOM_API int bvcom_CopyField(char *dst, const char *src, size_t limit, const char *field);
// Logs "BV Warning: <item>: cut to fit: <fields>" once when fields of the
// item were cut since the last call, and forgets them.
BVCOM_API void bvcom_WarnCutFields(const char *item);
// Decode a part file in place; return the new size, -1 on failure.
BVCOM_API int64_t com_convert_base64(const char *partFile, const char *tempDir);
// The decoder behind com_convert_base64, for text that arrives in pieces:
// bytes outside the alphabet are skipped and "=" closes a quantum. `out`
// holds at least len * 3 / 4 + 3 bytes; returns the bytes decoded.
typedef struct BvBase64State {
    uint32_t acc;
    int32_t bits;
} BvBase64State;
BVCOM_API size_t bvcom_Base64Decode(BvBase64State *state, const char *text, size_t len, unsigned char *out);
// Base64 of n bytes into out, which holds 4 * ((n + 2) / 3) + 1 bytes (the
// text and a NUL); returns the characters written.
BVCOM_API size_t bvcom_Base64Encode(const unsigned char *in, size_t n, char *out);
// The value of a hexadecimal digit, -1 for any other byte.
BVCOM_API int bvcom_HexValue(int c);
// Lower-case hex digits of n bytes and a NUL into out (cap bytes): as many
// bytes as fit; returns the digits written.
BVCOM_API size_t bvcom_HexEncode(const unsigned char *in, size_t n, char *out, size_t cap);
// Turns every `escape` followed by two hexadecimal digits ("=3D", "%20") in
// text[0..len) into its byte, in place; anything else stays. Returns the new
// length (no NUL is added).
BVCOM_API size_t bvcom_DecodeHexEscapes(char *text, size_t len, char escape);
// Converts UTF-16 or UTF-32 text (code page 1200, 1201, 12000, 12001) from
// `in` to UTF-8 in `out` as one stream; `label` is the charset name the text
// came with, which may name its byte order. 0 when the text is not valid in
// that form (what was converted is written). Writes are checked by the
// caller when it closes `out`.
BVCOM_API int bvcom_WideTextToUtf8(FILE *in, FILE *out, int codepage, const char *label);
BVCOM_API int64_t com_uudecode(const char *partFile, const char *tempDir);
BVCOM_API void decode_modified_ut7(char *text, size_t capacity);
// Ordinal 35: case-insensitive search from offset `start`; first match or NULL.
BVCOM_API char *com_stristr(const char *text, const char *pattern, int start);
// Ordinal 47: strips the line end (CR, LF) of a line, and blanks before it.
BVCOM_API void com_StripLineEnd(char *line);

// ---- files ------------------------------------------------------------------------
// Appends BV_PATH_SEP unless present or the path is empty.
BVCOM_API void com_AppendSlash(char *path, size_t capacity);
// "/a/b/c.txt" -> "/a/b"; "c.txt" -> ""; "/c.txt" -> "/"; "/a/b/" -> "/a/b".
BVCOM_API void com_ExtractFileDir(const char *path, char *out, size_t outCap);
// After the last dot of the file name, without the dot, case kept ("Inbox.DBX"
// -> "DBX"): compare with strcasecmp. Dots in directory names do not count.
BVCOM_API void com_ExtractFileExt(const char *path, char *out, size_t outCap);
BVCOM_API void com_ExtractFileName(const char *path, char *out, size_t outCap);
BVCOM_API int64_t com_GetFileSize(const char *path);  // -1 when missing
// Bytes copied; -1 when the source cannot be read, -2 when the target cannot be written.
BVCOM_API int64_t com_fcopy(const char *source, const char *target);
// Non-zero when the directory of the output file `path` (or `path` itself when
// it is a directory) exists and a file can be created in it.
BVCOM_API int com_ValidateOutputDir(const char *path, int flags);
// A file that a session reads as its source; com_IsSourceFile answers for
// every session of the process (the same file by any path or link).
BVCOM_API void com_RegisterSourceFile(const char *path);
BVCOM_API int com_IsSourceFile(const char *path);
// Creates the directory `path` with every missing parent (mkdir -p); pass the
// directory, not a file path. Non-zero when it exists afterwards.
BVCOM_API int _com_mkdir(const char *path);
// Makes a relative path absolute against host setting BVCOM_SETTING_SYSTEM_DIR,
// else the work directory; left unchanged when the result would not fit.
BVCOM_API void com_AddSystemDir(char *path, size_t capacity);

// ---- host settings ------------------------------------------------------------------
#define BV_HKEY_USERS 3
#define BV_HKEY_LOCAL_MACHINE 2
#define BV_HKEY_CURRENT_USER 1
// Ordinal 37: registry read from the text file the host named
// (bvcom_SetRegistryFile); non-zero on success, zero for a missing key or
// value. The file is in the style of a .reg export:
//   # comment (also ';')
//   [HKEY_USERS\.DEFAULT\Identities]        (or HKU\..., HKLM\..., HKCU\...)
//   "Default User ID"="{1234-...}"           (or: Default User ID={1234-...})
// Key paths and value names compare without regard to case.
BVCOM_API int com_RegistryRead(int rootKey, const char *keyPath, const char *valueName, char *out, size_t outCap);
// Ordinal 45: host setting `number` (0..63, set by bvcom_SetHostSetting) into
// out. Result: the setting's decimal value when its text starts with a number,
// else 1 when it is set and not empty, else 0.
//   6: the download/work directory, with a trailing separator; when the host
//      did not set it, the work directory, else the system temp directory.
//   5: the calendar history window in days: calendar entries that ended more
//      than this many days before the logon are not migrated (0 or unset: all).
//   1: the settings directory used by com_AddSystemDir.
//   7: seconds a download may stay below its low-speed limit (default 60).
//   8: the largest download body in bytes (default 1 GiB).
#define BVCOM_SETTING_SYSTEM_DIR 1
#define BVCOM_SETTING_DOWNLOAD_STALL_SECONDS 7
#define BVCOM_SETTING_DOWNLOAD_MAX_BYTES 8
#define BVCOM_SETTING_CALENDAR_DAYS 5
#define BVCOM_SETTING_WORK_DIR 6
BVCOM_API int com_GetHostSetting(int number, char *out, size_t outCap);

// ---- host-facing set-up ---------------------------------------------------------------
// Switch tokens are split at blanks; a double-quoted stretch keeps its blanks
// (the quotes are not part of the token); tokens are cut at BV_TOKEN_LEN - 1.
BVCOM_API void bvcom_SetSwitches(const char *switchString);
// Also starts the duplicate register afresh (it is re-read from the new directory).
BVCOM_API void bvcom_SetWorkDir(const char *workDir);
// The duplicate register's file (kept with the target, or the user's state
// file); NULL or "" puts it back into the work directory.
BVCOM_API void bvcom_SetDuplicateRegister(const char *path);
BVCOM_API void bvcom_SetLogFile(const char *path);  // appends; NULL closes it
BVCOM_API void bvcom_SetLogEcho(int toStderr);
// Lines logged with the prefix "BV Warning: " since the library was loaded:
// every warning names an item or a piece of data that was left out or cut.
BVCOM_API long long bvcom_WarningCount(void);
// The host's stop request, 1 to ask, 0 to withdraw (safe in a signal
// handler); com_StopRequested answers it.
BVCOM_API void bvcom_SetStopRequest(int stop);
BVCOM_API void bvcom_SetHostSetting(int number, const char *value);  // NULL unsets
BVCOM_API void bvcom_SetRegistryFile(const char *path);
BVCOM_API void bvcom_SetMessageBoxAnswer(int answer);
// A host that asks its user: the handler returns IDYES, IDNO or IDCANCEL
// (NULL: the preset answer again).
typedef int (*BvMessageBoxHandler)(const char *text, const char *caption, uint32_t type);
BVCOM_API void bvcom_SetMessageBoxHandler(BvMessageBoxHandler handler);
// Item filters; nothing is filtered until the host sets one.
// Dates outside [from, to] are rejected (NULL: open end); items without a
// date always pass.
BVCOM_API void bvcom_SetDateRange(const FILETIME *from, const FILETIME *to);
// Adds a com_ExcludeSubject pattern ('*' and '?', case ignored); NULL clears.
BVCOM_API void bvcom_AddSubjectPattern(const char *pattern);
// com_SearchMsg asks this function (zero rejects); NULL accepts every item.
typedef int (*BvSearchFilter)(mdat *rec, BvHostValue a, BvHostValue b, BvHostValue c);
BVCOM_API void bvcom_SetSearchFilter(BvSearchFilter filter);
BVCOM_API void bvcom_SetAttachSizeLimit(int64_t bytes);  // 0: none
// Address map of com_AddressTranslate (addresses compare without case); a
// NULL `from` clears it.
BVCOM_API void bvcom_AddAddressMapping(const char *from, const char *to);
// Code pages of com_CharConvert / com_AddrCharConvert; 0 or equal: no conversion.
BVCOM_API void bvcom_SetCharConversion(int fromCodepage, int toCodepage);
BVCOM_API void bvcom_SetPause(int enabled);  // com_Pause sleeps only when enabled
