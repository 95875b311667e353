// Contacts: the CSV/NK2 reader and the contact writers.
#pragma once

#include "module/session.h"

#ifdef __cplusplus
extern "C" {
#endif

void ParseContactFile(int folderIndex, mdat *record, BvItemCallback itemCallback, const char *workDir, int *countOut,
                      BvStatusCallback statusCallback);
// Counters for folder discovery.
int CountCsvContacts(const char *path);
int CountNK2Contacts(const char *path);
int InitContactFile(void);
int WriteContact(mdat *record, const char *workDir);
void WriteDirectoryContact(mdat *record);

#ifdef __cplusplus
}
#endif
