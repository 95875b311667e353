// libFuzzer harness: contact CSV files through the reader and back through
// the writers. The first byte picks session flags and the layout; with bit 2
// set, the bytes up to the first NUL become the field-label file.
#include <sys/stat.h>
#include "contacts_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    using namespace contacts_fuzz;
    uint8_t flags = data[0];
    data++;
    size--;
    std::string dir = ScratchDir();
    std::string labels = dir + "/fieldlab.dat";
    unlink(labels.c_str());
    if (flags & 4) {
        const uint8_t *nul = static_cast<const uint8_t *>(memchr(data, 0, size));
        size_t labelSize = nul ? (size_t)(nul - data) : size;
        WriteBytes(labels, data, labelSize);
        data += nul ? labelSize + 1 : labelSize;
        size -= nul ? labelSize + 1 : labelSize;
    }
    std::string csv = dir + "/in.csv";
    WriteBytes(csv, data, size);
    gUtf8 = flags & 1;
    gCsvSeparator = (flags & 2) ? ';' : ',';
    gD223Text[0] = '\0';
    ReadAndWrite(csv, (flags >> 4) & 3);
    CountCsvContacts(csv.c_str());
    return 0;
}
