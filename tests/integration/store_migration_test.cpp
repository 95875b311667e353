// Whole stores migrated by the host into a Maildir store and checked by
// other mail software (mail_fidelity.py): every message is read by Python's
// email package and compared with its source; for the corpus, Dovecot also
// lists every folder and fetches every message's body structure.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kFidelity = "python3 " + bvtest::ShellQuote(BV_SOURCE_DIR "/tests/integration/mail_fidelity.py");

bvtest::ProgramRun Bvhost(const std::string &args, const fs::path &scratch) {
    return bvtest::RunProgram(bvtest::ShellQuote(BV_BIN_DIR "/bvhost") + " " + args, scratch);
}

// The demo store (the samples written as DBX files and a mailbox text file
// under a folder list) migrated and listed as a live store: the folder walk
// lists the levels of the folder list joined by '^'. (The read state through
// the store: RoundTripTest.)
TEST(StoreMigration, EveryMessageArrivesAsItWasSent) {
    bvtest::TempDir scratch("bvmigration");
    const fs::path dir = scratch.Path();
    const std::string maildir = bvtest::ShellQuote((dir / "maildir").string());
    bvtest::ProgramRun run = Bvhost("migrate --source 'oe-dir:" BV_DEMO_STORE "' --target oe:" + maildir, dir);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    run = bvtest::RunProgram(kFidelity + " --migrated '" BV_SOURCE_DIR "/samples/mailbox' " + maildir, dir);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("12 messages compared; 0 problems"), std::string::npos) << run.out;

    run = Bvhost("folders --source oe:" + maildir, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char *line : {"OE Inbox {BV:4:FCLASS:0}\n", "Inbox^Projekte {BV:2:FCLASS:0}\n",
                             "Inbox^Projekte^2024 {BV:1:FCLASS:0}\n", "Entw\xc3\xbcrfe {BV:1:FCLASS:0}\n",
                             "Archiv 2023 {BV:2:FCLASS:0}\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
}

// The public corpus, as DBX files and mailbox text files, migrated and
// checked: every message arrives, and agrees with its source but for the
// differences the script lists with their reasons.
TEST(StoreMigration, CorpusMessagesArriveWholeForOtherMailSoftware) {
    fs::path corpus = fs::path(BV_CORPUS_DIR);
    if (!fs::exists(corpus / "eml")) GTEST_SKIP() << "corpus not present";
    bvtest::TempDir scratch("bvfidelity");
    bvtest::ProgramRun run = bvtest::RunProgram(kFidelity + " " + bvtest::ShellQuote(BV_BIN_DIR) + " " +
                                                    bvtest::ShellQuote(corpus.string()) + " " +
                                                    bvtest::ShellQuote((scratch.Path() / "run").string()),
                                                scratch.Path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
}

}  // namespace
