// Calendars and task lists through `bvhost migrate` (the module's reader on
// one side, its writer on the other) and read again by libical: what the
// source says about every event must be what the written file says, in the
// vCalendar layout and in the one-object-per-event layout with zones.
#include <gtest/gtest.h>

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

// Migrates `source` into a file of each layout and compares libical's
// reading of both; returns the files written.
std::vector<fs::path> RoundTrip(const char *kind, const fs::path &source, const fs::path &scratch) {
    std::vector<fs::path> written;
    CalendarFacts before = ReadCalendarFacts(source);
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(source.filename().string() + " -> ." + layout.extension);
        fs::path out = scratch / (source.stem().string() + "." + layout.extension);
        fs::remove(out);
        ProgramRun run = RunProgram(BuildProgram("bvhost") + " migrate --source " + kind + ":" +
                                        ShellQuote(source.string()) + " --target " + kind + ":" +
                                        ShellQuote(out.string()) + " --switches " + ShellQuote(layout.switches) +
                                        " --work-dir " + ShellQuote((scratch / ("work-" + source.stem().string() + layout.extension)).string()),
                                    scratch);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        CalendarFacts after = ReadCalendarFacts(out);
        EXPECT_EQ(after.parseErrors, 0) << after.errorText;
        EXPECT_EQ(after.items, before.items) << ReadFileText(out);
        written.push_back(out);
    }
    return written;
}

TEST(CalendarRoundTrip, HandWrittenCalendars) {
    TempDir scratch("bvcalrt");
    std::vector<fs::path> written = RoundTrip("calendar", kData / "meetings.ics", scratch.Path());
    std::vector<fs::path> tasks = RoundTrip("tasks", kData / "tasks.ics", scratch.Path());
    written.insert(written.end(), tasks.begin(), tasks.end());
    EXPECT_EQ(PythonParseErrors(written, scratch.Path()), "");
}

}  // namespace
}  // namespace bvtest
