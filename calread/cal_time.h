// Calendar time: zone names to offsets and Windows zones, date-time property
// values to UTC FILETIMEs, and recurrence rules (iCalendar and vCalendar 1.0)
// to the recurrence block of the record.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include "module/session.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- the zone table ---------------------------------------------------------------
// 105 rows of (Windows zone name, display name): 210 strings and an empty one
// that ends the table. The Windows name of row r is at 2r, its display name at
// 2r + 1; MapTimeZoneName reports display-name positions.
#define BV_ZONE_ROWS 105
#define BV_ZONE_STRINGS (2 * BV_ZONE_ROWS)
extern const char *const gZoneTable[BV_ZONE_STRINGS + 1];

// ---- the entry's zone state -------------------------------------------------------
// The first VTIMEZONE of the entry being read. The entry parser resets and
// fills it (through the names below); ParseVcsDateTime reads it and writes
// `name` when a TZID was recognised.
extern BvVTimeZone gVtz;
#define gVtzName (gVtz.name)  // at most 250 characters (BV_VTZ_NAME_LEN - 1)
#define gVtzStdOffset (gVtz.stdOffset)
#define gVtzDstOffset (gVtz.dstOffset)
#define gVtzStdStart (gVtz.stdStart)
#define gVtzDstStart (gVtz.dstStart)

// The entry's EXDATE values, each preceded by ";" (";20240115T090000;..."),
// and the TZID of the first EXDATE that named one. The source loop empties
// both per entry; before com_ExpandRecur it hands them to the common library
// with com_SetExDates(gExDates, gExDateTzid), which turns them into deleted
// occurrences of the series.
#define BV_EXDATES_LEN 16384
extern char gExDates[BV_EXDATES_LEN];
extern char gExDateTzid[BV_VTZ_NAME_LEN];

// ---- zones and date-times ------------------------------------------------------------
// Standard offset (minutes east of UTC) of a zone text: Olson, Windows or
// display names, "GMT+0100" offsets, Oracle zone ids. -1 when the text is not
// recognised. *position (may be NULL) receives the table position of the
// zone's display name, or -1 when no row was chosen.
int MapTimeZoneName(const char *text, int *position);
// Replaces a display name ("(UTC-05:00) Eastern Time (US & Canada)", also
// "(GMT..." or only the place list) in `text` (capacity bytes) by the Windows
// zone name of its row and returns 1; returns 0 and leaves the text otherwise.
int NormalizeZoneName(char *text, size_t capacity);
// Property text from the first parameter or the colon on
// (";TZID=America/New_York:20240115T090000", ":20240115T090000Z",
// ";VALUE=DATE:20240115") to a UTC FILETIME in *out. Returns 1 for a date
// (all-day) value, kept at noon of its day, 0 otherwise. Without a ":" the
// result is 0 and *out stays as it was.
int ParseVcsDateTime(const char *text, FILETIME *out);

// ---- recurrence ---------------------------------------------------------------------
#define BV_RRULE_TEXT_MAX 1024  // longer rule texts are cut (and logged)
// Clears the recurrence block, then fills it from an RRULE value of either
// grammar ("FREQ=WEEKLY;BYDAY=MO,WE" or "W1 MO WE #10"). Reads startTime;
// weekly rules may move startTime and endTime to the first day of the mask.
void ParseRecurRule(const char *text, mdat *rec);
// The iCalendar grammar alone.
void ParseRRuleICal(const char *text, mdat *rec);
// recurDayMask from the day names in the text (SU 1 .. SA 64); the start's
// local weekday when the text names none.
void DayMaskFromNames(const char *text, mdat *rec);
// Moves start and end forward a day at a time (at most seven) until the
// start's local weekday is in `dayMask`; stops early when the start plus one
// day would reach `recurEnd` (when that is set; it may be NULL).
void AlignToWeekday(uint32_t dayMask, FILETIME *start, FILETIME *end, const FILETIME *recurEnd);
// After the whole entry: an end date before the start becomes the start plus
// 7,300 days.
void CheckRecurEnd(mdat *rec);

#ifdef __cplusplus
}
#endif
