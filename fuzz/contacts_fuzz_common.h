// Shared scaffolding of the contact fuzz harnesses: a scratch directory, the
// one-folder table, and host callbacks that write every contact back.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include "contacts/contacts.h"

namespace contacts_fuzz {

inline std::string &ScratchDir() {
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/bv_fuzz_contacts_XXXXXX";
        if (!mkdtemp(pattern)) abort();
        dir = pattern;
        bvcom_SetLogFile("/dev/null");
    }
    return dir;
}

inline void WriteBytes(const std::string &path, const uint8_t *data, size_t size) {
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) abort();
    if (size) fwrite(data, 1, size, file);
    fclose(file);
}

inline int BV_CALL WriteBack(mdat *record, const char *, const char *workDir, int) {
    WriteContact(record, workDir);
    return 0;
}

inline int BV_CALL NoStop(mdat *, const char *, int, int *, int *, int *) { return 0; }

// Reads path as folder 0 and writes what comes out in the layout chosen by
// the flags; the duplicate register starts empty every time.
inline void ReadAndWrite(const std::string &path, int layout) {
    std::string workDir = ScratchDir() + "/work/";
    mkdir(workDir.c_str(), 0700);
    unlink((workDir + "bvdupreg.txt").c_str());
    bvcom_SetWorkDir(workDir.c_str());

    static FolderRecord folder;
    static FolderRecord *table[1] = {&folder};
    snprintf(folder.fileName, sizeof(folder.fileName), "%s", path.c_str());
    folder.folderClass = BV_CLASS_CONTACTS;
    gFolderTable = table;
    gFolderCount = 1;
    gMaxRead = 1 << 30;

    gActDir = layout == 1;
    gD153 = layout == 2;
    gFas = gUnid = layout == 3;
    snprintf(gContactOutPath, sizeof(gContactOutPath), "%s/out.csv", ScratchDir().c_str());
    unlink(gContactOutPath);
    InitContactFile();

    static mdat *record = static_cast<mdat *>(calloc(1, sizeof(mdat)));
    int count = 0;
    ParseContactFile(0, record, WriteBack, workDir.c_str(), &count, NoStop);
    com_ResetObject(record);
    if (gOutFile) fclose(gOutFile);
    gOutFile = nullptr;
    free(gNotesBuf);
    gNotesBuf = nullptr;
}

}  // namespace contacts_fuzz
