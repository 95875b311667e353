// The contact folders of a directory-per-message store: every message is a
// mail file whose body (or attachment) is a vCard, and a folder may also
// hold bare .vcf files. Both are read in name order.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "contacts/contacts.h"
#include "mailstore/mail_reader.h"
#include "mailstore/mailstore.h"
#include "mailstore/store_dir.h"
#include "mime/mime.h"
#include "platform/platform.h"

namespace {

const size_t kMaxCardFileBytes = 16u << 20;  // one .vcf file, or the vCard parts of one message

// Appends up to the limit; false when the file cannot be read.
bool AppendFile(const char *path, std::string *text) {
    FILE *file = plat_fopen(path, "rb");
    if (!file) return false;
    char block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0) {
        if (text->size() + got > kMaxCardFileBytes) {
            com_Log("BV Warning: %s holds more than %zu bytes of vCards, the rest is not read", path,
                    kMaxCardFileBytes);
            text->append(block, kMaxCardFileBytes - text->size());
            break;
        }
        text->append(block, got);
    }
    fclose(file);
    return true;
}

// The message goes through the mail parser, which undoes its transfer
// encoding; every part that holds a vCard is collected.
bool MessageCardText(const char *path, mdat *record, const char *workDir, std::string *text) {
    FILE *message = plat_fopen(path, "rb");
    if (!message) return false;
    com_ResetObject(record);
    record->msgNumber = 1;
    Parse_RFC822_Msg(message, record, workDir, "", 1);
    fclose(message);
    for (int i = 0; i < record->partCount; i++) {
        if (!record->parts[i] || record->parts[i]->partType == BV_PART_HEADER) continue;
        char partFile[BV_PATH_LEN * 2];
        com_PartFileName(workDir, record, i, partFile, sizeof partFile);
        std::string part;
        if (AppendFile(partFile, &part) && com_stristr(part.c_str(), "BEGIN:VCARD", 0)) *text += part + "\n";
    }
    FreeRecordParts(record, workDir);
    return true;
}

void ReportSkipped(ContactRun *run) {
    int a = 0, b = 0, stop = 0;
    run->statusCallback(run->record, "", BV_STATUS_EXCLUDED, &a, &b, &stop);
}

// One file: false when the folder must end.
bool ReadCardFile(ContactRun *run, const std::string &path) {
    std::string text;
    bool bare = MailFileHasExtension(path.c_str(), "vcf");
    if (!(bare ? AppendFile(path.c_str(), &text) : MessageCardText(path.c_str(), run->record, run->workDir, &text))) {
        com_Log("BV Warning: unable to open %s, contact skipped", path.c_str());
        ReportSkipped(run);
        return true;
    }
    ClearContact(run);
    bool stop = false;
    if (ReadVCardText(run, text.data(), text.size(), &stop) == 0) {
        com_Log("BV Warning: no vCard in %s, skipped", path.c_str());
        ReportSkipped(run);
    }
    return !stop;
}

}  // namespace

extern "C" void ReadStoreDirContacts(int folderIndex, mdat *record, BvItemCallback itemCallback, const char *workDir,
                                     int *countOut, BvStatusCallback statusCallback) {
    *countOut = 0;
    const FolderRecord *folder = gFolderTable[folderIndex];
    std::vector<std::string> names;
    if (ListStoreEntries(folder->fileName, "*.eml", STORE_FILES, &names) == STORE_LIST_FAILED ||
        ListStoreEntries(folder->fileName, "*.vcf", STORE_FILES, &names) == STORE_LIST_FAILED)
        com_Log("BV Warning: unable to list the contacts of %s", folder->fileName);
    std::sort(names.begin(), names.end(), StoreNameOrder);
    gNotes = static_cast<char *>(malloc(BV_NOTES_LEN));
    if (!gNotes) return;
    ContactRun run = {};
    run.record = record;
    run.itemCallback = itemCallback;
    run.statusCallback = statusCallback;
    run.workDir = workDir;
    ClearContact(&run);
    for (const std::string &name : names)
        if (!ReadCardFile(&run, std::string(folder->fileName) + name)) break;
    free(gNotes);
    gNotes = nullptr;
    *countOut = run.recordIndex;
}
