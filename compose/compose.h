// Mail writing: the RFC 822 composer and the import into the store object.
#pragma once

#include <stdio.h>
#include "record/mdat.h"

#ifdef __cplusplus
extern "C" {
#endif

// Writes `record` as RFC 822 text to outFile. Returns 0, or 1 when no
// boundary token could be drawn (logged; nothing written).
int ComposeRfc822(mdat *record, FILE *outFile, const char *boundarySeed, const char *tempDir, const char *domain,
                  int topLevel);
void CreateOEFolder(const char *folderPath);
// Composes the record and creates it in the current folder: 0, or 1 when it
// could not be stored (logged).
int ImportOEMessage(const char *workDir, mdat *record, const char *folderName);

#ifdef __cplusplus
}
#endif
