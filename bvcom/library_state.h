// State that the host sets up once and that several parts of the common
// library read. Internal to libbvcom.so.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include "record/com.h"

#define BVCOM_PATH_LEN 1024

// The host's work directory with a trailing separator ("" when not set).
const char *bvcom_WorkDirectory(void);
// Called by bvcom_SetWorkDir: state kept per work directory starts afresh.
void bvcom_ForgetDuplicateRegister(void);
// Notes and further reminders of a record, dropped when the record is
// cleared or freed.
void bvcom_DropItemExtras(const mdat *rec);
// Case-insensitive '*' / '?' match of a whole text.
int bvcom_WildcardMatch(const char *pattern, const char *text);
// Frees part `index` with its file and everything embedded in it.
void bvcom_FreePartTree(mdat *rec, int index, const char *workDir);
// An embedded record now hangs from another part (its files were renamed).
void bvcom_RelinkEmbedded(const mdat *sub, const mdat *parent, int partIndex);
// Daylight time at `time` (UTC) by a parsed VTIMEZONE's rules: 1 or 0, -1
// when the record holds no usable rules.
int bvcom_VTimeZoneIsDST(const FILETIME *time, const BvVTimeZone *zone);
// The zone a calendar names (Windows, Olson or display name); NULL when
// unknown. The library keeps it open: do not close it.
const struct PlatZone *bvcom_NamedZone(const char *tzName);
// Wall-clock time of `zone` at a UTC instant and back; the machine's zone
// when zone is NULL. Zero when the time is out of range.
int bvcom_ZoneLocalTime(const struct PlatZone *zone, const FILETIME *utc, FILETIME *local);
int bvcom_ZoneUtcTime(const struct PlatZone *zone, const FILETIME *local, FILETIME *utc);
// Deleted-occurrence records for the EXDATE values handed over by
// com_SetExDates (which this consumes).
void bvcom_AddDeletedOccurrences(mdat *rec);
