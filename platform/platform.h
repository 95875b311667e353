// The operating-system layer. The module reaches files, directory search,
// times, zone information, code pages, sleeping, message boxes and COM only
// through these functions, which keep the Win32 meaning of their namesakes.
// Paths use the platform separator BV_PATH_SEP.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "platform/wintypes.h"

#ifdef _WIN32
#define BV_PATH_SEP '\\'
#define BV_PATH_SEP_STR "\\"
#else
#define BV_PATH_SEP '/'
#define BV_PATH_SEP_STR "/"
#endif

// Case-insensitive ASCII comparison under its POSIX names on every backend.
#ifdef _WIN32
#define strcasecmp _stricmp
#define strncasecmp _strnicmp
#else
#include <strings.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---- files --------------------------------------------------------------
// Opens with a UTF-8 (POSIX) or ANSI (Win32) path; stdio modes. A read-only
// mode ("r", "rb") opens regular files only, without blocking on the way: a
// FIFO, a device or a directory (also behind a link) gives NULL and a
// "BV Warning: not a regular file" line in the log.
FILE *plat_fopen(const char *path, const char *mode);
// Reading at an offset (CreateFileA for reading, ReadFile with an offset):
// each read is one system call, for readers that keep their own buffer.
// The open takes regular files only, as a read-only plat_fopen; *size
// receives the size. plat_ReadAt gives the bytes read (short or 0 only at
// the end of the file), -1 on error.
typedef struct PlatFile PlatFile;
PlatFile *plat_OpenForReading(const char *path, int64_t *size);
int64_t plat_ReadAt(PlatFile *file, int64_t offset, void *out, size_t len);
void plat_CloseFile(PlatFile *file);
// The absolute path of an existing file or directory with every symbolic
// link, "." and ".." resolved (realpath / GetFinalPathNameByHandle); 0 when
// it does not exist or does not fit.
int plat_ResolvePath(const char *path, char *out, size_t outCap);
// Non-zero when `path` exists and, resolved, lies below the directory `dir`
// (resolved too): what "..", an absolute name or a symbolic link names
// elsewhere is outside.
int plat_PathIsInside(const char *dir, const char *path);
// Wide path (UTF-16), as CreateFileW / _wfopen.
FILE *plat_wfopen(const WCHAR *path, const char *mode);
int64_t plat_GetFileSize(const char *path);  // -1 when missing
int plat_FileExists(const char *path);       // regular file
int plat_DirectoryExists(const char *path);
int plat_DeleteFile(const char *path);    // non-zero on success
int plat_MoveFile(const char *from, const char *to);  // atomic rename
int plat_CreateDirectory(const char *path);  // one level; non-zero when it exists afterwards
int plat_RemoveDirectoryTree(const char *path);
// Finds a file whose name differs only in case inside dir; fills out.
int plat_FindFileNoCase(const char *dir, const char *name, char *out, size_t outCap);
// System temp directory, with a trailing separator.
void plat_GetTempDirectory(char *out, size_t outCap);
// Closes a stream that was written: non-zero when every write reached the
// file (no short write, no full disk, no failed flush).
int plat_CloseWritten(FILE *file);
// Fault injection for tests (file_faults.cpp): BV_FILE_FAULT="create:N",
// "write:N", "short:N" or "nospace:N" makes the Nth create or write of a
// file opened for writing fail once. Non-zero when armed.
int plat_FaultInjectionArmed(void);

// Digests of written files (written_digests.cpp): a file created with mode
// "w"/"wb" under `dir` gets the SHA-256 of its bytes computed while it is
// written; plat_WrittenFileSha256 gives it (1) while the file still holds
// exactly that, else 0 (then read the file). Deleting or moving a file
// through this layer keeps the digests right; NULL stops tracking.
void plat_TrackWrittenFiles(const char *dir);
int plat_WrittenFileSha256(const char *path, unsigned char sha256[32]);

// ---- scratch streams ------------------------------------------------------
// A read-write stream that holds one item after another (the message cut
// out of a store file, the composed message), read by this process only. It
// stays in memory while it holds at most memoryCap bytes and moves into the
// file spillPath beyond that, so a small item costs no file at all and a
// large one no memory. Win32: always the file.
FILE *plat_OpenScratch(const char *spillPath, size_t memoryCap);
// Empties it for the next item; 0 on failure.
int plat_ScratchRestart(FILE *scratch);
// Ends the writing of an item and goes back to its start for reading; 0 when
// a write failed. *size receives the bytes written.
int plat_ScratchRewind(FILE *scratch, int64_t *size);
void plat_CloseScratch(FILE *scratch);  // and deletes the spill file

// ---- read-ahead of a stream ------------------------------------------------
// The bytes a stdio stream has read ahead and not yet handed out, so that a
// reader can scan them in place instead of one getc at a time: *data points
// at them and the count is returned (0 when the buffer is empty or out of
// reach of this C library: then read on with getc, which refills it).
// plat_StreamSkip hands out `count` of them, as that many getc calls would.
size_t plat_StreamPeek(FILE *stream, const char **data);
void plat_StreamSkip(FILE *stream, size_t count);

// ---- directory search (FindFirstFile / FindNextFile) ----------------------
// Patterns: "DIR/*.*" (every entry), "DIR/*.eml", "DIR/PREFIX*.*"; '*' and
// '?' match as in Win32, without regard to case. "." and ".." are not listed.
typedef struct PlatFindData {
    char name[512];  // entry name, no directory
    int isDirectory;
    int64_t size;
    FILETIME lastWrite;
} PlatFindData;
typedef struct PlatFindDataW {
    WCHAR name[512];
    int isDirectory;
    int64_t size;
    FILETIME lastWrite;
} PlatFindDataW;
typedef struct PlatFind PlatFind;
PlatFind *plat_FindFirstFile(const char *pattern, PlatFindData *out);  // NULL: none
int plat_FindNextFile(PlatFind *find, PlatFindData *out);              // 0: no more
PlatFind *plat_FindFirstFileW(const WCHAR *pattern, PlatFindDataW *out);
int plat_FindNextFileW(PlatFind *find, PlatFindDataW *out);
void plat_FindClose(PlatFind *find);
// GetLastError after a search that found nothing: why it found nothing.
#define BV_ERROR_FILE_NOT_FOUND 2  // the directory exists, no entry matches
#define BV_ERROR_PATH_NOT_FOUND 3  // the directory does not exist
#define BV_ERROR_ACCESS_DENIED 5   // the directory cannot be read
#define BV_ERROR_GEN_FAILURE 31    // any other failure to read it
#define BV_ERROR_INVALID_NAME 123  // the pattern is empty or too long
uint32_t plat_GetLastError(void);

// ---- times ---------------------------------------------------------------
void plat_GetSystemTime(SYSTEMTIME *out);
void plat_GetLocalTime(SYSTEMTIME *out);
void plat_GetSystemTimeAsFileTime(FILETIME *out);
int plat_SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out);  // 0 on bad fields
int plat_FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out);
int plat_FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local);
int plat_CompareFileTime(const FILETIME *a, const FILETIME *b);  // -1, 0, 1
// Both directions use the zone offset in force at that instant (Win32 applies
// today's bias to every date). A wall-clock time that occurs twice (the hour
// repeated when daylight time ends) is read as the first, daylight, one; a
// wall-clock time in the skipped hour is read with the offset before the change.
int plat_LocalFileTimeToFileTime(const FILETIME *local, FILETIME *utc);
int plat_IsDaylightTime(const FILETIME *utc);  // daylight time in force then
// Zone of the machine (TZ environment, else the system zone database).
// Returns TIME_ZONE_ID_STANDARD / _DAYLIGHT / _UNKNOWN for the current time.
uint32_t plat_GetTimeZoneInformation(TIME_ZONE_INFORMATION *out);
// ---- named time zones ----------------------------------------------------------
// Zones that calendar data names, and daylight rules given as Windows keeps
// them. Backed by ICU (zone_rules_icu.cpp); a Win32 backend can serve the
// same calls from the system's dynamic zone information.
typedef struct PlatZone PlatZone;
// By Windows zone name ("W. Europe Standard Time", through the Windows-ID
// mapping) or Olson id ("Europe/Berlin"); NULL when neither names a zone.
PlatZone *plat_OpenZone(const char *name);
// The zone whose Olson id ends in "/<city>" (blanks read as '_', case
// ignored): the places of Windows display names. NULL when none does.
PlatZone *plat_OpenZoneByCity(const char *city);
void plat_CloseZone(PlatZone *zone);
// Minutes east of UTC in force at the UTC instant: the standard offset and
// the daylight saving then (0 in standard time). Zero result on failure.
int plat_ZoneOffsetsAt(const PlatZone *zone, const FILETIME *utc, int *stdMinutes, int *dstMinutes);
// The daylight saving the zone observes, in minutes (0: none).
int plat_ZoneDaylightSaving(const PlatZone *zone);
// Wall-clock time of the zone to UTC; a repeated hour reads as its first
// (daylight) instance, a skipped one with the offset before the change.
int plat_ZoneLocalToUtc(const PlatZone *zone, const FILETIME *local, FILETIME *utc);
// The zone's canonical id ("America/New_York") into out.
int plat_ZoneId(const PlatZone *zone, char *out, size_t outCap);
// RFC 5545 VTIMEZONE block of the rules in force at `when`, "\n" line ends,
// under the TZID `tzid`. Zero (out empty) when it does not fit.
int plat_ZoneVTimeZoneText(const PlatZone *zone, const FILETIME *when, const char *tzid, char *out, size_t outCap);
// The same block with every rule and change of the zone from `since` (UTC)
// on: dates of other years then get the offsets they had. Zero (out empty)
// when it does not fit.
int plat_ZoneHistoryText(const PlatZone *zone, const FILETIME *since, const char *tzid, char *out, size_t outCap);
// Daylight time at `utc` by yearly rules in the Windows form: the change to
// daylight time on the weekday, week of month (the last when the day is in
// the month's last seven) and wall-clock time of `dstStart` (read in standard
// time), back on those of `stdStart` (read in daylight time); offsets in
// minutes east. 1 or 0; -1 when the rules are unusable.
int plat_RulesIsDaylight(const FILETIME *utc, int stdOffset, const FILETIME *stdStart, int dstOffset,
                         const FILETIME *dstStart);
// GetDateFormatA with the pattern "ddd',' dd MMM yyyy" in US English.
int plat_GetDateFormat(const SYSTEMTIME *in, char *out, size_t outCap);
uint64_t plat_FileTimeToU64(const FILETIME *ft);
FILETIME plat_U64ToFileTime(uint64_t value);

// ---- code pages ------------------------------------------------------------
// MultiByteToWideChar / WideCharToMultiByte for Windows code-page numbers.
// srcLen -1 means zero-terminated (the terminator is converted too).
// dstCap 0 asks for the length needed. Result: units written, 0 on failure.
int plat_MultiByteToWideChar(int codepage, const char *src, int srcLen, WCHAR *dst, int dstCap);
int plat_WideCharToMultiByte(int codepage, const WCHAR *src, int srcLen, char *dst, int dstCap);
int plat_GetACP(void);  // 28591 on POSIX
int plat_IsValidCodePage(int codepage);
// The ICU converter name of a code page (NULL when not in the table; other
// numbers are still tried as ICU's "cp<n>").
const char *plat_CodePageConverterName(int codepage);

// ---- misc ------------------------------------------------------------------
// Where the platform's own notices go (the common library installs com_Log;
// without a sink they go to stderr).
typedef void (*PlatLogSink)(const char *line);
void plat_SetLogSink(PlatLogSink sink);
void plat_LogLine(const char *line);
void plat_Sleep(uint32_t milliseconds);
// Fills out with bytes from a cryptographically secure generator, which no
// one can predict from what came before; non-zero on success.
int plat_RandomBytes(void *out, size_t count);
// CSIDL_COMMON_DOCUMENTS: $BV_SHARED_DOCUMENTS, else $HOME/Documents, else /tmp.
int plat_GetSharedDocumentsFolder(char *out, size_t outCap);
// MessageBoxExA stand-in: logs the text and returns the answer the host set
// (IDYES 6, IDNO 7, IDCANCEL 2; default IDNO).
#define BV_IDCANCEL 2
#define BV_IDYES 6
#define BV_IDNO 7
#define BV_MB_YESNOCANCEL 0x03
#define BV_MB_ICONQUESTION 0x20
int plat_MessageBox(const char *text, const char *caption, uint32_t type);
void plat_SetMessageBoxAnswer(int answer);
// A host that can ask its user installs a handler; it then gives the answer
// instead of the preset one (NULL removes it).
typedef int (*PlatMessageBoxHandler)(const char *text, const char *caption, uint32_t type);
void plat_SetMessageBoxHandler(PlatMessageBoxHandler handler);
// wsprintfA-style bounded formatting.
int plat_snprintf(char *out, size_t outCap, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// ---- COM stand-in ------------------------------------------------------------
// CoCreateInstance finds the class in the registered servers: a shared library
// named for the class (libbvoeapi.so for the OEAPI class, looked up beside the
// loaded module, then on the library path) exporting
//   HRESULT BvComCreateInstance(const GUID *clsid, const GUID *iid, void **out);
// The environment variable BV_COM_SERVER_DIR, when set, is the only directory
// searched. A missing library or entry gives REGDB_E_CLASSNOTREG; the server's
// own failure is passed on. CoInitialize is counted but not required.
HRESULT plat_CoInitialize(void *reserved);
void plat_CoUninitialize(void);
HRESULT plat_CoCreateInstance(const GUID *clsid, void *outer, uint32_t context, const GUID *iid, void **out);
BSTR plat_SysAllocString(const WCHAR *text);
BSTR plat_SysAllocStringLen(const WCHAR *text, uint32_t length);
void plat_SysFreeString(BSTR text);
uint32_t plat_SysStringLen(BSTR text);
int plat_IsEqualGUID(const GUID *a, const GUID *b);

#ifdef __cplusplus
}
#endif
