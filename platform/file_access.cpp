// Files and directories of the POSIX backend: paths are UTF-8 bytes on disk.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr size_t kReadBuffer = 64 * 1024;  // bytes a read-only stream asks for at once

// A read-only stream over a descriptor of its own: stdio's fdopen would ask
// for the flags and the size again, and reading again at the end of the file
// after a short read costs one more call for every file read.
struct ReadStream {
    int fd;
    int64_t offset;  // where the descriptor stands
    bool atEnd;      // a read came back short: for a regular file, the end
    char *buffer;
};

ssize_t ReadStreamRead(void *cookie, char *buf, size_t size) {
    ReadStream *r = static_cast<ReadStream *>(cookie);
    if (r->atEnd || size == 0) return 0;
    ssize_t got;
    do {
        got = read(r->fd, buf, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    r->offset += got;
    r->atEnd = (size_t)got < size;
    return got;
}

int ReadStreamSeek(void *cookie, off64_t *offset, int whence) {
    ReadStream *r = static_cast<ReadStream *>(cookie);
    // Asking where the stream stands (ftell), or going where it stands
    // already, costs no system call.
    if ((whence == SEEK_CUR && *offset == 0) || (whence == SEEK_SET && *offset == (off64_t)r->offset)) {
        *offset = (off64_t)r->offset;
        return 0;
    }
    off_t to = lseek(r->fd, (off_t)*offset, whence);
    if (to < 0) return -1;
    r->offset = to;
    r->atEnd = false;
    *offset = (off64_t)to;
    return 0;
}

int ReadStreamClose(void *cookie) {
    ReadStream *r = static_cast<ReadStream *>(cookie);
    int result = close(r->fd);
    free(r->buffer);
    free(r);
    return result;
}

}  // namespace

extern "C" {

FILE *plat_OpenWithFaults(const char *path, const char *mode);          // file_faults.cpp
FILE *plat_OpenTracked(const char *path, const char *mode, int *tracked);  // written_digests.cpp
void plat_ForgetWrittenFile(const char *from, const char *to);

// A read-only open takes regular files only (symbolic links followed): a
// FIFO would block the open, and a device or /proc file reads without end.
// The file is opened without blocking and checked before it is read.
// O_NONBLOCK stays: it changes nothing for a regular file, and clearing it
// would cost two more system calls per open. -1 when it is not readable.
static int OpenRegularFile(const char *path, int64_t *size) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        char line[600];
        snprintf(line, sizeof line, "BV Warning: not a regular file, not read: %.500s", path);
        plat_LogLine(line);
        errno = EINVAL;
        return -1;
    }
    if (size) *size = (int64_t)st.st_size;
    return fd;
}

static FILE *OpenRegularForReading(const char *path) {
    int fd = OpenRegularFile(path, nullptr);
    if (fd < 0) return nullptr;
    ReadStream *r = static_cast<ReadStream *>(malloc(sizeof(ReadStream)));
    char *buffer = static_cast<char *>(malloc(kReadBuffer));
    cookie_io_functions_t io = {ReadStreamRead, nullptr, ReadStreamSeek, ReadStreamClose};
    FILE *file = nullptr;
    if (r && buffer) {
        *r = ReadStream{fd, 0, false, buffer};
        file = fopencookie(r, "rb", io);
    }
    if (!file) {
        free(buffer);
        free(r);
        close(fd);
        return nullptr;
    }
    setvbuf(file, buffer, _IOFBF, kReadBuffer);
    return file;
}

struct PlatFile {
    int fd;
};

PlatFile *plat_OpenForReading(const char *path, int64_t *size) {
    if (!path || !*path || !size) return nullptr;
    int fd = OpenRegularFile(path, size);
    if (fd < 0) return nullptr;
    PlatFile *file = static_cast<PlatFile *>(malloc(sizeof(PlatFile)));
    if (!file) {
        close(fd);
        return nullptr;
    }
    file->fd = fd;
    return file;
}

int64_t plat_ReadAt(PlatFile *file, int64_t offset, void *out, size_t len) {
    if (!file || offset < 0) return -1;
    ssize_t got;
    do {
        got = pread(file->fd, out, len, (off_t)offset);
    } while (got < 0 && errno == EINTR);
    return got;
}

void plat_CloseFile(PlatFile *file) {
    if (!file) return;
    close(file->fd);
    free(file);
}

FILE *plat_fopen(const char *path, const char *mode) {
    if (!path || !mode || !*path) return nullptr;
    if (mode[0] == 'r' && !strchr(mode, '+')) return OpenRegularForReading(path);
    int tracked = 0;
    FILE *file = plat_OpenTracked(path, mode, &tracked);
    if (tracked) return file;
    if (plat_FaultInjectionArmed()) return plat_OpenWithFaults(path, mode);
    return fopen(path, mode);
}

int plat_ResolvePath(const char *path, char *out, size_t outCap) {
    if (!path || !*path || !out || outCap == 0) return 0;
    char *resolved = realpath(path, nullptr);
    if (!resolved) return 0;
    size_t len = strlen(resolved);
    int ok = len < outCap;
    if (ok) memcpy(out, resolved, len + 1);
    free(resolved);
    return ok;
}

FILE *plat_wfopen(const WCHAR *path, const char *mode) {
    if (!path) return nullptr;
    int need = plat_WideCharToMultiByte(CP_UTF8, path, -1, nullptr, 0);
    if (need <= 0 || need > 4096) return nullptr;
    char narrow[4096];
    if (plat_WideCharToMultiByte(CP_UTF8, path, -1, narrow, (int)sizeof(narrow)) <= 0) return nullptr;
    return plat_fopen(narrow, mode);
}

int64_t plat_GetFileSize(const char *path) {
    struct stat st;
    if (!path || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return (int64_t)st.st_size;
}

int plat_FileExists(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int plat_DirectoryExists(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int plat_DeleteFile(const char *path) {
    if (!path) return 0;
    plat_ForgetWrittenFile(path, nullptr);
    return unlink(path) == 0;
}

int plat_MoveFile(const char *from, const char *to) {
    if (!from || !to || rename(from, to) != 0) return 0;
    plat_ForgetWrittenFile(from, to);
    return 1;
}

int plat_CreateDirectory(const char *path) {
    if (!path || !*path) return 0;
    if (mkdir(path, 0777) == 0) return 1;
    return errno == EEXIST && plat_DirectoryExists(path);
}

// Depth-first removal; symbolic links are removed, never followed.
int plat_RemoveDirectoryTree(const char *path) {
    if (!path || !*path) return 0;
    struct stat st;
    if (lstat(path, &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return unlink(path) == 0;
    DIR *dir = opendir(path);
    if (!dir) return 0;
    int ok = 1;
    while (struct dirent *entry = readdir(dir)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        size_t len = strlen(path) + strlen(entry->d_name) + 2;
        char *child = (char *)malloc(len);
        if (!child) {
            ok = 0;
            break;
        }
        snprintf(child, len, "%s/%s", path, entry->d_name);
        if (!plat_RemoveDirectoryTree(child)) ok = 0;
        free(child);
    }
    closedir(dir);
    if (rmdir(path) != 0) ok = 0;
    return ok;
}

int plat_PathIsInside(const char *dir, const char *path) {
    char base[4096], target[4096];
    if (!plat_ResolvePath(dir, base, sizeof base) || !plat_ResolvePath(path, target, sizeof target)) return 0;
    size_t len = strlen(base);
    if (len > 0 && base[len - 1] == BV_PATH_SEP) len--;  // the root directory
    return strncmp(target, base, len) == 0 && target[len] == BV_PATH_SEP && target[len + 1] != 0;
}

int plat_FindFileNoCase(const char *dir, const char *name, char *out, size_t outCap) {
    if (!dir || !name || !out || outCap == 0) return 0;
    out[0] = 0;
    const char *sep = (*dir && dir[strlen(dir) - 1] != BV_PATH_SEP) ? BV_PATH_SEP_STR : "";
    char exact[4096];
    int n = snprintf(exact, sizeof(exact), "%s%s%s", dir, sep, name);
    if (n < 0 || (size_t)n >= sizeof(exact)) return 0;
    if (plat_FileExists(exact) || plat_DirectoryExists(exact)) {
        if ((size_t)n >= outCap) return 0;
        memcpy(out, exact, (size_t)n + 1);
        return 1;
    }
    DIR *d = opendir(*dir ? dir : ".");
    if (!d) return 0;
    int found = 0;
    while (struct dirent *entry = readdir(d)) {
        if (strcasecmp(entry->d_name, name) != 0) continue;
        n = snprintf(out, outCap, "%s%s%s", dir, sep, entry->d_name);
        found = n >= 0 && (size_t)n < outCap;
        if (!found) out[0] = 0;
        break;
    }
    closedir(d);
    return found;
}

void plat_GetTempDirectory(char *out, size_t outCap) {
    if (!out || outCap == 0) return;
    const char *tmp = getenv("TMPDIR");
    if (!tmp || !*tmp) tmp = "/tmp";
    size_t len = strlen(tmp);
    const char *sep = tmp[len - 1] == BV_PATH_SEP ? "" : BV_PATH_SEP_STR;
    int n = snprintf(out, outCap, "%s%s", tmp, sep);
    if (n < 0 || (size_t)n >= outCap) out[0] = 0;
}

}  // extern "C"
