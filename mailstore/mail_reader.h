// The three mail readers behind ReadMailFolder and what they share: one
// message in a temporary file goes through the parser and the hand-over.
#pragma once

#include "module/handover.h"
#include "module/session.h"

#define MAIL_TEMP_NAME_LEN 1024  // work directory plus a temporary file name
// A message up to this size is cut out into memory; a larger one goes to its
// scratch file in the work directory.
#define MAIL_SCRATCH_MEMORY (16u * 1024u * 1024u)

// ASCII comparison without regard to case: the first n bytes (n < 0: whole texts).
static inline int MailTextEqualNoCase(const char *a, const char *b, int n) {
    for (int i = 0; n < 0 || i < n; i++) {
        unsigned char ca = (unsigned char)a[i], cb = (unsigned char)b[i];
        if (ca >= 'A' && ca <= 'Z') ca = (unsigned char)(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = (unsigned char)(cb + 32);
        if (ca != cb) return 0;
        if (ca == 0) return 1;
    }
    return 1;
}

#ifdef __cplusplus
extern "C" {
#endif

// The scratch stream that holds one message at a time ("name" in the work
// directory once a message outgrows memory); NULL (logged) on failure.
FILE *OpenMessageScratch(const MailHandOver *h, const char *name);
// Parses the message just written to the scratch stream into the record and
// hands it over; a message that could not be written whole or parsed is
// reported as failed. Returns 1 when the folder must end (stop flag,
// gMaxRead), else 0.
int ParseAndHandOver(MailHandOver *h, FILE *message);
// The same for a message read from its own file, open at its start.
int HandOverMessageFile(MailHandOver *h, FILE *message);
// Where the temporary file `name` of the folder being read lives.
void MailTempPath(const MailHandOver *h, const char *name, char *out, size_t outCap);
// 1 when the extension of `path` is `ext`, compared without regard to case.
int MailFileHasExtension(const char *path, const char *ext);

// 0, or 1 when the folder file cannot be opened.
int ReadDbxFolder(MailHandOver *h, const FolderRecord *folder);
int ReadMbxFolder(MailHandOver *h, const FolderRecord *folder);
int ReadOeStoreFolder(MailHandOver *h, const FolderRecord *folder);

// Message count of a DBX, MBX or mbox-style file for the folder list.
uint32_t CountMailFileMessages(const char *path);

#ifdef __cplusplus
}
#endif
