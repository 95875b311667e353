// Placeholder until the downloader lands; delete this file when it does.
#include "http/http.h"
#include "record/com.h"

extern "C" {
int gHttpStatus;
int DownloadSourceFile(const char *) {
    com_Log("BV Error: HTTP downloads are not available yet");
    return 3;
}
int DownloadEntry(const char *, const char *, char *) { return 3; }
void EncodeUrlSpaces(char *) {}
}
