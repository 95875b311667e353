#include "calread_test_support.h"

#include <fstream>

#include "support/file_text.h"
#include "support/program_run.h"

namespace bvtest {

CalendarDump DumpCalendar(const std::string &source, const std::string &switches, const std::string &extraOptions) {
    TempDir scratch("bvcalread");
    CalendarDump dump;
    std::string dir = scratch.Path().string();
    std::string common = " --source " + ShellQuote(source) + " --log " + ShellQuote(dir + "/log.txt") +
                         " --work-dir " + ShellQuote(dir + "/work") + " " + extraOptions;
    if (!switches.empty()) common += " --switches " + ShellQuote(switches);
    std::string host = ShellQuote(BuildProgram("bvhost"));
    ProgramRun folders = RunProgram(host + " folders" + common, scratch.Path());
    dump.folders = folders.out;
    ProgramRun run = RunProgram(host + " dump --out " + ShellQuote(dir + "/out.jsonl") + common, scratch.Path());
    dump.exitStatus = run.status;
    dump.log = ReadFileText(scratch.Path() / "log.txt") + run.err;
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

}  // namespace bvtest
