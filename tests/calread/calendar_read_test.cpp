// Calendar and task sources read through bvhost folders and dump: one case a
// file pair in data/cases, sources that need a loopback server, and hostile
// input that must end with a warning and lose no other entry.
//
// The case files: the source (NAME.ics, .vcs, .txt or a directory) and
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

#include "http/loopback.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct CalendarDump {
    int exitStatus = -1;
    std::vector<nlohmann::json> records;  // in hand-over order
    std::vector<int> statuses;
    std::string folders;  // the folders command's output
    std::string log;
};

// bvhost folders and dump of KIND:PATH with the switch string; the work
// directory and log live in a scratch directory.
CalendarDump DumpCalendar(const std::string &source, const std::string &switches = "") {
    bvtest::TempDir scratch("bvcalread");
    CalendarDump dump;
    std::string dir = scratch.Path().string();
    std::string common = " --source " + bvtest::ShellQuote(source) + " --log " + bvtest::ShellQuote(dir + "/log.txt") +
                         " --work-dir " + bvtest::ShellQuote(dir + "/work") + " ";
    if (!switches.empty()) common += " --switches " + bvtest::ShellQuote(switches);
    std::string host = bvtest::ShellQuote(bvtest::BuildProgram("bvhost"));
    bvtest::ProgramRun folders = bvtest::RunProgram(host + " folders" + common, scratch.Path());
    dump.folders = folders.out;
    bvtest::ProgramRun run =
        bvtest::RunProgram(host + " dump --out " + bvtest::ShellQuote(dir + "/out.jsonl") + common, scratch.Path());
    dump.exitStatus = run.status;
    dump.log = bvtest::ReadFileText(scratch.Path() / "log.txt") + run.err;
    std::ifstream in(scratch.Path() / "out.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        if (object.is_discarded()) continue;
        if (object.value("type", "") == "item") dump.records.push_back(object["record"]);
        if (object.value("type", "") == "status") dump.statuses.push_back(object.value("status", -1));
    }
    return dump;
}

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

void CheckLine(const std::string &check, const CalendarDump &dump) {
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
        CalendarDump dump = DumpCalendar(source, e.switches);
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


std::string Event(const std::string &uid, const std::string &summary, const std::string &extra = "") {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + summary + "\r\nDTSTART:20240301T100000Z\r\n" + extra +
           "END:VEVENT\r\n";
}
std::string Calendar(const std::string &body) { return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + body + "END:VCALENDAR\r\n"; }

std::string Titles(const CalendarDump &dump) {
    std::string titles;
    for (const auto &record : dump.records) titles += record.value("title", "") + ";";
    return titles;
}

std::string Statuses(const CalendarDump &dump) {
    std::string text;
    for (int s : dump.statuses) text += std::to_string(s);
    return text;
}

const char *kListingPage =
    "<!DOCTYPE html><html><body><table>\n"
    "<tr><td><a href=\"/sabre/caldav.php/calendars/u/home/one.ics?export\">one.ics</a></td></tr>\n"
    "<tr><td><a href=\"/sabre/caldav.php/calendars/u/home/two%20b.ics?export\">two b.ics</a></td></tr>\n"
    "</table></body></html>\n";

class CalendarServer : public ::testing::Test {
  protected:
    void SetUp() override {
        auto text = [](const std::string &body, const char *type = "text/calendar") {
            return [body, type](const httplib::Request &, httplib::Response &res) { res.set_content(body, type); };
        };
        server_.Routes().Get("/sabre/caldav.php/calendars/u/home/", text(kListingPage, "text/html"));
        server_.Routes().Get("/sabre/caldav.php/calendars/u/home/one.ics", text(Calendar(Event("1", "One"))));
        server_.Routes().Get("/sabre/caldav.php/calendars/u/home/two b.ics", text(Calendar(Event("2", "Two"))));
        server_.Routes().Get("/cal/Calendar", text(Calendar(Event("3", "Main") + Event("4", "Main 2"))));
        server_.Routes().Get("/cal/Work", text(Calendar(Event("5", "Work item"))));
        server_.Routes().Get("/tasks.ics", text(Calendar(Event("6", "Event among tasks") +
                                                         "BEGIN:VTODO\r\nUID:7\r\nSUMMARY:Task\r\nEND:VTODO\r\n")));
        server_.Start();
    }
    bvtest::LoopbackServer server_;
    bvtest::TempDir scratch_{"bvcalsrc"};
};

TEST_F(CalendarServer, ListingPagesAddressesAndListedFoldersAreRead) {
    CalendarDump listing = DumpCalendar("calendar:" + server_.Url("/sabre/caldav.php/calendars/u/home/"));
    EXPECT_EQ(Titles(listing), "One;Two;") << listing.log;
    EXPECT_EQ(listing.folders.find("Calendar {BV:2:FCLASS:2}") != std::string::npos, true) << listing.folders;
    EXPECT_NE(listing.log.find("Downloading file " + server_.Url("/sabre/caldav.php/calendars/u/home/one.ics")),
              std::string::npos);

    CalendarDump tasks = DumpCalendar("tasks:" + server_.Url("/tasks.ics"));
    EXPECT_EQ(Titles(tasks), "Task;");
    EXPECT_EQ(Statuses(tasks), "60");
    EXPECT_NE(tasks.folders.find("Tasks {BV:1:FCLASS:3}"), std::string::npos) << tasks.folders;

    // A "/ZFOLDERS" list: one folder per line, its address made from the session's.
    std::string list = (scratch_.Path() / "folders.txt").string();
    bvtest::WriteFileText(list, "Folders:\nWork^any=12=2\n");
    CalendarDump listed =
        DumpCalendar("calendar:" + server_.Url("/cal/Calendar?fmt=ics"), "/ZFOLDERS " + list);
    EXPECT_NE(listed.folders.find("Work {BV:12:FCLASS:2}"), std::string::npos) << listed.folders;
    EXPECT_EQ(Titles(listed), "Work item;") << listed.log;

    CalendarDump plain = DumpCalendar("calendar:" + server_.Url("/cal/Calendar?fmt=ics"));
    EXPECT_EQ(Titles(plain), "Main;Main 2;");
    EXPECT_NE(plain.folders.find("Calendar {BV:2:FCLASS:2}"), std::string::npos) << plain.folders;
}

struct HostileCase {
    const char *name;
    std::string text;
    const char *statuses;  // one digit per status, in order
    const char *titles;
    const char *warning;   // in the log
};

TEST(CalendarHostileInput, EndsWithAWarningAndLosesNoOtherEntry) {
    std::string bigLine = "DESCRIPTION:" + std::string(10 * 1024 * 1024, 'x') + "\r\n";
    std::string attendees;
    for (int i = 0; i < 100000; i++) attendees += "ATTENDEE;CN=P" + std::to_string(i) + ":mailto:p@x\r\n";
    std::string junk;
    for (int i = 0; i < 200000; i++) junk += (char)((i * 7919 + 13) % 256);
    const HostileCase cases[] = {
        {"unterminated", Calendar(Event("1", "Good")) + "BEGIN:VEVENT\r\nSUMMARY:Cut", "06", "Good;", "has no end line"},
        {"begin_without_end", Calendar("BEGIN:VEVENT\r\nSUMMARY:Open\r\n" + Event("2", "Next")), "60", "Next;",
         "has no end line"},
        {"ten_megabyte_line", Calendar(Event("3", "Long", bigLine) + Event("4", "After")), "00", "Long;After;",
         "longer than"},
        {"many_attendees", Calendar(Event("5", "Crowd", attendees) + Event("6", "After")), "00", "Crowd;After;",
         "beyond the limit"},
        {"binary_junk", junk + "\r\n" + Calendar(Event("7", "Survivor")) + junk, "0", "Survivor;", ""},
    };
    bvtest::TempDir dir("bvcalhostile");
    for (const HostileCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = (dir.Path() / (std::string(c.name) + ".ics")).string();
        bvtest::WriteFileText(path, c.text);
        CalendarDump dump = DumpCalendar("calendar:" + path, "/UTF8");
        EXPECT_EQ(dump.exitStatus, 0);
        EXPECT_EQ(Statuses(dump), c.statuses);
        EXPECT_EQ(Titles(dump), c.titles);
        EXPECT_NE(dump.log.find(c.warning), std::string::npos) << dump.log.substr(0, 2000);
    }
}

}  // namespace
