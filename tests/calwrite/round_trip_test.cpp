// Calendars and task lists through `bvhost migrate` (the module's reader on
// one side, its writer on the other) and read again by libical: what the
// source says about every event must be what the written file says, in the
// vCalendar layout and in the one-object-per-event layout with zones.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

#include "ical_facts.h"
#include "support/case_table.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace bvtest {
namespace {

namespace fs = std::filesystem;

const fs::path kData = BV_CALWRITE_TEST_DIR "/data";

struct Layout {
    const char *extension;
    const char *switches;
};
// "/D288" gathers the entries of one UID into a series with its changed
// occurrences, as the writer needs them; "/UTF8": the files are UTF-8.
const Layout kLayouts[] = {{"vcs", "/UTF8 /D288"}, {"ics", "/UTF8 /D288 /D301"}};

// Lines of the source that the written file lacks ("-") and lines it has
// that the source lacks ("+"); empty when both say the same.
std::string ItemDifferences(const std::vector<std::string> &source, const std::vector<std::string> &written) {
    std::vector<std::string> lost, added;
    std::set_difference(source.begin(), source.end(), written.begin(), written.end(), std::back_inserter(lost));
    std::set_difference(written.begin(), written.end(), source.begin(), source.end(), std::back_inserter(added));
    std::string out;
    for (const std::string &line : lost) out += "- " + line + "\n";
    for (const std::string &line : added) out += "+ " + line + "\n";
    return out;
}

// The items of one component ("VEVENT" or "VTODO").
std::vector<std::string> ItemsOf(const std::vector<std::string> &items, const std::string &component) {
    std::vector<std::string> out;
    for (const std::string &item : items)
        if (item.rfind(component + " ", 0) == 0) out.push_back(item);
    return out;
}

// Migrates the source's events ("calendar") or tasks ("tasks") into a file
// of each layout and compares libical's reading of both; returns the files
// written and, per layout, the differences (empty when none).
std::vector<fs::path> RoundTrip(const char *kind, const fs::path &source, const fs::path &scratch,
                                std::string *differences) {
    std::vector<fs::path> written;
    std::string component = std::string(kind) == "tasks" ? "VTODO" : "VEVENT";
    std::vector<std::string> before = ItemsOf(ReadCalendarFacts(source).items, component);
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(source.filename().string() + " -> " + kind + " ." + layout.extension);
        std::string name = source.stem().string() + "-" + kind;
        fs::path out = scratch / (name + "." + layout.extension);
        fs::remove(out);
        ProgramRun run = RunProgram(BuildProgram("bvhost") + " migrate --source " + kind + ":" +
                                        ShellQuote(source.string()) + " --target " + kind + ":" +
                                        ShellQuote(out.string()) + " --switches " + ShellQuote(layout.switches) +
                                        " --work-dir " + ShellQuote((scratch / ("work-" + name + layout.extension)).string()),
                                    scratch);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        CalendarFacts after = ReadCalendarFacts(out);
        EXPECT_EQ(after.parseErrors, 0) << after.errorText;
        std::string found = ItemDifferences(before, after.items);
        if (!found.empty()) *differences += std::string(".") + layout.extension + ":\n" + found;
        written.push_back(out);
    }
    return written;
}

TEST(CalendarRoundTrip, HandWrittenCalendars) {
    TempDir scratch("bvcalrt");
    std::string differences;
    std::vector<fs::path> written = RoundTrip("calendar", kData / "meetings.ics", scratch.Path(), &differences);
    std::vector<fs::path> tasks = RoundTrip("tasks", kData / "tasks.ics", scratch.Path(), &differences);
    written.insert(written.end(), tasks.begin(), tasks.end());
    EXPECT_EQ(differences, "");
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

// A directory-per-message store with one calendar and one task folder.
fs::path WriteStore(const fs::path &root) {
    const std::string head = "Subject: x\r\nContent-Type: text/calendar; charset=utf-8; component=";
    WriteFileText(root / "Calendar" / "status.fld", "WIPF.Appointment");
    WriteFileText(root / "Tasks" / "status.fld", "WIPF.Task");
    WriteFileText(root / "Calendar" / "#msgs" / "1.eml",
                  head + "vevent\r\n\r\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e1\r\n"
                         "SUMMARY:Team meeting\r\nDTSTART:20240115T140000Z\r\nDTEND:20240115T150000Z\r\n"
                         "END:VEVENT\r\nEND:VCALENDAR\r\n");
    WriteFileText(root / "Tasks" / "#msgs" / "1.eml",
                  head + "vtodo\r\n\r\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:t1\r\n"
                         "SUMMARY:Write report\r\nDUE:20240120T100000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    return root;
}

// Every source kind into every calendar target kind and layout: the file
// parses and holds the items of the folders that fit the target.
TEST(CalendarRoundTrip, TargetsFromEverySource) {
    TempDir scratch("bvcaltargets");
    const fs::path store = WriteStore(scratch.Path() / "store");
    struct Case {
        std::string source;
        const char *target;  // kind
        int items;
        const char *firstItem;  // start of the first libical line
    };
    const Case cases[] = {
        {"calendar:" + (kData / "meetings.ics").string(), "calendar", 9, "VEVENT start=20050320T150000Z"},
        {"tasks:" + (kData / "tasks.ics").string(), "tasks", 2, "VTODO start=- end=20240531T170000Z summary=Buy milk"},
        {"kerio:" + store.string(), "calendar", 1, "VEVENT start=20240115T140000Z end=20240115T150000Z summary=Team meeting"},
        {"kerio:" + store.string(), "tasks", 1, "VTODO start=- end=20240120T100000Z summary=Write report"},
    };
    int run = 0;
    std::vector<fs::path> written;
    for (const Case &c : cases) {
        for (const Layout &layout : kLayouts) {
            SCOPED_TRACE(c.source + " -> " + c.target + " ." + layout.extension);
            fs::path out = scratch.Path() / ("out" + std::to_string(++run) + "." + layout.extension);
            ProgramRun migrate = RunProgram(BuildProgram("bvhost") + " migrate --source " + ShellQuote(c.source) +
                                                " --target " + c.target + ":" + ShellQuote(out.string()) +
                                                " --switches " + ShellQuote(layout.switches) + " --work-dir " +
                                                ShellQuote((scratch.Path() / ("work" + std::to_string(run))).string()),
                                            scratch.Path());
            ASSERT_EQ(migrate.status, 0) << migrate.out << migrate.err;
            CalendarFacts facts = ReadCalendarFacts(out);
            EXPECT_EQ(facts.parseErrors, 0) << facts.errorText;
            ASSERT_EQ((int)facts.items.size(), c.items) << ReadFileText(out);
            EXPECT_EQ(facts.items[0].rfind(c.firstItem, 0), 0u) << facts.items[0];
            written.push_back(out);
        }
    }
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

// Corpus files whose round trip differs from the source, with the reason.
std::map<std::string, std::string> KnownDifferences() {
    std::map<std::string, std::string> known;
    for (const CaseRow &row : ReadCaseTable((kData / "corpus_differences.tsv").string())) known[row[0]] = row[1];
    return known;
}

TEST(CalendarRoundTrip, CorpusCalendars) {
    fs::path corpus = fs::path(BV_CORPUS_DIR) / "ics";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    TempDir scratch("bvcalcorpus");
    const std::map<std::string, std::string> known_differences = KnownDifferences();
    std::vector<fs::path> written;
    std::vector<fs::path> sources;
    for (const fs::directory_entry &entry : fs::directory_iterator(corpus)) sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end());
    for (const fs::path &source : sources) {
        std::string name = source.filename().string(), differences;
        std::string text = ReadFileText(source);
        for (const char *kind : {"calendar", "tasks"}) {
            if (std::string(kind) == "tasks" && text.find("BEGIN:VTODO") == std::string::npos) continue;
            std::vector<fs::path> files = RoundTrip(kind, source, scratch.Path(), &differences);
            written.insert(written.end(), files.begin(), files.end());
        }
        bool known = known_differences.count(name) != 0;
        EXPECT_EQ(differences.empty(), !known) << name << (known ? " now round-trips: drop it from the list" : "")
                                               << "\n" << differences;
    }
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

}  // namespace
}  // namespace bvtest
