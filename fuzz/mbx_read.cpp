// libFuzzer harness: the MBX and mailbox text reader on arbitrary bytes. The
// input is written as an .mbx file and read as a folder (JMF6 header,
// separator lines, parse, hand-over).
#include "mail_folder_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    mail_fuzz::ReadBytesAsFolder(mail_fuzz::WorkDir("/tmp/bvfuzz-mbx-XXXXXX"), "fuzz.mbx", data, size);
    return 0;
}
