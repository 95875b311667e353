// Shared scaffolding of the mail store fuzz harnesses: a scratch work
// directory, and the input bytes written as a store file and read as a
// folder (scan, parse, hand-over to a host that takes everything).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include "mailstore/mailstore.h"
#include "platform/platform.h"

namespace mail_fuzz {

// The work directory (trailing separator), made on the first call.
inline const std::string &WorkDir(const char *pattern) {
    static std::string dir;
    if (dir.empty()) {
        std::string made = pattern;
        if (!mkdtemp(made.data())) abort();
        dir = made + "/";
        bvcom_SetWorkDir(dir.c_str());
        gOeDirect = 1;
    }
    return dir;
}

inline int BV_CALL TakeItem(mdat *, const char *, const char *, int) { return 0; }
inline int BV_CALL TakeStatus(mdat *, const char *, int, int *, int *, int *) { return 0; }

// Writes the bytes as workDir + fileName, adds it as a folder and reads it;
// the duplicate register starts empty every time.
inline void ReadBytesAsFolder(const std::string &workDir, const char *fileName, const uint8_t *data, size_t size) {
    std::string path = workDir + fileName;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(data, 1, size, f);
    fclose(f);
    AddFolder("Fuzz", path.c_str(), 0, 0, 0);
    static mdat record;
    memset(&record, 0, sizeof(record));
    MailHandOver h;
    memset(&h, 0, sizeof(h));
    h.record = &record;
    h.itemCallback = TakeItem;
    h.itemHostValue = "";
    h.workDir = workDir.c_str();
    h.statusCallback = TakeStatus;
    h.folderName = "Fuzz";
    gMaxRead = 50;
    ReadMailFolder(&h, gFolderCount - 1);
    FreeFolderTable();
    unlink((workDir + "bvdupreg.txt").c_str());
}

}  // namespace mail_fuzz
