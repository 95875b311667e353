// RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") decoded in
// place into UTF-8. Adjacent words are joined without the white space between
// them, and the bytes of adjacent words of one charset are converted together,
// so that a character split across two words survives. Any charset that ICU
// knows is converted; an unknown one is read as ISO-8859-1.
#include <string.h>
#include <string>
#include <unicode/ucnv.h>
#include "record/com.h"

namespace {

constexpr size_t kMaxCharsetName = 64;

// "_" is a blank; "=5F" stays an underscore.
void DecodeQ(const char *s, size_t n, std::string *out) {
    size_t start = out->size();
    out->append(s, n);
    char *text = &(*out)[start];
    for (size_t i = 0; i < n; i++)
        if (text[i] == '_') text[i] = ' ';
    out->resize(start + bvcom_DecodeHexEscapes(text, n, '='));
}

void DecodeB(const char *s, size_t n, std::string *out) {
    size_t start = out->size();
    out->resize(start + n * 3 / 4 + 3);
    BvBase64State state = {0, 0};
    size_t got = bvcom_Base64Decode(&state, s, n, reinterpret_cast<unsigned char *>(&(*out)[start]));
    out->resize(start + got);
}

// One parsed encoded word.
struct EncodedWord {
    char charset[kMaxCharsetName];
    char encoding;
    const char *text;
    size_t textLen;
    const char *end;  // first character after "?="
};

bool ParseEncodedWord(const char *p, EncodedWord *w) {
    if (p[0] != '=' || p[1] != '?') return false;
    const char *cs = p + 2;
    const char *q = strchr(cs, '?');
    if (!q || q == cs || (size_t)(q - cs) >= kMaxCharsetName) return false;
    char enc = q[1];
    if (!(enc == 'B' || enc == 'b' || enc == 'Q' || enc == 'q') || q[2] != '?') return false;
    const char *text = q + 3;
    const char *close = strstr(text, "?=");
    if (!close) return false;
    for (const char *c = text; c < close; c++)
        if (*c == ' ' || *c == '\t' || *c == '\r' || *c == '\n') return false;
    size_t csLen = (size_t)(q - cs);
    memcpy(w->charset, cs, csLen);
    w->charset[csLen] = 0;
    char *star = strchr(w->charset, '*');  // RFC 2231 language suffix
    if (star) *star = 0;
    w->encoding = (char)(enc & ~0x20);
    w->text = text;
    w->textLen = (size_t)(close - text);
    w->end = close + 2;
    return true;
}

void AppendUtf8(const std::string &bytes, const char *charset, std::string *out) {
    UErrorCode err = U_ZERO_ERROR;
    std::string buf(bytes.size() * 4 + 16, '\0');
    int32_t n = ucnv_convert("UTF-8", charset, buf.data(), (int32_t)buf.size(), bytes.data(), (int32_t)bytes.size(),
                             &err);
    if (U_FAILURE(err)) {
        err = U_ZERO_ERROR;
        n = ucnv_convert("UTF-8", "ISO-8859-1", buf.data(), (int32_t)buf.size(), bytes.data(),
                         (int32_t)bytes.size(), &err);
        if (U_FAILURE(err)) n = 0;
    }
    out->append(buf.data(), (size_t)n);
}

// Appends `bytes` of `charset` to out as UTF-8. CR, LF and NUL become
// spaces: a header value must stay one line, whatever its words encode.
void ConvertToUtf8(const std::string &bytes, const char *charset, std::string *out) {
    if (bytes.empty()) return;
    size_t start = out->size();
    AppendUtf8(bytes, charset, out);
    for (size_t i = start; i < out->size(); i++) {
        char &c = (*out)[i];
        if (c == '\r' || c == '\n' || c == 0) c = ' ';
    }
}

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
void CutUtf8(std::string *text, size_t limit) {
    if (text->size() <= limit) return;
    size_t n = limit;
    while (n > 0 && ((unsigned char)(*text)[n] & 0xC0) == 0x80) n--;
    text->resize(n);
}

}  // namespace

// Words of a stateful charset (ISO-2022-*, UTF-7) each return to the initial
// state, so their bytes cannot be joined: ICU would read the escape sequence
// at each join as an error.
static bool IsStatefulCharset(const char *charset) {
    return strncasecmp(charset, "iso-2022", 8) == 0 || strcasecmp(charset, "utf-7") == 0;
}

BVCOM_API int com_Decode_iso(char *text, int flags) {
    (void)flags;
    if (!text || !strstr(text, "=?")) return 0;
    size_t inLen = strlen(text);
    std::string out, pending;
    char pendingCharset[kMaxCharsetName] = "";
    int codepage = 0;
    const char *p = text;
    bool lastWasWord = false;
    while (*p) {
        EncodedWord w;
        if (ParseEncodedWord(p, &w)) {
            if (!pending.empty() &&
                (strcasecmp(pendingCharset, w.charset) != 0 || IsStatefulCharset(w.charset))) {
                ConvertToUtf8(pending, pendingCharset, &out);
                pending.clear();
            }
            com_strncpy(pendingCharset, w.charset, sizeof(pendingCharset) - 1);
            if (w.encoding == 'B') DecodeB(w.text, w.textLen, &pending);
            else DecodeQ(w.text, w.textLen, &pending);
            if (!codepage) {
                codepage = com_iso_codepage(0, w.charset);
                if (!codepage) codepage = 65001;
            }
            p = w.end;
            lastWasWord = true;
            continue;
        }
        if (lastWasWord) {
            // white space between two encoded words is dropped
            const char *q = p;
            while (*q == ' ' || *q == '\t' || *q == '\r' || *q == '\n') q++;
            if (q > p && ParseEncodedWord(q, &w)) {
                p = q;
                continue;
            }
        }
        if (!pending.empty()) {
            ConvertToUtf8(pending, pendingCharset, &out);
            pending.clear();
        }
        out.push_back(*p++);
        lastWasWord = false;
    }
    if (!pending.empty()) ConvertToUtf8(pending, pendingCharset, &out);
    if (!codepage) return 0;
    CutUtf8(&out, inLen);
    memcpy(text, out.data(), out.size());
    text[out.size()] = 0;
    return codepage;
}
