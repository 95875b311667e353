// The log and the host's switch string.
#include <atomic>
#include <mutex>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_SWITCHES_LEN 8192  // the host's whole switch string
#define BVCOM_LOG_LINE_LEN 8192  // one formatted log line; longer lines are cut

static std::mutex gLogLock;
static std::atomic<long long> gWarningCount;
static volatile sig_atomic_t gStopRequested;
static FILE *gLogFile;
static int gLogEcho;
static char gSwitches[BVCOM_SWITCHES_LEN];

static void LogSinkForPlatform(const char *line) {
    com_Log("%s", line);
}

// The platform reports through the log once this library is loaded.
static struct PlatformSinkInstaller {
    PlatformSinkInstaller() { plat_SetLogSink(LogSinkForPlatform); }
    ~PlatformSinkInstaller() { plat_SetLogSink(nullptr); }
} gPlatformSinkInstaller;

extern "C" {

BVCOM_API void bvcom_SetLogFile(const char *path) {
    std::lock_guard<std::mutex> lock(gLogLock);
    if (gLogFile) fclose(gLogFile);
    gLogFile = (path && *path) ? plat_fopen(path, "a") : nullptr;
}

BVCOM_API void bvcom_SetLogEcho(int toStderr) {
    gLogEcho = toStderr;
}

BVCOM_API void com_Log(const char *format, ...) {
    if (!format) return;
    char line[BVCOM_LOG_LINE_LEN];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (n < 0) return;
    size_t len = strnlen(line, sizeof(line));
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = 0;
    if (strncmp(line, "BV Warning: ", 12) == 0) gWarningCount++;
    std::lock_guard<std::mutex> lock(gLogLock);
    if (gLogFile) {
        fprintf(gLogFile, "%s\n", line);
        fflush(gLogFile);
    }
    if (gLogEcho) fprintf(stderr, "%s\n", line);
}

BVCOM_API long long bvcom_WarningCount(void) { return gWarningCount.load(); }

BVCOM_API void bvcom_SetStopRequest(int stop) { gStopRequested = stop ? 1 : 0; }

BVCOM_API int com_StopRequested(void) { return gStopRequested ? 1 : 0; }

BVCOM_API void bvcom_SetSwitches(const char *switchString) {
    com_strncpy(gSwitches, switchString ? switchString : "", sizeof(gSwitches) - 1);
}

// Tokens are separated by blanks (space, tab, line ends). A double quote
// opens and closes a stretch in which blanks belong to the token; the quotes
// themselves are not part of it, so "" is an empty token. A token longer than
// BV_TOKEN_LEN - 1 characters is cut.
BVCOM_API int com_GetParm(int index, char *buf) {
    if (buf) buf[0] = 0;
    if (index < 0) return 0;
    const char *p = gSwitches;
    for (int current = 0;; ++current) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
        if (!*p) return 0;
        size_t len = 0;
        int quoted = 0;
        while (*p && (quoted || (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n'))) {
            if (*p == '"') {
                quoted = !quoted;
            } else if (current == index && buf && len < BV_TOKEN_LEN - 1) {
                buf[len++] = *p;
            }
            ++p;
        }
        if (current == index) {
            if (buf) buf[len] = 0;
            return 1;
        }
    }
}

}  // extern "C"
