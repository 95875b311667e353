// Calendar and task writing.
#pragma once

#include "module/session.h"

#ifdef __cplusplus
extern "C" {
#endif

int InitEventFile(void);
int WriteEvent(mdat *record, const char *workDir, int flags);
int WriteTask(mdat *record, const char *workDir);

#ifdef __cplusplus
}
#endif
