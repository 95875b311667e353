// Calendar and task reading.
#pragma once

#include "module/session.h"

#ifdef __cplusplus
extern "C" {
#endif

void ReadCalendarFolder(mdat *record, BvItemCallback itemCallback, int recipientMax, const char *workDir,
                        int *countOut, int *sizeOut, BvStatusCallback statusCallback);
void ReadTaskFolder(mdat *record, BvItemCallback itemCallback, int folderIndex, const char *workDir, int *countOut,
                    BvStatusCallback statusCallback);
// Number of entries of `kind` ("VEVENT", "VTODO") in a calendar source.
int CountCalEntries(const char *path, const char *kind);
int CountUnisonEntries(const char *path);
// Reads the calendar entries of one file (.ics, .vcs, or a mail file that
// carries calendar parts) and hands each over as a record of dataType 2
// (events) or 3 (tasks), with the filters, statuses and callbacks of a
// calendar folder. *count and *size are added to; returns 1 when the host
// asked to stop (or gMaxRead was reached).
int ReadCalendarFile(const char *path, int dataType, mdat *record, BvItemCallback itemCallback, const char *workDir,
                     int *count, int *size, BvStatusCallback statusCallback);

#ifdef __cplusplus
}
#endif
