// A whole Outlook Express store directory migrated by the host into a
// Maildir store: every message that arrives is parsed, as is its source
// .eml file, and the two must agree field by field and part by part, byte
// for byte.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include "mime/mime.h"
#include "module/session.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct PartSnapshot {
    std::string name;
    int partType = 0;
    std::string bytes;
};

// What the parser makes of one message.
struct MessageSnapshot {
    std::string subject, fromName, fromAddr, messageId;
    uint64_t date = 0;
    int dateSubstituted = 0;  // no usable date: the parser took the current time
    std::vector<std::string> recipients;  // "type addr name"
    std::vector<PartSnapshot> parts;      // parts after the header part
};

// The parser puts a META charset line in front of every HTML part it writes,
// also in front of one that already has it; the migrated message carries the
// line from the first parse. Such leading lines are not compared.
std::string WithoutCharsetMeta(std::string html) {
    const std::string meta = "<html><META http-equiv=\"Content-Type\" content=\"text/html; charset=";
    while (html.compare(0, meta.size(), meta) == 0) {
        size_t eol = html.find('\n');
        if (eol == std::string::npos) break;
        html.erase(0, eol + 1);
    }
    return html;
}

// The composer writes a recipient without a display name with its address as
// the name; both count as no name.
std::string RecipientText(const mrecip *r) {
    std::string name = r->name;
    if (name == r->addr) name.clear();
    return std::to_string(r->type) + " " + r->addr + " " + name;
}

MessageSnapshot Parse(const fs::path &file, const std::string &workDir) {
    static mdat rec;
    memset(&rec, 0, sizeof(rec));
    rec.msgNumber = 1;
    MessageSnapshot snap;
    FILE *f = plat_fopen(file.c_str(), "rb");
    EXPECT_TRUE(f) << file;
    if (!f) return snap;
    int result = Parse_RFC822_Msg(f, &rec, workDir.c_str(), "", 1);
    fclose(f);
    EXPECT_EQ(result, 0) << file;
    snap.subject = rec.subject;
    snap.fromName = rec.fromName;
    snap.fromAddr = rec.fromAddr;
    snap.messageId = rec.messageId;
    snap.date = plat_FileTimeToU64(&rec.date);
    snap.dateSubstituted = rec.dateSubstituted;
    for (int i = 0; i < rec.recipCount; i++)
        snap.recipients.push_back(RecipientText(rec.recips[i]));
    for (int i = 1; i < rec.partCount; i++) {
        char path[1024];
        com_PartFileName(workDir.c_str(), &rec, i, path, sizeof(path));
        std::string bytes = WithoutCharsetMeta(ReadAll(path));
        // An empty body part carries nothing: a message whose multipart body
        // is missing comes back without it.
        if (bytes.empty() && rec.parts[i]->partType != 0) continue;
        snap.parts.push_back({rec.parts[i]->name, rec.parts[i]->partType, bytes});
    }
    com_Deallocate_All(&rec, workDir.c_str());
    com_Deallocate(&rec, workDir.c_str());
    return snap;
}

int RunCommand(const std::string &command) { return std::system(command.c_str()); }

}  // namespace

TEST(StoreMigration, EveryMessageArrivesAsItWasSent) {
    fs::path root = fs::path(BV_BINARY_DIR) / "test-scratch" / "integration" / "migration";
    fs::remove_all(root);
    fs::create_directories(root / "parse");
    fs::path maildir = root / "maildir";
    std::string work = (root / "parse").string() + "/";
    bvcom_SetWorkDir(work.c_str());
    bvcom_SetLogFile((root / "parse.log").c_str());

    ASSERT_EQ(RunCommand(std::string(BV_BIN_DIR) + "/bvhost migrate --source 'oe-dir:" + BV_DEMO_STORE +
                  "' --target 'oe:" + maildir.string() + "' --work-dir '" + (root / "work").string() + "' > '" +
                  (root / "migrate.txt").string() + "' 2>&1"),
              0)
        << ReadAll(root / "migrate.txt");

    // The sources, by Message-ID.
    std::map<std::string, MessageSnapshot> sources;
    for (const auto &e : fs::recursive_directory_iterator(fs::path(BV_SOURCE_DIR) / "samples" / "mailbox")) {
        if (e.path().extension() != ".eml") continue;
        MessageSnapshot s = Parse(e.path(), work);
        sources[s.messageId] = s;
    }
    ASSERT_EQ(sources.size(), 12u);

    size_t arrived = 0;
    for (const auto &e : fs::recursive_directory_iterator(maildir)) {
        std::string dir = e.path().parent_path().filename().string();
        if (!e.is_regular_file() || (dir != "cur" && dir != "new")) continue;
        arrived++;
        MessageSnapshot got = Parse(e.path(), work);
        SCOPED_TRACE(got.messageId);
        auto it = sources.find(got.messageId);
        ASSERT_NE(it, sources.end());
        const MessageSnapshot &want = it->second;
        EXPECT_EQ(got.subject, want.subject);
        EXPECT_EQ(got.fromName, want.fromName);
        EXPECT_EQ(got.fromAddr, want.fromAddr);
        EXPECT_EQ(got.date, want.date);
        EXPECT_EQ(got.recipients, want.recipients);
        ASSERT_EQ(got.parts.size(), want.parts.size());
        for (size_t i = 0; i < got.parts.size(); i++) {
            SCOPED_TRACE(want.parts[i].name);
            EXPECT_EQ(got.parts[i].name, want.parts[i].name);
            EXPECT_EQ(got.parts[i].partType, want.parts[i].partType);
            EXPECT_EQ(got.parts[i].bytes, want.parts[i].bytes);
        }
        sources.erase(it);
    }
    EXPECT_EQ(arrived, 12u);
    EXPECT_TRUE(sources.empty());

    // The Maildir store read back as a live store: the folder walk lists the
    // levels joined by '^', and the message states carry the unread flag.
    ASSERT_EQ(RunCommand(std::string(BV_BIN_DIR) + "/bvhost folders --source 'oe:" + maildir.string() + "' > '" +
                         (root / "folders.txt").string() + "' 2>&1"),
              0);
    std::string folders = ReadAll(root / "folders.txt");
    for (const char *line : {"OE Inbox {BV:4:FCLASS:0}\n", "Inbox^Projekte {BV:2:FCLASS:0}\n",
                             "Inbox^Projekte^2024 {BV:1:FCLASS:0}\n", "Entw\xc3\xbcrfe {BV:1:FCLASS:0}\n",
                             "Archiv 2023 {BV:2:FCLASS:0}\n"})
        EXPECT_NE(folders.find(line), std::string::npos) << line << folders;
    ASSERT_EQ(RunCommand(std::string(BV_BIN_DIR) + "/bvhost dump --source 'oe:" + maildir.string() + "' --out '" +
                         (root / "live.jsonl").string() + "' --work-dir '" + (root / "work2").string() + "' > /dev/null 2>&1"),
              0);
    std::string dump = ReadAll(root / "live.jsonl");
    auto count = [&](const std::string &text) {
        size_t n = 0;
        for (size_t at = dump.find(text); at != std::string::npos; at = dump.find(text, at + 1)) n++;
        return n;
    };
    EXPECT_EQ(count("\"type\":\"item\""), 12u);
    EXPECT_EQ(count("\"unread\":1"), 1u);
    EXPECT_EQ(count("\"subject\":\"Still unread: the minutes of Tuesday\""), 1u);
    bvcom_SetLogFile(nullptr);
    if (!::testing::Test::HasFailure()) fs::remove_all(root);
}

// The public corpus, as DBX files and mailbox text files, migrated and read
// back by Python's email package and by Dovecot (mail_fidelity.py): every
// message arrives, and agrees with its source but for the differences the
// script lists with their reasons.
TEST(StoreMigration, CorpusMessagesArriveWholeForOtherMailSoftware) {
    fs::path corpus = fs::path(BV_CORPUS_DIR);
    if (!fs::exists(corpus / "eml")) GTEST_SKIP() << "corpus not present";
    fs::path root = fs::path(BV_BINARY_DIR) / "test-scratch" / "integration" / "fidelity";
    fs::path report = fs::path(BV_BINARY_DIR) / "test-scratch" / "integration" / "fidelity.txt";
    int status = RunCommand("python3 '" + std::string(BV_SOURCE_DIR) + "/tests/integration/mail_fidelity.py' '" +
                            BV_BIN_DIR + "' '" + corpus.string() + "' '" + root.string() + "' > '" +
                            report.string() + "' 2>&1");
    EXPECT_EQ(status, 0) << ReadAll(report);
    if (!::testing::Test::HasFailure()) fs::remove_all(root);
}
