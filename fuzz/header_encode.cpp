// libFuzzer harness: com_Encode_iso and com_NameConvert on arbitrary bytes.
// The first input byte picks the code page, the second the capacity; the rest
// is the text. Checks that every output stays within its buffer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "record/com.h"

namespace {
const int kCodepages[] = {0, 65001, 28591, 1252, 1251, 932, 936, 949, 950, 50220, 20866, 28605, 850};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    int codepage = kCodepages[data[0] % (sizeof kCodepages / sizeof kCodepages[0])];
    size_t text = size - 2;
    size_t capacity = text + 1 + (size_t)data[1] * 4;
    std::vector<char> buf(capacity);
    memcpy(buf.data(), data + 2, text);
    buf[text] = 0;
    char charset[BV_CHARSET_LEN];
    com_Encode_iso(buf.data(), codepage, charset, capacity);
    size_t len = strnlen(buf.data(), capacity);
    if (len >= capacity) abort();
    if (strnlen(charset, sizeof charset) >= sizeof charset) abort();

    std::vector<char> name(data + 2, data + size);
    name.push_back(0);
    char a[BV_NAME_LEN], b[BV_NAME_LEN], c[BV_NAME_LEN];
    com_NameConvert(name.data(), "/fn/ln", a, b, c, 0);
    if (strnlen(a, sizeof a) >= sizeof a || strnlen(b, sizeof b) >= sizeof b || strnlen(c, sizeof c) >= sizeof c)
        abort();
    com_NameConvert(name.data(), "example.com", a, b, c, 0);
    if (strnlen(c, sizeof c) >= sizeof c || strnlen(b, sizeof b) >= BV_ADDR_LEN) abort();
    return 0;
}
