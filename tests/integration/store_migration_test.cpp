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

// Corpus messages whose migrated copy differs from the source by what the
// composer and the parser do by design; they are migrated and counted, but
// not compared. Every other message must agree with its source.
const std::map<std::string, const char *> kKnownDifferences = {
    {"<001301c17797$9cd0ef30$a3ab620c@vaio>",
     "multipart header without a body: the empty text body (only a line end) is not written"},
    {"<invite.eml@mime.sample>", "the composer writes every HTML body before the calendar attachment"},
    {"<F11E7413-B709-4E78-85FA-AD723A1BB246@von-und-zu-weiss.de>",
     "the composer writes every HTML body before the calendar attachment"},
    {"<xxxx>",
     "an address without a domain is completed with the folder name; an empty text body (only a line end) is "
     "not written"},
    {"<20090409125316.624D119F4@mail17.metaways.net>",
     "a bare LF in a text body comes back as CR LF: text bodies are read back line by line"},
    {"<EFOOJNZYKZFPXKXDZPRSCFMBVCHB.bob@example.com>",
     "a text body without a final line end comes back with one: text bodies are read back line by line"},
    {"<d3b8cf8e49f04480850c28713a1f473e@37signals.com>",
     "a text body without a final line end comes back with one: text bodies are read back line by line"},
    {"<de75@tester.local>",
     "text bodies come back first and with CR LF line ends, also after the last line"},
};

// Real messages of the corpus, written into a DBX file and migrated: every
// message that the scan finds arrives, and agrees with its source.
TEST(StoreMigration, CorpusMessagesThroughADbxFile) {
    fs::path corpus = fs::path(BV_CORPUS_DIR) / "eml";
    if (!fs::exists(corpus)) GTEST_SKIP() << "corpus not present";
    fs::path root = fs::path(BV_BINARY_DIR) / "test-scratch" / "integration" / "corpus";
    fs::remove_all(root);
    fs::create_directories(root / "store");
    fs::create_directories(root / "parse");
    std::string work = (root / "parse").string() + "/";
    bvcom_SetWorkDir(work.c_str());
    bvcom_SetLogFile((root / "parse.log").c_str());
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(corpus))
        if (e.path().extension() == ".eml") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::string inputs;
    for (const fs::path &f : files) inputs += " '" + f.string() + "'";
    ASSERT_EQ(RunCommand(std::string(BV_BIN_DIR) + "/dbx_writer '" + (root / "store" / "Corpus.dbx").string() + "'" +
                         inputs),
              0);
    fs::path maildir = root / "maildir";
    ASSERT_EQ(RunCommand(std::string(BV_BIN_DIR) + "/bvhost migrate --source 'oe-dir:" + (root / "store").string() +
                         "' --target 'oe:" + maildir.string() + "' --work-dir '" + (root / "work").string() + "' > '" +
                         (root / "migrate.txt").string() + "' 2>&1"),
              0)
        << ReadAll(root / "migrate.txt");

    // Sources with a Message-ID of their own.
    std::map<std::string, std::vector<MessageSnapshot>> sources;
    for (const fs::path &f : files) {
        MessageSnapshot s = Parse(f, work);
        if (!s.messageId.empty()) sources[s.messageId].push_back(s);
    }
    size_t arrived = 0, compared = 0;
    for (const auto &e : fs::recursive_directory_iterator(maildir)) {
        std::string dir = e.path().parent_path().filename().string();
        if (!e.is_regular_file() || (dir != "cur" && dir != "new")) continue;
        arrived++;
        MessageSnapshot got = Parse(e.path(), work);
        auto it = sources.find(got.messageId);
        if (it == sources.end() || it->second.size() != 1) continue;
        auto known = kKnownDifferences.find(got.messageId);
        if (known != kKnownDifferences.end()) {
            printf("not compared: %s: %s\n", got.messageId.c_str(), known->second);
            continue;
        }
        SCOPED_TRACE(got.messageId);
        const MessageSnapshot &want = it->second[0];
        compared++;
        EXPECT_EQ(got.subject, want.subject);
        EXPECT_EQ(got.fromAddr, want.fromAddr);
        if (!want.dateSubstituted) {
            EXPECT_EQ(got.date, want.date);
        }
        EXPECT_EQ(got.recipients, want.recipients);
        EXPECT_EQ(got.parts.size(), want.parts.size());
        for (size_t i = 0; i < got.parts.size() && i < want.parts.size(); i++) {
            SCOPED_TRACE(want.parts[i].name);
            EXPECT_EQ(got.parts[i].bytes, want.parts[i].bytes);
        }
    }
    std::string summary = ReadAll(root / "migrate.txt");
    EXPECT_NE(summary.find(std::to_string(arrived) + " items"), std::string::npos) << summary;
    EXPECT_GE(compared, 45u);
    bvcom_SetLogFile(nullptr);
    if (!::testing::Test::HasFailure()) fs::remove_all(root);
}
