// libFuzzer harness: the MBX and mailbox text reader on
// arbitrary bytes. The input is written as an .mbx file and read as a folder
// (JMF6 header, separator lines, parse, hand-over to a host that takes everything).
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <unistd.h>
#include "mailstore/dbx_scan.h"
#include "mailstore/mailstore.h"
#include "platform/platform.h"

namespace {

std::string gDir;

int BV_CALL TakeItem(mdat *, const char *, const char *, int) { return 0; }
int BV_CALL TakeStatus(mdat *, const char *, int, int *, int *, int *) { return 0; }

void SetUpOnce() {
    if (!gDir.empty()) return;
    char tmpl[] = "/tmp/bvfuzz-mbx-XXXXXX";
    gDir = mkdtemp(tmpl);
    gDir += "/";
    bvcom_SetWorkDir(gDir.c_str());
    gOeDirect = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    SetUpOnce();

    std::string path = gDir + "fuzz.mbx";
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return 0;
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
    h.workDir = gDir.c_str();
    h.statusCallback = TakeStatus;
    h.folderName = "Fuzz";
    gMaxRead = 50;
    ReadMailFolder(&h, gFolderCount - 1);
    FreeFolderTable();
    // Each run starts with no duplicate register.
    unlink((gDir + "bvdupreg.txt").c_str());
    return 0;
}
