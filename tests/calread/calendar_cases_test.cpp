// Calendar and task sources read through bvhost dump, one case a file pair
// in data/cases: the source (NAME.ics, .vcs, .txt or a directory) and
// NAME.expect with what the dump must hold. Lines of an .expect file:
//   source KIND:FILE        the source (default calendar:NAME.<ext>)
//   switches TEXT           the connector's switch string
//   sorted FIELD            items ordered by a record field first
//   folders TEXT            a line of the folder list
//   statuses S,S,...        every status reported, in order
//   statuscount S N         N statuses S
//   K FIELD VALUE           item K: the field's JSON text is VALUE; "-" the
//                           field is absent; ~"TEXT" the text contains TEXT
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "calread_test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Expectations {
    std::string source, switches, sortField;
    std::vector<std::string> checks;
};

Expectations ReadExpectations(const fs::path &expectFile) {
    Expectations e;
    std::ifstream in(expectFile);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::string word = line.substr(0, line.find(' '));
        std::string rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
        if (word == "source")
            e.source = rest;
        else if (word == "switches")
            e.switches = rest;
        else if (word == "sorted")
            e.sortField = rest;
        else
            e.checks.push_back(line);
    }
    if (e.source.empty()) {
        std::string stem = expectFile.stem().string();
        for (const char *ext : {".ics", ".vcs", ".txt"})
            if (fs::exists(expectFile.parent_path() / (stem + ext))) e.source = "calendar:" + stem + ext;
    }
    return e;
}

// The JSON at a path like "recips[1].name"; nullptr when absent.
const json *At(const json &record, const std::string &path) {
    const json *node = &record;
    std::stringstream steps(path);
    std::string step;
    while (std::getline(steps, step, '.')) {
        size_t bracket = step.find('[');
        std::string key = step.substr(0, bracket);
        if (!node->is_object() || !node->contains(key)) return nullptr;
        node = &(*node)[key];
        if (bracket == std::string::npos) continue;
        size_t index = std::stoul(step.substr(bracket + 1));
        if (!node->is_array() || index >= node->size()) return nullptr;
        node = &(*node)[index];
    }
    return node;
}

void CheckLine(const std::string &check, const bvtest::CalendarDump &dump) {
    std::istringstream in(check);
    std::string first, second;
    in >> first >> second;
    std::string value;
    std::getline(in >> std::ws, value);
    if (first == "statuses") {
        std::string seen;
        for (int s : dump.statuses) seen += (seen.empty() ? "" : ",") + std::to_string(s);
        EXPECT_EQ(seen, second) << check;
        return;
    }
    if (first == "folders") {
        EXPECT_NE(dump.folders.find(second + " " + value), std::string::npos) << check << "\n" << dump.folders;
        return;
    }
    if (first == "statuscount") {
        EXPECT_EQ(std::count(dump.statuses.begin(), dump.statuses.end(), std::stoi(second)), std::stoi(value))
            << check;
        return;
    }
    size_t item = std::stoul(first);
    ASSERT_LT(item, dump.records.size()) << check;
    const json *field = At(dump.records[item], second);
    if (value == "-") {
        EXPECT_TRUE(field == nullptr) << check << " got " << field->dump();
    } else if (value[0] == '~') {
        ASSERT_TRUE(field != nullptr) << check;
        EXPECT_NE(field->get<std::string>().find(json::parse(value.substr(1)).get<std::string>()), std::string::npos)
            << check << " got " << field->dump();
    } else {
        ASSERT_TRUE(field != nullptr) << check;
        EXPECT_EQ(*field, json::parse(value)) << check;
    }
}

TEST(CalendarCases, EveryCaseFileReadsAsExpected) {
    fs::path cases = fs::path(BV_CALREAD_DATA) / "cases";
    int seen = 0;
    for (const auto &entry : fs::directory_iterator(cases)) {
        if (entry.path().extension() != ".expect") continue;
        SCOPED_TRACE(entry.path().filename().string());
        Expectations e = ReadExpectations(entry.path());
        ASSERT_FALSE(e.source.empty());
        size_t colon = e.source.find(':');
        std::string source = e.source.substr(0, colon + 1) + (cases / e.source.substr(colon + 1)).string();
        bvtest::CalendarDump dump = bvtest::DumpCalendar(source, e.switches);
        ASSERT_EQ(dump.exitStatus, 0) << dump.log;
        if (!e.sortField.empty())
            std::sort(dump.records.begin(), dump.records.end(), [&](const json &a, const json &b) {
                return a.value(e.sortField, "") < b.value(e.sortField, "");
            });
        for (const std::string &check : e.checks) CheckLine(check, dump);
        seen++;
    }
    EXPECT_GE(seen, 10);
}

}  // namespace
