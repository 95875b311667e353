// bvhost end to end on the hand-written store and contact file under
// tests/host/data: folder list, dump, migrations into the Maildir store and
// into a contact file, the duplicate register across runs, --max-read.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/record_json.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using nlohmann::json;
using bvtest::ReadFileText;

namespace {

const std::string kData = std::string(BV_SOURCE_DIR) + "/tests/host/data";

class MigrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        dir_ = scratch_.Path();
    }
    // args: bvhost's arguments, or with wholeCommand the whole command line.
    int Bvhost(const std::string &args, bool wholeCommand = false) {
        std::string command = wholeCommand ? args : bvtest::ShellQuote(bvtest::BuildProgram("bvhost")) + " " + args;
        bvtest::ProgramRun run = bvtest::RunProgram(command, dir_);
        out_ = run.out;
        err_ = run.err;
        return run.status;
    }
    // Message files of the Maildir tree, by folder directory name.
    std::vector<std::pair<std::string, std::string>> Messages(const fs::path &root) {
        std::vector<std::pair<std::string, std::string>> found;
        if (!fs::exists(root)) return found;
        for (auto &entry : fs::recursive_directory_iterator(root)) {
            std::string leaf = entry.path().parent_path().filename().string();
            if (entry.is_regular_file() && (leaf == "cur" || leaf == "new"))
                found.emplace_back(entry.path().parent_path().parent_path().filename().string(), ReadFileText(entry.path()));
        }
        return found;
    }
    bvtest::TempDir scratch_{"bvmigtest"};
    fs::path dir_;
    std::string out_, err_;
};

TEST_F(MigrationTest, DumpHasEveryItemAndStatusInCallOrder) {
    fs::path dump = dir_ / "dump.jsonl";
    ASSERT_EQ(Bvhost("dump --source oe-dir:" + kData + "/oe-dir --out " + dump.string()), 0) << err_;
    std::vector<json> lines;
    std::istringstream in(ReadFileText(dump));
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    ASSERT_EQ(lines.size(), 6u);
    for (size_t i = 0; i < lines.size(); i++) {
        EXPECT_EQ(lines[i]["type"], i % 2 == 0 ? "item" : "status") << i;
        EXPECT_EQ(lines[i]["folder"], 0);
    }
    for (size_t i = 1; i < lines.size(); i += 2) EXPECT_EQ(lines[i]["status"], 0);
    EXPECT_EQ(lines[0]["folderName"], "OE Inbox");
    EXPECT_EQ(lines[0]["item"], 0);
    EXPECT_EQ(lines[4]["item"], 2);

    const json &first = lines[0]["record"];
    EXPECT_EQ(first["subject"], "Engine notes");
    EXPECT_EQ(first["fromAddr"], "ada@example.org");
    EXPECT_EQ(first["messageId"], "<engine-1@example.org>");
    EXPECT_EQ(first["date"], "2024-01-15T14:00:00Z");
    EXPECT_EQ(first["groupFolder"], "root");
    EXPECT_EQ(first["digest"].get<std::string>().size(), 32u);
    ASSERT_TRUE(first.contains("recips"));
    EXPECT_EQ(first["recips"][0]["addr"], "charles@example.org");
    EXPECT_EQ(first["recips"][0]["type"], 3);

    const json &second = lines[2]["record"];
    EXPECT_EQ(second["subject"], "Drawings attached");
    std::ofstream(dir_ / "mill.txt", std::ios::binary) << "The mill and the store.\n";
    std::string millSha = bvhost::FileSha256((dir_ / "mill.txt").string());
    bool attachment = false;
    for (const json &part : second["parts"]) {
        if (part["name"] == "mill.txt") {
            attachment = true;
            EXPECT_EQ(part["size"], 24);
            EXPECT_EQ(part["sha256"], millSha) << part.dump();
        }
    }
    EXPECT_TRUE(attachment) << second.dump();
    EXPECT_EQ(lines[4]["record"]["date"], "2024-01-17T17:05:00Z") << "times are UTC";

    EXPECT_NE(out_.find("folder 0 OE Inbox: 3 items, 0 skipped, "), std::string::npos) << out_;
    EXPECT_NE(out_.find("summary: 1 folders, 3 items, skipped 0 duplicate, 0 date limit, 0 excluded, 0 other, "
                        "failed 0; "),
              std::string::npos)
        << out_;
}

TEST_F(MigrationTest, IntoTheStoreAndASecondRunSkipsDuplicates) {
    fs::path maildir = dir_ / "maildir";
    std::string args = "migrate --source oe-dir:" + kData + "/oe-dir --target oe:" + maildir.string() +
                       " --switches \"/GN Archive\"";
    ASSERT_EQ(Bvhost(args + " --work-dir " + (dir_ / "work").string()), 0) << err_ << out_;
    auto messages = Messages(maildir);
    ASSERT_EQ(messages.size(), 3u) << out_;
    int drawings = 0;
    for (auto &[folder, text] : messages) {
        EXPECT_EQ(folder, ".Archive.OE Inbox") << "the group folder holds the migrated folder";
        drawings += text.find("Subject: Drawings attached") != std::string::npos;
    }
    EXPECT_EQ(drawings, 1);
    EXPECT_NE(out_.find("summary: 1 folders, 3 items, skipped 0 duplicate"), std::string::npos) << out_;

    // The register lives with the target: another work directory resumes too.
    ASSERT_EQ(Bvhost(args + " --work-dir " + (dir_ / "other-work").string()), 0) << err_;
    EXPECT_NE(out_.find("summary: 1 folders, 0 items, skipped 3 duplicate"), std::string::npos) << out_;
    EXPECT_EQ(Messages(maildir).size(), 3u);
}

// Cron mails that differ only in their body, a message without a Date line,
// and a second folder of the same name ("Box.old.mbx") holding a copy: all
// arrive; a second run in another time zone brings none of them again, and
// neither does a run with the same --state into another target.
TEST_F(MigrationTest, TheRegisterKnowsContentNotDatesOrNames) {
    std::string source = " --source oe-dir:" + std::string(BV_SOURCE_DIR) + "/tests/host/data/register";
    ASSERT_EQ(Bvhost("migrate" + source + " --target oe:" + (dir_ / "md").string()), 0) << err_ << out_;
    EXPECT_NE(out_.find("summary: 2 folders, 4 items, skipped 0 duplicate"), std::string::npos) << out_;
    EXPECT_EQ(Messages(dir_ / "md").size(), 4u);
    for (const char *zone : {"America/New_York", "Asia/Kolkata"}) {
        ASSERT_EQ(Bvhost(std::string("TZ=") + zone + " " + bvtest::ShellQuote(bvtest::BuildProgram("bvhost")) +
                             " migrate" + source + " --target oe:" + (dir_ / "md").string(),
                         true),
                  0)
            << err_;
        EXPECT_NE(out_.find("summary: 2 folders, 0 items, skipped 4 duplicate"), std::string::npos) << zone << out_;
    }
    EXPECT_EQ(Messages(dir_ / "md").size(), 4u);

    std::string state = " --state " + (dir_ / "state.txt").string();
    ASSERT_EQ(Bvhost("migrate" + source + " --target oe:" + (dir_ / "a").string() + state), 0) << err_;
    ASSERT_EQ(Bvhost("migrate" + source + " --target oe:" + (dir_ / "b").string() + state), 0) << err_;
    EXPECT_NE(out_.find("0 items, skipped 4 duplicate"), std::string::npos) << out_;
    EXPECT_EQ(Messages(dir_ / "b").size(), 0u);
}

// Two live stores in one process: each instance's store object has its own root.
TEST_F(MigrationTest, FromOneStoreIntoAnother) {
    fs::path first = dir_ / "first", second = dir_ / "second";
    ASSERT_EQ(Bvhost("migrate --source oe-dir:" + kData + "/oe-dir --target oe:" + first.string()), 0) << err_;
    ASSERT_EQ(Bvhost("folders --source oe:" + first.string()), 0) << err_;
    EXPECT_NE(out_.find("OE Inbox {BV:3:FCLASS:0}\n"), std::string::npos) << out_;
    EXPECT_EQ(err_, "summary: 1 folders\n");

    ASSERT_EQ(Bvhost("migrate --source oe:" + first.string() + " --target oe:" + second.string()), 0) << err_;
    EXPECT_EQ(Messages(first).size(), 3u) << "the source is left as it was";
    auto copied = Messages(second);
    ASSERT_EQ(copied.size(), 3u) << out_;
    int replies = 0;
    for (auto &message : copied) replies += message.second.find("Subject: Re: Engine notes") != std::string::npos;
    EXPECT_EQ(replies, 1);
}

TEST_F(MigrationTest, MaxReadAndChosenFolders) {
    fs::path maildir = dir_ / "maildir";
    ASSERT_EQ(Bvhost("migrate --source oe-dir:" + kData + "/oe-dir --target oe:" + maildir.string() +
                     " --max-read 2 --folder 0"),
              0)
        << err_;
    EXPECT_EQ(Messages(maildir).size(), 2u);
    for (auto &message : Messages(maildir)) EXPECT_EQ(message.first, ".OE Inbox") << "no group folder for root";

    EXPECT_EQ(Bvhost("migrate --source oe-dir:" + kData + "/oe-dir --target oe:" + maildir.string() + " --folder 4"),
              2);
    EXPECT_NE(out_.find("there is no folder 4"), std::string::npos) << out_;
}

TEST_F(MigrationTest, ContactsIntoAContactFile) {
    fs::path target = dir_ / "out" / "book.csv";
    ASSERT_EQ(Bvhost("migrate --source contacts:" + kData + "/contacts.csv --target contacts:" + target.string()), 0)
        << err_;
    std::string book = ReadFileText(target);
    EXPECT_NE(book.find("Lovelace"), std::string::npos) << book;
    EXPECT_NE(book.find("charles@example.org"), std::string::npos) << book;
    EXPECT_NE(out_.find("2 items"), std::string::npos) << out_;

    // A file name that is not ASCII.
    fs::path named = dir_ / "Kontakte \xC3\xA4\xC3\xB6.csv";
    fs::copy_file(kData + "/contacts.csv", named);
    ASSERT_EQ(Bvhost("migrate --source 'contacts:" + named.string() + "' --target contacts:" +
                     (dir_ / "second.csv").string()),
              0)
        << err_;
    EXPECT_NE(out_.find("2 items"), std::string::npos) << out_;

    // A contacts folder does not go into a mail store.
    ASSERT_EQ(Bvhost("migrate --source contacts:" + kData + "/contacts.csv --target oe:" + (dir_ / "m").string()), 0);
    EXPECT_NE(out_.find("skipped, a contacts folder does not fit a oe target"), std::string::npos) << out_;
}

}  // namespace
