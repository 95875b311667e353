// libFuzzer harness: one message from an in-memory stream through
// Parse_RFC822_Msg, with its part files in a private work directory.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include "mime/mime.h"
#include "module/session.h"
#include "record/com.h"

static std::string WorkDir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/bv_fuzz_mime_XXXXXX";
        const char *made = mkdtemp(tmpl);
        dir = std::string(made ? made : "/tmp") + "/";
    }
    return dir;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static mdat *record = (mdat *)calloc(1, sizeof(mdat));
    std::string dir = WorkDir();
    // The first byte picks the switches, so that their paths are reached too.
    gLSub = data[0] & 1;
    gD81 = (data[0] >> 1) & 1;
    gNhs = (data[0] >> 2) & 1;
    gMaxRecipients = (data[0] & 8) ? 3 : BV_MAX_RECIPIENT_LIMIT;
    FILE *stream = fmemopen((void *)(data + 1), size - 1 ? size - 1 : 1, "rb");
    if (!stream) return 0;
    com_ResetObject(record);
    record->msgNumber = 1;
    Parse_RFC822_Msg(stream, record, dir.c_str(), "", 1);
    fclose(stream);
    com_Deallocate(record, dir.c_str());
    return 0;
}
