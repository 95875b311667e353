// Modified UTF-7 for folder levels, with '.', '/' and '\\' escaped as Dovecot's
// list escape writes them.
#include "oeapi/folder_name_codec.h"

#include <string.h>

namespace oeapi {
namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

const char kEscapeChar = '\\';
const char kEscaped[] = "./\\";  // the hierarchy and path separators, and the escape itself

bool IsEscaped(char16_t c) { return c < 0x80 && c && strchr(kEscaped, static_cast<char>(c)); }

bool IsLiteral(char16_t c) { return c >= 0x20 && c <= 0x7e && c != '&' && !IsEscaped(c); }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == ',') return 63;
    return -1;
}

// Appends the base64 run of units [from, to) of name, without "&" and "-".
void AppendRun(const std::u16string &name, size_t from, size_t to, std::string &out) {
    uint32_t bits = 0;
    int bitCount = 0;
    for (size_t i = from; i < to; i++) {
        bits = (bits << 16) | name[i];
        bitCount += 16;
        while (bitCount >= 6) {
            bitCount -= 6;
            out += kBase64[(bits >> bitCount) & 0x3f];
        }
        bits &= (1u << bitCount) - 1;
    }
    if (bitCount > 0) out += kBase64[(bits << (6 - bitCount)) & 0x3f];
}

// Decodes the run between '&' and '-'; false when it is not a whole number
// of UTF-16 units.
bool DecodeRun(const std::string &run, std::u16string &out) {
    uint32_t bits = 0;
    int bitCount = 0;
    std::u16string units;
    for (char c : run) {
        int v = Base64Value(c);
        if (v < 0) return false;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        bitCount += 6;
        if (bitCount >= 16) {
            bitCount -= 16;
            units += static_cast<char16_t>((bits >> bitCount) & 0xffff);
            bits &= (1u << bitCount) - 1;
        }
    }
    if (bitCount >= 6 || bits != 0 || units.empty()) return false;
    out += units;
    return true;
}

// An ASCII character as the list escape writes it ("\2e" for '.').
void AppendEscaped(char16_t c, std::string &out) {
    static const char kHex[] = "0123456789abcdef";
    out += kEscapeChar;
    out += kHex[(c >> 4) & 7];
    out += kHex[c & 15];
}

}  // namespace

std::string EncodeFolderLevel(const std::u16string &name) {
    std::string out;
    size_t i = 0;
    while (i < name.size()) {
        char16_t c = name[i];
        if (c == '&') {
            out += "&-";
            i++;
        } else if (IsEscaped(c)) {
            AppendEscaped(c, out);
            i++;
        } else if (IsLiteral(c)) {
            out += static_cast<char>(c);
            i++;
        } else {
            size_t end = i;
            while (end < name.size() && !IsLiteral(name[end]) && name[end] != '&' && !IsEscaped(name[end])) end++;
            out += '&';
            AppendRun(name, i, end, out);
            out += '-';
            i = end;
        }
    }
    return out;
}

std::string EncodeTopFolderLevel(const std::u16string &name) {
    static const char16_t kInbox[] = u"inbox";
    bool inbox = name.size() == 5;
    for (size_t i = 0; inbox && i < 5; i++) inbox = (name[i] | 0x20) == kInbox[i];
    if (!inbox) return EncodeFolderLevel(name);
    std::string out;
    AppendEscaped(name[0], out);
    return out + EncodeFolderLevel(name.substr(1));
}

std::u16string DecodeFolderLevel(const std::string &level) {
    std::u16string out;
    size_t i = 0;
    while (i < level.size()) {
        char c = level[i];
        if (c == kEscapeChar && i + 2 < level.size() && HexValue(level[i + 1]) >= 0 && HexValue(level[i + 2]) >= 0) {
            out += static_cast<char16_t>(HexValue(level[i + 1]) * 16 + HexValue(level[i + 2]));
            i += 3;
            continue;
        }
        if (c != '&') {
            out += static_cast<char16_t>(static_cast<unsigned char>(c));
            i++;
            continue;
        }
        size_t dash = level.find('-', i + 1);
        if (dash == std::string::npos) {
            out += u'&';
            i++;
            continue;
        }
        if (dash == i + 1) {
            out += u'&';
        } else if (!DecodeRun(level.substr(i + 1, dash - i - 1), out)) {
            for (size_t k = i; k <= dash; k++) out += static_cast<char16_t>(static_cast<unsigned char>(level[k]));
        }
        i = dash + 1;
    }
    return out;
}

}  // namespace oeapi
