// Part file streaming and address texts for the composer.
#include "compose/compose_output.h"

#include <string.h>
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr size_t kCopyBlock = 3 * 21845;  // whole base64 groups per read (65535 bytes)
constexpr size_t kEncodedBlock = kCopyBlock / 3 * 4 + (kCopyBlock / 3 * 4 / BV_BASE64_LINE_CHARS + 2) * 2;

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Base64Writer {
    int lineChars;
    char out[kEncodedBlock];
    size_t used;
};

void PutChar(Base64Writer *w, char c) {
    w->out[w->used++] = c;
    if (++w->lineChars == BV_BASE64_LINE_CHARS) {
        w->out[w->used++] = '\r';
        w->out[w->used++] = '\n';
        w->lineChars = 0;
    }
}

void EncodeGroup(Base64Writer *w, const unsigned char *in, size_t n) {
    uint32_t v = static_cast<uint32_t>(in[0]) << 16;
    if (n > 1) v |= static_cast<uint32_t>(in[1]) << 8;
    if (n > 2) v |= in[2];
    PutChar(w, kBase64Alphabet[(v >> 18) & 0x3f]);
    PutChar(w, kBase64Alphabet[(v >> 12) & 0x3f]);
    PutChar(w, n > 1 ? kBase64Alphabet[(v >> 6) & 0x3f] : '=');
    PutChar(w, n > 2 ? kBase64Alphabet[v & 0x3f] : '=');
}

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

void WriteStreamBase64(FILE *in, FILE *out) {
    static unsigned char block[kCopyBlock];
    static Base64Writer writer;
    writer.lineChars = 0;
    size_t n;
    while ((n = fread(block, 1, sizeof block, in)) > 0) {
        writer.used = 0;
        // Reads fill whole groups except at the end of the file.
        for (size_t i = 0; i < n; i += 3) EncodeGroup(&writer, block + i, n - i < 3 ? n - i : 3);
        fwrite(writer.out, 1, writer.used, out);
        if (n < sizeof block) break;  // a short read is the end of the file
    }
    fclose(in);
    // The line end after a full line also ends the part.
    if (writer.lineChars != 0) bv_fprintf(out, "\r\n");
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
