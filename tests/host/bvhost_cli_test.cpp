// bvhost run as a program: help, usage errors, logon failures, the work
// directory and the log.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/case_table.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Outcome = bvtest::ProgramRun;
using bvtest::ReadFileText;

class BvhostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        dir_ = scratch_.Path();
        fs::create_directories(dir_ / "tmp");
    }
    // Runs bvhost with its default work directory inside the scratch directory.
    Outcome Bvhost(const std::string &args) {
        std::string tmp = bvtest::ShellQuote((dir_ / "tmp").string());
        return bvtest::RunProgram("TMPDIR=" + tmp + " XDG_RUNTIME_DIR=" + tmp + " " +
                                      bvtest::ShellQuote(bvtest::BuildProgram("bvhost")) + " " + args,
                                  dir_);
    }
    bvtest::TempDir scratch_{"bvclitest"};
    fs::path dir_;
};

TEST_F(BvhostTest, RunsOfTheTable) {
    fs::create_directories(dir_ / "empty");
    auto expand = [&](std::string text) {
        for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir_.string());
        return text;
    };
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_SOURCE_DIR "/tests/host/data/cli.tsv")) {
        Outcome run = Bvhost(expand(row[0]));
        SCOPED_TRACE(row.Where() + "\nout: " + run.out + "\nerr: " + run.err);
        EXPECT_EQ(run.status, row.Int(1));
        const std::string &stream = row[2][0] == 'o' ? run.out : run.err;
        if (row[2] == "err=") {
            EXPECT_EQ(run.err, expand(row[3]));
        }
        std::stringstream texts(expand(row[3]));
        for (std::string text; row[2].back() == '~' && std::getline(texts, text, '|');)
            EXPECT_NE(stream.find(text), std::string::npos) << text;
        if (run.status != 2) continue;
        EXPECT_EQ(run.out, "");
        if (row[0].find(':') != std::string::npos) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
        }
    }
}

TEST_F(BvhostTest, WorkDirectoryIsRemovedUnlessKept) {
    std::ofstream(dir_ / "list.csv") << "First Name,Last Name\nAda,Lovelace\n";
    std::string source = " --source contacts:" + (dir_ / "list.csv").string();
    Outcome run = Bvhost("folders" + source + " --log " + (dir_ / "module.log").string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "the default work directory is removed";
    std::string log = ReadFileText(dir_ / "module.log");
    EXPECT_NE(log.find("Running bvole.dll, compile time "), std::string::npos) << log;
    EXPECT_NE(log.find("Outlook Express logon, Param=1, AdrType=2, DB=" + (dir_ / "list.csv").string() +
                       ", Checkvalue=0, Tag=\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("GetLogonParameters BVOLE: DataType=2, AdrType=2, Tag=\n"), std::string::npos) << log;

    run = Bvhost("folders" + source + " --keep-work");
    EXPECT_EQ(run.status, 0);
    int kept = 0;
    for (auto &entry : fs::directory_iterator(dir_ / "tmp")) {
        kept++;
        EXPECT_TRUE(fs::exists(entry.path() / "bvhost.log")) << "the log goes into the work directory";
    }
    EXPECT_EQ(kept, 1);

    run = Bvhost("folders" + source + " --work-dir " + (dir_ / "mine").string());
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(fs::exists(dir_ / "mine" / "bvhost.log")) << "a given work directory stays";
}

TEST_F(BvhostTest, UpcomingAndTagReachTheLogon) {
    std::ofstream(dir_ / "cal.ics") << "BEGIN:VCALENDAR\nEND:VCALENDAR\n";
    Outcome run = Bvhost("folders --source calendar:" + (dir_ / "cal.ics").string() + " --upcoming --tag VCSZ --log " +
                     (dir_ / "module.log").string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(ReadFileText(dir_ / "module.log").find(", Checkvalue=1, Tag=VCSZ\n"), std::string::npos);
}

}  // namespace
