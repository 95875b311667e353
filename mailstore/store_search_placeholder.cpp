// Directory-per-message stores and the store location search are not built
// yet: both log that and find nothing.
#include "mailstore/mailstore.h"

extern "C" int ScanStoreDir(const char *) {
    com_Log("BV Error: directory mail stores are not available in this build");
    return 0;
}

extern "C" int TestStoreFile(const char *, char *) {
    com_Log("BV Error: store location search is not available in this build");
    return 0;
}
