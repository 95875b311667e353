// Random and oversized input through every text surface of the library: the
// sanitizers catch any read or write out of bounds, the checks below any
// edit that grows a text in place or loses its terminator.
#include <gtest/gtest.h>
#include <random>
#include <string.h>
#include <strings.h>
#include <vector>

#include "tests/foundation/foundation_support.h"

static std::string RandomText(std::mt19937 &rng, size_t maxLen) {
    static const char kPieces[] = "\"'\\/ \t\r\n.*?=;:[]#abcXYZ\x80\xC3\xA9\xFF\x01";
    std::uniform_int_distribution<size_t> len(0, maxLen), pick(0, sizeof(kPieces) - 2), byte(1, 255);
    std::string out(len(rng), ' ');
    for (char &c : out) c = (rng() % 3) ? kPieces[pick(rng)] : (char)byte(rng);
    return out;
}

TEST(GarbageInput, InPlaceEditsNeverGrowAndStayTerminated) {
    std::mt19937 rng(1234);
    void (*edits[])(char *) = {com_Remove_Quotes, com_Unescape, com_StripCR, com_delspaces,
                               com_ltrim,         com_rtrim,    com_DeSlash, com_StripLineEnd};
    for (int round = 0; round < 3000; ++round) {
        std::string text = RandomText(rng, 80);
        for (auto edit : edits) {
            std::vector<char> buf(text.begin(), text.end());
            buf.push_back(0);
            edit(buf.data());
            EXPECT_LE(strlen(buf.data()), text.size());
        }
        char out[16];
        com_ExtractFileDir(text.c_str(), out, sizeof(out));
        com_ExtractFileExt(text.c_str(), out, sizeof(out));
        com_ExtractFileName(text.c_str(), out, sizeof(out));
        EXPECT_LT(strlen(out), sizeof(out));
        std::string pattern = RandomText(rng, 4);
        const char *hit = com_stristr(text.c_str(), pattern.c_str(), (int)(rng() % 90));
        if (hit) {
            EXPECT_EQ(strncasecmp(hit, pattern.c_str(), pattern.size()), 0);
        }
    }
}

TEST(GarbageInput, ConversionsStayInsideTheirBuffers) {
    std::mt19937 rng(99);
    const int codepages[] = {65001, 28591, 1252, 850, 932, 50220, 65000, 54936, 1200, 20127, 28606};
    for (int round = 0; round < 1500; ++round) {
        std::string text = RandomText(rng, 60);
        size_t capacity = text.size() + 1 + rng() % 8;
        std::vector<char> buf(capacity + 16, '#');
        memcpy(buf.data(), text.c_str(), text.size() + 1);
        int from = codepages[rng() % 11], to = codepages[rng() % 11];
        int len = com_CodepageToWindows(buf.data(), from, to, capacity);
        EXPECT_LT(len, (int)capacity);
        if (len >= 0) {
            EXPECT_EQ(buf[(size_t)len], 0);
        }
        for (size_t i = capacity; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << "wrote past the capacity";

        char name[BV_CHARSET_LEN * 2];
        com_strncpy(name, RandomText(rng, 40).c_str(), sizeof(name) - 1);
        com_iso_codepage(0, name);
    }
}

TEST(GarbageInput, SwitchesRegistryAndRegisterFiles) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string switches = RandomText(rng, 600);
        bvcom_SetSwitches(switches.c_str());
        char token[BV_TOKEN_LEN];
        for (int i = 0; com_GetParm(i, token) && i < 700; ++i) EXPECT_LT(strlen(token), (size_t)BV_TOKEN_LEN);
    }
    bvcom_SetSwitches(nullptr);

    ScratchDir dir;
    std::string registry;
    for (int i = 0; i < 200; ++i) registry += RandomText(rng, 120) + "\n";
    registry += std::string(10000, 'k') + "\n[HKU\\Key]\nName=" + std::string(5000, 'v') + "\nShort=ok\n";
    bvtest::WriteFileText(dir / "registry.txt", registry);
    bvcom_SetRegistryFile((dir / "registry.txt").c_str());
    char out[64];
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_USERS, "Key", "Name", out, sizeof(out))) << "overlong line skipped";
    EXPECT_TRUE(com_RegistryRead(BV_HKEY_USERS, "Key", "Short", out, sizeof(out)));
    EXPECT_STREQ(out, "ok");
    bvcom_SetRegistryFile(nullptr);

    std::string reg;
    for (int i = 0; i < 200; ++i) reg += RandomText(rng, 3000) + "\n";
    bvtest::WriteFileText(dir / "bvdupreg.txt", reg);
    bvcom_SetWorkDir(dir.path.c_str());
    HeapRecord rec;
    strcpy(rec->subject, "after garbage");
    EXPECT_EQ(com_MsgIsDuplicate(rec, dir.path.c_str(), BV_DUP_CHECK, "F"), 0);
    com_MsgIsDuplicate(rec, dir.path.c_str(), BV_DUP_REGISTER, "F");
    bvcom_SetWorkDir(dir.path.c_str());
    EXPECT_NE(com_MsgIsDuplicate(rec, dir.path.c_str(), BV_DUP_CHECK, "F"), 0);
    bvcom_SetWorkDir(nullptr);
}
