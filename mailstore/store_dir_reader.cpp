// The mail folders of a directory-per-message store: one message per .eml
// file of the folder's "#msgs" directory, in name order, each through the
// parser and the hand-over like every other mail reader.
#include <string>

#include "calread/calread.h"
#include "mailstore/mail_reader.h"
#include "mailstore/mailstore.h"
#include "mailstore/store_dir.h"
#include "platform/platform.h"

extern "C" int ReadStoreDirFolder(MailHandOver *h, const FolderRecord *folder) {
    std::vector<std::string> messages;
    if (ListStoreEntries(folder->fileName, "*.eml", STORE_FILES, &messages) == STORE_LIST_FAILED) {
        com_Log("BV Warning: unable to list the messages of %s", folder->fileName);
        return 0;
    }
    com_ExtractFileDir(folder->fileName, gMessageFileDir, sizeof gMessageFileDir);
    for (const std::string &name : messages) {
        std::string path = std::string(folder->fileName) + name;
        // A message that cannot be opened is skipped; the hand-over would end
        // the folder there.
        FILE *readable = plat_fopen(path.c_str(), "rb");
        if (!readable) {
            com_Log("BV Warning: unable to open %s, message skipped", path.c_str());
            continue;
        }
        int stop = HandOverMessageFile(h, readable);
        fclose(readable);
        if (stop) break;
    }
    return 0;
}

// The calendar loop reads the session's calendar path; for the time of the
// folder that is the folder's messages.
extern "C" void ReadStoreDirCalendar(const FolderRecord *folder, mdat *record, BvItemCallback itemCallback,
                                     int recipientMax, const char *workDir, int *countOut, int *sizeOut,
                                     BvStatusCallback statusCallback) {
    char sessionPath[sizeof gOutputPath];
    com_strncpy(sessionPath, gOutputPath, sizeof sessionPath - 1);
    bv_snprintf(gOutputPath, sizeof gOutputPath, "%s*.eml", folder->fileName);
    ReadCalendarFolder(record, itemCallback, recipientMax, workDir, countOut, sizeOut, statusCallback);
    com_strncpy(gOutputPath, sessionPath, sizeof gOutputPath - 1);
}
