// The DBX folder reader: after ParseDBX has listed every block header and
// settled the chains, each message start is followed along its next-block
// links and its data copied into "temprfc.tmp", which then goes through the
// parser and the hand-over.
#include <stdlib.h>
#include <string.h>
#include "mailstore/dbx_scan.h"
#include "mailstore/mail_reader.h"
#include "platform/platform.h"

// Writes the data bytes of the block at the entry to out.
static void CopyBlock(const DbxSource *source, const SegmentEntry *entry, FILE *out) {
    unsigned char block[DBX_BLOCK_LEN];
    size_t got = DbxReadAt(source, entry->fileOffset, block, DBX_BLOCK_LEN);
    if (got < DBX_BLOCK_HEADER_LEN) return;
    // The count may claim more than a block holds (a header accepted for its
    // zero next offset); only the block's own data is copied.
    size_t count = DbxLe32(block + 8);
    if (count > got - DBX_BLOCK_HEADER_LEN) count = got - DBX_BLOCK_HEADER_LEN;
    fwrite(block + DBX_BLOCK_HEADER_LEN, 1, count, out);
}

// Copies the message that starts at table entry `start`, block by block,
// along the chain that ParseDBX settled.
static void CopyMessage(const DbxSource *source, int start, FILE *out) {
    fwrite("From -\r\n", 1, 8, out);
    int current = start;
    for (int steps = 0; steps < gSegmentCount; steps++) {
        const SegmentEntry *entry = &gSegmentTable[current];
        CopyBlock(source, entry, out);
        if (entry->flags & DBX_STOP_MISSING) {
            com_Log("BV Warning: Missing segment!");
            return;
        }
        if (entry->flags & DBX_STOP_DUPLICATE) {
            com_Log("BV Warning: Duplicate segment found!");
            return;
        }
        if (entry->nextOffset == 0) return;
        current = DbxFindLinkTarget(current);
        if (current < 0) return;
    }
}

extern "C" int ReadDbxFolder(MailHandOver *h, const FolderRecord *folder) {
    int count = 0;
    if (ParseDBX(folder->fileName, &count, 0) != 0) return 1;
    DbxSource source;
    if (!DbxOpenSource(&source, folder->fileName)) {
        FreeSegmentTable();
        com_Log("BV Warning: cannot read %s", folder->fileName);
        return 1;
    }
    FILE *scratch = OpenMessageScratch(h, "temprfc.tmp");

    for (int start = 0; scratch && start < gSegmentCount; start++) {
        if (!gSegmentTable[start].isStart) continue;
        plat_ScratchRestart(scratch);
        CopyMessage(&source, start, scratch);
        // The index's read state; a message only the scan found arrives as read.
        h->record->unread = (gSegmentTable[start].flags & DBX_UNREAD) ? 1 : 0;
        if (ParseAndHandOver(h, scratch)) break;
    }
    plat_CloseScratch(scratch);
    DbxCloseSource(&source);
    FreeSegmentTable();
    return 0;
}
