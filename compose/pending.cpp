// Placeholder until the composer lands; delete this file when it does.
#include "compose/compose.h"
#include "record/com.h"

extern "C" {
int ComposeRfc822(mdat *, FILE *, const char *, const char *, const char *, int) {
    com_Log("BV Error: the message composer is not available yet");
    return 0;
}
void CreateOEFolder(const char *) { com_Log("BV Error: store import is not available yet"); }
void ImportOEMessage(const char *, mdat *, const char *) { com_Log("BV Error: store import is not available yet"); }
}
