// libFuzzer harness: NK2 nickname files through the reader and the counter,
// every entry written back in the address-book layout.
#include <sys/stat.h>
#include "contacts_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace contacts_fuzz;
    std::string path = ScratchDir() + "/in.nk2";
    WriteBytes(path, data, size);
    ReadAndWrite(path, 0);
    CountNK2Contacts(path.c_str());
    return 0;
}
