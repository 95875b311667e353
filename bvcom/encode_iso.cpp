// com_Encode_iso: header text with characters outside ASCII becomes RFC 2047
// encoded words, in place.
//
// The text is the record's UTF-8 text (text that is not valid UTF-8 is taken
// as bytes of `codepage`, or of ISO-8859-1 when that is 0 or UTF-8). It is
// encoded in `codepage` when every character exists there (as the charset
// label of that code page is read), else in UTF-8.
// ASCII text is left as it is.
//
// What is encoded: from the first word that holds a non-ASCII character to
// the end of the last such word; ASCII words before and after stay literal.
// A display name in double quotes before an address ("\"Jörg\" <j@x.de>") is
// encoded whole and loses its quotes (encoded words are not decoded inside
// a quoted string); the address stays literal.
//
// Each encoded word is at most 75 characters and ends at a character
// boundary. Words are joined by a folding line break (CR LF space), so each
// line of the header stays within 76 characters; the first word also leaves
// room for the header name in front of it. Q encoding is used unless B is
// clearly shorter. When the result does not fit `capacity`, trailing encoded words
// are left out.
#include <string.h>
#include <unicode/ucnv.h>

#include <string>
#include <vector>

#include "record/com.h"

namespace {

constexpr size_t kMaxWordLen = 75;        // one encoded word, delimiters included
constexpr size_t kMaxLineLen = 76;        // a header line holding encoded words
constexpr size_t kHeaderNameReserve = 18;  // "Original-Sender: " in front of the first word
constexpr size_t kMinFirstPayload = 16;    // fold before the first word rather than go below
constexpr int kUtf8 = 65001;
constexpr int kLatin1 = 28591;
const char kFold[] = "\r\n ";

bool IsAscii(const std::string &s, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if ((unsigned char)s[i] >= 0x80) return false;
    return true;
}

// Length of the UTF-8 sequence at p (1 for a stray byte), 0 when invalid.
size_t Utf8SeqLen(const unsigned char *p, size_t avail) {
    unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t len;
    unsigned min;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) len = 2, min = 0x80, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) len = 3, min = 0x800, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) len = 4, min = 0x10000, cp = c & 0x07;
    else return 0;
    if (avail < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool IsValidUtf8(const std::string &s) {
    const unsigned char *p = (const unsigned char *)s.data();
    for (size_t i = 0; i < s.size();) {
        size_t len = Utf8SeqLen(p + i, s.size() - i);
        if (!len) return false;
        i += len;
    }
    return true;
}

// Converts text between code pages through the common converter.
std::string Convert(const std::string &text, int from, int to) {
    if (from == to || text.empty()) return text;
    std::vector<char> buf(text.size() * 4 + 32);
    memcpy(buf.data(), text.data(), text.size());
    buf[text.size()] = 0;
    com_CodepageToWindows(buf.data(), from, to, buf.size());
    return std::string(buf.data());
}

// True when a reader that goes by the charset label gets `utf8` back from
// `bytes`. A label can be narrower than the code page behind it ("gb2312"
// for code page 936 holds fewer characters than 936 does).
bool LabelDecodesTo(const std::string &label, const std::string &bytes, const std::string &utf8) {
    UErrorCode err = U_ZERO_ERROR;
    std::vector<char> out(bytes.size() * 4 + 16);
    int32_t n = ucnv_convert("UTF-8", label.c_str(), out.data(), (int32_t)out.size(), bytes.data(),
                             (int32_t)bytes.size(), &err);
    return U_SUCCESS(err) && std::string(out.data(), (size_t)n) == utf8;
}

// The charset name of a code page; empty when the library knows none.
std::string CharsetName(int codepage) {
    char name[BV_CHARSET_LEN] = "";
    com_iso_codepage(codepage, name);
    name[BV_CHARSET_LEN - 1] = 0;
    return name;
}

// Q encoding with the character set allowed in a phrase, so that the words
// are valid both in a Subject and in front of an address.
bool QLiteral(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' ||
           c == '*' || c == '+' || c == '-' || c == '/';
}

size_t QLength(const std::string &bytes) {
    size_t n = 0;
    for (unsigned char c : bytes) n += (QLiteral(c) || c == ' ') ? 1 : 3;
    return n;
}

size_t BLength(const std::string &bytes) { return (bytes.size() + 2) / 3 * 4; }

void AppendQ(std::string &out, const std::string &bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
        if (c == ' ') {
            out += '_';
        } else if (QLiteral(c)) {
            out += (char)c;
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

void AppendB(std::string &out, const std::string &bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = ((unsigned char)bytes[i] << 16) | ((unsigned char)bytes[i + 1] << 8) | (unsigned char)bytes[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (rest == 2) v |= (unsigned char)bytes[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
}

struct WordEncoder {
    int codepage;         // target code page
    std::string charset;  // its name
    bool useQ;

    size_t Overhead() const { return charset.size() + 7; }  // "=?" cs "?Q?" ... "?="
    size_t PayloadLength(const std::string &bytes) const { return useQ ? QLength(bytes) : BLength(bytes); }
    std::string Word(const std::string &bytes) const {
        std::string w = "=?" + charset + (useQ ? "?Q?" : "?B?");
        useQ ? AppendQ(w, bytes) : AppendB(w, bytes);
        return w + "?=";
    }
};

// Cuts UTF-8 text into encoded words; the first word gets firstLimit
// characters at most, every other one kMaxWordLen.
std::vector<std::string> EncodeWords(const std::string &utf8, const WordEncoder &enc, size_t firstLimit) {
    std::vector<std::string> words;
    const unsigned char *p = (const unsigned char *)utf8.data();
    size_t start = 0;
    std::string chunkBytes;  // the chunk [start, end) in the target code page
    size_t end = start;
    while (end < utf8.size()) {
        size_t limit = (words.empty() ? firstLimit : kMaxWordLen) - enc.Overhead();
        size_t len = Utf8SeqLen(p + end, utf8.size() - end);
        if (!len) len = 1;
        std::string candidate = Convert(utf8.substr(start, end + len - start), kUtf8, enc.codepage);
        if (end > start && enc.PayloadLength(candidate) > limit) {
            words.push_back(enc.Word(chunkBytes));
            start = end;
            chunkBytes.clear();
            continue;
        }
        chunkBytes = candidate;
        end += len;
    }
    if (end > start) words.push_back(enc.Word(chunkBytes));
    return words;
}

// Removes the quoting of a quoted string's inside ("a \"b\"" -> a "b").
std::string Unquote(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        out += s[i];
    }
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The part of the text to encode: [spanFrom, spanTo) is replaced by the
// words of `phrase`.
struct Span {
    size_t from = 0, to = 0;
    std::string phrase;
};

bool FindSpan(const std::string &text, Span *span) {
    // A trailing "<address>" stays literal.
    size_t region = text.size();
    size_t end = text.find_last_not_of(" \t");
    if (end != std::string::npos && text[end] == '>') {
        size_t lt = text.rfind('<', end);
        if (lt != std::string::npos) region = lt;
    }
    size_t first = std::string::npos, last = 0;
    for (size_t i = 0; i < region; ++i)
        if ((unsigned char)text[i] >= 0x80) {
            if (first == std::string::npos) first = i;
            last = i;
        }
    if (first == std::string::npos) return false;
    // A quoted display name is encoded whole.
    size_t qOpen = text.find_first_not_of(" \t");
    size_t qClose = region ? text.find_last_not_of(" \t", region - 1) : std::string::npos;
    if (qOpen != std::string::npos && qClose != std::string::npos && qClose > qOpen && text[qOpen] == '"' &&
        text[qClose] == '"' && qOpen < first && last < qClose) {
        span->from = qOpen;
        span->to = qClose + 1;
        span->phrase = Unquote(text.substr(qOpen + 1, qClose - qOpen - 1));
        return true;
    }
    while (first > 0 && !IsBlank(text[first - 1])) --first;
    while (last + 1 < region && !IsBlank(text[last + 1])) ++last;
    span->from = first;
    span->to = last + 1;
    span->phrase = text.substr(first, span->to - first);
    return true;
}

size_t LastLineLength(const std::string &s) {
    size_t nl = s.rfind('\n');
    return nl == std::string::npos ? s.size() : s.size() - nl - 1;
}

// prefix + words[0..count) + suffix, folded between words and before a
// suffix that would make the last line too long.
std::string Assemble(const std::string &prefix, const std::vector<std::string> &words, size_t count,
                     const std::string &suffix, bool foldBeforeFirst) {
    std::string out = prefix;
    if (foldBeforeFirst && count) {
        while (!out.empty() && IsBlank(out.back())) out.pop_back();
        out += kFold;
    }
    for (size_t i = 0; i < count; ++i) {
        if (i) out += kFold;
        out += words[i];
    }
    if (count && !suffix.empty() && IsBlank(suffix[0]) && LastLineLength(out) + suffix.size() > kMaxLineLen) {
        out += "\r\n";
    }
    return out + suffix;
}

// A fold right in front of the first encoded word takes the blank before it
// away from a reader that joins a continuation beginning with "=" directly
// (as this module's header reader does). The fold goes to the last blank
// between the literal words of the prefix instead, when the first word still
// gets enough room on the new line. False when there is no such blank.
bool FoldInsidePrefix(std::string *prefix, size_t overhead, size_t *firstLimit) {
    size_t nl = prefix->rfind('\n');
    size_t lineStart = nl == std::string::npos ? 0 : nl + 1;
    size_t head = prefix->find_last_not_of(" \t");
    if (head == std::string::npos || head < lineStart) return false;
    size_t blank = prefix->find_last_of(" \t", head);
    if (blank == std::string::npos || blank <= lineStart) return false;
    size_t newLine = prefix->size() - blank;  // the blank, the last word and the blanks after it
    if (newLine + overhead + kMinFirstPayload > kMaxLineLen) return false;
    *firstLimit = std::min(kMaxWordLen, kMaxLineLen - newLine);
    prefix->insert(blank, "\r\n");
    return true;
}

}  // namespace

BVCOM_API void com_Encode_iso(char *text, int codepage, char *charsetOut, size_t capacity) {
    int target = codepage > 0 ? codepage : kUtf8;
    std::string charset = CharsetName(target);
    if (charset.empty()) {
        target = kUtf8;
        charset = CharsetName(kUtf8);
        if (charset.empty()) charset = "UTF-8";
    }
    if (!text || capacity == 0) {
        if (charsetOut) com_strncpy(charsetOut, charset.c_str(), BV_CHARSET_LEN - 1);
        return;
    }
    std::string raw(text, strnlen(text, capacity - 1));
    if (IsAscii(raw, 0, raw.size())) {
        if (charsetOut) com_strncpy(charsetOut, charset.c_str(), BV_CHARSET_LEN - 1);
        return;
    }
    // Everything below works on UTF-8.
    std::string utf8 = raw;
    if (!IsValidUtf8(raw)) {
        int from = (codepage > 0 && codepage != kUtf8) ? codepage : kLatin1;
        utf8 = Convert(raw, from, kUtf8);
        if (!IsValidUtf8(utf8) || utf8.empty()) utf8 = Convert(raw, kLatin1, kUtf8);
    }
    Span span;
    if (!FindSpan(utf8, &span)) {
        if (charsetOut) com_strncpy(charsetOut, charset.c_str(), BV_CHARSET_LEN - 1);
        return;
    }
    // A code page that cannot hold every character gives way to UTF-8.
    std::string targetBytes = Convert(span.phrase, kUtf8, target);
    if (target != kUtf8 && !LabelDecodesTo(charset, targetBytes, span.phrase)) {
        target = kUtf8;
        std::string name = CharsetName(kUtf8);
        charset = name.empty() ? "UTF-8" : name;
        targetBytes = span.phrase;
    }
    if (charsetOut) com_strncpy(charsetOut, charset.c_str(), BV_CHARSET_LEN - 1);

    // Q keeps Latin text readable; B only when it is more than a fifth shorter.
    size_t bLen = BLength(targetBytes);
    WordEncoder enc{target, charset, QLength(targetBytes) <= bLen + bLen / 4};
    std::string prefix = utf8.substr(0, span.from);
    std::string suffix = utf8.substr(span.to);
    bool fold = false;
    size_t firstLimit = kMaxWordLen;
    for (;;) {
        size_t used = kHeaderNameReserve + LastLineLength(prefix);
        if (used + enc.Overhead() + kMinFirstPayload <= kMaxLineLen) {
            firstLimit = std::min(kMaxWordLen, kMaxLineLen - used);
            break;
        }
        if (FoldInsidePrefix(&prefix, enc.Overhead(), &firstLimit)) break;
        // No blank to fold at: the last literal word and the blank after it
        // go into the encoded words, which then need no fold in front.
        size_t head = prefix.find_last_not_of(" \t");
        if (head == std::string::npos || head + 1 == prefix.size() || prefix.find('\n') != std::string::npos) {
            fold = !prefix.empty();
            if (!fold) firstLimit = enc.Overhead() + kMinFirstPayload;
            break;
        }
        size_t blank = prefix.find_last_of(" \t", head);
        span.from = blank == std::string::npos ? 0 : blank + 1;
        span.phrase = utf8.substr(span.from, span.to - span.from);
        prefix = utf8.substr(0, span.from);
    }
    std::vector<std::string> words = EncodeWords(span.phrase, enc, firstLimit);

    for (size_t count = words.size() + 1; count-- > 0;) {
        std::string out = Assemble(prefix, words, count, suffix, fold);
        if (out.size() < capacity) {
            memcpy(text, out.data(), out.size());
            text[out.size()] = 0;
            return;
        }
    }
    // Not even the literal parts fit: keep what fits of them.
    std::string out = prefix + suffix;
    com_strncpy(text, out.c_str(), capacity - 1);
}
