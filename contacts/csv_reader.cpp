// The contact reader: picks the source kind of a contact folder and hands
// every contact of a CSV file to the host.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include "contacts/contacts.h"
#include "http/http.h"

namespace {

const char kDuplicateFolder[] = "AddressBook";
const int kPauseMs = 20;  // between two contacts handed over
const int kContactDataType = 1;

}  // namespace

extern "C" void ClearContact(ContactRun *run) {
    com_ResetObject(run->record);
    run->record->dataType = kContactDataType;
    gFieldBuf[0] = '\0';
    run->fullName[0] = '\0';
    gNotes[0] = '\0';
}

namespace {

// True when some contact field reads this column.
bool ColumnUsed(const ContactLabels *labels, int column) {
    for (int field = 0; field < CC_COUNT; field++)
        if (labels->column[field] == column) return true;
    return false;
}

}  // namespace

extern "C" bool HandOverContact(ContactRun *run) {
    mdat *record = run->record;
    com_AddrCharConvert(record);
    if (!record->firstName[0] && !record->lastName[0] && run->fullName[0]) {
        char first[BV_NAME_LEN], last[BV_NAME_LEN], rest[BV_NAME_LEN];
        first[0] = last[0] = rest[0] = '\0';
        com_NameConvert(run->fullName, "/fn/ln", first, last, rest, 0);
        bvcom_CopyField(record->firstName, first, sizeof(record->firstName) - 1, "firstName");
        bvcom_CopyField(record->lastName, last, sizeof(record->lastName) - 1, "lastName");
    }
    com_WriteNotes(record, gNotes, run->workDir);
    bv_snprintf(run->fullName, sizeof(run->fullName), "%s %s", record->firstName, record->lastName);
    if (gLSub) com_Log("CSV Contact: %s <%s>", run->fullName, record->emailAddr);
    com_AttachSize(record, run->workDir, 0, gMaxAttachSize);
    com_AddressTranslate(record);
    record->dataType = kContactDataType;
    char item[BV_NAME_LEN * 2 + 160];
    bv_snprintf(item, sizeof item, "contact %d (%s <%s>)", run->recordIndex + 1, run->fullName, record->emailAddr);
    bvcom_WarnCutFields(item);

    int a = 0, b = 0, stop = 0;
    if (com_MsgIsDuplicate(record, run->workDir, BV_DUP_CHECK, kDuplicateFolder)) {
        run->statusCallback(record, "", BV_STATUS_DUPLICATE, &a, &b, &stop);
        return false;
    }
    int answer = run->itemCallback(record, "", run->workDir, run->recordIndex);
    if (answer != BV_HOST_DID_NOT_TAKE) com_MsgIsDuplicate(record, run->workDir, BV_DUP_REGISTER, kDuplicateFolder);
    run->recordIndex++;
    com_Deallocate_All(record, run->workDir);
    com_Deallocate(record, run->workDir);
    run->statusCallback(record, "", BV_STATUS_HANDED_OVER, &a, &b, &stop);
    com_Pause(kPauseMs);
    return stop != 0;
}

// gMaxRead 0 still lets one contact through, as for mail.
extern "C" bool MaxReadReached(int recordIndex) { return recordIndex > 0 && recordIndex >= gMaxRead; }

namespace {

void ReadCsvContacts(ContactRun *run, FILE *file) {
    int column = 0;
    for (;;) {
        CsvFieldEnd end = ReadCsvField(file, gCsvSeparator, gFieldBuf, sizeof(gFieldBuf));
        if (ColumnUsed(run->labels, column)) {
            com_Remove_Quotes(gFieldBuf);
            if (!gUtf8) com_CodepageToWindows(gFieldBuf, 28591, 65001, sizeof(gFieldBuf));
            AssignCsvField(run->labels, column, gFieldBuf, run->record, run->fullName);
        }
        column++;
        if (end == CSV_FIELD_ENDS) continue;
        if (column == 1) {
            // An empty or one-column line is no contact.
            ClearContact(run);
        } else {
            bool stop = HandOverContact(run);
            ClearContact(run);
            if (stop || MaxReadReached(run->recordIndex)) break;
        }
        column = 0;
        if (end == CSV_FILE_ENDS) break;
    }
}

void ParseCsvFile(mdat *record, BvItemCallback itemCallback, const char *workDir, int *countOut,
                  BvStatusCallback statusCallback) {
    *countOut = 0;
    CsvSource source;
    if (!OpenCsvSource(gCurrentFile, &source, 0)) return;
    if (source.utf8) gUtf8 = 1;
    if (source.semicolon) gCsvSeparator = ';';

    gNotes = static_cast<char *>(malloc(BV_NOTES_LEN));
    if (!gNotes) {
        CloseCsvSource(&source);
        return;
    }
    ContactRun run = {};
    run.record = record;
    run.itemCallback = itemCallback;
    run.statusCallback = statusCallback;
    run.workDir = workDir;
    run.labels = &source.labels;
    ClearContact(&run);
    ReadCsvContacts(&run, source.file);

    free(gNotes);
    gNotes = nullptr;
    CloseCsvSource(&source);
    *countOut = run.recordIndex;
}

}  // namespace

extern "C" {

void ParseContactFile(int folderIndex, mdat *record, BvItemCallback itemCallback, const char *workDir, int *countOut,
                      BvStatusCallback statusCallback) {
    int ignoredCount = 0;
    if (!countOut) countOut = &ignoredCount;
    *countOut = 0;
    if (folderIndex < 0 || folderIndex >= gFolderCount || !gFolderTable || !gFolderTable[folderIndex]) return;
    com_strncpy(gCurrentFile, gFolderTable[folderIndex]->fileName, sizeof(gCurrentFile) - 1);

    if (IsNk2Path(gCurrentFile)) {
        ParseNK2File(record, itemCallback, workDir, countOut, statusCallback);
        return;
    }
    if (strncasecmp(gCurrentFile, "http", 4) == 0) {
        if (DownloadSourceFile(gCurrentFile) != 0) {
            com_Log("BV Warning: download of contact source failed: %s", gCurrentFile);
            return;
        }
        com_strncpy(gCurrentFile, gSourcePath, sizeof(gCurrentFile) - 1);
    }
    ParseCsvFile(record, itemCallback, workDir, countOut, statusCallback);
}

}  // extern "C"
