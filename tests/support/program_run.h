// Running the build's programs (bvhost, the fixture writers) through the
// shell with their output captured.
#pragma once

#include <filesystem>
#include <string>

namespace bvtest {

struct ProgramRun {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out, err;
};

// text in single quotes for the shell.
std::string ShellQuote(const std::string &text);
// A program of the build's bin directory.
std::string BuildProgram(const std::string &name);
// Runs the command line (a pipeline or list too) with stdin from /dev/null; stdout and stderr go
// through files in scratch ("out.txt", "err.txt") and are returned.
ProgramRun RunProgram(const std::string &commandLine, const std::filesystem::path &scratch);

}  // namespace bvtest
