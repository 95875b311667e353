// Every public sample message through the parser: no crash, no sanitizer
// report, and a record with its header part. mbox files are split at their
// "From " separator lines, as the store readers do.
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>
#include "mime_test_support.h"

namespace fs = std::filesystem;
using namespace mimetest;

namespace {

const fs::path kCorpus = BV_CORPUS_DIR;

std::vector<fs::path> FilesIn(const fs::path &dir) {
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Messages of an mbox file: a separator is a "From " line at the start of
// the file or after an empty line.
std::vector<std::string> SplitMbox(const std::string &text) {
    std::vector<std::string> messages;
    size_t start = std::string::npos, pos = 0;
    bool prevEmpty = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(pos, next - pos);
        if (prevEmpty && line.rfind("From ", 0) == 0) {
            if (start != std::string::npos) messages.push_back(text.substr(start, pos - start));
            start = pos;
        }
        prevEmpty = line == "\n" || line == "\r\n";
        pos = next;
    }
    if (start != std::string::npos) messages.push_back(text.substr(start));
    return messages;
}

void ExpectRecordWithHeaderPart(const std::string &message, const std::string &label) {
    ParseRun run = ParseBytes(message, ParseOptions(), false);
    EXPECT_EQ(run.result, 0) << label;
    ASSERT_GE(run.record->partCount, 1) << label;
    EXPECT_EQ(run.record->parts[0]->partType, 11) << label;
    EXPECT_STREQ(run.record->parts[0]->name, "Internet Headers.txt") << label;
    EXPECT_GT(run.record->parts[0]->size, 0) << label;
    for (int i = 0; i < run.record->partCount; i++) {
        int t = run.record->parts[i]->partType;
        EXPECT_TRUE(t != 3 && t != 6 && t != 10 && t != 15) << label << " part " << i << " left undecoded";
    }
    FreeRun(&run);
}

TEST(MimeCorpus, EveryMessageYieldsARecord) {
    int count = 0;
    for (const std::string kind : {"eml", "mbox"}) {
        if (!fs::is_directory(kCorpus / kind)) continue;
        for (const fs::path &file : FilesIn(kCorpus / kind)) {
            std::string text = bvtest::ReadFileText(file.string());
            std::vector<std::string> messages = kind == "eml" ? std::vector<std::string>{text} : SplitMbox(text);
            for (size_t i = 0; i < messages.size(); i++, count++)
                ExpectRecordWithHeaderPart(messages[i], file.filename().string() + " #" + std::to_string(i));
        }
    }
    if (count == 0) GTEST_SKIP() << "no corpus at " << kCorpus;
}

}  // namespace
