// File faults injected through the platform layer (BV_FILE_FAULT): a failed
// create, a failed write, a short write and a full disk at every create or
// write a migration makes, one after another. Whatever the fault hits, the
// item it spoils is reported as failed and named, every other item arrives
// exactly as it does without the fault, no partial message is left in the
// store, and a second run brings the failed items and nothing twice.
#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = std::string(BV_SOURCE_DIR) + "/tests/host/data/faults";

// Message-ID -> message text of every delivered message; tmp/ files counted apart.
struct Store {
    std::map<std::string, std::string> messages;
    int duplicates = 0;
    int leftInTmp = 0;
};

Store ReadStore(const fs::path &root) {
    Store store;
    if (!fs::exists(root)) return store;
    for (auto &entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string leaf = entry.path().parent_path().filename().string();
        if (leaf == "tmp") store.leftInTmp++;
        if (leaf != "cur" && leaf != "new") continue;
        // Boundaries are random per message; everything else must match.
        static const std::regex kBoundaryNonce(R"(\.[0-9a-f]{16}/)");
        std::string text = std::regex_replace(bvtest::ReadFileText(entry.path()), kBoundaryNonce, ".nonce/");
        size_t id = text.find("\r\nMessage-ID: ");
        std::string key = id == std::string::npos ? "?" : text.substr(id + 14, text.find("\r\n", id + 14) - id - 14);
        if (!store.messages.emplace(key, text).second) store.duplicates++;
    }
    return store;
}

struct MigrationRun {
    bvtest::ProgramRun run;
    Store store;
};

MigrationRun Migrate(const fs::path &dir, const fs::path &target, const std::string &fault) {
    std::string command = (fault.empty() ? "" : "BV_FILE_FAULT=" + fault + " ") +
                          bvtest::ShellQuote(bvtest::BuildProgram("bvhost")) + " migrate --source oe-dir:" +
                          bvtest::ShellQuote(kSource) + " --target oe:" + bvtest::ShellQuote(target.string());
    MigrationRun r;
    r.run = bvtest::RunProgram(command, dir);
    r.store = ReadStore(target);
    return r;
}

TEST(FaultInjection, AFaultFailsOnlyTheItemItHitsAndASecondRunBringsIt) {
    bvtest::TempDir scratch{"bvfaults"};
    fs::path dir = scratch.Path();
    MigrationRun reference = Migrate(dir, dir / "reference", "");
    ASSERT_EQ(reference.run.status, 0) << reference.run.err << reference.run.out;
    ASSERT_EQ(reference.store.messages.size(), 4u) << reference.run.out;

    for (const char *kind : {"create", "write", "short", "nospace"}) {
        int fired = 0;
        for (int n = 1; n < 200; n++) {
            std::string fault = std::string(kind) + ":" + std::to_string(n);
            fs::path target = dir / fault;
            MigrationRun faulty = Migrate(dir, target, fault);
            if (faulty.run.err.find("bvole: injected") == std::string::npos) {
                EXPECT_EQ(faulty.run.status, 0) << fault << faulty.run.err;
                break;  // the run made fewer than n creates or writes
            }
            fired++;
            int failed = bvtest::CountOf(faulty.run.out, "\nfailed: ");
            EXPECT_EQ(faulty.run.status, failed ? 1 : 0) << fault << faulty.run.out << faulty.run.err;
            EXPECT_NE(faulty.run.out.find("failed " + std::to_string(failed) + ";"), std::string::npos)
                << fault << faulty.run.out;
            EXPECT_EQ(faulty.store.leftInTmp, 0) << fault;
            EXPECT_EQ(faulty.store.duplicates, 0) << fault;
            EXPECT_EQ(faulty.store.messages.size() + failed, reference.store.messages.size()) << fault << faulty.run.out;
            for (auto &[id, text] : faulty.store.messages)
                EXPECT_EQ(text, reference.store.messages[id]) << fault << " changed " << id;

            MigrationRun again = Migrate(dir, target, "");
            EXPECT_EQ(again.run.status, 0) << fault << again.run.out;
            EXPECT_EQ(again.store.messages, reference.store.messages) << fault << again.run.out;
            EXPECT_EQ(again.store.duplicates, 0) << fault;
            fs::remove_all(target);
        }
        EXPECT_GT(fired, 2) << kind << ": the sweep reached the migration's files";
    }
}

}  // namespace
