// Calendar and task writing is not built yet: the writers log and write nothing.
#include "calwrite/calwrite.h"

extern "C" int InitEventFile(void) {
    com_Log("BV Error: calendar writing is not available in this build");
    return 1;
}

extern "C" int WriteEvent(mdat *, const char *, int) {
    com_Log("BV Error: calendar writing is not available in this build");
    return 0;
}

extern "C" int WriteTask(mdat *, const char *) {
    com_Log("BV Error: task writing is not available in this build");
    return 0;
}
