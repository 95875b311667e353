// ReadMailFolder: the mail branch of ConvertFolder. Picks the reader for the
// folder's source and runs every message through the parser and hand-over.
#include <string.h>
#include "mailstore/mail_reader.h"
#include "mailstore/mailstore.h"
#include "mailstore/store_dir.h"
#include "mime/mime.h"
#include "platform/platform.h"

static int gMessageSerial;  // messages read in this folder, names part files

extern "C" void MailTempPath(const MailHandOver *h, const char *name, char *out, size_t outCap) {
    bv_snprintf(out, outCap, "%s%s", h->workDir ? h->workDir : "", name);
}

extern "C" int MailFileHasExtension(const char *path, const char *ext) {
    char found[64];
    com_ExtractFileExt(path, found, sizeof(found));
    return MailTextEqualNoCase(found, ext, -1);
}

extern "C" FILE *OpenMessageScratch(const MailHandOver *h, const char *name) {
    char path[MAIL_TEMP_NAME_LEN];
    MailTempPath(h, name, path, sizeof(path));
    FILE *scratch = plat_OpenScratch(path, MAIL_SCRATCH_MEMORY);
    if (!scratch) com_Log("BV Warning: unable to open %s", path);
    return scratch;
}

extern "C" int HandOverMessageFile(MailHandOver *h, FILE *message) {
    if (gLogUuid) com_Log("[UUID:START]");
    h->record->msgNumber = ++gMessageSerial;
    int stop = 0;
    int parsed = Parse_RFC822_Msg(message, h->record, h->workDir, "", 1);
    if (parsed == MIME_PARSED) {
        stop = HandOverMailRecord(h);
    } else if (parsed == MIME_PARSE_SKIPPED) {
        // Nothing to hand over (no header lines, or skipped by subject).
        FreeRecordParts(h->record, h->workDir);
        stop = h->stop != 0;
    } else {
        com_Log("BV Warning: message %d could not be parsed (%d)", gMessageSerial, parsed);
        stop = ReportFailedMailItem(h);
    }
    if (gLogUuid) com_Log("[UUID:END]");
    return stop;
}

extern "C" int ParseAndHandOver(MailHandOver *h, FILE *message) {
    if (plat_ScratchRewind(message, NULL)) return HandOverMessageFile(h, message);
    // The message could not be cut out whole (full disk, failed write).
    h->record->msgNumber = ++gMessageSerial;
    com_Log("BV Warning: message %d could not be copied out of the store file", gMessageSerial);
    return ReportFailedMailItem(h);
}

extern "C" int ReadMailFolder(MailHandOver *h, int folderIndex) {
    h->itemNumber = 0;
    h->sizeTotal = 0;
    if (folderIndex < 0 || folderIndex >= gFolderCount || !gFolderTable[folderIndex]) {
        com_Log("BV Warning: no folder number %d", folderIndex);
        return 0;
    }
    const FolderRecord *folder = gFolderTable[folderIndex];
    com_Log("Converting OE Folder %s", folder->displayName);
    gMessageSerial = 0;
    int result;
    if (gKerioDir[0]) {
        result = ReadStoreDirFolder(h, folder);
    } else if (!gOeDirect) {
        // no store directory on disk: files that a message names are not taken
        gMessageFileDir[0] = 0;
        result = ReadOeStoreFolder(h, folder);
    } else {
        com_ExtractFileDir(folder->fileName, gMessageFileDir, sizeof(gMessageFileDir));
        if (MailFileHasExtension(folder->fileName, "DBX"))
            result = ReadDbxFolder(h, folder);
        else
            result = ReadMbxFolder(h, folder);
    }
    if (gLogUuid) com_Log("[UUID:END]");
    return result;
}
