// The live-store reader: each message of a folder of the store object is
// fetched as raw text in pieces into "oemsg.tmp", then parsed and handed over.
#include <stdlib.h>
#include "mailstore/mail_reader.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"

// Appends the message's raw text to out, piece by piece, until a piece
// converts to an empty text.
static void WriteRawText(OeMessage *message, FILE *out, char *ansi) {
    for (;;) {
        BSTR piece = NULL;
        if (FAILED(message->lpVtbl->GetNextRawText(message, OE_RAW_PIECE_MAX, &piece)) || !piece) return;
        int units = (int)plat_SysStringLen(piece);
        int written = 0;
        if (units > 0) {
            if (units > OE_RAW_PIECE_MAX) units = OE_RAW_PIECE_MAX;
            written = plat_WideCharToMultiByte(plat_GetACP(), piece, units, ansi, OE_RAW_PIECE_MAX);
        }
        plat_SysFreeString(piece);
        if (written <= 0) return;
        fwrite(ansi, 1, (size_t)written, out);
    }
}

extern "C" int ReadOeStoreFolder(MailHandOver *h, const FolderRecord *folder) {
    OeRoot *root = gOeApi;
    OeFolder *oeFolder = NULL;
    if (!root || FAILED(root->lpVtbl->GetFolder(root, folder->oeFolderId, &oeFolder)) || !oeFolder) return 0;
    int32_t total = 0;
    oeFolder->lpVtbl->GetMessageCount(oeFolder, &total);
    OeMessage *message = NULL;
    if (FAILED(oeFolder->lpVtbl->GetFirstMessage(oeFolder, &message))) message = NULL;

    char *ansi = (char *)malloc(OE_RAW_PIECE_MAX);
    FILE *out = message && ansi ? OpenMessageScratch(h, "oemsg.tmp") : NULL;
    if (!out && message) {
        message->lpVtbl->Release(message);
        message = NULL;
    }
    while (message && out) {
        plat_ScratchRestart(out);
        int32_t state = 0;
        message->lpVtbl->GetState(message, &state);
        h->record->unread = (state & OE_STATE_UNREAD) ? 1 : 0;
        WriteRawText(message, out, ansi);
        message->lpVtbl->Release(message);
        message = NULL;

        if (ParseAndHandOver(h, out)) break;
        if (FAILED(oeFolder->lpVtbl->GetNextMessage(oeFolder, &message))) message = NULL;
    }
    plat_CloseScratch(out);
    if (!ansi) com_Log("BV Warning: out of memory reading folder %s", folder->displayName);
    free(ansi);
    oeFolder->lpVtbl->Release(oeFolder);
    return 0;
}
