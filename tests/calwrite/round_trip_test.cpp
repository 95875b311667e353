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

// Corpus files whose round trip differs from the source for a reason that
// lies in the source or in what the written layout can hold.
const std::map<std::string, const char *> kKnownDifferences = {
};

TEST(CalendarRoundTrip, CorpusCalendars) {
    fs::path corpus = fs::path(BV_CORPUS_DIR) / "ics";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    TempDir scratch("bvcalcorpus");
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
        bool known = kKnownDifferences.count(name) != 0;
        EXPECT_EQ(differences.empty(), !known) << name << (known ? " now round-trips: drop it from the list" : "")
                                               << "\n" << differences;
    }
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

}  // namespace
}  // namespace bvtest
