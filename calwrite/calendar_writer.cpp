// Calendar and task writing. The calendar file's opening step is complete
// (header, task CSV file, notes buffer); the event and task writers are not
// built yet: they log and write nothing.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include "calwrite/calwrite.h"
#include "platform/platform.h"

namespace {

const char *const kXimianHeader[] = {
    "BEGIN:VCALENDAR\n",
    "CALSCALE:GREGORIAN\n",
    "PRODID:-//Ximian//NONSGML Evolution Calendar//EN\n",
    "VERSION:2.0\n",
    "BEGIN:VTIMEZONE\n",
    "TZID:/softwarestudio.org/Olson_20011030_5/Europe/London\n",
    "X-LIC-LOCATION:Europe/London\n",
    "BEGIN:DAYLIGHT\n",
    "TZOFFSETFROM:+0000\n",
    "TZOFFSETTO:+0100\n",
    "TZNAME:BST\n",
    "DTSTART:19700329T010000\n",
    "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3\n",
    "END:DAYLIGHT\n",
    "BEGIN:STANDARD\n",
    "TZOFFSETFROM:+0100\n",
    "TZOFFSETTO:+0000\n",
    "TZNAME:GMT\n",
    "DTSTART:19701025T020000\n",
    "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10\n",
    "END:STANDARD\n",
    "END:VTIMEZONE\n",
};

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

}  // namespace

extern "C" int InitEventFile(void) {
    gOutFile = plat_fopen(gOutputPath, "a");
    if (!gOutFile) return 1;
    if (gXimian) {
        for (const char *line : kXimianHeader) bv_fprintf(gOutFile, "%s", line);
    } else if (!gD301) {
        bv_fprintf(gOutFile, "BEGIN:VCALENDAR\nVERSION:1.0\n");
    }
    if (gCsvTask) {
        char csvPath[BV_PATH_LEN];
        TaskCsvPath(csvPath, sizeof csvPath);
        gCsvFile = plat_fopen(csvPath, "w");
        if (gCsvFile)
            bv_fprintf(gCsvFile, "\"Subject\",\"Start Date\",\"Due Date\",\"Date Completed\",\"Notes\",\"Priority\"\n");
    }
    if (!gNotesBuf) gNotesBuf = (char *)calloc(1, BV_NOTES_LEN);
    return 0;
}

extern "C" int WriteEvent(mdat *, const char *, int) {
    com_Log("BV Error: calendar event writing is not available in this build");
    return 0;
}

extern "C" int WriteTask(mdat *, const char *) {
    com_Log("BV Error: task writing is not available in this build");
    return 0;
}
