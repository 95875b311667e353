// nk2_writer: builds an Outlook nickname (.nk2) file from a text description,
// for the contact reader's tests.
//
//   nk2_writer DESCRIPTION.txt OUT.nk2
//
// Description lines ('#' starts a comment):
//   ROW [count]          starts a row; count overrides its property count
//   ROWS count           overrides the row count of the file header
//   TRUNCATE bytes       cuts the finished file after that many bytes
//   <type> <id> [value]  one property, type and identifier in hex:
//       0002 0003 0004 0005 000A 000B 0014 0040  value: a number (first 4 bytes)
//       001E  value: 8-bit text (a NUL is appended)
//       001F  value: UTF-8 text, written as UTF-16LE with a NUL unit
//       0102  value: hex bytes            0048  value: hex bytes (16 bytes, padded)
//       1102 101E 101F  value: items separated by '|' (101F items as UTF-16LE)
//       any other type: the 16 property bytes only
//   Escapes in text values: \n, \t, \\, \xHH.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void PutU32(Bytes &out, uint32_t value) {
    for (int i = 0; i < 4; i++) out.push_back((unsigned char)(value >> (8 * i)));
}

std::string Unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char next = text[++i];
        if (next == 'n') out += '\n';
        else if (next == 't') out += '\t';
        else if (next == 'x' && i + 2 < text.size()) {
            out += (char)strtol(text.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else out += next;
    }
    return out;
}

Bytes Utf16le(const std::string &utf8, bool terminate) {
    Bytes out;
    auto put = [&](uint32_t unit) {
        out.push_back((unsigned char)(unit & 0xFF));
        out.push_back((unsigned char)(unit >> 8));
    };
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        uint32_t cp;
        int extra;
        if (c < 0x80) cp = c, extra = 0;
        else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, extra = 1;
        else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, extra = 2;
        else cp = c & 0x07, extra = 3;
        i++;
        for (int k = 0; k < extra && i < utf8.size(); k++, i++) cp = (cp << 6) | ((unsigned char)utf8[i] & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 | (cp >> 10));
            put(0xDC00 | (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    if (terminate) put(0);
    return out;
}

Bytes HexBytes(const std::string &hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back((unsigned char)strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

void PutLengthPrefixed(Bytes &out, const Bytes &data) {
    PutU32(out, (uint32_t)data.size());
    out.insert(out.end(), data.begin(), data.end());
}

bool FixedType(uint32_t type) {
    switch (type) {
        case 0x0002: case 0x0003: case 0x0004: case 0x0005: case 0x000A: case 0x000B: case 0x0014: case 0x0040:
            return true;
        default:
            return false;
    }
}

void PutProperty(Bytes &out, uint32_t type, uint32_t id, const std::string &value) {
    PutU32(out, (id << 16) | type);
    PutU32(out, 0);  // reserved
    uint32_t number = FixedType(type) ? (uint32_t)strtoul(value.c_str(), nullptr, 0) : 0;
    PutU32(out, number);
    PutU32(out, 0);
    if (type == 0x001E) {
        std::string text = Unescape(value);
        Bytes data(text.begin(), text.end());
        data.push_back(0);
        PutLengthPrefixed(out, data);
    } else if (type == 0x001F) {
        PutLengthPrefixed(out, Utf16le(Unescape(value), true));
    } else if (type == 0x0102) {
        PutLengthPrefixed(out, HexBytes(value));
    } else if (type == 0x0048) {
        Bytes guid = HexBytes(value);
        guid.resize(16, 0);
        out.insert(out.end(), guid.begin(), guid.end());
    } else if (type == 0x1102 || type == 0x101E || type == 0x101F) {
        std::vector<std::string> items;
        std::stringstream stream(value);
        for (std::string item; std::getline(stream, item, '|');) items.push_back(item);
        PutU32(out, (uint32_t)items.size());
        for (const std::string &item : items) {
            if (type == 0x101F) PutLengthPrefixed(out, Utf16le(Unescape(item), true));
            else if (type == 0x1102) PutLengthPrefixed(out, HexBytes(item));
            else {
                std::string text = Unescape(item);
                Bytes data(text.begin(), text.end());
                data.push_back(0);
                PutLengthPrefixed(out, data);
            }
        }
    }
}

struct Row {
    Bytes properties;
    uint32_t count = 0;
    long countOverride = -1;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: nk2_writer DESCRIPTION.txt OUT.nk2\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "nk2_writer: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::vector<Row> rows;
    long rowCountOverride = -1;
    long truncateAt = -1;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "ROW") {
            rows.emplace_back();
            long count;
            if (words >> count) rows.back().countOverride = count;
        } else if (first == "ROWS") {
            words >> rowCountOverride;
        } else if (first == "TRUNCATE") {
            words >> truncateAt;
        } else {
            if (rows.empty()) rows.emplace_back();
            std::string idText;
            words >> idText;
            std::string value;
            std::getline(words, value);
            if (!value.empty() && value[0] == ' ') value.erase(0, 1);
            PutProperty(rows.back().properties, (uint32_t)strtoul(first.c_str(), nullptr, 16),
                        (uint32_t)strtoul(idText.c_str(), nullptr, 16), value);
            rows.back().count++;
        }
    }

    Bytes file;
    const unsigned char signature[4] = {0x0D, 0xF0, 0xAD, 0xBA};
    file.insert(file.end(), signature, signature + 4);
    PutU32(file, 0x0A);
    PutU32(file, 1);
    PutU32(file, rowCountOverride >= 0 ? (uint32_t)rowCountOverride : (uint32_t)rows.size());
    for (const Row &row : rows) {
        PutU32(file, row.countOverride >= 0 ? (uint32_t)row.countOverride : row.count);
        file.insert(file.end(), row.properties.begin(), row.properties.end());
    }
    for (int i = 0; i < 3; i++) PutU32(file, 0);  // footer
    if (truncateAt >= 0 && (size_t)truncateAt < file.size()) file.resize((size_t)truncateAt);

    FILE *out = fopen(argv[2], "wb");
    if (!out || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out) != 0) {
        std::cerr << "nk2_writer: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
