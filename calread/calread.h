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

#ifdef __cplusplus
}
#endif
