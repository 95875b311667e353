// Fault injection for the file layer, so that tests can show what a full
// disk or a failing write does to a migration. Armed by the environment
// variable BV_FILE_FAULT="KIND:N", read once per process:
//   create:N   the Nth file opened for writing cannot be opened (EACCES)
//   write:N    the Nth write to such a file fails (EIO)
//   short:N    the Nth write stores only half of its bytes
//   nospace:N  the Nth write fails with ENOSPC
// Each fault fires once; every later call works again. Without the variable
// files are opened as they are, and nothing of this costs anything.
#include <errno.h>
#include <mutex>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace {

enum FaultKind { FAULT_NONE, FAULT_CREATE, FAULT_WRITE, FAULT_SHORT, FAULT_NOSPACE };

struct FaultPlan {
    FaultKind kind = FAULT_NONE;
    long at = 0;       // which create or write fails, from 1
    long creates = 0;  // files opened for writing so far
    long writes = 0;   // writes to them so far
};

std::mutex gFaultLock;

FaultPlan ReadPlan() {
    FaultPlan plan;
    const char *text = getenv("BV_FILE_FAULT");
    if (!text || !*text) return plan;
    static const struct {
        const char *name;
        FaultKind kind;
    } kinds[] = {{"create:", FAULT_CREATE}, {"write:", FAULT_WRITE}, {"short:", FAULT_SHORT}, {"nospace:", FAULT_NOSPACE}};
    for (const auto &k : kinds) {
        size_t len = strlen(k.name);
        if (strncmp(text, k.name, len) != 0) continue;
        plan.at = strtol(text + len, nullptr, 10);
        if (plan.at > 0) plan.kind = k.kind;
    }
    return plan;
}

FaultPlan &Plan() {
    static FaultPlan plan = ReadPlan();
    return plan;
}

// Tells the test on stderr that the fault fired (the log may be what failed).
void Announce(const char *what, long at) { fprintf(stderr, "bvole: injected %s fault at %ld\n", what, at); }

// The fault that this write meets, if any.
FaultKind NextWriteFault() {
    std::lock_guard<std::mutex> lock(gFaultLock);
    FaultPlan &plan = Plan();
    if (plan.kind == FAULT_NONE || plan.kind == FAULT_CREATE || ++plan.writes != plan.at) return FAULT_NONE;
    Announce("write", plan.at);
    return plan.kind;
}

#ifndef _WIN32
// The stream handed out is a cookie stream over the real, unbuffered one,
// so each write of the outer buffer reaches FaultyWrite once. A failed write
// reports fewer bytes than asked (0), never -1: stdio then marks the stream
// as failed, where a -1 from a cookie would be counted as bytes written.
ssize_t FaultyWrite(void *cookie, const char *buf, size_t size) {
    FILE *real = static_cast<FILE *>(cookie);
    switch (NextWriteFault()) {
    case FAULT_WRITE:
        errno = EIO;
        return 0;
    case FAULT_NOSPACE:
        errno = ENOSPC;
        return 0;
    case FAULT_SHORT:
        return (ssize_t)fwrite(buf, 1, size / 2, real);
    default:
        break;
    }
    return (ssize_t)fwrite(buf, 1, size, real);
}

ssize_t FaultyRead(void *cookie, char *buf, size_t size) {
    FILE *real = static_cast<FILE *>(cookie);
    size_t got = fread(buf, 1, size, real);
    return ferror(real) ? -1 : (ssize_t)got;
}

int FaultySeek(void *cookie, off64_t *offset, int whence) {
    FILE *real = static_cast<FILE *>(cookie);
    if (fseeko(real, (off_t)*offset, whence) != 0) return -1;
    *offset = (off64_t)ftello(real);
    return 0;
}

int FaultyClose(void *cookie) { return fclose(static_cast<FILE *>(cookie)); }

FILE *WrapForFaults(FILE *real, const char *mode) {
    setvbuf(real, nullptr, _IONBF, 0);
    cookie_io_functions_t io = {FaultyRead, FaultyWrite, FaultySeek, FaultyClose};
    FILE *outer = fopencookie(real, mode, io);
    if (!outer) fclose(real);
    return outer;
}
#endif

}  // namespace

extern "C" int plat_FaultInjectionArmed(void) {
    std::lock_guard<std::mutex> lock(gFaultLock);
    return Plan().kind != FAULT_NONE;
}

// For plat_fopen: NULL (with errno) when this create is the one that fails,
// else the opened stream, wrapped when write faults are armed.
extern "C" FILE *plat_OpenWithFaults(const char *path, const char *mode) {
    bool writing = strpbrk(mode, "wa+") != nullptr;
    FaultKind kind;
    {
        std::lock_guard<std::mutex> lock(gFaultLock);
        FaultPlan &plan = Plan();
        kind = plan.kind;
        if (writing && kind == FAULT_CREATE && ++plan.creates == plan.at) {
            Announce("create", plan.at);
            errno = EACCES;
            return nullptr;
        }
    }
    FILE *file = fopen(path, mode);
#ifndef _WIN32
    if (file && writing && kind != FAULT_NONE && kind != FAULT_CREATE) return WrapForFaults(file, mode);
#endif
    return file;
}

extern "C" int plat_CloseWritten(FILE *file) {
    if (!file) return 0;
    int ok = fflush(file) == 0 && !ferror(file);
    if (fclose(file) != 0) ok = 0;
    return ok;
}
