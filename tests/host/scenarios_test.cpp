// bvhost run as a user runs it, one scenario a file data/scenarios/NAME.tsv:
// the files it starts from, its command lines, and what each run leaves.
// Rows (tab-separated, C escapes; $DIR: the scenario's scratch directory,
// $DATA: tests/host/data, $BIN: the build's programs, $SRC: the source tree;
// a TEXT "@NAME" stands for the file $DATA/NAME):
//   write PATH TEXT [TIMES]   appends TEXT to PATH
//   fifo PATH | link PATH TARGET | dir PATH
//   run COMMAND               a shell command line; its status, out and err are kept
//   WHAT = TEXT | WHAT ~ TEXT | WHAT !~ TEXT | WHAT # TEXT N (TEXT occurs N times)
// WHAT: status, out, err, or a PATH; a directory stands for its message
// files (those in cur/ and new/), each after a line "=== FOLDER".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/case_table.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = BV_SOURCE_DIR "/tests/host/data";

std::string MessagesUnder(const fs::path &root) {
    std::vector<fs::path> files;
    for (auto &entry : fs::recursive_directory_iterator(root)) {
        std::string leaf = entry.path().parent_path().filename().string();
        if (entry.is_regular_file() && (leaf == "cur" || leaf == "new")) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::string text;
    for (const fs::path &file : files)
        text += "=== " + file.parent_path().parent_path().filename().string() + "\n" + bvtest::ReadFileText(file);
    return text;
}

class Scenario : public ::testing::TestWithParam<std::string> {
protected:
    std::string Expand(std::string text) const {
        const std::pair<std::string, std::string> names[] = {
            {"$DIR", scratch_.Path().string()}, {"$DATA", kData}, {"$BIN", BV_BINARY_DIR "/bin"}, {"$SRC", BV_SOURCE_DIR}};
        for (const auto &[name, value] : names)
            for (size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, name.size(), value);
        return text;
    }
    std::string TextOf(const std::string &what) const {
        if (what == "status") return std::to_string(run_.status);
        if (what == "out" || what == "err") return what == "out" ? run_.out : run_.err;
        fs::path path = Expand(what);
        return fs::is_directory(path) ? MessagesUnder(path) : bvtest::ReadFileText(path);
    }
    // TEXT, or the file $DATA/NAME for "@NAME".
    static std::string TextOrFile(const std::string &text) {
        return text[0] == '@' ? bvtest::ReadFileText(kData + "/" + text.substr(1)) : text;
    }
    void Do(const bvtest::CaseRow &row) {
        const std::string &step = row[0];
        fs::path path = Expand(row[1]);
        if (step == "write") {
            fs::create_directories(path.parent_path());
            std::string text = TextOrFile(row[2]);
            std::string whole = bvtest::ReadFileText(path);
            for (int i = 0; i < std::max(1, row.Int(3)); i++) whole += text;
            bvtest::WriteFileText(path, whole);
        } else if (step == "fifo") {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << row.Where();
        } else if (step == "link") {
            fs::create_symlink(Expand(row[2]), path);
        } else if (step == "dir") {
            fs::create_directories(path);
        } else if (step == "run") {
            run_ = bvtest::RunProgram(Expand(row[1]), scratch_.Path());
        } else {
            Check(row);
        }
    }
    void Check(const bvtest::CaseRow &row) {
        std::string text = TextOf(row[0]), expected = Expand(TextOrFile(row[2]));
        SCOPED_TRACE(row.Where() + " " + row[1] + " " + expected.substr(0, 300) + "\nout: " + run_.out +
                     "\nerr: " + run_.err + "\n" + row[0] + ": " + text.substr(0, 3000));
        if (row[1] == "=") {
            EXPECT_EQ(text, expected);
        } else if (row[1] == "~" || row[1] == "!~") {
            EXPECT_EQ(text.find(expected) != std::string::npos, row[1] == "~");
        } else {
            EXPECT_EQ(row[1] == "#" ? bvtest::CountOf(text, expected) : -1, row.Int(3)) << "unknown step";
        }
    }
    bvtest::TempDir scratch_{"bvscenario"};
    bvtest::ProgramRun run_;
};

TEST_P(Scenario, RunsAsWritten) {
    ASSERT_FALSE(scratch_.Path().empty());
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(kData + "/scenarios/" + GetParam() + ".tsv")) {
        Do(row);
        if (HasFatalFailure()) return;
    }
}

std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    for (auto &entry : fs::directory_iterator(kData + "/scenarios")) names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Bvhost, Scenario, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

}  // namespace
