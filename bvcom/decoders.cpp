// Transfer decoders for part files (base64, uuencode) and IMAP's modified
// UTF-7 for folder names. The file decoders stream through a scratch file in
// the work directory, block by block, and then put it in place of the part
// file, so a part of any size needs only a fixed buffer.
#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr size_t kBlock = 65536;
constexpr size_t kMaxUuLine = 1024;  // longer uuencoded lines are cut

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Base64Value for every byte: -1 for characters outside the alphabet, -2 for "=".
struct Base64Table {
    int8_t value[256];
    Base64Table() {
        for (int c = 0; c < 256; c++) value[c] = (int8_t)Base64Value((unsigned char)c);
        value['='] = -2;
    }
};
const Base64Table kBase64;

void ScratchName(const char *partFile, const char *tempDir, const char *suffix, char *out, size_t cap) {
    if (tempDir && tempDir[0]) {
        char dir[1024];
        com_strncpy(dir, tempDir, sizeof(dir) - 2);
        com_AppendSlash(dir, sizeof(dir));
        snprintf(out, cap, "%s%s", dir, suffix);
    } else {
        snprintf(out, cap, "%s.%s", partFile, suffix);
    }
}

// Puts the scratch file in place of the part file; returns its size.
int64_t ReplaceWithScratch(const char *partFile, const char *scratch) {
    plat_DeleteFile(partFile);
    if (!plat_MoveFile(scratch, partFile)) {
        plat_DeleteFile(scratch);
        return -1;
    }
    return plat_GetFileSize(partFile);
}

struct OpenPair {
    FILE *in = nullptr;
    FILE *out = nullptr;
    ~OpenPair() {
        if (in) fclose(in);
        if (out) fclose(out);
    }
};

bool OpenForDecoding(const char *partFile, const char *scratch, OpenPair *files) {
    files->in = plat_fopen(partFile, "rb");
    if (!files->in) return false;
    files->out = plat_fopen(scratch, "wb");
    return files->out != nullptr;
}

bool CloseOutput(OpenPair *files) {
    bool ok = plat_CloseWritten(files->out) != 0;
    files->out = nullptr;
    fclose(files->in);
    files->in = nullptr;
    return ok;
}

// Decodes one uuencoded line into out; returns the byte count, -1 for "end".
int DecodeUuLine(const char *line, unsigned char *out) {
    if (strncmp(line, "end", 3) == 0 && (line[3] == 0 || line[3] == '\r' || line[3] == '\n')) return -1;
    int count = (line[0] - ' ') & 0x3F;
    const char *p = line + 1;
    int written = 0;
    while (written < count) {
        unsigned char c[4];
        for (int i = 0; i < 4; i++) {
            char ch = *p ? *p++ : '`';
            if (ch == '\r' || ch == '\n') {
                ch = '`';
                p--;
            }
            c[i] = (unsigned char)((ch - ' ') & 0x3F);
        }
        unsigned char bytes[3] = {(unsigned char)(c[0] << 2 | c[1] >> 4), (unsigned char)(c[1] << 4 | c[2] >> 2),
                                  (unsigned char)(c[2] << 6 | c[3])};
        for (int i = 0; i < 3 && written < count; i++) out[written++] = bytes[i];
    }
    return written;
}

void AppendUtf8(uint32_t cp, std::string *out) {
    if (cp < 0x80) out->push_back((char)cp);
    else if (cp < 0x800) {
        out->push_back((char)(0xC0 | (cp >> 6)));
        out->push_back((char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back((char)(0xE0 | (cp >> 12)));
        out->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (cp & 0x3F)));
    } else {
        out->push_back((char)(0xF0 | (cp >> 18)));
        out->push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (cp & 0x3F)));
    }
}

// UTF-16 units of one "&...-" run of modified base64 (',' in place of '/').
void DecodeUtf7Run(const char *s, size_t n, std::string *out) {
    uint32_t acc = 0, high = 0;
    int bits = 0;
    for (size_t i = 0; i < n; i++) {
        int v = s[i] == ',' ? 63 : (s[i] == '/' ? -1 : Base64Value((unsigned char)s[i]));
        if (v < 0) continue;
        acc = (acc << 6) | (uint32_t)v;
        bits += 6;
        if (bits < 16) continue;
        bits -= 16;
        uint32_t unit = (acc >> bits) & 0xFFFF;
        if (unit >= 0xD800 && unit < 0xDC00) high = unit;
        else if (unit >= 0xDC00 && unit < 0xE000 && high) {
            AppendUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
            high = 0;
        } else {
            AppendUtf8(unit, out);
            high = 0;
        }
    }
}

}  // namespace

BVCOM_API size_t bvcom_Base64Encode(const unsigned char *in, size_t n, char *out) {
    if (n == 0) {
        out[0] = 0;
        return 0;
    }
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), in, static_cast<int>(n));
    return written < 0 ? 0 : static_cast<size_t>(written);
}

BVCOM_API int bvcom_HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

BVCOM_API size_t bvcom_HexEncode(const unsigned char *in, size_t n, char *out, size_t cap) {
    static const char kDigits[] = "0123456789abcdef";
    if (cap == 0) return 0;
    if (n > (cap - 1) / 2) n = (cap - 1) / 2;
    for (size_t i = 0; i < n; i++) {
        out[2 * i] = kDigits[in[i] >> 4];
        out[2 * i + 1] = kDigits[in[i] & 15];
    }
    out[2 * n] = 0;
    return 2 * n;
}

BVCOM_API size_t bvcom_DecodeHexEscapes(char *text, size_t len, char escape) {
    size_t w = 0;
    for (size_t r = 0; r < len; r++) {
        int high = text[r] == escape && r + 2 < len ? bvcom_HexValue((unsigned char)text[r + 1]) : -1;
        int low = high >= 0 ? bvcom_HexValue((unsigned char)text[r + 2]) : -1;
        if (low >= 0) {
            text[w++] = (char)(high * 16 + low);
            r += 2;
        } else {
            text[w++] = text[r];
        }
    }
    return w;
}

BVCOM_API size_t bvcom_Base64Decode(BvBase64State *state, const char *text, size_t len, unsigned char *out) {
    const unsigned char *in = (const unsigned char *)text;
    uint32_t acc = state->acc;
    int bits = state->bits;
    size_t w = 0;
    for (size_t i = 0; i < len; i++) {
        // four alphabet characters at once, the common case inside a line
        if (bits == 0 && i + 4 <= len) {
            int a = kBase64.value[in[i]], b = kBase64.value[in[i + 1]], c = kBase64.value[in[i + 2]],
                d = kBase64.value[in[i + 3]];
            if ((a | b | c | d) >= 0) {
                uint32_t v = (uint32_t)a << 18 | (uint32_t)b << 12 | (uint32_t)c << 6 | (uint32_t)d;
                out[w++] = (unsigned char)(v >> 16);
                out[w++] = (unsigned char)(v >> 8);
                out[w++] = (unsigned char)v;
                i += 3;
                continue;
            }
        }
        int v = kBase64.value[in[i]];
        if (v < 0) {
            if (v == -2) bits = 0;  // padding closes a quantum
            continue;
        }
        acc = (acc << 6) | (uint32_t)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[w++] = (unsigned char)(acc >> bits);
        }
    }
    state->acc = acc;
    state->bits = bits;
    return w;
}

BVCOM_API int64_t com_convert_base64(const char *partFile, const char *tempDir) {
    if (!partFile) return -1;
    char scratch[1100];
    ScratchName(partFile, tempDir, "B64DECODE.TMP", scratch, sizeof(scratch));
    OpenPair files;
    if (!OpenForDecoding(partFile, scratch, &files)) return -1;
    char in[kBlock];
    unsigned char out[kBlock];
    BvBase64State state = {0, 0};
    size_t got;
    while ((got = fread(in, 1, sizeof(in), files.in)) > 0) {
        size_t w = bvcom_Base64Decode(&state, in, got, out);
        if (w && fwrite(out, 1, w, files.out) != w) break;
    }
    if (!CloseOutput(&files)) {
        plat_DeleteFile(scratch);
        return -1;
    }
    return ReplaceWithScratch(partFile, scratch);
}

BVCOM_API int64_t com_uudecode(const char *partFile, const char *tempDir) {
    if (!partFile) return -1;
    char scratch[1100];
    ScratchName(partFile, tempDir, "UUDECODE.TMP", scratch, sizeof(scratch));
    OpenPair files;
    if (!OpenForDecoding(partFile, scratch, &files)) return -1;
    char line[kMaxUuLine];
    bool sawBegin = false;
    while (fgets(line, sizeof(line), files.in))
        if (strncmp(line, "begin ", 6) == 0) {
            sawBegin = true;
            break;
        }
    if (!sawBegin) rewind(files.in);  // no "begin" line: the file is all data
    unsigned char out[kMaxUuLine];
    while (fgets(line, sizeof(line), files.in)) {
        int n = DecodeUuLine(line, out);
        if (n < 0) break;
        if (n > 0 && fwrite(out, 1, (size_t)n, files.out) != (size_t)n) break;
    }
    if (!CloseOutput(&files)) {
        plat_DeleteFile(scratch);
        return -1;
    }
    return ReplaceWithScratch(partFile, scratch);
}

BVCOM_API void decode_modified_ut7(char *text, size_t capacity) {
    if (!text || capacity == 0) return;
    std::string out;
    for (const char *p = text; *p;) {
        if (*p != '&') {
            out.push_back(*p++);
            continue;
        }
        const char *end = strchr(p + 1, '-');
        if (!end) end = p + strlen(p);
        if (end == p + 1) out.push_back('&');  // "&-"
        else DecodeUtf7Run(p + 1, (size_t)(end - p - 1), &out);
        p = *end ? end + 1 : end;
    }
    size_t n = out.size() < capacity ? out.size() : capacity - 1;
    while (n > 0 && n < out.size() && ((unsigned char)out[n] & 0xC0) == 0x80) n--;
    memcpy(text, out.data(), n);
    text[n] = 0;
}
