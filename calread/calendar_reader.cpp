// Calendar and task reading is not built yet: folders of these classes are
// listed empty and reading them hands over nothing.
#include "calread/calread.h"

extern "C" void ReadCalendarFolder(mdat *, BvItemCallback, int, const char *, int *countOut, int *sizeOut,
                                   BvStatusCallback) {
    com_Log("BV Error: calendar reading is not available in this build");
    if (countOut) *countOut = 0;
    if (sizeOut) *sizeOut = 0;
}

extern "C" void ReadTaskFolder(mdat *, BvItemCallback, int, const char *, int *countOut, BvStatusCallback) {
    com_Log("BV Error: task reading is not available in this build");
    if (countOut) *countOut = 0;
}

extern "C" int CountCalEntries(const char *, const char *) { return 0; }
extern "C" int CountUnisonEntries(const char *) { return 0; }
