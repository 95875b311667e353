// ComposeRfc822 on the records of data/compose/NAME.record, compared with
// the composed text of NAME.expect (data/compose/README.md: the format).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "compose/compose.h"
#include "compose_test_support.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"
#include "support/case_table.h"

namespace fs = std::filesystem;

namespace {

struct CaseRun {
    std::string domain, readback, localDate;
    bool skip = false;
};

// Appends a part of class 14 with an embedded record; returns that record.
mdat *AddEmbedded(mdat *rec) {
    EXPECT_NE(com_AllocPart(rec), 0);
    int index = rec->partCount;
    rec->parts[index]->partType = BV_PART_EMBEDDED;
    com_strncpy(rec->parts[index]->name, "Message.eml", BV_NAME_LEN - 1);
    EXPECT_NE(com_AllocSubMsg(rec, index), 0);
    rec->partCount++;
    mdat *sub = rec->parts[index]->subMsg;
    sub->priority = 1;
    sub->importance = 1;
    return sub;
}

void AddRecipient(mdat *rec, const std::string &name, const std::string &addr, int type) {
    ASSERT_NE(com_AllocRecip(rec), 0);
    mrecip *r = rec->recips[rec->recipCount++];
    com_strncpy(r->name, name.c_str(), sizeof r->name - 1);
    com_strncpy(r->addr, addr.c_str(), sizeof r->addr - 1);
    r->type = type;
}

// ComposeRfc822 into a file of the work directory; returns what it wrote.
std::string ComposeToText(mdat *rec, const std::string &workDir, const std::string &domain) {
    std::string path = workDir + "composed.eml";
    FILE *out = fopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr);
    if (!out) return "";
    EXPECT_EQ(ComposeRfc822(rec, out, "Next_Item:_(A3CB49KFSA19)/00", workDir.c_str(), domain.c_str(), 1), 0);
    fclose(out);
    std::string text = bvtest::ReadFileText(path);
    remove(path.c_str());
    return text;
}

// Deterministic bytes of every value.
std::string PatternBytes(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; i++) bytes[i] = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return bytes;
}

std::string Value(const std::string &text, size_t width) {
    unsigned long length = 0, seed = 0;
    if (text.rfind("@fill ", 0) == 0) return std::string(width - 1, text[6]);
    if (sscanf(text.c_str(), "@bytes %lu %lu", &length, &seed) == 2) return PatternBytes(length, seed);
    return text;
}

FILETIME TimeOf(const std::string &text) {
    int y = 1601, mo = 1, d = 1, h = 0, mi = 0, s = 0;
    sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    SYSTEMTIME st = {(uint16_t)y, (uint16_t)mo, 0, (uint16_t)d, (uint16_t)h, (uint16_t)mi, (uint16_t)s, 0};
    FILETIME time = {};
    plat_SystemTimeToFileTime(&st, &time);
    return time;
}

void SetField(mdat *rec, const std::string &field, const std::string &value) {
    const std::map<std::string, std::pair<char *, size_t>> texts = {
        {"fromName", {rec->fromName, sizeof rec->fromName}}, {"fromAddr", {rec->fromAddr, sizeof rec->fromAddr}},
        {"originalSender", {rec->originalSender, sizeof rec->originalSender}},
        {"subject", {rec->subject, sizeof rec->subject}}, {"messageId", {rec->messageId, sizeof rec->messageId}}};
    const std::map<std::string, int32_t *> numbers = {{"priority", &rec->priority}, {"importance", &rec->importance},
                                                      {"unread", &rec->unread}, {"codepage", &rec->codepage}};
    if (texts.count(field)) {
        auto [at, width] = texts.at(field);
        com_strncpy(at, Value(value, width).c_str(), width - 1);
    } else if (numbers.count(field)) {
        *numbers.at(field) = std::stoi(value);
    } else if (field == "date") {
        rec->date = TimeOf(value);
    } else if (field == "digest") {
        for (size_t i = 0; i < sizeof rec->digest; i++)
            rec->digest[i] = (uint8_t)std::stoul(value.substr(2 * i, 2), nullptr, 16);
    } else {
        ADD_FAILURE() << "unknown field " << field;
    }
}

const std::map<std::string, int *> kSwitches = {
    {"D81", &gD81}, {"D68", &gD68}, {"EIH", &gEih}, {"D74", &gD74}, {"DEDUP", &gDedup}};

// Builds the record of the rows; `level` holds the record each row goes to.
void Describe(const std::vector<bvtest::CaseRow> &rows, mdat *top, const std::string &workDir, CaseRun *run) {
    std::vector<mdat *> level = {top};
    for (const bvtest::CaseRow &row : rows) {
        SCOPED_TRACE(row.Where());
        mdat *rec = level.back();
        const std::string &what = row[0];
        if (what == "set") SetField(rec, row[1], row[2]);
        else if (what == "recip")
            for (int n = row[4].empty() ? 1 : row.Int(4); n > 0; n--)
                AddRecipient(rec, Value(row[2], BV_NAME_LEN), Value(row[3], BV_ADDR_LEN), row.Int(1));
        else if (what == "part") {
            int index = AddPart(rec, workDir, row.Int(1), Value(row[2], BV_NAME_LEN), Value(row[3], 0),
                                Value(row[4], BV_CONTENTID_LEN), row[5]);
            char path[1024];
            com_PartFileName(workDir.c_str(), rec, index, path, sizeof path);
            if (row[3] == "@missing") remove(path);
        } else if (what == "embedded") level.push_back(AddEmbedded(rec));
        else if (what == "end") level.pop_back();
        else if (what == "switch" && kSwitches.count(row[1])) *kSwitches.at(row[1]) = row.Int(2);
        else if (what == "zone") {
            run->skip = !plat_FileExists(("/usr/share/zoneinfo/" + row[1]).c_str());
            setenv("TZ", row[1].c_str(), 1);
            com_strncpy(gGmtOffset, row[2].c_str(), sizeof gGmtOffset - 1);
        } else if (what == "domain") run->domain = row[1];
        else if (what == "readback") run->readback = rec->subject;
        else if (what == "localdate") run->localDate = row[1];
        else ADD_FAILURE() << "unknown directive " << what;
    }
}

// Whether text is expected with "{any}" matching the rest of a line.
bool Matches(const std::string &text, const std::string &expected) {
    size_t at = 0, from = 0;
    for (size_t any; (any = expected.find("{any}", from)) != std::string::npos; from = any + 5) {
        if (text.compare(at, any - from, expected, from, any - from) != 0) return false;
        at = text.find("\r\n", at + any - from);
        if (at == std::string::npos) return false;
    }
    return text.compare(at, std::string::npos, expected, from, std::string::npos) == 0;
}

TEST(ComposerCases, ComposedTextOfEveryRecord) {
    const fs::path dir = BV_COMPOSE_DATA "/compose";
    int cases = 0;
    std::set<std::string> tokens;  // boundary tokens are random: no two messages share one
    for (const auto &entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".record") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ResetComposeSwitches();
        ScratchDir work;
        mdat *rec = NewMailRecord(7);
        CaseRun run;
        Describe(bvtest::ReadCaseTable(entry.path()), rec, work.path, &run);
        if (!run.skip) {
            cases++;
            static const std::regex kToken(R"(\.[0-9a-f]{16}/)");
            std::string composed = ComposeToText(rec, work.path, run.domain);
            std::set<std::string> mine(std::sregex_token_iterator(composed.begin(), composed.end(), kToken), {});
            for (const std::string &token : mine) EXPECT_TRUE(tokens.insert(token).second) << "token again: " << token;
            std::string text = std::regex_replace(composed, kToken, "./");
            fs::path expect = fs::path(entry.path()).replace_extension(".expect");
            EXPECT_TRUE(Matches(text, bvtest::ReadFileText(expect))) << "composed text differs: " << expect.filename();
            if (HasFailure()) bvtest::WriteFileText(fs::path(BV_BINARY_DIR) / expect.filename(), text);
            FILETIME local = TimeOf(run.localDate);
            if (!run.localDate.empty()) {
                EXPECT_EQ(plat_FileTimeToU64(&rec->date), plat_FileTimeToU64(&local));
            }
            if (!run.readback.empty()) {
                bvtest::WriteFileText(work.File("back.eml"), text);
                int result;
                mdat *back = ParseMessageFile(work.File("back.eml"), work.path, 8, &result);
                EXPECT_EQ(result, 0);
                EXPECT_EQ(back->subject, run.readback);
                FreeMailRecord(back, work.path);
            }
        }
        FreeMailRecord(rec, work.path);
    }
    ResetComposeSwitches();
    EXPECT_GT(cases, 15);
}

}  // namespace
