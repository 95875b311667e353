// dbx_writer: writes an Outlook Express 5/6 message store (.dbx) from .eml
// files, a directory of them, or an mbox file, with the file's real layout:
// the 0x24BC-byte file header with the message-store signature, each message
// as a chain of blocks (16-byte header: own offset, 512, data count, next
// offset; then 512 data bytes), one message-info object per message, and the
// message index tree whose root the header names. Test options write deleted
// messages (blocks present, not in the index) and damaged chains.
//
//   dbx_writer [options] OUT.dbx INPUT...
//     INPUT               an .eml file, or a directory (its *.eml files in name order)
//     --mbox FILE         also take every message of an mbox file ("From " lines)
//     --deleted N         message N (from 0) gets blocks but no index entry
//     --unread N          message N's index entry has no read flag
//     --missing-link N    message N's first block links to a block that does not exist
//     --loop N            message N's last full block links back to its second block
//     --reverse-blocks    each message's blocks are laid out last block first
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const uint32_t kHeaderLen = 0x24BC;
const uint32_t kItemCountAt = 0xC4;
const uint32_t kIndexRootAt = 0xE4;
const uint32_t kBlockData = 512;
const uint32_t kBlockLen = 16 + kBlockData;
const int kNodeEntries = 51;  // values per index node, as Outlook Express writes them
const unsigned char kSignature[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                      0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
const uint32_t kMissingTarget = 0x7FFFFFF0;  // an offset past any block

struct Options {
    std::set<long> deleted, missingLink, loop, unread;
    bool reverseBlocks = false;
};

struct Writer {
    FILE *out = nullptr;
    uint32_t end = kHeaderLen;  // next free offset
    std::vector<uint32_t> indexed;  // info object offsets, in message order
    long messageNumber = 0;
    Options options;
};

void Put32(unsigned char *p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

void WriteAt(Writer *w, uint32_t offset, const void *data, size_t len) {
    fseek(w->out, (long)offset, SEEK_SET);
    fwrite(data, 1, len, w->out);
}

uint32_t Allocate(Writer *w, uint32_t len) {
    uint32_t at = w->end;
    w->end += (len + 3) & ~3u;
    return at;
}

// The value of header `name` (first occurrence, unfolded lines not joined).
std::string HeaderValue(const std::string &msg, const char *name) {
    size_t nameLen = strlen(name);
    size_t pos = 0;
    while (pos < msg.size()) {
        size_t eol = msg.find('\n', pos);
        if (eol == std::string::npos) eol = msg.size();
        std::string line = msg.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        if (line.size() > nameLen && strncasecmp(line.c_str(), name, nameLen) == 0 && line[nameLen] == ':') {
            size_t v = nameLen + 1;
            while (v < line.size() && line[v] == ' ') v++;
            return line.substr(v);
        }
        pos = eol + 1;
    }
    return "";
}

// Writes the message's blocks; returns the offset of its first block.
uint32_t WriteBlocks(Writer *w, const std::string &msg, long number) {
    uint32_t count = msg.empty() ? 1 : (uint32_t)((msg.size() + kBlockData - 1) / kBlockData);
    uint32_t base = Allocate(w, count * kBlockLen);
    std::vector<uint32_t> at(count);
    for (uint32_t j = 0; j < count; j++) at[j] = base + (w->options.reverseBlocks ? count - 1 - j : j) * kBlockLen;
    std::vector<unsigned char> block(kBlockLen);
    for (uint32_t j = 0; j < count; j++) {
        std::fill(block.begin(), block.end(), 0);
        size_t from = (size_t)j * kBlockData;
        uint32_t len = (uint32_t)std::min<size_t>(kBlockData, msg.size() - std::min(from, msg.size()));
        uint32_t next = j + 1 < count ? at[j + 1] : 0;
        if (j == 0 && w->options.missingLink.count(number)) next = kMissingTarget;
        // A block with a next link must be full to count as a block at all, so
        // the loop starts at the last full block.
        if (j + 2 == count && count >= 3 && w->options.loop.count(number)) next = at[1];
        Put32(&block[0], at[j]);
        Put32(&block[4], kBlockData);
        Put32(&block[8], len);
        Put32(&block[12], next);
        if (len) memcpy(&block[16], msg.data() + from, len);
        WriteAt(w, at[j], block.data(), kBlockLen);
    }
    return at[0];
}

// The message-info object: tagged values (type byte, 24-bit value; types with
// bit 0x80 keep the value inline, the others point into the data area).
uint32_t WriteInfo(Writer *w, const std::string &msg, uint32_t firstBlock, uint32_t index, bool unread) {
    struct Value {
        unsigned char type;
        std::string data;  // indirect data
        uint32_t direct;
    };
    std::vector<Value> values;
    auto direct = [&](unsigned char type, uint32_t v) { values.push_back({(unsigned char)(type | 0x80), "", v}); };
    auto text = [&](unsigned char type, const std::string &s) {
        if (!s.empty()) values.push_back({type, s + std::string(1, '\0'), 0});
    };
    std::string addr(4, '\0');
    Put32((unsigned char *)&addr[0], firstBlock);
    std::string size(4, '\0');
    Put32((unsigned char *)&size[0], (uint32_t)msg.size());
    direct(0x00, index);
    direct(0x01, unread ? 0x01 : 0x81);  // flags: body downloaded, read
    values.push_back({0x04, addr, 0});
    text(0x07, HeaderValue(msg, "Message-ID"));
    text(0x08, HeaderValue(msg, "Subject"));
    text(0x0D, HeaderValue(msg, "From"));
    values.push_back({0x11, size, 0});
    text(0x13, HeaderValue(msg, "To"));

    std::string data;
    std::vector<unsigned char> body(values.size() * 4);
    for (size_t i = 0; i < values.size(); i++) {
        uint32_t v = values[i].type & 0x80 ? values[i].direct : (uint32_t)data.size();
        data += values[i].data;
        Put32(&body[i * 4], (v << 8) | values[i].type);
    }
    uint32_t bodyLen = (uint32_t)(body.size() + data.size());
    std::vector<unsigned char> object(12 + bodyLen);
    uint32_t at = Allocate(w, (uint32_t)object.size());
    Put32(&object[0], at);
    Put32(&object[4], bodyLen);
    object[8] = (unsigned char)(bodyLen & 0xFF);
    object[9] = (unsigned char)((bodyLen >> 8) & 0xFF);
    object[10] = (unsigned char)values.size();
    object[11] = 1;
    memcpy(&object[12], body.data(), body.size());
    memcpy(&object[12 + body.size()], data.data(), data.size());
    WriteAt(w, at, object.data(), object.size());
    return at;
}

void AddMessage(Writer *w, const std::string &msg) {
    long number = w->messageNumber++;
    uint32_t first = WriteBlocks(w, msg, number);
    if (w->options.deleted.count(number)) return;
    w->indexed.push_back(WriteInfo(w, msg, first, (uint32_t)w->indexed.size() + 1, w->options.unread.count(number) > 0));
}

// Index node: own offset, 0, first child, parent, a byte, entry count, two
// bytes, values below the first child; then (value, child, values below
// child) per entry.
uint32_t WriteNode(Writer *w, const uint32_t *items, size_t n, uint32_t parent) {
    if (n == 0) return 0;
    size_t entries = std::min<size_t>(n, kNodeEntries);
    uint32_t len = 24 + 12 * (uint32_t)entries;
    uint32_t at = Allocate(w, len);
    std::vector<unsigned char> node(len, 0);
    Put32(&node[0], at);
    Put32(&node[12], parent);
    node[17] = (unsigned char)entries;
    if (n <= (size_t)kNodeEntries) {
        for (size_t i = 0; i < n; i++) Put32(&node[24 + 12 * i], items[i]);
    } else {
        // entries separators and entries + 1 subtrees, sizes as even as possible.
        size_t rest = n - entries, groups = entries + 1, pos = 0;
        auto group = [&](size_t g) { return rest / groups + (g < rest % groups ? 1 : 0); };
        size_t g0 = group(0);
        Put32(&node[8], WriteNode(w, items, g0, at));
        Put32(&node[20], (uint32_t)g0);
        pos = g0;
        for (size_t i = 0; i < entries; i++) {
            Put32(&node[24 + 12 * i], items[pos++]);
            size_t gi = group(i + 1);
            Put32(&node[24 + 12 * i + 4], WriteNode(w, items + pos, gi, at));
            Put32(&node[24 + 12 * i + 8], (uint32_t)gi);
            pos += gi;
        }
    }
    WriteAt(w, at, node.data(), len);
    return at;
}

bool ReadFile(const fs::path &path, std::string *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof(buf), f)) > 0) out->append(buf, got);
    fclose(f);
    return true;
}

// An mbox separator: "From -", or "From " with a time of day in the line
// (the sender and date of RFC 4155), at the start of the file or after an
// empty line; a body line "From time to time" is text.
bool IsMboxSeparator(const char *line, size_t len, bool afterEmpty) {
    if (len < 5 || memcmp(line, "From ", 5) != 0) return false;
    if (len >= 6 && line[5] == '-') return true;
    if (!afterEmpty) return false;
    for (size_t i = 6; i + 2 < len; i++)
        if (line[i] == ':' && isdigit((unsigned char)line[i - 1]) && isdigit((unsigned char)line[i + 1]) &&
            isdigit((unsigned char)line[i + 2]))
            return true;
    return false;
}

// Every message of an mbox file, one at a time (the separator line dropped).
bool AddMbox(Writer *w, const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    std::string msg;
    bool inMessage = false, afterEmpty = true;
    char *buf = nullptr;
    size_t cap = 0;
    ssize_t len;
    while ((len = getline(&buf, &cap, f)) > 0) {
        if (IsMboxSeparator(buf, (size_t)len, afterEmpty)) {
            if (inMessage) AddMessage(w, msg);
            msg.clear();
            inMessage = true;
            afterEmpty = false;
            continue;
        }
        afterEmpty = buf[0] == '\n' || (buf[0] == '\r' && len >= 2 && buf[1] == '\n');
        msg.append(buf, (size_t)len);
    }
    if (inMessage) AddMessage(w, msg);
    free(buf);
    fclose(f);
    return true;
}

int Usage() {
    fprintf(stderr,
            "usage: dbx_writer [--mbox FILE] [--deleted N] [--unread N] [--missing-link N] [--loop N] [--reverse-blocks]\n"
            "                  OUT.dbx [INPUT.eml | DIR]...\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    Writer w;
    std::vector<std::string> inputs, mboxes;
    const char *outPath = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto number = [&](std::set<long> *into) {
            if (i + 1 >= argc) return false;
            into->insert(strtol(argv[++i], nullptr, 10));
            return true;
        };
        if (a == "--deleted") {
            if (!number(&w.options.deleted)) return Usage();
        } else if (a == "--unread") {
            if (!number(&w.options.unread)) return Usage();
        } else if (a == "--missing-link") {
            if (!number(&w.options.missingLink)) return Usage();
        } else if (a == "--loop") {
            if (!number(&w.options.loop)) return Usage();
        } else if (a == "--reverse-blocks") {
            w.options.reverseBlocks = true;
        } else if (a == "--mbox") {
            if (i + 1 >= argc) return Usage();
            mboxes.push_back(argv[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage();
        } else if (!outPath) {
            outPath = argv[i];
        } else {
            inputs.push_back(a);
        }
    }
    if (!outPath) return Usage();
    w.out = fopen(outPath, "wb+");
    if (!w.out) {
        perror(outPath);
        return 1;
    }
    static char outBuf[1 << 20];
    setvbuf(w.out, outBuf, _IOFBF, sizeof(outBuf));
    std::vector<unsigned char> header(kHeaderLen, 0);
    WriteAt(&w, 0, header.data(), header.size());

    for (const std::string &input : inputs) {
        std::vector<fs::path> files;
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            for (const auto &e : fs::directory_iterator(input, ec))
                if (e.is_regular_file() && e.path().extension() == ".eml") files.push_back(e.path());
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(input);
        }
        for (const fs::path &file : files) {
            std::string msg;
            if (!ReadFile(file, &msg)) {
                fprintf(stderr, "dbx_writer: cannot read %s\n", file.c_str());
                return 1;
            }
            AddMessage(&w, msg);
        }
    }
    for (const std::string &mbox : mboxes) {
        if (!AddMbox(&w, mbox.c_str())) {
            fprintf(stderr, "dbx_writer: cannot read %s\n", mbox.c_str());
            return 1;
        }
    }
    uint32_t root = WriteNode(&w, w.indexed.data(), w.indexed.size(), 0);
    memcpy(header.data(), kSignature, sizeof(kSignature));
    const unsigned char tail[4] = {0x4F, 0xA3, 0x09, 0xD4};  // rest of the class id
    memcpy(header.data() + 16, tail, 4);
    Put32(&header[0x7C], w.end);  // file size
    Put32(&header[kItemCountAt], (uint32_t)w.indexed.size());
    Put32(&header[kIndexRootAt], root);
    WriteAt(&w, 0, header.data(), header.size());
    // Pad the file to its recorded size.
    fseek(w.out, 0, SEEK_END);
    long size = ftell(w.out);
    for (; size < (long)w.end; size++) fputc(0, w.out);
    if (fclose(w.out) != 0) {
        perror(outPath);
        return 1;
    }
    return 0;
}
