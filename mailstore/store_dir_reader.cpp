// The mail folders of a directory-per-message store: one message per .eml
// file of the folder's "#msgs" directory, in name order, each through the
// parser and the hand-over like every other mail reader.
#include <string>

#include "mailstore/mail_reader.h"
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
        fclose(readable);
        if (ParseAndHandOver(h, path.c_str())) break;
    }
    return 0;
}
