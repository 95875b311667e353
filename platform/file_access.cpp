// Files and directories of the POSIX backend: paths are UTF-8 bytes on disk.
#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

extern "C" {

FILE *plat_OpenWithFaults(const char *path, const char *mode);          // file_faults.cpp
FILE *plat_OpenTracked(const char *path, const char *mode, int *tracked);  // written_digests.cpp
void plat_ForgetWrittenFile(const char *from, const char *to);

FILE *plat_fopen(const char *path, const char *mode) {
    if (!path || !mode || !*path) return nullptr;
    int tracked = 0;
    FILE *file = plat_OpenTracked(path, mode, &tracked);
    if (tracked) return file;
    if (plat_FaultInjectionArmed()) return plat_OpenWithFaults(path, mode);
    return fopen(path, mode);
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
