// libFuzzer harness: the DBX block scan and the DBX folder reader on
// arbitrary bytes. The input is scanned as a buffer, then written as a store
// file and read as a folder (scan, chain following, parse, hand-over).
#include "mail_folder_fuzz_common.h"
#include "mailstore/dbx_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &dir = mail_fuzz::WorkDir("/tmp/bvfuzz-dbx-XXXXXX");
    int count = 0;
    ParseDBXBuffer(data, size, &count, 0);
    FreeSegmentTable();
    mail_fuzz::ReadBytesAsFolder(dir, "fuzz.dbx", data, size);
    return 0;
}
