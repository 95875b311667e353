// Test cases as rows of a tab-separated table file: one case a line, "#"
// starts a comment line, and C escapes (\t \r \n \0 \\ \xHH) let a field
// hold any byte; a backslash before anything else stays as written.
#pragma once

#include <string>
#include <vector>

namespace bvtest {

struct CaseRow {
    int line = 0;                     // line number in the file, for messages
    std::vector<std::string> fields;  // escapes decoded; missing fields read ""
    const std::string &operator[](size_t i) const;
    int Int(size_t i) const;
    std::string Where() const { return "line " + std::to_string(line) + ": " + (fields.empty() ? "" : fields[0]); }
};

// Every case row of the file; the test fails when the file has none.
std::vector<CaseRow> ReadCaseTable(const std::string &path);
// C escapes of text decoded.
std::string DecodeEscapes(const std::string &text);

}  // namespace bvtest
