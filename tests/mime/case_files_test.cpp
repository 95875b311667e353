// One case = data/NAME.eml (the message) + data/NAME.expect (what the record
// must hold). Adding a case is adding a file pair.
//
// Expect lines:
//   option: lsub | d81 | nhs | maxRecipients=N | attachDir=DIR | messageFileDir=DIR | exclude=PATTERN
//   KEY: VALUE        the dumped field equals VALUE (escapes \r \n \t \\ \xHH)
//   KEY ~ TEXT        the dumped field contains TEXT
//   KEY file: NAME    the dumped field equals the bytes of data/NAME
//   absent: KEY       the record has no such field
//   log ~ TEXT / log !~ TEXT   the parse log does (not) contain TEXT
// Every case is parsed twice, from a file and from memory; both dumps must agree.
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <sstream>
#include "mime_test_support.h"
#include "support/case_table.h"

namespace fs = std::filesystem;
using namespace mimetest;

namespace {

const std::string kDataDir = BV_MIME_DATA;

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

struct Expectation {
    std::string key, op, value;
};

struct CaseExpectations {
    ParseOptions options;
    int result = 0;
    std::vector<Expectation> checks;
};

void ApplyOption(const std::string &opt, ParseOptions *o) {
    if (opt == "lsub") o->lsub = true;
    else if (opt == "d81") o->d81 = true;
    else if (opt == "nhs") o->nhs = true;
    else if (opt.rfind("maxRecipients=", 0) == 0) o->maxRecipients = std::stoi(opt.substr(14));
    else if (opt.rfind("attachDir=", 0) == 0) o->attachDir = kDataDir + "/" + opt.substr(10);
    else if (opt.rfind("messageFileDir=", 0) == 0) o->messageFileDir = kDataDir + "/" + opt.substr(15);
    else if (opt.rfind("exclude=", 0) == 0) o->excludePattern = opt.substr(8);
    else ADD_FAILURE() << "unknown option " << opt;
}

// The earliest operator of a line decides: "KEY file: NAME", "KEY !~ TEXT",
// "KEY ~ TEXT" or "KEY: VALUE".
CaseExpectations ReadExpectations(const std::string &path) {
    static const std::pair<std::string, std::string> kOps[] = {{" file: ", "file"}, {" !~ ", "!~"}, {" ~ ", "~"}, {": ", "="}};
    CaseExpectations expected;
    std::istringstream in(bvtest::ReadFileText(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Trim(line).empty() || line[0] == '#') continue;
        Expectation e;
        size_t first = std::string::npos;
        for (const auto &[text, op] : kOps) {
            size_t at = line.find(text);
            if (at >= first) continue;
            first = at;
            std::string value = line.substr(at + text.size());
            e = {Trim(line.substr(0, at)), op, op == "file" ? Trim(value) : bvtest::DecodeEscapes(value)};
        }
        if (first == std::string::npos) ADD_FAILURE() << "unreadable expect line: " << line;
        else if (e.key == "option") ApplyOption(Trim(e.value), &expected.options);
        else if (e.key == "result" && e.op == "=") expected.result = std::stoi(e.value);
        else expected.checks.push_back(e);
    }
    return expected;
}

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    if (!fs::is_directory(kDataDir)) return names;
    for (const auto &entry : fs::directory_iterator(kDataDir))
        if (entry.path().extension() == ".expect") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Printable(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 32 || c >= 127) {
            char buf[8];
            snprintf(buf, sizeof(buf), "\\x%02X", c);
            out += buf;
        } else out.push_back((char)c);
    }
    return out.size() > 600 ? out.substr(0, 600) + "..." : out;
}

class CaseFile : public ::testing::TestWithParam<std::string> {};

TEST_P(CaseFile, RecordMatchesExpectation) {
    const std::string name = GetParam();
    CaseExpectations expected = ReadExpectations(kDataDir + "/" + name + ".expect");
    std::string input = bvtest::ReadFileText(kDataDir + "/" + name + ".eml");
    ParseRun fromFile = ParseBytes(input, expected.options, false);
    ParseRun fromMemory = ParseBytes(input, expected.options, true);
    EXPECT_EQ(fromFile.result, expected.result);
    auto dump = DumpRecord(fromFile.record, fromFile.workDir);
    auto memDump = DumpRecord(fromMemory.record, fromMemory.workDir);
    EXPECT_EQ(fromMemory.result, fromFile.result) << "memory stream differs from file";
    if (dump.count("dateSubstituted")) dump.erase("date"), memDump.erase("date");
    EXPECT_EQ(dump, memDump) << "memory stream differs from file";
    for (const Expectation &e : expected.checks) {
        if (e.key == "absent") {
            EXPECT_EQ(dump.count(Trim(e.value)), 0u) << "field present: " << e.value;
            continue;
        }
        if (e.key == "log") {
            bool has = fromFile.log.find(e.value) != std::string::npos;
            EXPECT_EQ(has, e.op == "~") << "log " << e.op << " " << e.value << "\nlog was:\n" << fromFile.log;
            continue;
        }
        auto it = dump.find(e.key);
        if (it == dump.end()) {
            ADD_FAILURE() << "missing field: " << e.key;
            continue;
        }
        if (e.op == "=") {
            EXPECT_EQ(Printable(it->second), Printable(e.value)) << "field " << e.key;
        } else if (e.op == "~") {
            EXPECT_NE(it->second.find(e.value), std::string::npos)
                << "field " << e.key << " = " << Printable(it->second) << " lacks " << e.value;
        } else if (e.op == "file") {
            EXPECT_TRUE(it->second == bvtest::ReadFileText(kDataDir + "/" + e.value))
                << "field " << e.key << " differs from " << e.value << ": " << Printable(it->second);
        }
    }
    FreeRun(&fromFile);
    FreeRun(&fromMemory);
}

INSTANTIATE_TEST_SUITE_P(Mime, CaseFile, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             std::string n = info.param;
                             for (char &c : n)
                                 if (!isalnum((unsigned char)c)) c = '_';
                             return n;
                         });

}  // namespace
