// Scratch streams: one item at a time written, read back and emptied again.
// On POSIX the stream is a cookie stream over a memory buffer that moves to
// its spill file once it outgrows its memory limit; on Win32 it is the file.
#include <errno.h>
#include <map>
#include <mutex>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "platform/platform.h"

#ifndef _WIN32
#include <unistd.h>

namespace {

constexpr size_t kStreamBuffer = 64 * 1024;  // stdio buffer of the outer stream

struct Scratch {
    std::string spillPath;
    size_t memoryCap = 0;
    char *data = nullptr;  // the bytes while in memory
    size_t length = 0;
    size_t capacity = 0;
    size_t position = 0;
    FILE *spill = nullptr;  // open once the stream outgrew memory; kept for reuse
    bool spilled = false;   // this item lives in the spill file
    char *stdioBuffer = nullptr;
};

std::mutex gScratchLock;
std::map<FILE *, Scratch *> gScratches;

Scratch *Find(FILE *stream) {
    std::lock_guard<std::mutex> lock(gScratchLock);
    auto it = gScratches.find(stream);
    return it == gScratches.end() ? nullptr : it->second;
}

// Moves the item written so far into the spill file.
bool Spill(Scratch *s) {
    if (!s->spill) s->spill = plat_fopen(s->spillPath.c_str(), "w+b");
    if (!s->spill) return false;
    if (fseeko(s->spill, 0, SEEK_SET) != 0 || ftruncate(fileno(s->spill), 0) != 0) return false;
    if (s->length && fwrite(s->data, 1, s->length, s->spill) != s->length) return false;
    if (fseeko(s->spill, (off_t)s->position, SEEK_SET) != 0) return false;
    s->spilled = true;
    return true;
}

bool Grow(Scratch *s, size_t need) {
    if (need <= s->capacity) return true;
    size_t capacity = s->capacity ? s->capacity : 64 * 1024;
    while (capacity < need) capacity *= 2;
    char *data = static_cast<char *>(realloc(s->data, capacity));
    if (!data) return false;
    s->data = data;
    s->capacity = capacity;
    return true;
}

ssize_t ScratchWrite(void *cookie, const char *buf, size_t size) {
    Scratch *s = static_cast<Scratch *>(cookie);
    // A failure reports 0 bytes (never -1): stdio then marks the stream as failed.
    if (!s->spilled && s->position + size > s->memoryCap && !Spill(s)) {
        errno = ENOSPC;
        return 0;
    }
    if (s->spilled) return (ssize_t)fwrite(buf, 1, size, s->spill);
    if (!Grow(s, s->position + size)) {
        errno = ENOMEM;
        return 0;
    }
    memcpy(s->data + s->position, buf, size);
    s->position += size;
    if (s->position > s->length) s->length = s->position;
    return (ssize_t)size;
}

ssize_t ScratchRead(void *cookie, char *buf, size_t size) {
    Scratch *s = static_cast<Scratch *>(cookie);
    if (s->spilled) {
        size_t got = fread(buf, 1, size, s->spill);
        return ferror(s->spill) ? -1 : (ssize_t)got;
    }
    size_t left = s->position < s->length ? s->length - s->position : 0;
    if (size > left) size = left;
    if (size == 0) return 0;  // an empty scratch has no buffer yet
    memcpy(buf, s->data + s->position, size);
    s->position += size;
    return (ssize_t)size;
}

int ScratchSeek(void *cookie, off64_t *offset, int whence) {
    Scratch *s = static_cast<Scratch *>(cookie);
    if (s->spilled) {
        if (fseeko(s->spill, (off_t)*offset, whence) != 0) return -1;
        *offset = (off64_t)ftello(s->spill);
        return 0;
    }
    off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (off64_t)s->position : (off64_t)s->length;
    off64_t target = base + *offset;
    if (target < 0) return -1;
    s->position = (size_t)target;
    *offset = target;
    return 0;
}

int ScratchClose(void *cookie) {
    Scratch *s = static_cast<Scratch *>(cookie);
    if (s->spill) {
        fclose(s->spill);
        plat_DeleteFile(s->spillPath.c_str());
    }
    free(s->data);
    free(s->stdioBuffer);
    delete s;
    return 0;
}

}  // namespace

extern "C" FILE *plat_OpenScratch(const char *spillPath, size_t memoryCap) {
    if (!spillPath || !*spillPath) return nullptr;
    Scratch *s = new (std::nothrow) Scratch;
    if (!s) return nullptr;
    s->spillPath = spillPath;
    s->memoryCap = memoryCap;
    cookie_io_functions_t io = {ScratchRead, ScratchWrite, ScratchSeek, ScratchClose};
    FILE *stream = fopencookie(s, "w+", io);
    if (!stream) {
        delete s;
        return nullptr;
    }
    s->stdioBuffer = static_cast<char *>(malloc(kStreamBuffer));
    if (s->stdioBuffer) setvbuf(stream, s->stdioBuffer, _IOFBF, kStreamBuffer);
    std::lock_guard<std::mutex> lock(gScratchLock);
    gScratches[stream] = s;
    return stream;
}

extern "C" int plat_ScratchRestart(FILE *stream) {
    Scratch *s = Find(stream);
    if (!s) return 0;
    fflush(stream);
    clearerr(stream);
    s->length = s->position = 0;
    s->spilled = false;  // the spill file is emptied when it is needed again
    return fseeko(stream, 0, SEEK_SET) == 0;
}

extern "C" int plat_ScratchRewind(FILE *stream, int64_t *size) {
    Scratch *s = Find(stream);
    if (!s) return 0;
    int ok = fflush(stream) == 0 && !ferror(stream);
    off_t end = ftello(stream);
    if (size) *size = end < 0 ? 0 : (int64_t)end;
    if (s->spilled && s->spill && fflush(s->spill) != 0) ok = 0;
    if (s->spilled && s->spill && ftruncate(fileno(s->spill), end < 0 ? 0 : end) != 0) ok = 0;
    if (!s->spilled) s->length = end < 0 ? 0 : (size_t)end;
    if (fseeko(stream, 0, SEEK_SET) != 0) ok = 0;
    return ok;
}

extern "C" void plat_CloseScratch(FILE *stream) {
    if (!stream) return;
    {
        std::lock_guard<std::mutex> lock(gScratchLock);
        gScratches.erase(stream);
    }
    fclose(stream);
}

#else  // _WIN32: the spill file is the stream

#include <io.h>

namespace {
std::mutex gScratchLock;
std::map<FILE *, std::string> gScratchPaths;
}  // namespace

extern "C" FILE *plat_OpenScratch(const char *spillPath, size_t) {
    FILE *stream = plat_fopen(spillPath, "w+b");
    if (!stream) return nullptr;
    std::lock_guard<std::mutex> lock(gScratchLock);
    gScratchPaths[stream] = spillPath;
    return stream;
}

extern "C" int plat_ScratchRestart(FILE *stream) {
    if (!stream || fflush(stream) != 0) return 0;
    clearerr(stream);
    rewind(stream);
    return _chsize_s(_fileno(stream), 0) == 0;
}

extern "C" int plat_ScratchRewind(FILE *stream, int64_t *size) {
    if (!stream) return 0;
    int ok = fflush(stream) == 0 && !ferror(stream);
    int64_t end = _ftelli64(stream);
    if (size) *size = end < 0 ? 0 : end;
    if (_chsize_s(_fileno(stream), end < 0 ? 0 : end) != 0) ok = 0;
    rewind(stream);
    return ok;
}

extern "C" void plat_CloseScratch(FILE *stream) {
    if (!stream) return;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(gScratchLock);
        path = gScratchPaths[stream];
        gScratchPaths.erase(stream);
    }
    fclose(stream);
    if (!path.empty()) plat_DeleteFile(path.c_str());
}

#endif
