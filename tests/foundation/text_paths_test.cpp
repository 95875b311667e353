// Bounded copies, text edits, the case-insensitive search, and path helpers
// on edge input.
#include <gtest/gtest.h>
#include <string.h>
#include <strings.h>

#include "tests/foundation/foundation_test_util.h"

static std::string Edit(void (*fn)(char *), const char *text) {
    char buf[256];
    strcpy(buf, text);
    fn(buf);
    return buf;
}

TEST(BoundedCopy, NeverWritesPastNPlusOne) {
    char buf[8];
    memset(buf, '#', sizeof(buf));
    com_strncpy(buf, "abcdefghijkl", 5);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(buf[6], '#') << "byte after the terminator untouched";
    com_strncpy(buf, "ab", 5);
    EXPECT_STREQ(buf, "ab");
    com_strncpy(buf, nullptr, 5);
    EXPECT_STREQ(buf, "");
    com_strncpy(buf, "xyz", 0);
    EXPECT_STREQ(buf, "");
    // Source not terminated within n: only n bytes are read.
    char source[4] = {'p', 'q', 'r', 's'};
    com_strncpy(buf, source, 4);
    EXPECT_STREQ(buf, "pqrs");
}

TEST(TextEdits, TrimsQuotesLineEndsAndEscapes) {
    EXPECT_EQ(Edit(com_ltrim, " \t\r\nword  "), "word  ");
    EXPECT_EQ(Edit(com_rtrim, "  word \t\r\n"), "  word");
    EXPECT_EQ(Edit(com_rtrim, "   "), "");
    EXPECT_EQ(Edit(com_delspaces, "\t Re:  two  blanks \t"), "Re:  two  blanks");
    EXPECT_EQ(Edit(com_Remove_Quotes, "\"Smith, John\""), "Smith, John");
    EXPECT_EQ(Edit(com_Remove_Quotes, "\"say \"\"hi\"\"\""), "say \"hi\"");
    EXPECT_EQ(Edit(com_Remove_Quotes, "'ann@example.com'"), "ann@example.com");
    EXPECT_EQ(Edit(com_Remove_Quotes, "\"unbalanced"), "unbalanced");
    EXPECT_EQ(Edit(com_Remove_Quotes, "\""), "");
    EXPECT_EQ(Edit(com_Remove_Quotes, "plain"), "plain");
    EXPECT_EQ(Edit(com_StripCR, "a\rb\r\n\n"), "ab");
    EXPECT_EQ(Edit(com_StripLineEnd, "Folders: \r\n"), "Folders:");
    EXPECT_EQ(Edit(com_StripLineEnd, "\r\n"), "");
    EXPECT_EQ(Edit(com_Unescape, "\\\"Ann\\\" \\\\ C:\\dir"), "\"Ann\" \\ C:\\dir");
    EXPECT_EQ(Edit(com_Unescape, "trailing\\"), "trailing\\");
    EXPECT_EQ(Edit(com_DeSlash, "/a/b//"), "/a/b");
    EXPECT_EQ(Edit(com_DeSlash, "/"), "/");
    EXPECT_EQ(Edit(com_DeSlash, ""), "");
}

TEST(TextSearch, CaseInsensitiveFromAnOffset) {
    const char *text = "Content-Type: Multipart/Mixed; boundary=x";
    EXPECT_EQ(com_stristr(text, "multipart/mixed", 0), text + 14);
    EXPECT_EQ(com_stristr(text, "MULTIPART", 15), nullptr);
    EXPECT_EQ(com_stristr(text, "BOUNDARY=", 20), text + 31);
    EXPECT_EQ(com_stristr(text, "", 3), text + 3);
    EXPECT_EQ(com_stristr(text, "x", (int)strlen(text) + 1), nullptr);
    EXPECT_EQ(com_stristr(text, "x", -1), nullptr);
    EXPECT_EQ(com_stristr(nullptr, "x", 0), nullptr);
    EXPECT_EQ(com_stristr("ab", "abc", 0), nullptr);
    // Bytes above 0x7F compare as they are.
    EXPECT_NE(com_stristr("caf\xc3\xa9 ok", "\xc3\xa9", 0), nullptr);
}

static std::string Dir(const char *path) {
    char out[64];
    com_ExtractFileDir(path, out, sizeof(out));
    return out;
}
static std::string Ext(const char *path) {
    char out[64];
    com_ExtractFileExt(path, out, sizeof(out));
    return out;
}
static std::string Name(const char *path) {
    char out[64];
    com_ExtractFileName(path, out, sizeof(out));
    return out;
}

TEST(PathPieces, EdgeInput) {
    EXPECT_EQ(Dir("/store/mail/Inbox.dbx"), "/store/mail");
    EXPECT_EQ(Dir("Inbox.dbx"), "");
    EXPECT_EQ(Dir("/Inbox.dbx"), "/");
    EXPECT_EQ(Dir("/store/mail/"), "/store/mail");
    EXPECT_EQ(Dir(""), "");
    EXPECT_EQ(Ext("/store/mail/Inbox.DBX"), "DBX");
    EXPECT_EQ(strcasecmp(Ext("inbox.DbX").c_str(), "dbx"), 0);
    EXPECT_EQ(Ext("/dir.with.dots/file"), "");
    EXPECT_EQ(Ext("/dir.with.dots/file.tar.gz"), "gz");
    EXPECT_EQ(Ext("name."), "");
    EXPECT_EQ(Ext(""), "");
    EXPECT_EQ(Name("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(Name("c.txt"), "c.txt");
    EXPECT_EQ(Name("/a/b/"), "");
    // Outputs are bounded by their capacity.
    char small[4];
    com_ExtractFileName("/a/abcdefgh", small, sizeof(small));
    EXPECT_STREQ(small, "abc");
    com_ExtractFileDir("/abcdefgh/x", small, sizeof(small));
    EXPECT_STREQ(small, "/ab");

    char path[8] = "/a/b";
    com_AppendSlash(path, sizeof(path));
    EXPECT_STREQ(path, "/a/b/");
    com_AppendSlash(path, sizeof(path));
    EXPECT_STREQ(path, "/a/b/");
    char full[6] = "/abcd";
    com_AppendSlash(full, sizeof(full));
    EXPECT_STREQ(full, "/abcd") << "no room: unchanged";
    char empty[4] = "";
    com_AppendSlash(empty, sizeof(empty));
    EXPECT_STREQ(empty, "");
}

TEST(FileHelpers, MkdirCopyValidateAndSystemDir) {
    ScratchDir dir;
    std::string deep = dir / "a/b.c/d/";
    EXPECT_NE(_com_mkdir(deep.c_str()), 0);
    EXPECT_TRUE(plat_DirectoryExists((dir / "a/b.c/d").c_str()));
    EXPECT_NE(_com_mkdir(deep.c_str()), 0) << "existing directory is success";
    WriteFile(dir / "plainfile", "x");
    EXPECT_EQ(_com_mkdir((dir / "plainfile/sub").c_str()), 0);

    EXPECT_NE(com_ValidateOutputDir((dir / "a/b.c/d/out.csv").c_str(), 0), 0);
    EXPECT_NE(com_ValidateOutputDir((dir / "a").c_str(), 0), 0);
    EXPECT_EQ(com_ValidateOutputDir((dir / "missing/out.csv").c_str(), 0), 0);
    EXPECT_EQ(com_ValidateOutputDir("", 0), 0);

    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = (char)(i * 7);
    WriteFile(dir / "src.bin", content);
    EXPECT_EQ(com_fcopy((dir / "src.bin").c_str(), (dir / "a/copy.bin").c_str()), 200000);
    EXPECT_EQ(ReadFile(dir / "a/copy.bin"), content);
    EXPECT_EQ(com_GetFileSize((dir / "a/copy.bin").c_str()), 200000);
    EXPECT_EQ(com_fcopy((dir / "nope").c_str(), (dir / "x").c_str()), -1);
    EXPECT_FALSE(FileExists(dir / "x"));
    EXPECT_LT(com_fcopy((dir / "src.bin").c_str(), (dir / "missing/x").c_str()), 0);
    EXPECT_EQ(com_GetFileSize((dir / "nope").c_str()), -1);
    EXPECT_EQ(com_GetFileSize((dir / "a").c_str()), -1) << "a directory has no file size";

    bvcom_SetHostSetting(BVCOM_SETTING_SYSTEM_DIR, (dir.path + "settings").c_str());
    char rel[64] = "folders.txt";
    com_AddSystemDir(rel, sizeof(rel));
    EXPECT_EQ(std::string(rel), dir / "settings/folders.txt");
    char abs[64] = "/etc/list.txt";
    com_AddSystemDir(abs, sizeof(abs));
    EXPECT_STREQ(abs, "/etc/list.txt");
    char tight[16] = "folders.txt";
    com_AddSystemDir(tight, sizeof(tight));
    EXPECT_STREQ(tight, "folders.txt") << "does not fit: unchanged";
    bvcom_SetHostSetting(BVCOM_SETTING_SYSTEM_DIR, nullptr);
}
