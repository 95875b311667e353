// Recipient lines (To, Cc, Copies-to, Bcc) into recipient records.
#include <string.h>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "record/com.h"

namespace {

constexpr size_t kCleanAddrKeep = 511;  // bytes kept of a cleaned address

int RecipientLimit() {
    if (gMaxRecipients <= 0 || gMaxRecipients > BV_MAX_RECIPIENT_LIMIT) return BV_MAX_RECIPIENT_LIMIT;
    return gMaxRecipients;
}

}  // namespace

extern "C" void CleanAddress(char *addr) {
    if (strchr(addr, '@') && addr[0] == '"') {
        char *quoteDot = strstr(addr, "\".");
        if (quoteDot) quoteDot[1] = 0;
    }
    // Bytes of 127 and above are dropped, except in an address that is
    // UTF-8 throughout (an internationalised address, RFC 6532).
    bool utf8 = IsValidUtf8(addr, strlen(addr));
    size_t w = 0;
    for (size_t r = 0; addr[r] && w < kCleanAddrKeep; r++) {
        unsigned char c = (unsigned char)addr[r];
        if (c < 127 || (utf8 && c > 127)) addr[w++] = addr[r];
    }
    addr[w] = 0;
}

extern "C" void ParseAddressList(mdat *record, const char *value, int type) {
    const char *cursor = value;
    static char entry[BV_ADR_ENTRY_LEN];
    int dropped = 0;
    while (com_Extract_Adr(&cursor, entry)) {
        if (!entry[0]) {
            if (*cursor) continue;
            break;
        }
        int codepage = com_Decode_iso(entry, 0);
        com_Unescape(entry);
        char name[BV_NAME_LEN], addr[BV_ADDR_LEN];
        com_ExtractMIMEAddr(entry, name, addr);
        if (strcmp(addr, "()") == 0) addr[0] = 0;
        if (!name[0] && !addr[0]) break;
        CleanAddress(addr);
        com_Remove_Quotes(addr);
        if (record->recipCount < RecipientLimit() && com_AllocRecip(record)) {
            mrecip *r = record->recips[record->recipCount];
            r->type = type;
            com_strncpy(r->name, name, 255);
            com_strncpy(r->addr, addr, 255);
            record->recipCount++;
        } else {
            dropped++;
        }
        if (codepage && !record->codepage) record->codepage = codepage;
    }
    if (dropped) {
        char what[128];
        bv_snprintf(what, sizeof(what), "%d recipients past the limit of %d left out", dropped, RecipientLimit());
        WarnLimit(record, what);
    }
}
