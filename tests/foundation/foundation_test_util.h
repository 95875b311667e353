// Scratch directories and small file helpers for the foundation tests.
#pragma once

#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "record/com.h"

// A fresh directory under the system temp directory, removed at the end.
struct ScratchDir {
    std::string path;  // with a trailing separator
    ScratchDir() {
        char tmpl[] = "/tmp/bvfoundXXXXXX";
        const char *made = mkdtemp(tmpl);
        path = std::string(made ? made : "/tmp") + "/";
    }
    ~ScratchDir() { plat_RemoveDirectoryTree(path.c_str()); }
    std::string operator/(const std::string &name) const { return path + name; }
};

inline void WriteFile(const std::string &path, const std::string &content) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

inline std::string ReadFile(const std::string &path) {
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

inline bool FileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The record is large (the pointer arrays alone are ~48 KB): keep it on the heap.
struct HeapRecord {
    mdat *rec;
    HeapRecord() : rec((mdat *)calloc(1, sizeof(mdat))) {}
    ~HeapRecord() {
        com_Deallocate_All(rec, nullptr);
        com_Deallocate(rec, nullptr);
        free(rec);
    }
    mdat *operator->() { return rec; }
    operator mdat *() { return rec; }
};
