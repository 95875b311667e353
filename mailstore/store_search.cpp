// TestStoreFile (behind TestFile): the host walks the disks and offers every
// file it meets; a file that marks an Outlook Express store directory makes
// the module ask the user whether to take that directory (a Yes/No/Cancel
// question box, in US English).
#include "mailstore/mail_reader.h"
#include "mailstore/mailstore.h"
#include "module/exports.h"
#include "platform/platform.h"

namespace {

enum StoreSearchAnswer { SEARCH_GO_ON = 0, SEARCH_USE_DIRECTORY = 1, SEARCH_CANCELLED = 2 };

const char *const kStoreMarkerFiles[] = {"folders.nch", "inbox.dbx"};

bool IsStoreMarker(const char *fileName) {
    for (const char *marker : kStoreMarkerFiles)
        if (MailTextEqualNoCase(fileName, marker, -1)) return true;
    return false;
}

}  // namespace

extern "C" int TestStoreFile(const char *path, char *dirOut) {
    char fileName[BV_PATH_LEN];
    char dir[BV_HOST_TEXT_LEN];
    com_ExtractFileName(path, fileName, sizeof fileName);
    com_ExtractFileDir(path, dir, sizeof dir);
    if (!IsStoreMarker(fileName)) return SEARCH_GO_ON;
    if (dirOut) com_strncpy(dirOut, dir, BV_HOST_TEXT_LEN - 1);
    char question[BV_HOST_TEXT_LEN + 64];
    bv_snprintf(question, sizeof question, "Possible match in:\n\n%s\n\nUse this directory?", dir);
    int answer = plat_MessageBox(question, "Outlook Express Search", BV_MB_YESNOCANCEL | BV_MB_ICONQUESTION);
    if (answer == BV_IDYES) return SEARCH_USE_DIRECTORY;
    if (answer == BV_IDCANCEL) return SEARCH_CANCELLED;
    return SEARCH_GO_ON;
}
