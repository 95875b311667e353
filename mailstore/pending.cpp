// Placeholder until the store readers land; delete this file when they do.
#include "mailstore/mailstore.h"

extern "C" {
int DiscoverFolders(const char *, BvFolderCallback) {
    com_Log("BV Error: folder discovery is not available yet");
    return 0;
}
int ReadMailFolder(MailHandOver *, int) {
    com_Log("BV Error: mail store reading is not available yet");
    return 0;
}
int ScanStoreDir(const char *) {
    com_Log("BV Error: directory mail stores are not available in this build");
    return 0;
}
int TestStoreFile(const char *, char *) {
    com_Log("BV Error: store location search is not available in this build");
    return 0;
}
}
