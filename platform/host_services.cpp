// Sleep, the shared documents folder, the message-box stand-in, bounded
// formatting and the log sink through which the platform reports.
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "platform/platform.h"

static PlatLogSink gPlatLogSink;
static int gMessageBoxAnswer = BV_IDNO;
static PlatMessageBoxHandler gMessageBoxHandler;

extern "C" {

void plat_SetLogSink(PlatLogSink sink) {
    gPlatLogSink = sink;
}

void plat_LogLine(const char *line) {
    if (!line) return;
    if (gPlatLogSink) gPlatLogSink(line);
    else fprintf(stderr, "%s\n", line);
}

void plat_Sleep(uint32_t milliseconds) {
    struct timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0) {
    }
}

int plat_GetSharedDocumentsFolder(char *out, size_t outCap) {
    if (!out || outCap == 0) return 0;
    out[0] = 0;
    const char *shared = getenv("BV_SHARED_DOCUMENTS");
    const char *home = getenv("HOME");
    int n;
    if (shared && *shared) n = snprintf(out, outCap, "%s", shared);
    else if (home && *home) n = snprintf(out, outCap, "%s%sDocuments", home, home[strlen(home) - 1] == BV_PATH_SEP ? "" : BV_PATH_SEP_STR);
    else n = snprintf(out, outCap, "/tmp");
    if (n < 0 || (size_t)n >= outCap) {
        out[0] = 0;
        return 0;
    }
    // Drop a trailing separator: callers append their own.
    size_t len = (size_t)n;
    while (len > 1 && out[len - 1] == BV_PATH_SEP) out[--len] = 0;
    return 1;
}

void plat_SetMessageBoxAnswer(int answer) {
    gMessageBoxAnswer = answer;
}

void plat_SetMessageBoxHandler(PlatMessageBoxHandler handler) {
    gMessageBoxHandler = handler;
}

int plat_MessageBox(const char *text, const char *caption, uint32_t type) {
    int answer = gMessageBoxHandler ? gMessageBoxHandler(text ? text : "", caption ? caption : "", type)
                                    : gMessageBoxAnswer;
    char line[2048];
    snprintf(line, sizeof(line), "BV Info: message box (type %u) %s: %s, answered %d", type, caption ? caption : "",
             text ? text : "", answer);
    plat_LogLine(line);
    return answer;
}

int plat_snprintf(char *out, size_t outCap, const char *fmt, ...) {
    if (!out || outCap == 0 || !fmt) return 0;
    va_list args;
    va_start(args, fmt);
    int n = vsnprintf(out, outCap, fmt, args);
    va_end(args);
    if (n < 0) {
        out[0] = 0;
        return 0;
    }
    return (size_t)n >= outCap ? (int)outCap - 1 : n;
}

}  // extern "C"
