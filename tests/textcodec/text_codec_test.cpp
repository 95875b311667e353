// Full names split and turned into address lines (com_NameConvert), and
// header texts encoded as RFC 2047 words (com_Encode_iso), from the tables in
// data/; the encoded texts are decoded again by Python (decode_words.py).
#include <gtest/gtest.h>
#include <string.h>
#include <strings.h>

#include <sstream>
#include <string>
#include <vector>

#include "record/com.h"
#include "support/case_table.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace {

using bvtest::CaseRow;

std::string Data(const char *name) { return std::string(BV_TEXTCODEC_DATA) + "/" + name; }

TEST(NameConvert, SplitsFullNames) {
    for (const CaseRow &r : bvtest::ReadCaseTable(Data("name_split.tsv"))) {
        char first[BV_NAME_LEN], last[BV_NAME_LEN], rest[BV_NAME_LEN];
        memset(first, 'X', sizeof first);
        memset(last, 'X', sizeof last);
        memset(rest, 'X', sizeof rest);
        int found = com_NameConvert(r[0].c_str(), "/fn/ln", first, last, rest, 0);
        EXPECT_EQ(std::string(first) + "|" + last + "|" + rest, r[1] + "|" + r[2] + "|" + r[3]) << r.Where();
        EXPECT_EQ(found != 0, !r[1].empty() || !r[2].empty()) << r.Where();
    }
}

TEST(NameConvert, BuildsAddressLinesForADomain) {
    for (const CaseRow &r : bvtest::ReadCaseTable(Data("address_lines.tsv"))) {
        char display[BV_NAME_LEN], addr[BV_NAME_LEN], line[BV_NAME_LEN];
        int found = com_NameConvert(r[0].c_str(), r[1].c_str(), display, addr, line, 0);
        EXPECT_EQ(found != 0, !r[4].empty()) << r.Where();
        EXPECT_EQ(line, r[4]) << r.Where();
        EXPECT_EQ(r[2] == "?" ? r[2] : display, r[2]) << r.Where();
        EXPECT_EQ(r[3] == "?" ? r[3] : addr, r[3]) << r.Where();
    }
}

TEST(NameConvert, OversizedNamesStayBounded) {
    char first[BV_NAME_LEN], last[BV_NAME_LEN], rest[BV_NAME_LEN];
    std::string many;  // far longer than an output, more words than are looked at
    for (int i = 0; i < 400; ++i) many += "Word" + std::to_string(i) + " ";
    EXPECT_NE(com_NameConvert(many.c_str(), "/fn/ln", first, last, rest, 0), 0);
    EXPECT_STREQ(first, "Word0");
    EXPECT_LT(strlen(last), (size_t)BV_NAME_LEN);
    EXPECT_LT(strlen(rest), (size_t)BV_NAME_LEN);
    com_NameConvert(std::string(5000, 'a').c_str(), "/fn/ln", first, last, rest, 0);
    EXPECT_EQ(strlen(first), (size_t)BV_NAME_LEN - 1);

    std::string name;
    for (int i = 0; i < 200; ++i) name += "Name\"" + std::to_string(i) + " ";
    EXPECT_NE(com_NameConvert(name.c_str(), "example.com", first, last, rest, 0), 0);
    std::string line = rest;
    EXPECT_LT(strlen(last), (size_t)BV_ADDR_LEN);
    ASSERT_GT(line.size(), 2u);
    EXPECT_EQ(line.back(), '>');
    size_t close = line.find("\" <");
    ASSERT_NE(close, std::string::npos);
    EXPECT_NE(line[close - 1], '\\') << "the quoted part never ends on a lone escape character";
}

std::string Encode(const std::string &text, int codepage, std::string *charset = nullptr, size_t capacity = 4096) {
    std::vector<char> buf(std::max(capacity, text.size() + 1) + 512, 'Z');
    memcpy(buf.data(), text.c_str(), text.size() + 1);
    char cs[BV_CHARSET_LEN] = "unset";
    com_Encode_iso(buf.data(), codepage, cs, capacity);
    for (size_t i = std::max(capacity, text.size() + 1); i < buf.size(); ++i)
        if (buf[i] != 'Z') ADD_FAILURE() << "wrote past the capacity: " << text;
    if (charset) *charset = cs;
    return std::string(buf.data());
}

struct Decoded {
    std::string text;
    int words = 0, longestWord = 0, longestLine = 0, bad = -1;
};

std::vector<Decoded> DecodeAll(const std::vector<std::string> &values) {
    bvtest::TempDir dir("bvtextcodec");
    std::string input;
    char hex[3];
    for (const std::string &value : values) {
        for (unsigned char c : value) snprintf(hex, sizeof hex, "%02x", c), input += hex;
        input += "\n";
    }
    bvtest::WriteFileText(dir.Path() / "in.txt", input);
    bvtest::ProgramRun run = bvtest::RunProgram("python3 " + bvtest::ShellQuote(BV_SOURCE_DIR "/tests/textcodec/decode_words.py") +
                                                    " " + bvtest::ShellQuote((dir.Path() / "in.txt").string()), dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<Decoded> all;
    std::istringstream lines(run.out);
    for (std::string textHex; lines >> textHex;) {
        Decoded d;
        lines >> d.words >> d.longestWord >> d.longestLine >> d.bad;
        for (size_t i = 0; textHex != "-" && i + 1 < textHex.size(); i += 2)
            d.text += (char)strtol(textHex.substr(i, 2).c_str(), nullptr, 16);
        all.push_back(d);
    }
    EXPECT_EQ(all.size(), values.size());
    all.resize(values.size());
    return all;
}

// Words of at most 75 characters, lines of at most 76 with room for
// "Original-Sender: " on the first; nothing malformed.
void ExpectWithinLimits(const Decoded &d, const std::string &where, bool lines = true) {
    EXPECT_LE(d.longestWord, 75) << where;
    EXPECT_LE(lines ? d.longestLine : 0, 76) << where;
    EXPECT_EQ(d.bad, 0) << where;
}

TEST(EncodeIso, FixedInputsGiveExactWords) {
    for (const CaseRow &r : bvtest::ReadCaseTable(Data("encode_exact.tsv"))) {
        std::string cs, expected = r[2];
        std::string out = Encode(r[1], r.Int(0), &cs);
        if (expected.find("{cs}") != std::string::npos) expected.replace(expected.find("{cs}"), 4, cs);
        EXPECT_EQ(out, expected) << r.Where();
        EXPECT_EQ(strcasecmp(cs.c_str(), r[3].c_str()), 0) << r.Where() << " charset " << cs;
    }
}

TEST(EncodeIso, EncodedTextsDecodeAgainWithinLimits) {
    std::vector<CaseRow> rows = bvtest::ReadCaseTable(Data("encode_decode.tsv"));
    std::vector<std::string> encoded;
    for (const CaseRow &r : rows) encoded.push_back(Encode(r[1], r.Int(0)));
    std::vector<Decoded> decoded = DecodeAll(encoded);
    for (size_t i = 0; i < rows.size(); ++i) {
        const CaseRow &r = rows[i];
        std::string text = r[2].empty() ? r[1] : r[2];
        EXPECT_EQ(decoded[i].text, text) << r.Where() << "\n" << encoded[i];
        EXPECT_GE(decoded[i].words, r.Int(3)) << r.Where();
        ExpectWithinLimits(decoded[i], r.Where(), r[5] != "unfolded");
        const std::string &end = r[4];
        EXPECT_EQ(encoded[i].compare(encoded[i].size() - std::min(end.size(), encoded[i].size()), end.size(), end), 0)
            << r.Where();
        // The library's own decoder reads the unfolded value back.
        std::string unfolded;
        for (size_t at = 0; at < encoded[i].size(); ++at) {
            if (encoded[i].compare(at, 3, "\r\n ") == 0) at += 2;
            unfolded += encoded[i][at];
        }
        std::vector<char> buf(unfolded.begin(), unfolded.end());
        buf.push_back(0);
        com_Decode_iso(buf.data(), 0);
        EXPECT_EQ(std::string(buf.data()), text) << r.Where();
    }
}

TEST(EncodeIso, CapacityBoundsTheResult) {
    const std::string text = "Ärger über Öffnungszeiten und Überstunden in der Woche vor Weihnachten, Grüße";
    std::string full = Encode(text, 28591);
    std::vector<size_t> capacities = {text.size() + 1, text.size() + 30, text.size() + 60, full.size(), full.size() + 1};
    std::vector<std::string> outs;
    for (size_t capacity : capacities) outs.push_back(Encode(text, 28591, nullptr, capacity));
    std::vector<Decoded> decoded = DecodeAll(outs);
    for (size_t i = 0; i < capacities.size(); ++i) {
        std::string where = "capacity " + std::to_string(capacities[i]);
        EXPECT_LT(outs[i].size(), capacities[i]) << where;
        ExpectWithinLimits(decoded[i], where);
        EXPECT_EQ(text.compare(0, decoded[i].text.size(), decoded[i].text), 0) << where << ": a prefix of the text";
        EXPECT_EQ(capacities[i] > full.size() ? outs[i] : full, full) << where;
    }
}

}  // namespace
