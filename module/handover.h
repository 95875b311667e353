// The hand-over of one parsed mail record to the host: date limit, filter,
// duplicate register, attachment limits, address translation, the item and
// status callbacks, and freeing the parts. Every mail reader calls it once per
// message that Parse_RFC822_Msg filled.
#pragma once

#include "module/session.h"

typedef struct MailHandOver {
    // From ConvertFolder's arguments.
    mdat *record;
    BvItemCallback itemCallback;
    const char *itemHostValue;  // argument 4
    BvHostValue search1, search2, search3;  // arguments 5-7
    BvHostValue attachHostValue;  // argument 8
    BvHostValue dateHostValue;    // argument 10
    const char *workDir;          // argument 11
    BvStatusCallback statusCallback;  // argument 14
    const char *folderName;  // display name, the duplicate register's folder
    // Progress.
    int itemNumber;  // items handed over
    int sizeTotal;
    int statusA, statusB, stop;  // the status callback's three ints
} MailHandOver;

#ifdef __cplusplus
extern "C" {
#endif

// Returns 1 when the folder must stop (stop flag, or gMaxRead reached).
int HandOverMailRecord(MailHandOver *h);
// Frees the record's parts and part files after an item (both library calls).
void FreeRecordParts(mdat *rec, const char *workDir);
// An item that could not be read or parsed: reported with BV_STATUS_FAILED
// (the host counts it), its parts freed. Returns 1 when the folder must stop.
int ReportFailedMailItem(MailHandOver *h);

#ifdef __cplusplus
}
#endif
