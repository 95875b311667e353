// Part file streaming and address texts for the composer.
#include "compose/compose_output.h"

#include <string.h>
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr size_t kLineBytes = BV_BASE64_LINE_CHARS / 4 * 3;
constexpr size_t kCopyBlock = kLineBytes * 1200;  // whole base64 lines per read
constexpr size_t kEncodedBlock = kCopyBlock / 3 * 4 + kCopyBlock / kLineBytes * 2 + 1;

}  // namespace

void CopyStreamToOutput(FILE *in, FILE *out, bool *endsWithLineEnd) {
    static unsigned char block[kCopyBlock];
    bool lineEnd = true;
    size_t n;
    while ((n = fread(block, 1, sizeof block, in)) > 0) {
        fwrite(block, 1, n, out);
        lineEnd = block[n - 1] == '\n';
        if (n < sizeof block) break;  // a short read is the end of the file
    }
    fclose(in);
    if (endsWithLineEnd) *endsWithLineEnd = lineEnd;
}

// Every line, the last one too, ends with CR LF.
void WriteStreamBase64(FILE *in, FILE *out) {
    static unsigned char block[kCopyBlock];
    static char encoded[kEncodedBlock];
    size_t n;
    while ((n = fread(block, 1, sizeof block, in)) > 0) {
        size_t used = 0;
        // Reads fill whole lines except at the end of the file.
        for (size_t at = 0; at < n; at += kLineBytes) {
            used += bvcom_Base64Encode(block + at, n - at < kLineBytes ? n - at : kLineBytes, encoded + used);
            encoded[used++] = '\r';
            encoded[used++] = '\n';
        }
        fwrite(encoded, 1, used, out);
        if (n < sizeof block) break;  // a short read is the end of the file
    }
    fclose(in);
}

void BuildAddressText(const char *name, const char *addr, const mdat *record, char *out, size_t outCap) {
    // An address without a domain is written as it came: a domain made up
    // here would send replies to a host that never had the mailbox.
    if (strchr(name, '<')) {
        com_strncpy(out, name, outCap - 1);
    } else if (strchr(addr, '@')) {
        bv_snprintf(out, outCap, "\"%s\" <%s>", name, addr);
    } else {
        bv_snprintf(out, outCap, "\"%s\"", name);
    }
    if (!strchr(out, '"') && out[0] != '<') {
        char quoted[BV_ADDRESS_TEXT_LEN];
        bv_snprintf(quoted, sizeof quoted, "\"%s\"", out);
        com_strncpy(out, quoted, outCap - 1);
    }
    KeepOnOneLine(out);
    char charset[BV_CHARSET_LEN];
    com_Encode_iso(out, record->codepage, charset, outCap);
}

void KeepOnOneLine(char *text) {
    for (char *p = text; *p; p++)
        if (*p == '\r' || *p == '\n') *p = ' ';
}

void QuotedParameterText(const char *text, char *out, size_t outCap) {
    size_t n = 0;
    for (const char *p = text; *p && n + 2 < outCap; p++) {
        char c = (*p == '\r' || *p == '\n') ? ' ' : *p;
        if (c == '"' || c == '\\') out[n++] = '\\';
        out[n++] = c;
    }
    out[n] = 0;
}
