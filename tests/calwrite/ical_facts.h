// What a calendar file says, as libical reads it: one line per VEVENT or
// VTODO with its instants in UTC, texts, recurrence and alarms, so that two
// files can be compared whatever their layout.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bvtest {

struct CalendarFacts {
    int parseErrors = 0;  // X-LIC-ERROR properties libical added, except for empty values
    std::vector<std::string> items;  // sorted
    std::string errorText;
};

// Every VEVENT and VTODO of the file, or those of one `component` only.
CalendarFacts ReadCalendarFacts(const std::filesystem::path &file, const char *component = nullptr);

// python3-icalendar's reading: empty when it parsed every file, else a line
// per file that it did not parse.
std::string PythonParseErrors(const std::vector<std::filesystem::path> &files, const std::filesystem::path &scratch);

}  // namespace bvtest
