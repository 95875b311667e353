// The common library's session services: the registry file, host settings,
// notes, the host's filters, the duplicate register's digests (its runs:
// tests/module/data/handover.tsv, tests/host/data/scenarios), the log and the
// file helpers.
#include <gtest/gtest.h>
#include <string.h>

#include "support/file_text.h"
#include "support/temp_dir.h"
#include "tests/foundation/foundation_support.h"

namespace {

using bvtest::ReadFileText;
using bvtest::WriteFileText;

TEST(Registry, ReadsTheHostsTextFile) {
    bvtest::TempDir dir("bvfound");
    WriteFileText(dir.Path() / "registry.txt",
                  "# the identities of the mail client\n[HKEY_USERS\\.DEFAULT\\Identities]\n"
                  "\"Default User ID\"=\"{11-22}\"\n\n[HKU\\.DEFAULT\\Identities\\{11-22}\\Software\\OE\\5.0]\r\n"
                  "Store Root = /home/u/oe store\r\n[HKEY_CURRENT_USER\\Other]\nStore Root=wrong key\n");
    char out[256], tiny[4];
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_USERS, ".DEFAULT\\Identities", "Default User ID", out, sizeof(out)))
        << "no file named yet";
    bvcom_SetRegistryFile((dir.Path() / "registry.txt").c_str());
    ASSERT_TRUE(com_RegistryRead(BV_HKEY_USERS, ".DEFAULT\\Identities", "Default User ID", out, sizeof(out)));
    EXPECT_STREQ(out, "{11-22}");
    const char *key = ".DEFAULT\\Identities\\{11-22}\\Software\\OE\\5.0";
    ASSERT_TRUE(com_RegistryRead(BV_HKEY_USERS, key, "store root", out, sizeof(out)));
    EXPECT_STREQ(out, "/home/u/oe store");
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_USERS, key, "Missing", out, sizeof(out)));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_LOCAL_MACHINE, key, "Store Root", out, sizeof(out)));
    ASSERT_TRUE(com_RegistryRead(BV_HKEY_CURRENT_USER, "other", "Store Root", tiny, sizeof(tiny)));
    EXPECT_STREQ(tiny, "wro");
    bvcom_SetRegistryFile(nullptr);
}

TEST(HostSettings, WorkDirectoryNumberedSettingsAndNotes) {
    char out[512];
    bvcom_SetWorkDir("/var/tmp/bvwork");
    EXPECT_NE(com_GetHostSetting(BVCOM_SETTING_WORK_DIR, out, sizeof(out)), 0);
    EXPECT_STREQ(out, "/var/tmp/bvwork/");
    bvcom_SetHostSetting(BVCOM_SETTING_WORK_DIR, "/data/downloads");
    com_GetHostSetting(BVCOM_SETTING_WORK_DIR, out, sizeof(out));
    EXPECT_STREQ(out, "/data/downloads/");
    bvcom_SetHostSetting(BVCOM_SETTING_WORK_DIR, nullptr);
    bvcom_SetWorkDir(nullptr);
    com_GetHostSetting(BVCOM_SETTING_WORK_DIR, out, sizeof(out));
    EXPECT_GT(strlen(out), 0u) << "falls back to the temp directory";
    EXPECT_EQ(com_GetHostSetting(BVCOM_SETTING_CALENDAR_DAYS, out, sizeof(out)), 0);
    bvcom_SetHostSetting(BVCOM_SETTING_CALENDAR_DAYS, "30");
    EXPECT_EQ(com_GetHostSetting(BVCOM_SETTING_CALENDAR_DAYS, out, sizeof(out)), 30);
    bvcom_SetHostSetting(BVCOM_SETTING_CALENDAR_DAYS, nullptr);
    EXPECT_EQ(com_GetHostSetting(64, out, sizeof(out)), 0);
    EXPECT_EQ(com_GetHostSetting(-1, out, sizeof(out)), 0);

    // Notes belong to their record and are bounded.
    HeapRecord rec, other;
    char notes[BV_NOTES_LEN];
    com_WriteNotes(rec, "line one\r\nline two", "/ignored/");
    EXPECT_EQ(com_ReadNotes(rec, notes, nullptr), 18);
    EXPECT_STREQ(notes, "line one\r\nline two");
    EXPECT_EQ(com_ReadNotes(other, notes, nullptr), 0);
    com_WriteNotes(rec, std::string(BV_NOTES_LEN + 500, 'n').c_str(), nullptr);
    EXPECT_EQ(com_ReadNotes(rec, notes, nullptr), BV_NOTES_LEN - 1);
    EXPECT_EQ(notes[BV_NOTES_LEN - 1], 0);
}

int RejectOddHostValue(mdat *, BvHostValue a, BvHostValue, BvHostValue) { return (a & 1) == 0; }

TEST(Filters, AcceptAllUntilTheHostConfiguresThem) {
    HeapRecord rec;
    rec->date = rec->startTime = com_Create_FileTime(6, 1, 2020, 0, 0, 0);
    EXPECT_TRUE(com_Check_MaxMsgDate(rec, 0) && com_Check_MaxCalDate(rec) && com_Check_MaxTaskDate(rec));
    EXPECT_TRUE(com_SearchMsg(rec, "", 1, 2, 3));
    EXPECT_FALSE(com_ExcludeSubject("RFC subject: anything; Date=1/1/2020 00:00"));

    FILETIME from = com_Create_FileTime(1, 1, 2021, 0, 0, 0);
    bvcom_SetDateRange(&from, nullptr);
    EXPECT_FALSE(com_Check_MaxMsgDate(rec, 0));
    EXPECT_FALSE(com_Check_MaxCalDate(rec));
    rec->startTime = FILETIME{0, 0};
    rec->endTime = com_Create_FileTime(2, 1, 2022, 0, 0, 0);
    EXPECT_TRUE(com_Check_MaxTaskDate(rec)) << "a task without start is dated by its due date";
    rec->date = FILETIME{0, 0};
    EXPECT_TRUE(com_Check_MaxMsgDate(rec, 0)) << "no date, no date filter";
    bvcom_SetDateRange(nullptr, nullptr);

    bvcom_AddSubjectPattern("lottery*winner");
    bvcom_AddSubjectPattern("UNSUBSCRIBE");
    EXPECT_TRUE(com_ExcludeSubject("RFC subject: Lottery: you are a WINNER; Date=1/1/2020 00:00"));
    EXPECT_TRUE(com_ExcludeSubject("please unsubscribe me"));
    EXPECT_FALSE(com_ExcludeSubject("winner of the lottery"));
    bvcom_AddSubjectPattern(nullptr);
    EXPECT_FALSE(com_ExcludeSubject("please unsubscribe me"));

    bvcom_SetSearchFilter(RejectOddHostValue);
    EXPECT_FALSE(com_SearchMsg(rec, "", 1, 0, 0));
    EXPECT_TRUE(com_SearchMsg(rec, "", 2, 0, 0));
    bvcom_SetSearchFilter(nullptr);

    strcpy(rec->fromAddr, "Old@Example.com");
    ASSERT_TRUE(com_AllocRecip(rec));
    strcpy(rec->recips[0]->addr, "old@example.com");
    rec->recipCount = 1;
    com_AddressTranslate(rec);
    EXPECT_STREQ(rec->fromAddr, "Old@Example.com") << "no map, no change";
    bvcom_AddAddressMapping("old@example.com", "new@example.org");
    com_AddressTranslate(rec);
    bvcom_AddAddressMapping(nullptr, nullptr);
    EXPECT_STREQ(rec->fromAddr, "new@example.org");
    EXPECT_STREQ(rec->recips[0]->addr, "new@example.org");

    strcpy(rec->subject, "caf\xe9");
    com_CharConvert(rec, "");
    EXPECT_STREQ(rec->subject, "caf\xe9") << "no conversion configured";
    bvcom_SetCharConversion(28591, 65001);
    com_CharConvert(rec, "");
    bvcom_SetCharConversion(0, 0);
    EXPECT_STREQ(rec->subject, "caf\xc3\xa9");
}

void MakeMail(mdat *rec, const char *subject) {
    rec->dataType = 0;
    strcpy(rec->messageId, "<1@example.com>");
    strcpy(rec->fromAddr, "ann@example.com");
    com_strncpy(rec->subject, subject, sizeof(rec->subject) - 1);
    rec->date = com_Create_FileTime(3, 1, 2023, 8, 30, 0);
}

std::string Digest(void (*fill)(mdat *)) {
    HeapRecord rec;
    fill(rec);
    com_MsgIsDuplicate(rec, nullptr, BV_DUP_DIGEST, "");
    return std::string((const char *)rec->digest, 16);
}

TEST(DuplicateRegister, DigestFollowsTheIdentifyingFieldsOfEachKind) {
    std::string mail = Digest([](mdat *r) { MakeMail(r, "Same"); });
    EXPECT_NE(mail, std::string(16, '\0'));
    EXPECT_EQ(mail, Digest([](mdat *r) {
                  MakeMail(r, "Same");
                  strcpy(r->fromName, "a display name is not identifying");
              }));
    // A mail item is known by its content, never by its date (which the
    // parser may have made up, and the target shifts to local time).
    EXPECT_EQ(mail, Digest([](mdat *r) {
                  MakeMail(r, "Same");
                  r->date = com_Create_FileTime(3, 1, 2023, 8, 31, 0);
              }));
    // (Mails that differ only in their part files: tests/host/data/scenarios/register.tsv.)
    // Field boundaries count: "ab"+"c" differs from "a"+"bc".
    EXPECT_NE(Digest([](mdat *r) { r->dataType = 1, strcpy(r->firstName, "ab"), strcpy(r->lastName, "c"); }),
              Digest([](mdat *r) { r->dataType = 1, strcpy(r->firstName, "a"), strcpy(r->lastName, "bc"); }));
    // An event's digest does not depend on its UID (a UID may be made from it).
    EXPECT_EQ(Digest([](mdat *r) { r->dataType = 2, strcpy(r->title, "Standup"); }),
              Digest([](mdat *r) { r->dataType = 2, strcpy(r->title, "Standup"), strcpy(r->uid, "given"); }));
}

TEST(Log, OneFlushedLinePerCallInTheHostFile) {
    bvtest::TempDir dir("bvfound");
    std::string log = (dir.Path() / "bv.log").string();
    bvcom_SetLogFile(log.c_str());
    com_Log("BV Info: first %d", 1);
    EXPECT_EQ(ReadFileText(log), "BV Info: first 1\n") << "flushed at once";
    com_Log("BV Warning: with its own line end\n");
    com_Log("%s", std::string(20000, 'q').c_str());  // cut, still one line
    bvcom_SetLogFile(nullptr);
    com_Log("BV Error: after closing, nowhere");
    std::string text = ReadFileText(log);
    EXPECT_EQ(text.substr(0, 52), "BV Info: first 1\nBV Warning: with its own line end\nq");
    EXPECT_EQ(bvtest::CountOf(text, "\n"), 3);
    // The platform's notices land in the same log.
    bvcom_SetLogFile(log.c_str());
    bvcom_SetMessageBoxAnswer(BV_IDYES);
    EXPECT_EQ(plat_MessageBox("Overwrite?", "bvole", 4), BV_IDYES);
    bvcom_SetMessageBoxAnswer(BV_IDNO);
    bvcom_SetLogFile(nullptr);
    EXPECT_NE(ReadFileText(log).find("Overwrite?"), std::string::npos);
}

TEST(FileHelpers, MkdirCopyValidateAndSystemDir) {
    bvtest::TempDir scratch("bvfound");
    std::string dir = scratch.Path().string() + "/";
    EXPECT_NE(_com_mkdir((dir + "a/b.c/d/").c_str()), 0);
    EXPECT_TRUE(plat_DirectoryExists((dir + "a/b.c/d").c_str()));
    EXPECT_NE(_com_mkdir((dir + "a/b.c/d/").c_str()), 0) << "existing directory is success";
    WriteFileText(dir + "plainfile", "x");
    EXPECT_EQ(_com_mkdir((dir + "plainfile/sub").c_str()), 0);
    EXPECT_NE(com_ValidateOutputDir((dir + "a/b.c/d/out.csv").c_str(), 0), 0);
    EXPECT_NE(com_ValidateOutputDir((dir + "a").c_str(), 0), 0);
    EXPECT_EQ(com_ValidateOutputDir((dir + "missing/out.csv").c_str(), 0), 0);
    EXPECT_EQ(com_ValidateOutputDir("", 0), 0);

    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = (char)(i * 7);
    WriteFileText(dir + "src.bin", content);
    EXPECT_EQ(com_fcopy((dir + "src.bin").c_str(), (dir + "a/copy.bin").c_str()), 200000);
    EXPECT_EQ(ReadFileText(dir + "a/copy.bin"), content);
    EXPECT_EQ(com_GetFileSize((dir + "a/copy.bin").c_str()), 200000);
    EXPECT_EQ(com_fcopy((dir + "nope").c_str(), (dir + "x").c_str()), -1);
    EXPECT_FALSE(plat_FileExists((dir + "x").c_str()));
    EXPECT_LT(com_fcopy((dir + "src.bin").c_str(), (dir + "missing/x").c_str()), 0);
    EXPECT_EQ(com_GetFileSize((dir + "nope").c_str()), -1);
    EXPECT_EQ(com_GetFileSize((dir + "a").c_str()), -1) << "a directory has no file size";

    bvcom_SetHostSetting(BVCOM_SETTING_SYSTEM_DIR, (dir + "settings").c_str());
    char rel[64] = "folders.txt", abs[64] = "/etc/list.txt", tight[16] = "folders.txt";
    com_AddSystemDir(rel, sizeof(rel));
    com_AddSystemDir(abs, sizeof(abs));
    com_AddSystemDir(tight, sizeof(tight));
    bvcom_SetHostSetting(BVCOM_SETTING_SYSTEM_DIR, nullptr);
    EXPECT_EQ(std::string(rel), dir + "settings/folders.txt");
    EXPECT_STREQ(abs, "/etc/list.txt");
    EXPECT_STREQ(tight, "folders.txt") << "does not fit: unchanged";
}

}  // namespace
