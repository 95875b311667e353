// Tasks as VTODO objects of a vCalendar file.
#include <stdlib.h>
#include "calwrite/calwrite_internal.h"
#include "platform/platform.h"

namespace {

#define BV_TASK_NOTES_START_COLUMN 38  // "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:"

enum { TASK_COMPLETED = 2 };

// The notes as quoted-printable text: a line break (CR LF, or a CR or line
// feed alone) as "=0D=0A", other bytes as they are. Long notes are folded with a line feed and a TAB:
// calendar readers take a continuation only when it begins with white space,
// and vCalendar readers drop that first character when they unfold, so the
// text comes back whole either way. A "=0D" or "=0A" is never split.
void WriteTaskNotes(const char *notes) {
    char line[BV_FOLD_COLUMN + 8];
    size_t used = 0;
    int column = BV_TASK_NOTES_START_COLUMN;
    bool first = true;
    auto flush = [&]() {
        line[used] = '\0';
        bv_fprintf(gOutFile, first ? "%s\n" : "\t%s\n", line);
        first = false;
        used = 0;
        column = 0;
    };
    auto add = [&](const char *piece, size_t length) {
        if (column >= BV_FOLD_COLUMN) flush();
        for (size_t i = 0; i < length; i++) line[used++] = piece[i];
        column += (int)length;
    };
    for (const char *p = notes; *p; p++) {
        if (*p == '\n' && p > notes && p[-1] == '\r') continue;
        if (*p == '\r' || *p == '\n') {
            add("=0D", 3);
            add("=0A", 3);
        } else {
            add(p, 1);
        }
    }
    flush();
}

}  // namespace

extern "C" void InitTaskFile(void) {
    gOutFile = plat_fopen(gOutputPath, "a");
    if (!gOutFile) return;
    bv_fprintf(gOutFile, "BEGIN:VCALENDAR\nVERSION:1.0\n");
    if (!gNotesBuf) gNotesBuf = (char *)calloc(1, BV_NOTES_LEN);
}

extern "C" int WriteTask(mdat *rec, const char *workDir) {
    if (!gOutFile || !gNotesBuf) return 0;
    CutAtLineBreak(rec->title);
    char uid[BV_UID_HEX_LEN];
    ItemUid(rec, workDir, uid);
    int priority = rec->importance == 0 ? 9 : rec->importance == 2 ? 1 : 5;
    bv_fprintf(gOutFile, "BEGIN:VTODO\nVERSION:3.0\nUID:%s\nPRIORITY:%d\nPERCENT-COMPLETE:%d\n", uid, priority,
               rec->percentComplete);
    bv_fprintf(gOutFile, "STATUS:%s\n", rec->itemFlag == TASK_COMPLETED ? "COMPLETED" : "IN-PROCESS");
    bv_fprintf(gOutFile, "SUMMARY;ENCODING=QUOTED-PRINTABLE:%s\n", rec->title);
    char text[BV_CAL_TIME_LEN];
    if (!com_DateIsNull(&rec->startTime)) {
        MinuteText(&rec->startTime, text);
        bv_fprintf(gOutFile, "DTSTART:%s00Z\n", text);
    }
    MinuteText(&rec->endTime, text);
    bv_fprintf(gOutFile, "DUE:%s00Z\n", text);
    gNotesBuf[0] = '\0';
    com_ReadNotes(rec, gNotesBuf, workDir);
    gNotesBuf[BV_NOTES_LEN - 1] = '\0';
    bv_fprintf(gOutFile, "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:");
    WriteTaskNotes(gNotesBuf);
    WriteItemAttachments(rec, workDir);
    bv_fprintf(gOutFile, "END:VTODO\n");
    return 0;
}
