#include "support/case_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace bvtest {

const std::string &CaseRow::operator[](size_t i) const {
    static const std::string kNone;
    return i < fields.size() ? fields[i] : kNone;
}

int CaseRow::Int(size_t i) const { return (int)strtol((*this)[i].c_str(), nullptr, 10); }

std::string DecodeEscapes(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'x' && i + 2 < text.size()) {
            out += (char)strtol(text.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else {
            static const std::string kFrom = "trn0\\", kTo = std::string("\t\r\n\0\\", 5);
            size_t known = kFrom.find(c);
            if (known == std::string::npos) out += '\\';  // not an escape: kept as written
            out += known == std::string::npos ? c : kTo[known];
        }
    }
    return out;
}

std::vector<CaseRow> ReadCaseTable(const std::string &path) {
    std::vector<CaseRow> rows;
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        CaseRow row;
        row.line = number;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) row.fields.push_back(DecodeEscapes(field));
        rows.push_back(row);
    }
    EXPECT_FALSE(rows.empty()) << "no cases in " << path;
    return rows;
}

}  // namespace bvtest
