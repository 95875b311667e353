// Mail store reading: folder discovery and the store readers.
#pragma once

#include "module/handover.h"
#include "module/session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Builds gFolderTable for the session and reports each folder to callback.
int DiscoverFolders(const char *storePath, BvFolderCallback callback);
// The mail branch of ConvertFolder: reads folder `folderIndex` message by
// message and hands each one over. 0, or 1 when the folder file cannot be opened.
int ReadMailFolder(MailHandOver *handOver, int folderIndex);
// Directory-per-message store (logon tag "VCSK"): fills the folder table.
int ScanStoreDir(const char *path);
// The contacts branch of ConvertFolder for a folder of that store: vCards
// of its messages and .vcf files, handed over as contact records.
void ReadStoreDirContacts(int folderIndex, mdat *record, BvItemCallback itemCallback, const char *workDir,
                          int *countOut, BvStatusCallback statusCallback);
// The calendar branch for a folder of that store: its .eml files through
// the calendar source loop. (Task folders need no branch of their own: the
// task reader reads the folder's own directory.)
void ReadStoreDirCalendar(const FolderRecord *folder, mdat *record, BvItemCallback itemCallback, int recipientMax,
                          const char *workDir, int *countOut, int *sizeOut, BvStatusCallback statusCallback);
// Store location search behind the TestFile export: 0, 1 or 2.
int TestStoreFile(const char *path, char *dirOut);

// Appends one FolderRecord to gFolderTable (display name: each '/' becomes a
// backslash, then each '^' a '/'). 0 when memory ran out.
int AddFolder(const char *name, const char *file, uint32_t oeFolderId, uint32_t itemCount, uint32_t folderClass);

#ifdef __cplusplus
}
#endif
