// bvhost run as a program: help, usage errors, logon failures, the work
// directory and the log.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

class BvhostTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "bvclitest-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "tmp");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string Read(const fs::path &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Runs bvhost with TMPDIR inside the scratch directory.
    Outcome Bvhost(const std::string &args) {
        std::string command = "TMPDIR='" + (dir_ / "tmp").string() + "' '" + std::string(BV_BINARY_DIR) +
                              "/bin/bvhost' " + args + " >'" + (dir_ / "out.txt").string() + "' 2>'" +
                              (dir_ / "err.txt").string() + "' </dev/null";
        Outcome run;
        int raw = system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = Read(dir_ / "out.txt");
        run.err = Read(dir_ / "err.txt");
        return run;
    }
    static int Lines(const std::string &text) {
        int lines = 0;
        for (char c : text) lines += c == '\n';
        return lines;
    }
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
    std::string log = Read(dir_ / "module.log");
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
    EXPECT_NE(Read(dir_ / "module.log").find(", Checkvalue=1, Tag=VCSZ\n"), std::string::npos);
}

}  // namespace
