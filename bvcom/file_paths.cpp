// Path pieces, file size and copy, output directory checks. Paths use the
// platform separator BV_PATH_SEP.
#include <string.h>
#include <mutex>
#include <set>
#include <string>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_COPY_BLOCK (64 * 1024)

static const char *LastSeparator(const char *path) {
    return strrchr(path, BV_PATH_SEP);
}

static void CopyOut(char *out, size_t outCap, const char *from, size_t len) {
    if (len >= outCap) len = outCap - 1;
    memmove(out, from, len);
    out[len] = 0;
}

extern "C" {

// An empty path stays empty (it would otherwise turn into the root).
BVCOM_API void com_AppendSlash(char *path, size_t capacity) {
    if (!path || capacity == 0) return;
    size_t len = strnlen(path, capacity);
    if (len == 0 || len >= capacity || path[len - 1] == BV_PATH_SEP || len + 1 >= capacity) return;
    path[len] = BV_PATH_SEP;
    path[len + 1] = 0;
}

// "/a/b/c.txt" -> "/a/b"; "c.txt" -> ""; "/c.txt" -> "/"; "/a/b/" -> "/a/b".
BVCOM_API void com_ExtractFileDir(const char *path, char *out, size_t outCap) {
    if (!out || outCap == 0) return;
    if (!path) {
        out[0] = 0;
        return;
    }
    const char *sep = LastSeparator(path);
    if (!sep) {
        out[0] = 0;
        return;
    }
    size_t len = (size_t)(sep - path);
    if (len == 0) len = 1;  // the root keeps its separator
    CopyOut(out, outCap, path, len);
}

// The text after the last dot of the file name, without the dot, in its
// original case ("Inbox.DBX" -> "DBX"): compare it with strcasecmp. A dot in a
// directory name is not an extension; "name." and "name" have none.
BVCOM_API void com_ExtractFileExt(const char *path, char *out, size_t outCap) {
    if (!out || outCap == 0) return;
    out[0] = 0;
    if (!path) return;
    const char *sep = LastSeparator(path);
    const char *name = sep ? sep + 1 : path;
    const char *dot = strrchr(name, '.');
    if (!dot) return;
    CopyOut(out, outCap, dot + 1, strlen(dot + 1));
}

BVCOM_API void com_ExtractFileName(const char *path, char *out, size_t outCap) {
    if (!out || outCap == 0) return;
    if (!path) {
        out[0] = 0;
        return;
    }
    const char *sep = LastSeparator(path);
    const char *name = sep ? sep + 1 : path;
    CopyOut(out, outCap, name, strlen(name));
}

BVCOM_API int64_t com_GetFileSize(const char *path) {
    return plat_GetFileSize(path);
}

// Bytes copied; -1 when the source cannot be read, -2 when the target
// cannot be written (a partly written target is removed).
BVCOM_API int64_t com_fcopy(const char *source, const char *target) {
    FILE *in = plat_fopen(source, "rb");
    if (!in) return -1;
    FILE *out = plat_fopen(target, "wb");
    if (!out) {
        fclose(in);
        return -2;
    }
    static thread_local char block[BVCOM_COPY_BLOCK];
    int64_t total = 0;
    bool failed = false;
    size_t got;
    while ((got = fread(block, 1, sizeof(block), in)) > 0) {
        if (fwrite(block, 1, got, out) != got) {
            failed = true;
            break;
        }
        total += (int64_t)got;
    }
    if (ferror(in)) failed = true;
    fclose(in);
    if (fclose(out) != 0) failed = true;
    if (failed) {
        plat_DeleteFile(target);
        return -2;
    }
    return total;
}

// Creates the directory `path` and every missing parent (as mkdir -p); a
// trailing separator is allowed. Non-zero when the directory exists after.
BVCOM_API int _com_mkdir(const char *path) {
    if (!path || !*path) return 0;
    char work[BVCOM_PATH_LEN];
    size_t len = strnlen(path, sizeof(work));
    if (len >= sizeof(work)) return 0;
    memcpy(work, path, len + 1);
    while (len > 1 && work[len - 1] == BV_PATH_SEP) work[--len] = 0;
    for (size_t i = 1; i < len; ++i) {
        if (work[i] != BV_PATH_SEP) continue;
        work[i] = 0;
        if (!plat_DirectoryExists(work)) plat_CreateDirectory(work);
        work[i] = BV_PATH_SEP;
    }
    return plat_CreateDirectory(work);
}

// The directory that would receive the output file `path` (or `path` itself
// when it is a directory) exists and a file can be created in it.
BVCOM_API int com_ValidateOutputDir(const char *path, int flags) {
    (void)flags;
    if (!path || !*path) return 0;
    char dir[BVCOM_PATH_LEN];
    if (plat_DirectoryExists(path)) com_strncpy(dir, path, sizeof(dir) - 2);
    else com_ExtractFileDir(path, dir, sizeof(dir) - 2);
    if (!dir[0]) com_strncpy(dir, ".", sizeof(dir) - 1);
    if (!plat_DirectoryExists(dir)) return 0;
    com_AppendSlash(dir, sizeof(dir));
    char probe[BVCOM_PATH_LEN + 32];
    snprintf(probe, sizeof(probe), "%s.bvcom-probe-%p.tmp", dir, (void *)&probe);
    FILE *f = plat_fopen(probe, "wb");
    if (!f) return 0;
    fclose(f);
    plat_DeleteFile(probe);
    return 1;
}

}  // extern "C"

// The source files that sessions of this process read, by resolved path, so
// that another session (the target of the same run) can refuse to replace one.
static std::mutex gSourceFilesLock;
static std::set<std::string> gSourceFiles;

static std::string ResolvedOrGiven(const char *path) {
    char resolved[BVCOM_PATH_LEN * 4];
    return plat_ResolvePath(path, resolved, sizeof(resolved)) ? std::string(resolved) : std::string(path);
}

BVCOM_API void com_RegisterSourceFile(const char *path) {
    if (!path || !*path) return;
    std::lock_guard<std::mutex> lock(gSourceFilesLock);
    gSourceFiles.insert(ResolvedOrGiven(path));
}

BVCOM_API int com_IsSourceFile(const char *path) {
    if (!path || !*path) return 0;
    std::lock_guard<std::mutex> lock(gSourceFilesLock);
    return gSourceFiles.count(ResolvedOrGiven(path)) ? 1 : 0;
}
