// Directory-per-message stores: one directory per folder, a "status.fld"
// naming the folder's kind, and every message a single ".eml" file in the
// folder's "#msgs" subdirectory.
#pragma once

#include <string>
#include <vector>

#include "module/handover.h"
#include "module/session.h"

#define STORE_MAX_FOLDERS 10000       // folder records a store scan keeps
#define STORE_STATUS_READ_LEN 1000    // bytes of status.fld looked at
#define STORE_MESSAGES_DIR "#msgs"
#define STORE_STATUS_FILE "status.fld"

enum StoreEntryKind { STORE_FILES, STORE_DIRECTORIES };

// Why a listing found nothing: nothing there (the directory is empty, has no
// match or does not exist) or the directory could not be read.
enum StoreListResult { STORE_LISTED, STORE_LIST_FAILED };

// The names of the entries of `dirWithSep` (ending in a separator) that
// match `mask` and are of `kind`, in name order (without regard to case, as
// NTFS lists them). Searched with the wide-character API; names are UTF-8.
StoreListResult ListStoreEntries(const char *dirWithSep, const char *mask, StoreEntryKind kind,
                                 std::vector<std::string> *names);

// Name order without regard to case (as NTFS lists), ties by bytes.
bool StoreNameOrder(const std::string &a, const std::string &b);

// The kind of a message file from its Content-Type lines: a BvFolderClass,
// or -1 when nothing in the file decides it.
int StoreMessageClass(const char *path);

#ifdef __cplusplus
extern "C" {
#endif

// The mail branch of ConvertFolder for a folder of such a store: every .eml
// file of the folder, in name order. 0 always (a folder without messages
// hands over nothing).
int ReadStoreDirFolder(MailHandOver *h, const FolderRecord *folder);

#ifdef __cplusplus
}
#endif
