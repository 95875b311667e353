#include "support/program_run.h"

#include <stdlib.h>
#include <sys/wait.h>

#include "support/file_text.h"

namespace bvtest {

std::string ShellQuote(const std::string &text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::string BuildProgram(const std::string &name) { return std::string(BV_BINARY_DIR) + "/bin/" + name; }

ProgramRun RunProgram(const std::string &commandLine, const std::filesystem::path &scratch) {
    std::filesystem::path outPath = scratch / "out.txt", errPath = scratch / "err.txt";
    std::string command = "(" + commandLine + "\n)";  // the redirections hold for a whole pipeline
    command += " >" + ShellQuote(outPath.string());
    command += " 2>" + ShellQuote(errPath.string());
    command += " </dev/null";
    ProgramRun run;
    int raw = system(command.c_str());
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFileText(outPath);
    run.err = ReadFileText(errPath);
    return run;
}

}  // namespace bvtest
