// nch_writer: writes the folder list of an Outlook Express store directory,
// folders.nch: a 1712-byte header, then one 624-byte record per folder with
// the folder name (259 bytes) and its store file name (365 bytes), each
// zero-terminated.
//
//   nch_writer OUT/folders.nch "NAME=FILE"...
//   (a name may hold '^' between the levels of a nested folder)
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {
const size_t kHeaderLen = 1712;
const size_t kRecordLen = 624;
const size_t kNameLen = 259;
const size_t kFileLen = kRecordLen - kNameLen;
}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: nch_writer OUT/folders.nch \"NAME=FILE\"...\n");
        return 2;
    }
    FILE *out = fopen(argv[1], "wb");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> header(kHeaderLen, 0);
    memcpy(header.data(), "NCH1", 4);
    header[4] = (unsigned char)(argc - 2);
    fwrite(header.data(), 1, header.size(), out);
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        size_t eq = arg.rfind('=');
        if (eq == std::string::npos) {
            fprintf(stderr, "nch_writer: %s is not NAME=FILE\n", argv[i]);
            fclose(out);
            return 2;
        }
        std::string name = arg.substr(0, eq), file = arg.substr(eq + 1);
        if (name.size() >= kNameLen || file.size() >= kFileLen) {
            fprintf(stderr, "nch_writer: %s is too long\n", argv[i]);
            fclose(out);
            return 2;
        }
        std::vector<unsigned char> record(kRecordLen, 0);
        memcpy(record.data(), name.data(), name.size());
        memcpy(record.data() + kNameLen, file.data(), file.size());
        fwrite(record.data(), 1, record.size(), out);
    }
    return fclose(out) == 0 ? 0 : 1;
}
