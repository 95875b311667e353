// Per-entry time state shared by the entry parser, the date-time reader and
// the source loop.
#include "calread/cal_time.h"

BvVTimeZone gVtz;
char gExDates[BV_EXDATES_LEN];
char gExDateTzid[BV_VTZ_NAME_LEN];
