// Writes a deterministic corpus of varied mail messages for the parser
// benchmark: plain and HTML text, multipart/alternative, mixed with base64
// and quoted-printable attachments, nested multiparts, embedded messages,
// encoded-word headers in several charsets, folded headers.
//
//   mime_corpus_gen OUT_DIR [COUNT] [SEED]
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <filesystem>
#include <string>

namespace {

uint64_t gState;

uint32_t Next() {
    gState ^= gState << 13;
    gState ^= gState >> 7;
    gState ^= gState << 17;
    return (uint32_t)(gState >> 11);
}

int Range(int lo, int hi) { return lo + (int)(Next() % (uint32_t)(hi - lo + 1)); }

const char *Pick(const char *const *list, int n) { return list[Next() % (uint32_t)n]; }

const char *const kWords[] = {"meeting", "report", "budget", "quarter", "project", "update", "review", "plan",
                              "customer", "invoice", "schedule", "release", "migration", "server", "mailbox",
                              "archive", "holiday", "team", "deadline", "draft", "contract", "summary", "the",
                              "and", "for", "with", "please", "thanks", "regards", "tomorrow"};

// Encoded-word subjects, already encoded (UTF-8, ISO-8859-1, KOI8-R,
// windows-1251, ISO-2022-JP, Shift_JIS).
const char *const kEncodedSubjects[] = {
    "=?UTF-8?B?w5xiZXJzaWNodCBkZXIgUXVhcnRhbHN6YWhsZW4=?=",
    "=?ISO-8859-1?Q?R=E9union_de_l'=E9quipe?=",
    "=?koi8-r?B?8NLJ18XULCDNydI=?=",
    "=?windows-1251?Q?=CE=F2=F7=E5=F2_=E7=E0_=EA=E2=E0=F0=F2=E0=EB?=",
    "=?ISO-2022-JP?B?GyRCMnFEajsxMUlDKBsoQg==?=",
    "=?Shift_JIS?B?k/qWe4zqgsyDZYNYg2c=?=",
    "=?UTF-8?Q?Caf=C3=A9_et_cr=C3=A8me?= =?UTF-8?Q?_br=C3=BBl=C3=A9e?=",
};

std::string Words(int n) {
    std::string s;
    for (int i = 0; i < n; i++) {
        if (i) s += (i % 13 == 12) ? "\r\n" : " ";
        s += Pick(kWords, (int)(sizeof(kWords) / sizeof(*kWords)));
    }
    return s;
}

std::string Paragraphs(int bytes) {
    std::string s;
    while ((int)s.size() < bytes) s += Words(Range(8, 60)) + ".\r\n\r\n";
    return s;
}

std::string Base64(const std::string &data) {
    static const char *a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    int col = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t v = (uint8_t)data[i] << 16;
        if (i + 1 < data.size()) v |= (uint8_t)data[i + 1] << 8;
        if (i + 2 < data.size()) v |= (uint8_t)data[i + 2];
        out += a[v >> 18 & 63];
        out += a[v >> 12 & 63];
        out += i + 1 < data.size() ? a[v >> 6 & 63] : '=';
        out += i + 2 < data.size() ? a[v & 63] : '=';
        if ((col += 4) >= 76) {
            out += "\r\n";
            col = 0;
        }
    }
    if (col) out += "\r\n";
    return out;
}

std::string QuotedPrintable(const std::string &text) {
    std::string out;
    int col = 0;
    for (unsigned char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            out += "\r\n";
            col = 0;
            continue;
        }
        char buf[4];
        if (c == '=' || c >= 127) snprintf(buf, sizeof(buf), "=%02X", c);
        else snprintf(buf, sizeof(buf), "%c", c);
        if (col + (int)strlen(buf) > 75) {
            out += "=\r\n";
            col = 0;
        }
        out += buf;
        col += (int)strlen(buf);
    }
    return out;
}

std::string Binary(int bytes) {
    std::string s;
    s.reserve(bytes);
    for (int i = 0; i < bytes; i++) s.push_back((char)(Next() & 0xFF));
    return s;
}

std::string Headers(int n, bool mime) {
    std::string h;
    int hops = Range(1, 5);
    for (int i = 0; i < hops; i++)
        h += "Received: from mx" + std::to_string(Range(1, 99)) + ".example.net (mx.example.net [192.0.2." +
             std::to_string(Range(1, 254)) + "])\r\n\tby mail.example.org with ESMTPS id " + std::to_string(Next()) +
             ";\r\n\tMon, " + std::to_string(Range(1, 28)) + " Jan 2024 " + std::to_string(Range(10, 23)) +
             ":" + std::to_string(Range(10, 59)) + ":00 +0000\r\n";
    h += "From: " + std::string(Range(0, 3) == 0 ? "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=" : "\"Doe, John\"") +
         " <sender" + std::to_string(n % 97) + "@example.com>\r\n";
    h += "To: Alice <alice@example.com>, bob@example.org";
    for (int i = Range(0, 6); i > 0; i--) h += ",\r\n user" + std::to_string(Range(1, 999)) + "@example.net";
    h += "\r\n";
    if (Range(0, 2) == 0) h += "Cc: \"Team, Ops\" <ops@example.com>\r\n";
    if (Range(0, 2) == 0) h += "Subject: " + std::string(Pick(kEncodedSubjects, 7)) + "\r\n";
    else h += "Subject: " + Words(Range(2, 9)) + "\r\n";
    h += "Date: " + std::string(Range(0, 1) ? "Tue, " : "") + std::to_string(Range(1, 28)) + " " +
         Pick((const char *const[]){"Jan", "Feb", "Mar", "Apr", "May", "Jun"}, 6) + " 20" +
         std::to_string(Range(10, 24)) + " " + std::to_string(Range(10, 23)) + ":" + std::to_string(Range(10, 59)) +
         ":" + std::to_string(Range(10, 59)) + " " + Pick((const char *const[]){"+0100", "-0500", "+0000", "GMT"}, 4) +
         "\r\n";
    h += "Message-ID: <" + std::to_string(Next()) + "." + std::to_string(n) + "@example.com>\r\n";
    if (Range(0, 3) == 0) h += "X-Priority: " + std::to_string(Range(1, 5)) + "\r\n";
    if (mime) h += "MIME-Version: 1.0\r\n";
    return h;
}

std::string TextPart(bool html) {
    int kind = Range(0, 3);
    std::string body = Paragraphs(Range(200, 6000));
    if (html) body = "<html><body><p>" + body + "</p></body></html>\r\n";
    std::string type = html ? "text/html" : "text/plain";
    if (kind == 0) return "Content-Type: " + type + "; charset=us-ascii\r\n\r\n" + body;
    if (kind == 1)
        return "Content-Type: " + type + "; charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
               QuotedPrintable("Gr\xC3\xBC\xC3\x9F" "e, " + body);
    if (kind == 2)
        return "Content-Type: " + type + "; charset=iso-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n\r\ncaf\xE9 " +
               body;
    return "Content-Type: " + type + "; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(body);
}

std::string Attachment(int n) {
    static const char *const kTypes[] = {"application/pdf", "image/png", "application/octet-stream",
                                         "image/jpeg", "application/zip"};
    static const char *const kExt[] = {"pdf", "png", "bin", "jpg", "zip"};
    int t = Range(0, 4);
    int size = Range(0, 9) == 0 ? Range(50000, 200000) : Range(1000, 30000);
    std::string name = "file" + std::to_string(n) + "." + kExt[t];
    return "Content-Type: " + std::string(kTypes[t]) + "; name=\"" + name +
           "\"\r\nContent-Disposition: attachment;\r\n filename=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(Binary(size));
}

std::string Boundary(int n, int level) {
    return "----=_Part_" + std::to_string(level) + "_" + std::to_string(n) + "." + std::to_string(Next());
}

std::string Multipart(const std::string &type, const std::string &b, const std::string *parts, int count) {
    std::string s = "Content-Type: multipart/" + type + ";\r\n\tboundary=\"" + b + "\"\r\n\r\n";
    s += "This is a multi-part message in MIME format.\r\n";
    for (int i = 0; i < count; i++) s += "--" + b + "\r\n" + parts[i] + "\r\n";
    return s + "--" + b + "--\r\n";
}

std::string Alternative(int n, int level) {
    std::string parts[2] = {TextPart(false), TextPart(true)};
    return Multipart("alternative", Boundary(n, level), parts, 2);
}

std::string Message(int n, int depth);

std::string Body(int n, int depth) {
    int kind = Range(0, 9);
    if (kind <= 2) return TextPart(false);
    if (kind == 3) return TextPart(true);
    if (kind <= 5) return Alternative(n, depth);
    std::string parts[5];
    int count = 0;
    parts[count++] = kind == 6 ? TextPart(false) : Alternative(n, depth + 1);
    for (int i = Range(1, 3); i > 0; i--) parts[count++] = Attachment(n * 10 + i);
    if (kind == 9 && depth == 0) parts[count++] = "Content-Type: message/rfc822\r\n\r\n" + Message(n + 1, depth + 1);
    return Multipart("mixed", Boundary(n, depth), parts, count);
}

std::string Message(int n, int depth) {
    std::string body = Body(n, depth);
    return Headers(n, true) + body;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s OUT_DIR [COUNT] [SEED]\n", argv[0]);
        return 2;
    }
    int count = argc > 2 ? atoi(argv[2]) : 20000;
    gState = argc > 3 ? strtoull(argv[3], nullptr, 10) : 88172645463325252ULL;
    std::filesystem::create_directories(argv[1]);
    uint64_t total = 0;
    for (int i = 0; i < count; i++) {
        std::string m = Message(i, 0);
        char path[4096];
        snprintf(path, sizeof(path), "%s/msg%05d.eml", argv[1], i);
        FILE *f = fopen(path, "wb");
        if (!f) {
            perror(path);
            return 1;
        }
        fwrite(m.data(), 1, m.size(), f);
        fclose(f);
        total += m.size();
    }
    printf("%d messages, %.1f MB in %s\n", count, total / 1e6, argv[1]);
    return 0;
}
