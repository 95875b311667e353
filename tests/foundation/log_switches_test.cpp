// The host's switch string as tokens, and the log file.
#include <gtest/gtest.h>
#include <algorithm>
#include <string.h>

#include "tests/foundation/foundation_test_util.h"

static std::string Token(int index, int *exists = nullptr) {
    char buf[BV_TOKEN_LEN + 64];
    memset(buf, 'Z', sizeof(buf));
    int found = com_GetParm(index, buf);
    if (exists) *exists = found;
    return buf;
}

TEST(Switches, BlanksSeparateAndQuotesKeepBlanks) {
    bvcom_SetSwitches("  /GN \"My Folder\"\t/DEBUG /ZFOLDERS \"/tmp/a b/list.txt\" \"\" last");
    int exists = 0;
    EXPECT_EQ(Token(0, &exists), "/GN");
    EXPECT_TRUE(exists);
    EXPECT_EQ(Token(1), "My Folder");
    EXPECT_EQ(Token(2), "/DEBUG");
    EXPECT_EQ(Token(3), "/ZFOLDERS");
    EXPECT_EQ(Token(4), "/tmp/a b/list.txt");
    EXPECT_EQ(Token(5, &exists), "");
    EXPECT_TRUE(exists) << "an empty quoted token is still a token";
    EXPECT_EQ(Token(6), "last");
    EXPECT_EQ(Token(7, &exists), "");
    EXPECT_FALSE(exists);
    EXPECT_EQ(Token(-1, &exists), "");
    EXPECT_FALSE(exists);

    // A quote inside a token joins the blank-separated pieces around it.
    bvcom_SetSwitches("/D55\"a b\"c next");
    EXPECT_EQ(Token(0), "/D55a bc");
    EXPECT_EQ(Token(1), "next");
    // An unclosed quote runs to the end.
    bvcom_SetSwitches("/GN \"open ended");
    EXPECT_EQ(Token(1), "open ended");

    bvcom_SetSwitches("");
    EXPECT_EQ(Token(0, &exists), "");
    EXPECT_FALSE(exists);
    bvcom_SetSwitches(nullptr);
    EXPECT_FALSE(com_GetParm(0, nullptr));
}

TEST(Switches, TokensAreCutAt255Characters) {
    std::string longToken(400, 'a');
    longToken[254] = 'b';
    longToken[255] = 'c';
    bvcom_SetSwitches(("/GN " + longToken + " /DEBUG").c_str());
    std::string got = Token(1);
    EXPECT_EQ(got.size(), 255u);
    EXPECT_EQ(got.back(), 'b');
    EXPECT_EQ(Token(2), "/DEBUG") << "the rest of an overlong token is skipped, not a new token";
    bvcom_SetSwitches(nullptr);
}

TEST(Log, OneFlushedLinePerCallInTheHostFile) {
    ScratchDir dir;
    std::string log = dir / "bv.log";
    bvcom_SetLogFile(log.c_str());
    com_Log("BV Info: first %d", 1);
    // Flushed at once: readable while the file is still open.
    EXPECT_EQ(ReadFile(log), "BV Info: first 1\n");
    com_Log("BV Warning: with its own line end\n");
    com_Log("%s", std::string(20000, 'q').c_str());  // cut, still one line
    bvcom_SetLogFile(nullptr);
    com_Log("BV Error: after closing, nowhere");
    std::string text = ReadFile(log);
    EXPECT_EQ(text.substr(0, 52), "BV Info: first 1\nBV Warning: with its own line end\nq");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(text.find("after closing"), std::string::npos);
    // The platform's notices land in the same log.
    bvcom_SetLogFile(log.c_str());
    bvcom_SetMessageBoxAnswer(BV_IDYES);
    EXPECT_EQ(plat_MessageBox("Overwrite?", "bvole", 4), BV_IDYES);
    bvcom_SetMessageBoxAnswer(BV_IDNO);
    bvcom_SetLogFile(nullptr);
    EXPECT_NE(ReadFile(log).find("Overwrite?"), std::string::npos);
}
