// Hostile and broken input through bvhost, one case a row. Each bad message
// sits between two good ones in a store directory built here; a file lies
// beside the store to be pulled in. The dump says what arrived, the composed
// store what a reader would see, the log what was warned and the summary
// what was counted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/record_json.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using nlohmann::json;
using bvtest::Base64;
using bvtest::CountOf;
using bvtest::ReadFileText;
using bvtest::WriteFileText;

namespace {

const char kOutsideText[] = "secret beside the store\n";
const char kInsideText[] = "plan inside the store\n";

std::string GoodMessage(const std::string &which) {
    return "From: good@example.org\nTo: you@example.org\nSubject: good " + which +
           "\nDate: Mon, 15 Jan 2024 14:00:00 +0000\n\nThe good message " + which + ".\n";
}

std::string Headers(const std::string &subject, const std::string &more = "") {
    return "From: bad@example.net\nTo: you@example.org\nSubject: " + subject +
           "\nDate: Tue, 16 Jan 2024 09:30:00 +0000\n" + more;
}

std::string RandomBytes(size_t n) {
    std::string bytes(n, '\0');
    std::mt19937 rng(77);
    for (char &c : bytes) c = (char)(rng() & 0xFF);
    return bytes;
}

std::string Multipart(const std::string &subject, const std::string &parts) {
    return Headers(subject, "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b0\"\n") +
           "\n--b0\nContent-Type: text/plain\n\nText.\n" + parts + "--b0--\n";
}

std::string AttachmentPart(const std::string &name, const std::string &bytes) {
    return "--b0\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\nContent-Disposition: attachment; filename=\"" + name + "\"\nContent-Transfer-Encoding: base64\n\n" +
           Base64(bytes) + "\n";
}

// A forward of a forward of ... `levels` deep, an attachment at every level.
std::string Nested(int levels) {
    // the innermost text holds lines shaped like fixed boundaries of a composer
    std::string inner = Headers("level " + std::to_string(levels)) +
                        "\nThe innermost text.\n--ABCDEFG/2\nContent-Type: text/plain\n\nforged\n--ABCDEFG/2--\n"
                        "--Next_Item:_(A3CB49KFSA19)/1--\n";
    for (int level = levels - 1; level >= 0; level--) {
        std::string b = "n" + std::to_string(level);
        inner = Headers("level " + std::to_string(level),
                        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"" + b + "\"\n") + "\n--" + b +
                "\nContent-Type: text/plain\n\nLevel text.\n--" + b +
                "\nContent-Type: application/octet-stream; name=\"a.bin\"\nContent-Transfer-Encoding: base64\n\n" +
                Base64("attachment of level " + std::to_string(level)) + "\n--" + b +
                "\nContent-Type: message/rfc822\n\n" + inner + "\n--" + b + "--\n";
    }
    return inner;
}

struct Outcome {
    std::vector<json> items;  // records handed over
    std::string log, summary;
    std::vector<std::string> composed;  // message files of the target store, in name order
};

class HostileInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        store_ = scratch_.Path() / "store";
        fs::create_directories(store_ / "#Attach");
        WriteFileText(scratch_.Path() / "outside.txt", kOutsideText);
        WriteFileText(store_ / "inside.txt", kInsideText);
        fs::create_symlink(scratch_.Path() / "outside.txt", store_ / "link.txt");
        fs::create_symlink("/dev/zero", store_ / "zero");
        ASSERT_EQ(mkfifo((store_ / "pipe").c_str(), 0600), 0);
    }
    std::string Sha(const std::string &bytes) {
        fs::path file = scratch_.Path() / "sha.tmp";
        WriteFileText(file, bytes);
        return bvhost::FileSha256(file.string());
    }
    int Bvhost(const std::string &args, bvtest::ProgramRun *run) {
        *run = bvtest::RunProgram(bvtest::ShellQuote(bvtest::BuildProgram("bvhost")) + " " + args, scratch_.Path());
        return run->status;
    }
    // The store holds the good message, `bad` and another good message;
    // dumped, then (when `compose`) migrated into a fresh Maildir store.
    Outcome Migrate(const std::string &bad, bool compose = true) {
        WriteFileText(store_ / "Inbox.mbx", "From - 1\n" + GoodMessage("before") + "From - 2\n" + bad + "\nFrom - 3\n" +
                                                GoodMessage("after"));
        Outcome result;
        fs::path dump = scratch_.Path() / "dump.jsonl", log = scratch_.Path() / "log.txt";
        fs::remove(log);
        bvtest::ProgramRun run;
        EXPECT_EQ(Bvhost("dump --source oe-dir:" + store_.string() + " --out " + dump.string() + " --log " +
                             log.string(),
                         &run),
                  0)
            << run.err;
        std::istringstream lines(ReadFileText(dump));
        for (std::string line; std::getline(lines, line);) {
            json entry = json::parse(line);
            if (entry["type"] == "item") result.items.push_back(entry["record"]);
        }
        result.log = ReadFileText(log);
        size_t at = run.out.find("summary: ");
        result.summary = at == std::string::npos ? run.out : run.out.substr(at);
        if (!compose) return result;
        fs::path maildir = scratch_.Path() / "maildir";
        fs::remove_all(maildir);
        EXPECT_EQ(Bvhost("migrate --source oe-dir:" + store_.string() + " --target oe:" + maildir.string(), &run), 0)
            << run.err;
        std::vector<fs::path> files;
        for (auto &entry : fs::recursive_directory_iterator(maildir))
            if (entry.is_regular_file() && entry.path().parent_path().filename() != "tmp" &&
                entry.path().filename() != "maildirfolder" && entry.path().filename() != "bvole-register.txt")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const fs::path &file : files) result.composed.push_back(ReadFileText(file));
        return result;
    }
    bvtest::TempDir scratch_{"bvhostile"};
    fs::path store_;
};

const json *PartNamed(const json &record, const std::string &name) {
    if (!record.contains("parts")) return nullptr;
    for (const json &part : record["parts"])
        if (part["name"] == name) return &part;
    return nullptr;
}

struct HostileCase {
    const char *what;
    bool compose;  // the check looks at the composed message too
    std::function<std::string()> message;
    std::vector<std::string> warnings;  // texts the log must hold
    std::function<void(const json &record, const std::string &composed)> check;
};

TEST_F(HostileInput, BadMessagesBetweenGoodOnesArriveAsFarAsSafeAndWarned) {
    const std::string oneMegabyte = RandomBytes(1000000);
    const std::string html = "<html><body>" + std::string(1200000, 'h') + "</body></html>";
    auto notIncluded = [this](const std::string &name) {
        return [this, name](const json &record, const std::string &) {
            const json *part = PartNamed(record, name + ".txt");
            ASSERT_NE(part, nullptr) << record.dump();
            EXPECT_EQ((*part)["sha256"], Sha("File not included (" + name + ")\r\n"));
            EXPECT_EQ(record.dump().find(Sha(kOutsideText)), std::string::npos);
        };
    };
    const HostileCase cases[] = {
        {"absolute path", false, [] { return Headers("mhs", "Attachment: /etc/passwd\n") + "\nbody\n"; },
         {"the file /etc/passwd that a message names is not included: it is not inside the store directory"},
         notIncluded("/etc/passwd")},
        {"relative path out of the store", false, [] { return Headers("mhs", "Attachment: ../outside.txt\n") + "\nbody\n"; },
         {"the file ../outside.txt that a message names is not included: it is not inside the store directory"},
         notIncluded("../outside.txt")},
        {"link out of the store", false, [] { return Headers("mhs", "Attachment: link.txt\n") + "\nbody\n"; },
         {"the file link.txt that a message names is not included: it is not inside the store directory"},
         notIncluded("link.txt")},
        {"device", false, [] { return Headers("mhs", "Attachment: zero, /dev/zero\n") + "\nbody\n"; },
         {"the file zero that a message names is not included", "the file /dev/zero that a message names"},
         notIncluded("zero")},
        {"FIFO", false, [] { return Headers("mhs", "Attachment: pipe\n") + "\nbody\n"; },
         {"the file pipe that a message names is not included: it is not a regular file"}, notIncluded("pipe")},
        {"file of the store", false, [] { return Headers("mhs", "Attachment: inside.txt\n") + "\nbody\n"; },
         {},
         [this](const json &record, const std::string &) {
             const json *part = PartNamed(record, "inside.txt");
             ASSERT_NE(part, nullptr) << record.dump();
             EXPECT_EQ((*part)["sha256"], Sha(kInsideText));
         }},
        {"FileID out of the store", false,
         [] { return Headers("mhs", "Attachment: inside.txt\nFileID: ../outside.txt\n") + "\nbody\n"; },
         {"the file ../outside.txt that a message names is not included: it is not inside the store directory"},
         [this](const json &record, const std::string &) {
             const json *part = PartNamed(record, "inside.txt");
             ASSERT_NE(part, nullptr) << record.dump();
             EXPECT_EQ((*part)["sha256"], Sha(kInsideText));
         }},
        {"include header out of the store", false,
         [] {
             return Multipart("becky", "--b0\nContent-Type: application/octet-stream; name=\"p.txt\"\n"
                                       "X-Becky-Include: ../../outside.txt\n\n\n");
         },
         {"the file ../../outside.txt that a message names is not included: it is not inside the store directory"},
         [this](const json &record, const std::string &) {
             EXPECT_EQ(record.dump().find(Sha(kOutsideText)), std::string::npos) << record.dump();
         }},
        {"encoded words that decode to line ends", true,
         [] {
             return Multipart("=?utf-8?Q?Hi=0D=0ABcc:_victim@example.net=00?=",
                              AttachmentPart("=?utf-8?Q?x.txt=0D=0A=0D=0A--b0--=0D=0AX-Forged:_1?=", "data"));
         },
         {},
         [](const json &record, const std::string &composed) {
             EXPECT_EQ(record["subject"], "Hi  Bcc: victim@example.net ");
             EXPECT_EQ(composed.find("\nBcc:"), std::string::npos) << composed;
             EXPECT_EQ(composed.find("\nbcc:"), std::string::npos) << composed;
             EXPECT_EQ(composed.find("\nX-Forged"), std::string::npos) << composed;
             EXPECT_EQ(CountOf(composed, "\r\nSubject: "), 1);
         }},
        {"1 MB attachment as one base64 line", false, [&] { return Multipart("big", AttachmentPart("big.bin", oneMegabyte)); },
         {},
         [&](const json &record, const std::string &) {
             const json *part = PartNamed(record, "big.bin");
             ASSERT_NE(part, nullptr);
             EXPECT_EQ((*part)["size"], 1000000);
             EXPECT_EQ((*part)["sha256"], Sha(oneMegabyte));
         }},
        {"one-line HTML newsletter", false,
         [&] { return Headers("news", "Content-Type: text/html; charset=us-ascii\n") + "\n" + html + "\n"; },
         {},
         [&](const json &record, const std::string &) {
             ASSERT_TRUE(record.contains("parts"));
             int64_t longest = 0;
             for (const json &part : record["parts"]) longest = std::max<int64_t>(longest, part["size"]);
             EXPECT_GE(longest, (int64_t)html.size());
         }},
        {"5003 recipients (one in the usual To line)", false,
         [] {
             std::string to = "To: ";
             for (int i = 0; i < 5002; i++) to += (i ? ", r" : "r") + std::to_string(i) + "@example.org";
             return Headers("crowd", to + "\n") + "\nbody\n";
         },
         {"3 recipients past the limit of 5000 left out"},
         [](const json &record, const std::string &) { EXPECT_EQ(record["recips"].size(), 5000u); }},
    };
    for (const HostileCase &c : cases) {
        SCOPED_TRACE(c.what);
        Outcome run = Migrate(c.message(), c.compose);
        ASSERT_EQ(run.items.size(), 3u) << run.log;
        EXPECT_EQ(run.items[0]["subject"], "good before");
        EXPECT_EQ(run.items[2]["subject"], "good after");
        for (const json *good : {&run.items[0], &run.items[2]}) {
            const json &body = (*good)["parts"][1];
            std::string which = good == &run.items[0] ? "before" : "after";
            EXPECT_EQ(body["sha256"], Sha("The good message " + which + ".\r\n"));
        }
        for (const std::string &warning : c.warnings) EXPECT_NE(run.log.find(warning), std::string::npos) << run.log;
        int warned = CountOf(run.log, "BV Warning: ");
        EXPECT_EQ(warned > 0, !c.warnings.empty()) << run.log;
        EXPECT_NE(run.summary.find("; " + std::to_string(warned) + " warnings"), std::string::npos) << run.summary;
        ASSERT_EQ(run.composed.size(), c.compose ? 3u : 0u);
        std::string bad;
        for (const std::string &text : run.composed)
            if (text.find("bad@example.net") != std::string::npos) bad = text;
        c.check(run.items[1], bad);
    }
}

// Every file a reader opens is a regular file of the source: a FIFO is
// skipped with a warning (never waited on), a list entry that points out of
// the store is not followed, and the messages at the root of a Maildir
// source (its inbox) are read with those of its sub-folders.
TEST_F(HostileInput, SourcesThatAreNotRegularFilesOrOutsideAreSkipped) {
    WriteFileText(store_ / "Inbox.mbx", "From - 1\n" + GoodMessage("inbox"));
    WriteFileText(scratch_.Path() / "outside.mbx", "From - 1\n" + GoodMessage("outside"));
    ASSERT_EQ(mkfifo((store_ / "Pipe.mbx").c_str(), 0600), 0);
    bvtest::ProgramRun run;
    std::string nch = bvtest::ShellQuote(bvtest::BuildProgram("nch_writer")) + " " + (store_ / "folders.nch").string();
    ASSERT_EQ(bvtest::RunProgram(nch + " Inbox=Inbox.mbx Pipe=Pipe.mbx Out=../outside.mbx", scratch_.Path()).status, 0);
    fs::path maildir = scratch_.Path() / "maildir", log = scratch_.Path() / "log.txt";
    // bounded in time: a reader that waited on the FIFO would be stopped
    std::string bvhost = "timeout 60 " + bvtest::ShellQuote(bvtest::BuildProgram("bvhost"));
    run = bvtest::RunProgram(bvhost + " migrate --source oe-dir:" + store_.string() + " --target oe:" +
                                 maildir.string() + " --log " + log.string(),
                             scratch_.Path());
    EXPECT_EQ(run.status, 1) << "the FIFO folder failed: " << run.out << run.err;
    std::string text = ReadFileText(log);
    EXPECT_NE(text.find("BV Warning: folder Out skipped: its file ../outside.mbx is not in the store directory"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("BV Warning: not a regular file, not read: " + (store_ / "Pipe.mbx").string()),
              std::string::npos)
        << text;
    EXPECT_NE(run.out.find("folder 0 OE Inbox: 1 items"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("outside"), std::string::npos) << run.out;

    // The migrated store as a source: its root holds a message, and a FIFO
    // sits among the messages of a sub-folder.
    WriteFileText(maildir / "cur" / "1700000000.root.host:2,S", GoodMessage("at the root"));
    fs::path sub = maildir / ".OE Inbox" / "cur";
    ASSERT_EQ(mkfifo((sub / "1.fifo.host:2,S").c_str(), 0600), 0);
    fs::path second = scratch_.Path() / "second";
    run = bvtest::RunProgram(bvhost + " migrate --source oe:" + maildir.string() + " --target oe:" + second.string() +
                                 " --log " + log.string(),
                             scratch_.Path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("folder 0 Inbox: 1 items"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("OE Inbox: 1 items"), std::string::npos) << run.out;
    EXPECT_NE(ReadFileText(log).find("not a regular file, not read: " + (sub / "1.fifo.host:2,S").string()),
              std::string::npos);
}

// Contact sources by their extension and encoding; a target that is the
// run's own source, and a work directory too long for the path buffers, are
// refused at logon before anything is deleted or written.
TEST_F(HostileInput, ContactSourcesAndLogonRefusals) {
    const std::string csv = "First Name,Last Name,E-mail Address\r\nAda,Lovelace,ada@example.org\r\n"
                            "J\xC3\xBCrgen,M\xC3\xBCller,jm@example.org\r\n";
    fs::path dates = scratch_.Path() / "x.dates.csv";
    WriteFileText(dates, csv);
    // UTF-16LE with its mark, as spreadsheet programs save "Unicode text"
    std::string utf16 = "\xFF\xFE";
    for (size_t i = 0; i < csv.size(); i++) {
        unsigned char c = (unsigned char)csv[i];
        unsigned code = c;
        if (c >= 0xC0) code = ((c & 0x1F) << 6) | ((unsigned char)csv[++i] & 0x3F);
        utf16 += (char)(code & 0xFF);
        utf16 += (char)(code >> 8);
    }
    fs::path wide = scratch_.Path() / "wide.csv";
    WriteFileText(wide, utf16);
    fs::create_symlink(dates, scratch_.Path() / "alias.csv");
    struct Case {
        const char *what;
        std::string source, target;
        int status;
        const char *expected;  // in the target file, or in the output for a refusal
    } cases[] = {
        {"\".dat\" inside the name only", dates.string(), (scratch_.Path() / "o1.csv").string(), 0, "Lovelace"},
        {"UTF-16 with its mark", wide.string(), (scratch_.Path() / "o2.csv").string(), 0, "M\xC3\xBCller"},
        {"target is the source", dates.string(), dates.string(), 1, "Logon of the target"},
        {"target is the source by a link", dates.string(), (scratch_.Path() / "alias.csv").string(), 1,
         "Logon of the target"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bvtest::ProgramRun run;
        Bvhost("migrate --source 'contacts:" + c.source + "' --target 'contacts:" + c.target + "'", &run);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        if (c.status == 0) {
            EXPECT_NE(ReadFileText(c.target).find(c.expected), std::string::npos) << ReadFileText(c.target);
            EXPECT_NE(run.out.find("2 items"), std::string::npos) << run.out;
        } else {
            EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(ReadFileText(dates), csv) << "the source is untouched";

    std::string deep = (scratch_.Path() / std::string(200, 'w') / std::string(200, 'w')).string();
    bvtest::ProgramRun run;
    fs::path log = scratch_.Path() / "log.txt";
    Bvhost("dump --source 'contacts:" + dates.string() + "' --out x.jsonl --work-dir " + deep + " --log " +
               log.string(),
           &run);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(ReadFileText(log).find("BV Error: the work directory is too long"), std::string::npos);
}

// A message forwarded three levels deep with an attachment at each level
// keeps its tree and its part bytes when it is composed again: Python's
// email package reads the original and the migrated message alike.
TEST_F(HostileInput, NestedForwardsRoundTripThroughPython) {
    std::string original = Nested(3);
    Outcome run = Migrate(original);
    ASSERT_EQ(run.items.size(), 3u);
    std::string composed;
    for (const std::string &text : run.composed)
        if (text.find("bad@example.net") != std::string::npos) composed = text;
    fs::path a = scratch_.Path() / "original.eml", b = scratch_.Path() / "composed.eml";
    WriteFileText(a, original);
    WriteFileText(b, composed);
    std::string script = std::string(BV_SOURCE_DIR) + "/tests/host/same_mime_tree.py";
    bvtest::ProgramRun check = bvtest::RunProgram(
        "python3 " + bvtest::ShellQuote(script) + " " + a.string() + " " + b.string(), scratch_.Path());
    EXPECT_EQ(check.status, 0) << check.out << check.err << composed.substr(0, 4000);
    EXPECT_NE(check.out.find("4 messages"), std::string::npos) << check.out;
}

}  // namespace
