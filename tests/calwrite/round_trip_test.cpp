// Calendars and task lists through `bvhost migrate` (the module's reader on
// one side, its writer on the other) and read again by libical: what the
// source says about every event must be what the written file says, in the
// vCalendar layout and in the one-object-per-event layout with zones.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <tuple>
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

// "/D288" gathers the entries of one UID into a series with its changed
// occurrences, as the writer needs them; "/UTF8": the files are UTF-8.
const std::pair<const char *, const char *> kLayouts[] = {{"vcs", "/UTF8 /D288"}, {"ics", "/UTF8 /D288 /D301"}};

// Lines of the source that the written file lacks ("-") and lines it has
// that the source lacks ("+"); empty when both say the same.
std::string ItemDifferences(const std::vector<std::string> &source, const std::vector<std::string> &written) {
    std::string out;
    for (auto [from, to, mark] : {std::tuple(&source, &written, "- "), std::tuple(&written, &source, "+ ")}) {
        std::vector<std::string> only;
        std::set_difference(from->begin(), from->end(), to->begin(), to->end(), std::back_inserter(only));
        for (const std::string &line : only) out += mark + line + "\n";
    }
    return out;
}

// Migrates the events ("calendar") or tasks ("tasks") of `source` (KIND:PATH)
// into a file of each layout (added to `written`) and compares libical's
// reading of each with its reading of `facts`, the source's calendar text;
// returns the differences of each layout, empty when they agree.
std::string RoundTrip(const char *kind, const std::string &source, const fs::path &facts, const fs::path &scratch,
                      std::vector<fs::path> *written) {
    const char *component = std::string(kind) == "tasks" ? "VTODO" : "VEVENT";
    std::vector<std::string> before = ReadCalendarFacts(facts, component).items;
    std::string differences;
    for (auto [extension, switches] : kLayouts) {
        std::string name = facts.stem().string() + "-" + kind + "." + extension;
        SCOPED_TRACE(source + " -> " + name);
        fs::path out = scratch / name;
        ProgramRun run = RunProgram(BuildProgram("bvhost") + " migrate --source " + ShellQuote(source) + " --target " +
                                        kind + ":" + ShellQuote(out.string()) + " --switches " +
                                        ShellQuote(switches) + " --work-dir " +
                                        ShellQuote((scratch / ("work-" + name)).string()),
                                    scratch);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        CalendarFacts after = ReadCalendarFacts(out);
        EXPECT_EQ(after.parseErrors, 0) << after.errorText;
        std::string found = ItemDifferences(before, after.items);
        if (!found.empty()) differences += std::string(".") + extension + ":\n" + found;
        written->push_back(out);
    }
    return differences;
}

// The hand-written calendar and task list, and a directory-per-message
// store with a calendar and a task folder (each target takes the folder
// that fits it).
TEST(CalendarRoundTrip, HandWrittenCalendars) {
    TempDir scratch("bvcalrt");
    std::vector<fs::path> written;
    const fs::path store = kData / "store";
    const std::tuple<const char *, std::string, fs::path> cases[] = {
        {"calendar", "calendar:" + (kData / "meetings.ics").string(), kData / "meetings.ics"},
        {"tasks", "tasks:" + (kData / "tasks.ics").string(), kData / "tasks.ics"},
        {"calendar", "kerio:" + store.string(), store / "Calendar/#msgs/1.eml"},
        {"tasks", "kerio:" + store.string(), store / "Tasks/#msgs/1.eml"}};
    for (auto [kind, source, facts] : cases) EXPECT_EQ(RoundTrip(kind, source, facts, scratch.Path(), &written), "");
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

// Every corpus file round-trips, or is listed with the reason why not.
TEST(CalendarRoundTrip, CorpusCalendars) {
    fs::path corpus = fs::path(BV_CORPUS_DIR) / "ics";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    TempDir scratch("bvcalcorpus");
    std::set<std::string> listed;
    for (const CaseRow &row : ReadCaseTable((kData / "corpus_differences.tsv").string())) listed.insert(row[0]);
    std::vector<fs::path> written, sources;
    for (const fs::directory_entry &entry : fs::directory_iterator(corpus)) sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end());
    for (const fs::path &source : sources) {
        std::string name = source.filename().string(), differences;
        bool tasks = ReadFileText(source).find("BEGIN:VTODO") != std::string::npos;
        for (const char *kind : {"calendar", "tasks"})
            if (kind[0] == 'c' || tasks)
                differences += RoundTrip(kind, kind + (":" + source.string()), source, scratch.Path(), &written);
        bool known = listed.count(name) != 0;
        EXPECT_EQ(differences.empty(), !known) << name << (known ? " now round-trips: drop it from the list" : "")
                                               << "\n" << differences;
    }
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

}  // namespace
}  // namespace bvtest
