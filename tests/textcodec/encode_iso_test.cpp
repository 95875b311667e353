// com_Encode_iso: exact output for fixed inputs, and long or bounded texts
// decoded again by an independent decoder written here from RFC 2047 (ICU
// does the charset step).
#include <gtest/gtest.h>
#include <string.h>
#include <strings.h>
#include <unicode/ucnv.h>

#include <string>
#include <vector>

#include "record/com.h"

namespace {

std::string Encode(const std::string &text, int codepage, std::string *charset = nullptr, size_t capacity = 4096) {
    std::vector<char> buf(std::max(capacity, text.size() + 1));
    memcpy(buf.data(), text.c_str(), text.size() + 1);
    char cs[BV_CHARSET_LEN] = "unset";
    com_Encode_iso(buf.data(), codepage, cs, capacity);
    if (charset) *charset = cs;
    return std::string(buf.data());
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string DecodeB(const std::string &s) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : s) {
        if (c == '=') break;
        size_t v = kAlphabet.find(c);
        if (v == std::string::npos) ADD_FAILURE() << "bad base64 character in " << s;
        acc = (acc << 6) | (unsigned)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += (char)((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string DecodeQ(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '_') {
            out += ' ';
        } else if (s[i] == '=' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out += (char)(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            EXPECT_NE(s[i], '=') << "stray '=' in " << s;
            EXPECT_NE(s[i], '?') << "'?' inside an encoded word: " << s;
            out += s[i];
        }
    }
    return out;
}

std::string ToUtf8(const std::string &bytes, const std::string &charset) {
    UErrorCode err = U_ZERO_ERROR;
    std::vector<char> out(bytes.size() * 4 + 16);
    int32_t n = ucnv_convert("UTF-8", charset.c_str(), out.data(), (int32_t)out.size(), bytes.data(),
                             (int32_t)bytes.size(), &err);
    EXPECT_TRUE(U_SUCCESS(err)) << "charset " << charset;
    return std::string(out.data(), n);
}

struct Decoded {
    std::string text;
    std::vector<std::string> words;  // the encoded words as written
    std::vector<std::string> lines;  // the header's lines
};

// Unfolds and decodes a header value: whitespace between two encoded words
// disappears, everything else stays.
Decoded DecodeHeader(const std::string &value) {
    Decoded d;
    size_t lineStart = 0;
    for (size_t nl; (nl = value.find("\r\n", lineStart)) != std::string::npos; lineStart = nl + 2) {
        d.lines.push_back(value.substr(lineStart, nl - lineStart));
        EXPECT_TRUE(nl + 2 < value.size() && (value[nl + 2] == ' ' || value[nl + 2] == '\t'))
            << "line break not followed by folding white space";
    }
    d.lines.push_back(value.substr(lineStart));
    std::string unfolded;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value.compare(i, 2, "\r\n") == 0) {
            ++i;
            continue;
        }
        unfolded += value[i];
    }
    std::string pendingBlank;
    bool lastWasWord = false;
    for (size_t i = 0; i < unfolded.size();) {
        if (unfolded.compare(i, 2, "=?") == 0) {
            size_t q1 = unfolded.find('?', i + 2);
            size_t q2 = q1 == std::string::npos ? q1 : unfolded.find('?', q1 + 1);
            size_t end = q2 == std::string::npos ? q2 : unfolded.find("?=", q2 + 1);
            if (end != std::string::npos) {
                std::string charset = unfolded.substr(i + 2, q1 - i - 2);
                char mode = unfolded[q1 + 1];
                std::string payload = unfolded.substr(q2 + 1, end - q2 - 1);
                std::string bytes = (mode == 'Q' || mode == 'q') ? DecodeQ(payload) : DecodeB(payload);
                if (!lastWasWord) d.text += pendingBlank;
                pendingBlank.clear();
                d.text += ToUtf8(bytes, charset);
                d.words.push_back(unfolded.substr(i, end + 2 - i));
                lastWasWord = true;
                i = end + 2;
                continue;
            }
        }
        if (unfolded[i] == ' ' || unfolded[i] == '\t') {
            pendingBlank += unfolded[i++];
            continue;
        }
        d.text += pendingBlank;
        pendingBlank.clear();
        d.text += unfolded[i++];
        lastWasWord = false;
    }
    d.text += pendingBlank;
    return d;
}

void ExpectWithinLimits(const Decoded &d) {
    for (const std::string &w : d.words) EXPECT_LE(w.size(), 75u) << w;
    // The first line leaves room for "Original-Sender: ".
    for (size_t i = 0; i < d.lines.size(); ++i)
        EXPECT_LE(d.lines[i].size() + (i == 0 ? 17 : 0), 76u) << "line " << i << ": " << d.lines[i];
}

TEST(EncodeIso, AsciiTextStaysAsItIs) {
    std::string cs;
    EXPECT_EQ(Encode("Meeting on Monday =?not-a-word?= <a@b.c>", 28591, &cs),
              "Meeting on Monday =?not-a-word?= <a@b.c>");
    EXPECT_STRCASEEQ(cs.c_str(), "ISO-8859-1");
    EXPECT_EQ(Encode("", 65001, &cs), "");
    EXPECT_STRCASEEQ(cs.c_str(), "UTF-8");
}

TEST(EncodeIso, FixedInputsGiveExactWords) {
    std::string cs;
    // Whole subject of non-ASCII words, in the record's single-byte code page.
    std::string out = Encode("Grüße aus Köln", 28591, &cs);
    EXPECT_EQ(out, "=?" + cs + "?Q?Gr=FC=DFe_aus_K=F6ln?=");
    EXPECT_STRCASEEQ(cs.c_str(), "ISO-8859-1");
    // ASCII words around the encoded run stay literal.
    EXPECT_EQ(Encode("Re: Grüße from me", 28591, &cs), "Re: =?" + cs + "?Q?Gr=FC=DFe?= from me");
    // A quoted display name loses its quotes; the address stays literal.
    EXPECT_EQ(Encode("\"Jörg Müller\" <joerg@example.de>", 28591, &cs),
              "=?" + cs + "?Q?J=F6rg_M=FCller?= <joerg@example.de>");
    // Characters that the code page lacks move the text to UTF-8; Cyrillic is
    // shorter in B encoding.
    out = Encode("Привет", 28591, &cs);
    EXPECT_STRCASEEQ(cs.c_str(), "UTF-8");
    EXPECT_EQ(out, "=?" + cs + "?B?0J/RgNC40LLQtdGC?=");
    // Code page 0 means UTF-8; two escaped bytes are shorter in B.
    EXPECT_EQ(Encode("é", 0, &cs), "=?" + cs + "?B?w6k=?=");
    EXPECT_EQ(Encode("Café", 65001, &cs), "=?" + cs + "?Q?Caf=C3=A9?=");
    EXPECT_STRCASEEQ(cs.c_str(), "UTF-8");
}

TEST(EncodeIso, BytesThatAreNotUtf8AreTakenInTheCodePage) {
    std::string cs;
    std::string out = Encode("caf\xE9 cr\xE8me", 1252, &cs);
    EXPECT_EQ(out, "=?" + cs + "?Q?caf=E9_cr=E8me?=");
    EXPECT_EQ(DecodeHeader(out).text, "café crème");
    // Without a code page the bytes are ISO-8859-1.
    EXPECT_EQ(DecodeHeader(Encode("Stra\xDF" "e", 0)).text, "Straße");
}

TEST(EncodeIso, LongTextsSplitIntoWordsWithinLimits) {
    struct Case {
        std::string text;
        int codepage;
    } cases[] = {
        {"Überweisung für März: " + std::string(40, 'x') + " Grüße, Jürgen Größe Äpfel Öl übrig", 28591},
        {std::string("Sehr geehrte Damen und Herren, ") + "ÄÖÜäöüß ÄÖÜäöüß ÄÖÜäöüß ÄÖÜäöüß ÄÖÜäöüß ÄÖÜäöüß", 1252},
        {"日本語のテキストはとても長い件名になることがあります。日本語のテキストはとても長い件名です", 65001},
        {"Ünïcödé 😀 mixed with emoji 😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀 and more text", 28591},
        {"Привет, мир! Это длинная тема письма, которая должна быть разделена на несколько слов", 1251},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::string out = Encode(c.text, c.codepage);
        Decoded d = DecodeHeader(out);
        EXPECT_EQ(d.text, c.text);
        EXPECT_GE(d.words.size(), 2u);
        ExpectWithinLimits(d);
        // The library's own decoder reads the unfolded header back.
        std::string unfolded;
        for (size_t i = 0; i < out.size(); ++i) {
            if (out.compare(i, 3, "\r\n ") == 0) i += 2;
            unfolded += out[i];
        }
        std::vector<char> buf(unfolded.begin(), unfolded.end());
        buf.push_back(0);
        EXPECT_NE(com_Decode_iso(buf.data(), 0), 0);
        EXPECT_EQ(std::string(buf.data()), c.text);
    }
}

TEST(EncodeIso, MultiByteCodePagesKeepCharactersWhole) {
    const std::string text = "会議の議題について、来週の月曜日に打ち合わせをお願いします。よろしくお願いします";
    for (int codepage : {932, 936, 949, 950, 50220}) {
        SCOPED_TRACE(codepage);
        std::string cs;
        std::string out = Encode(text, codepage, &cs);
        Decoded d = DecodeHeader(out);
        EXPECT_EQ(d.text, text);
        ExpectWithinLimits(d);
        // Every word decodes on its own: no character is cut between words.
        for (const std::string &w : d.words) {
            Decoded single = DecodeHeader(w);
            EXPECT_NE(single.text.find_first_not_of(" "), std::string::npos);
            EXPECT_EQ(text.find(single.text) != std::string::npos, true) << w;
        }
    }
}

TEST(EncodeIso, CapacityBoundsTheResult) {
    const std::string text = "Ärger über Öffnungszeiten und Überstunden in der Woche vor Weihnachten, Grüße";
    std::string full = Encode(text, 28591);
    for (size_t capacity : {text.size() + 1, text.size() + 30, text.size() + 60, full.size(), full.size() + 1}) {
        SCOPED_TRACE(capacity);
        std::vector<char> buf(text.size() + 1 + 512, 'Z');
        memcpy(buf.data(), text.c_str(), text.size() + 1);
        char cs[BV_CHARSET_LEN];
        com_Encode_iso(buf.data(), 28591, cs, capacity);
        size_t len = strlen(buf.data());
        EXPECT_LT(len, capacity);
        // Bytes past the capacity are untouched.
        for (size_t i = std::max(capacity, text.size() + 1); i < buf.size(); ++i) ASSERT_EQ(buf[i], 'Z');
        Decoded d = DecodeHeader(std::string(buf.data()));
        ExpectWithinLimits(d);
        EXPECT_EQ(text.compare(0, d.text.size(), d.text), 0) << d.text;
        if (capacity > full.size()) {
            EXPECT_EQ(std::string(buf.data()), full);
        }
    }
}

TEST(EncodeIso, AddressLinesKeepTheAddress) {
    std::string out = Encode("\"Smith, \\\"Jöe\\\"\" <joe.smith@example.com>", 1252);
    Decoded d = DecodeHeader(out);
    EXPECT_EQ(d.text, "Smith, \"Jöe\" <joe.smith@example.com>");
    EXPECT_NE(out.find(" <joe.smith@example.com>"), std::string::npos);
    // An unquoted display name is encoded word by word.
    out = Encode("Jörg Weber <jw@example.de>", 28591);
    EXPECT_EQ(DecodeHeader(out).text, "Jörg Weber <jw@example.de>");
    EXPECT_EQ(out.rfind(" Weber <jw@example.de>"), out.size() - strlen(" Weber <jw@example.de>"));
    // A long display name folds before the address when the line would be too long.
    std::string name = "Ölbaum Ärztezentrum Überlingen und Umgebung Gemeinschaftspraxis";
    out = Encode("\"" + name + "\" <praxis@example.de>", 28591);
    d = DecodeHeader(out);
    EXPECT_EQ(d.text, name + " <praxis@example.de>");
    ExpectWithinLimits(d);
}

}  // namespace
