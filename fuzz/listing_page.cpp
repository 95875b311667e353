// libFuzzer harness: the listing-page reader on arbitrary bytes: the page
// test on the first block, and the list of .ics files made from the page.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include "calread/listing_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char page[64];
    if (!page[0]) {
        strcpy(page, "/tmp/bvfuzz-page-XXXXXX");
        int fd = mkstemp(page);
        if (fd < 0) return 0;
        close(fd);
    }
    FILE *out = fopen(page, "wb");
    if (!out) return 0;
    fwrite(data, 1, size, out);
    fclose(out);
    IsListingPage(page);
    FILE *list = fopen("/dev/null", "w");
    if (list) {
        WriteIcsList((const char *)data, size, list);
        fclose(list);
    }
    return 0;
}
