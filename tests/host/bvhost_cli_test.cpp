// bvhost run as a program: help, usage errors, logon failures, the work
// directory and the log.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <string>

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
    static int Lines(const std::string &text) {
        int lines = 0;
        for (char c : text) lines += c == '\n';
        return lines;
    }
    bvtest::TempDir scratch_{"bvclitest"};
    fs::path dir_;
};

TEST_F(BvhostTest, HelpNamesTheCommandsAndKinds) {
    Outcome run = Bvhost("--help");
    EXPECT_EQ(run.status, 0);
    for (const char *word : {"folders", "migrate", "dump", "oe-dir:DIR", "kerio:DIR", "contacts:FILE"})
        EXPECT_NE(run.out.find(word), std::string::npos) << word << "\n" << run.out;

    run = Bvhost("dump --help");
    EXPECT_EQ(run.status, 0);
    for (const char *option : {"--source", "--out", "--folder", "--switches", "--tag", "--upcoming", "--work-dir",
                               "--keep-work", "--log", "--verbose", "--max-read"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option << "\n" << run.out;
}

TEST_F(BvhostTest, UsageErrorsAreOneClearLine) {
    Outcome run = Bvhost("folders --source oe-dir:" + (dir_ / "missing").string());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "bvhost: source oe-dir:" + (dir_ / "missing").string() +
                           ": no such directory (oe-dir expects a directory of DBX/MBX files)\n");
    EXPECT_EQ(run.out, "");

    run = Bvhost("folders --source pst:/x");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "bvhost: unknown source kind 'pst'; valid source kinds: oe-dir, oe, contacts, calendar, "
                       "tasks, kerio (as KIND:PATH)\n");

    run = Bvhost("migrate --source oe-dir:" + dir_.string() + " --target kerio:" + dir_.string());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("valid target kinds: oe, contacts, calendar, tasks"), std::string::npos) << run.err;

    run = Bvhost("folders");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--source"), std::string::npos) << run.err;

    run = Bvhost("");
    EXPECT_EQ(run.status, 2);
}

TEST_F(BvhostTest, LogonFailureNamesTheResult) {
    fs::create_directories(dir_ / "empty");
    Outcome run = Bvhost("folders --source oe-dir:" + (dir_ / "empty").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "bvhost: Logon of the source oe-dir:" + (dir_ / "empty").string() +
                           " failed: result 3 (source or target not found or not usable)\n");
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
