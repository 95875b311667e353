// Digests of the files this process wrote, so that a file's content can be
// identified later without reading it again (the duplicate register hashes
// every part file of every message, and the dump names each part file by it).
// A file created with mode "w"/"wb" under a tracked directory is written
// through a cookie stream that feeds a SHA-256 of its bytes and writes the
// file in blocks of kTrackedBuffer bytes; the digest
// is kept while the file holds exactly what was written: opening it for
// writing again, seeking back into it or deleting it drops the digest, and
// moving it moves the digest along. Win32: nothing is tracked (callers then
// read the file).
#include <string.h>
#include <map>
#include <mutex>
#include <string>

#include "platform/platform.h"

#ifndef _WIN32
#include <openssl/evp.h>

extern "C" FILE *plat_OpenWithFaults(const char *path, const char *mode);  // file_faults.cpp

namespace {

constexpr size_t kTrackedBuffer = 64 * 1024;  // bytes per write of a tracked file

struct Digest {
    unsigned char sha256[32];
};

std::mutex gTrackLock;
std::string gTrackedDir;                    // files created under it are tracked
std::map<std::string, Digest> gDigests;     // path -> digest of what it holds

struct TrackedFile {
    FILE *real;  // unbuffered: the outer stream's buffer is the only one
    EVP_MD_CTX *sha256;
    uint64_t written;
    bool intact;  // written from start to end in order, every byte arrived
    std::string path;
    char *buffer;
};

void FreeTracked(TrackedFile *t) {
    EVP_MD_CTX_free(t->sha256);
    free(t->buffer);
    delete t;
}

ssize_t TrackedWrite(void *cookie, const char *buf, size_t size) {
    TrackedFile *t = static_cast<TrackedFile *>(cookie);
    size_t done = fwrite(buf, 1, size, t->real);
    if (t->intact) EVP_DigestUpdate(t->sha256, buf, done);
    t->written += done;
    if (done != size) t->intact = false;
    return (ssize_t)done;  // short (never -1): stdio marks the stream as failed
}

ssize_t TrackedRead(void *cookie, char *buf, size_t size) {
    TrackedFile *t = static_cast<TrackedFile *>(cookie);
    size_t got = fread(buf, 1, size, t->real);
    return ferror(t->real) ? -1 : (ssize_t)got;
}

int TrackedSeek(void *cookie, off64_t *offset, int whence) {
    TrackedFile *t = static_cast<TrackedFile *>(cookie);
    // Asking where the stream stands (ftell) costs no system call.
    if (whence != SEEK_END && (whence == SEEK_CUR ? *offset == 0 : (uint64_t)*offset == t->written)) {
        *offset = (off64_t)t->written;
        return 0;
    }
    t->intact = false;
    if (fseeko(t->real, (off_t)*offset, whence) != 0) return -1;
    *offset = (off64_t)ftello(t->real);
    t->written = (uint64_t)*offset;
    return 0;
}

int TrackedClose(void *cookie) {
    TrackedFile *t = static_cast<TrackedFile *>(cookie);
    Digest digest;
    unsigned int len = 0;
    bool ok = EVP_DigestFinal_ex(t->sha256, digest.sha256, &len) == 1 && len == sizeof(digest.sha256);
    int result = fclose(t->real);
    if (t->intact && ok && result == 0) {
        std::lock_guard<std::mutex> lock(gTrackLock);
        gDigests[t->path] = digest;
    }
    FreeTracked(t);
    return result;
}

bool UnderTrackedDir(const char *path) {
    return !gTrackedDir.empty() && strncmp(path, gTrackedDir.c_str(), gTrackedDir.size()) == 0;
}

}  // namespace

// For plat_fopen: drops what is known of a file opened for writing, and
// returns a tracked stream when the file is created under the tracked
// directory ("w"/"wb"); NULL when this open is not to be tracked.
extern "C" FILE *plat_OpenTracked(const char *path, const char *mode, int *tracked) {
    *tracked = 0;
    if (!strpbrk(mode, "wa+")) return nullptr;
    {
        std::lock_guard<std::mutex> lock(gTrackLock);
        gDigests.erase(path);
        if (mode[0] != 'w' || strchr(mode, '+') || !UnderTrackedDir(path)) return nullptr;
    }
    *tracked = 1;
    FILE *real = plat_FaultInjectionArmed() ? plat_OpenWithFaults(path, mode) : fopen(path, mode);
    if (!real) return nullptr;
    setvbuf(real, nullptr, _IONBF, 0);
    TrackedFile *t = new (std::nothrow) TrackedFile{real, EVP_MD_CTX_new(), 0, true, path, nullptr};
    if (t) t->buffer = static_cast<char *>(malloc(kTrackedBuffer));
    if (!t || !t->sha256 || !t->buffer || EVP_DigestInit_ex(t->sha256, EVP_sha256(), nullptr) != 1) {
        if (t) FreeTracked(t);
        return real;  // written as it is, without a digest
    }
    cookie_io_functions_t io = {TrackedRead, TrackedWrite, TrackedSeek, TrackedClose};
    FILE *outer = fopencookie(t, mode, io);
    if (!outer) {
        fclose(real);  // no digest: none of the bytes go through the tracker
        FreeTracked(t);
        return fopen(path, mode);
    }
    setvbuf(outer, t->buffer, _IOFBF, kTrackedBuffer);
    return outer;
}

extern "C" void plat_ForgetWrittenFile(const char *from, const char *to) {
    std::lock_guard<std::mutex> lock(gTrackLock);
    auto found = gDigests.find(from);
    if (to) {
        gDigests.erase(to);
        if (found != gDigests.end()) gDigests[to] = found->second;
    }
    if (found != gDigests.end()) gDigests.erase(from);
}

extern "C" void plat_TrackWrittenFiles(const char *dir) {
    std::lock_guard<std::mutex> lock(gTrackLock);
    gTrackedDir = dir ? dir : "";
    gDigests.clear();
}

extern "C" int plat_WrittenFileSha256(const char *path, unsigned char sha256[32]) {
    std::lock_guard<std::mutex> lock(gTrackLock);
    auto found = gDigests.find(path ? path : "");
    if (found == gDigests.end()) return 0;
    memcpy(sha256, found->second.sha256, 32);
    return 1;
}

#else

extern "C" FILE *plat_OpenTracked(const char *, const char *, int *tracked) {
    *tracked = 0;
    return nullptr;
}
extern "C" void plat_ForgetWrittenFile(const char *, const char *) {}
extern "C" void plat_TrackWrittenFiles(const char *) {}
extern "C" int plat_WrittenFileSha256(const char *, unsigned char *) { return 0; }

#endif
