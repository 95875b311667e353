// Calendar and task writing: the calendar file (events, and the task list
// beside it under "/CSVTASK") and the task file (VTODO objects).
#pragma once

#include "module/session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opens gOutputPath for appending and writes the calendar header; under
// "/CSVTASK" also opens the task list beside it. 1 when the file cannot be
// opened.
int InitEventFile(void);
// One event (with its changed occurrences) into gOutFile; `flags` is unused.
int WriteEvent(mdat *record, const char *workDir, int flags);
// Opens gOutputPath for appending and writes the task file's header.
void InitTaskFile(void);
// One VTODO into gOutFile.
int WriteTask(mdat *record, const char *workDir);
// One row of the comma-separated task list (gCsvFile).
void WriteCsvTaskLine(mdat *record, const char *workDir);

#ifdef __cplusplus
}
#endif
