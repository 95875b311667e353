// FindFirstFile / FindNextFile over readdir: a directory part and a mask of
// '*' and '?' matched without regard to case, as Win32 does.
#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/platform.h"

#define PLAT_FIND_PATH_LEN 4096

struct PlatFind {
    DIR *dir;
    char dirPath[PLAT_FIND_PATH_LEN];  // with a trailing separator, or empty
    char mask[512];
};

static uint32_t gLastSearchError;

static uint32_t SearchErrorOf(int error) {
    if (error == ENOENT || error == ENOTDIR) return BV_ERROR_PATH_NOT_FOUND;
    if (error == EACCES || error == EPERM) return BV_ERROR_ACCESS_DENIED;
    return BV_ERROR_GEN_FAILURE;
}

static int AsciiLower(int c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Iterative wildcard match with one backtrack point: linear in practice.
static int MaskMatches(const char *mask, const char *name) {
    const char *starMask = nullptr;
    const char *starName = nullptr;
    while (*name) {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || (*mask && AsciiLower((unsigned char)*mask) == AsciiLower((unsigned char)*name))) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return 0;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == 0;
}

// Win32 lets a trailing ".*" also match names without any dot ("*.*" is
// every name, "PRT*.*" matches "PRT001").
static int NameMatches(const char *mask, const char *name) {
    if (MaskMatches(mask, name)) return 1;
    size_t len = strlen(mask);
    if (len >= 2 && mask[len - 2] == '.' && mask[len - 1] == '*' && !strchr(name, '.')) {
        char shorter[512];
        memcpy(shorter, mask, len - 2);
        shorter[len - 2] = 0;
        return MaskMatches(shorter, name);
    }
    return 0;
}

static uint64_t UnixToFileTimeUnits(const struct timespec &ts) {
    const uint64_t epochDelta = 116444736000000000ULL;  // 1601-01-01 to 1970-01-01
    return epochDelta + (uint64_t)ts.tv_sec * 10000000ULL + (uint64_t)ts.tv_nsec / 100;
}

static int NextMatch(PlatFind *find, PlatFindData *out) {
    while (struct dirent *entry = readdir(find->dir)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        if (!NameMatches(find->mask, entry->d_name)) continue;
        size_t nameLen = strlen(entry->d_name);
        if (nameLen >= sizeof(out->name)) continue;  // cannot be reported whole
        char full[PLAT_FIND_PATH_LEN];
        int n = snprintf(full, sizeof(full), "%s%s", find->dirPath, entry->d_name);
        if (n < 0 || (size_t)n >= sizeof(full)) continue;
        struct stat st;
        memset(out, 0, sizeof(*out));
        memcpy(out->name, entry->d_name, nameLen + 1);
        if (stat(full, &st) == 0) {
            out->isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
            out->size = out->isDirectory ? 0 : (int64_t)st.st_size;
            out->lastWrite = plat_U64ToFileTime(UnixToFileTimeUnits(st.st_mtim));
        }
        return 1;
    }
    return 0;
}

extern "C" {

PlatFind *plat_FindFirstFile(const char *pattern, PlatFindData *out) {
    gLastSearchError = BV_ERROR_INVALID_NAME;
    if (!pattern || !*pattern || !out) return nullptr;
    const char *slash = strrchr(pattern, BV_PATH_SEP);
    const char *mask = slash ? slash + 1 : pattern;
    size_t dirLen = slash ? (size_t)(slash - pattern) + 1 : 0;
    if (dirLen >= PLAT_FIND_PATH_LEN || strlen(mask) >= sizeof(PlatFind::mask) || !*mask) return nullptr;
    PlatFind *find = (PlatFind *)calloc(1, sizeof(PlatFind));
    if (!find) {
        gLastSearchError = BV_ERROR_GEN_FAILURE;
        return nullptr;
    }
    memcpy(find->dirPath, pattern, dirLen);
    find->dirPath[dirLen] = 0;
    strcpy(find->mask, mask);
    find->dir = opendir(dirLen ? find->dirPath : ".");
    gLastSearchError = find->dir ? BV_ERROR_FILE_NOT_FOUND : SearchErrorOf(errno);
    if (!find->dir || !NextMatch(find, out)) {
        plat_FindClose(find);
        return nullptr;
    }
    return find;
}

int plat_FindNextFile(PlatFind *find, PlatFindData *out) {
    if (!find || !out || !find->dir) return 0;
    return NextMatch(find, out);
}

static int ToWide(const PlatFindData &narrow, PlatFindDataW *out) {
    memset(out, 0, sizeof(*out));
    int units = plat_MultiByteToWideChar(CP_UTF8, narrow.name, -1, out->name, (int)(sizeof(out->name) / sizeof(WCHAR)));
    out->isDirectory = narrow.isDirectory;
    out->size = narrow.size;
    out->lastWrite = narrow.lastWrite;
    return units > 0;
}

PlatFind *plat_FindFirstFileW(const WCHAR *pattern, PlatFindDataW *out) {
    gLastSearchError = BV_ERROR_INVALID_NAME;
    if (!pattern || !out) return nullptr;
    char narrowPattern[PLAT_FIND_PATH_LEN];
    if (plat_WideCharToMultiByte(CP_UTF8, pattern, -1, narrowPattern, (int)sizeof(narrowPattern)) <= 0) return nullptr;
    PlatFindData narrow;
    PlatFind *find = plat_FindFirstFile(narrowPattern, &narrow);
    if (!find) return nullptr;
    while (!ToWide(narrow, out)) {
        if (!NextMatch(find, &narrow)) {
            plat_FindClose(find);
            return nullptr;
        }
    }
    return find;
}

int plat_FindNextFileW(PlatFind *find, PlatFindDataW *out) {
    if (!find || !out) return 0;
    PlatFindData narrow;
    while (NextMatch(find, &narrow)) {
        if (ToWide(narrow, out)) return 1;
    }
    return 0;
}

uint32_t plat_GetLastError(void) {
    return gLastSearchError;
}

void plat_FindClose(PlatFind *find) {
    if (!find) return;
    if (find->dir) closedir(find->dir);
    free(find);
}

}  // extern "C"
