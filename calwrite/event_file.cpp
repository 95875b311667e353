// The calendar file's opening step: its header (an Evolution-style header
// with a Europe/London zone under "/XIMIAN", none under "/D301", where every
// event is a VCALENDAR object of its own, else a vCalendar 1.0 header), the
// task list under "/CSVTASK" and the notes buffer.
#include <stdlib.h>
#include "calwrite/calwrite_internal.h"
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

}  // namespace

extern "C" int InitEventFile(void) {
    gOutFile = plat_fopen(gOutputPath, "a");
    if (!gOutFile) return 1;
    if (gXimian) {
        for (const char *line : kXimianHeader) bv_fprintf(gOutFile, "%s", line);
    } else if (!gD301) {
        bv_fprintf(gOutFile, "BEGIN:VCALENDAR\nVERSION:1.0\n");
    }
    if (gCsvTask) OpenTaskCsv();
    if (!gNotesBuf) gNotesBuf = (char *)calloc(1, BV_NOTES_LEN);
    return 0;
}
