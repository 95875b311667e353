// The comma-separated task list written beside the calendar file under
// "/CSVTASK": a header row, then one row per event record.
#include <ctype.h>
#include <string.h>
#include "calwrite/calwrite_internal.h"
#include "platform/platform.h"

namespace {

// The task list's path: the calendar path cut at its ".vcs" (found without
// regard to case) with ".CSV" appended. Only the extension is upper-cased:
// on a case-sensitive file system the directory must stay as it is.
void TaskCsvPath(char *out, size_t outCap) {
    com_strncpy(out, gOutputPath, outCap - 1);
    for (char *p = out; *p; p++) {
        if (p[0] == '.' && toupper((unsigned char)p[1]) == 'V' && toupper((unsigned char)p[2]) == 'C' &&
            toupper((unsigned char)p[3]) == 'S') {
            *p = '\0';
            break;
        }
    }
    size_t used = strlen(out);
    bv_snprintf(out + used, outCap - used, ".CSV");
}

// "%d/%d/%d" month/day/year of a time (a task without a start date shows
// 1/1/1601, as the list has always written it).
void CsvDate(const FILETIME *time, char *out, size_t outCap) {
    SYSTEMTIME parts;
    if (!plat_FileTimeToSystemTime(time, &parts)) {
        out[0] = '\0';
        return;
    }
    bv_snprintf(out, outCap, "%d/%d/%d", parts.wMonth, parts.wDay, parts.wYear);
}

}  // namespace

void OpenTaskCsv(void) {
    char csvPath[BV_PATH_LEN];
    TaskCsvPath(csvPath, sizeof csvPath);
    gCsvFile = plat_fopen(csvPath, "w");
    if (gCsvFile)
        bv_fprintf(gCsvFile, "\"Subject\",\"Start Date\",\"Due Date\",\"Date Completed\",\"Notes\",\"Priority\"\n");
}

// Title, start, due, date completed (empty), notes with '"' turned into '\''
// and line breaks dropped so the row stays one line, priority.
extern "C" void WriteCsvTaskLine(mdat *rec, const char *workDir) {
    if (!gCsvFile) return;
    char localNotes[1] = "";
    char *notes = gNotesBuf ? gNotesBuf : localNotes;
    if (gNotesBuf) {
        gNotesBuf[0] = '\0';
        com_ReadNotes(rec, gNotesBuf, workDir);
        gNotesBuf[BV_NOTES_LEN - 1] = '\0';
    }
    char *to = notes;
    for (const char *from = notes; *from; from++) {
        if (*from == '\r' || *from == '\n') continue;
        *to++ = *from == '"' ? '\'' : *from;
    }
    *to = '\0';
    char start[32];
    char due[32];
    CsvDate(&rec->startTime, start, sizeof start);
    CsvDate(&rec->endTime, due, sizeof due);
    const char *priority = rec->importance == 0 ? "Low" : rec->importance == 2 ? "High" : "";
    bv_fputcsv(gCsvFile, rec->title, 1);  // a quote in the title is doubled: the row keeps its six fields
    bv_fprintf(gCsvFile, ",");
    bv_fprintf(gCsvFile, "\"%s\",", start);
    bv_fprintf(gCsvFile, "\"%s\",", due);
    bv_fprintf(gCsvFile, "\"%s\",", "");
    bv_fprintf(gCsvFile, "\"%s\",", notes);
    bv_fprintf(gCsvFile, "\"%s\"\n", priority);
}
