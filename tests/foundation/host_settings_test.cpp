// Registry file, numbered host settings, notes shared in the process, and
// the host's filters.
#include <gtest/gtest.h>
#include <string.h>

#include "tests/foundation/foundation_test_util.h"

TEST(Registry, ReadsTheHostsTextFile) {
    ScratchDir dir;
    WriteFile(dir / "registry.txt",
              "# the identities of the mail client\n"
              "[HKEY_USERS\\.DEFAULT\\Identities]\n"
              "\"Default User ID\"=\"{11-22}\"\n"
              "\n"
              "[HKU\\.DEFAULT\\Identities\\{11-22}\\Software\\Microsoft\\Outlook Express\\5.0]\r\n"
              "Store Root = /home/u/oe store\r\n"
              "[HKEY_CURRENT_USER\\Other]\n"
              "Store Root=wrong key\n");
    char out[256];
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_USERS, ".DEFAULT\\Identities", "Default User ID", out, sizeof(out)))
        << "no file named yet";
    bvcom_SetRegistryFile((dir / "registry.txt").c_str());
    ASSERT_TRUE(com_RegistryRead(BV_HKEY_USERS, ".DEFAULT\\Identities", "Default User ID", out, sizeof(out)));
    EXPECT_STREQ(out, "{11-22}");
    std::string key = std::string(".DEFAULT\\Identities\\") + out + "\\Software\\Microsoft\\Outlook Express\\5.0";
    ASSERT_TRUE(com_RegistryRead(BV_HKEY_USERS, key.c_str(), "store root", out, sizeof(out)));
    EXPECT_STREQ(out, "/home/u/oe store");
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_USERS, key.c_str(), "Missing", out, sizeof(out)));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(com_RegistryRead(BV_HKEY_LOCAL_MACHINE, key.c_str(), "Store Root", out, sizeof(out)));
    char tiny[4];
    ASSERT_TRUE(com_RegistryRead(BV_HKEY_CURRENT_USER, "other", "Store Root", tiny, sizeof(tiny)));
    EXPECT_STREQ(tiny, "wro");
    bvcom_SetRegistryFile(nullptr);
}

TEST(HostSettings, WorkDirectoryAndNumberedSettings) {
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
    EXPECT_STREQ(out, "30");
    bvcom_SetHostSetting(BVCOM_SETTING_CALENDAR_DAYS, nullptr);
    EXPECT_EQ(com_GetHostSetting(64, out, sizeof(out)), 0);
    EXPECT_EQ(com_GetHostSetting(-1, out, sizeof(out)), 0);
}

TEST(Notes, SharedByRecordAcrossCallersAndBounded) {
    HeapRecord rec, other;
    com_WriteNotes(rec, "line one\r\nline two", "/ignored/");
    char notes[BV_NOTES_LEN];
    EXPECT_EQ(com_ReadNotes(rec, notes, nullptr), 18);
    EXPECT_STREQ(notes, "line one\r\nline two");
    EXPECT_EQ(com_ReadNotes(other, notes, nullptr), 0) << "notes belong to their record";
    std::string huge(BV_NOTES_LEN + 500, 'n');
    com_WriteNotes(rec, huge.c_str(), nullptr);
    memset(notes, 'Z', sizeof(notes));
    EXPECT_EQ(com_ReadNotes(rec, notes, nullptr), BV_NOTES_LEN - 1);
    EXPECT_EQ(notes[BV_NOTES_LEN - 1], 0);
    com_WriteNotes(rec, "", nullptr);
    EXPECT_EQ(com_ReadNotes(rec, notes, nullptr), 0);
}

static int RejectOddHostValue(mdat *, BvHostValue a, BvHostValue, BvHostValue) {
    return (a & 1) == 0;
}

TEST(Filters, AcceptAllUntilTheHostConfiguresThem) {
    HeapRecord rec;
    rec->date = com_Create_FileTime(6, 1, 2020, 0, 0, 0);
    rec->startTime = rec->date;
    EXPECT_TRUE(com_Check_MaxMsgDate(rec, 0));
    EXPECT_TRUE(com_Check_MaxCalDate(rec));
    EXPECT_TRUE(com_Check_MaxTaskDate(rec));
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
    EXPECT_STREQ(rec->fromAddr, "new@example.org");
    EXPECT_STREQ(rec->recips[0]->addr, "new@example.org");
    bvcom_AddAddressMapping(nullptr, nullptr);

    strcpy(rec->subject, "caf\xe9");
    com_CharConvert(rec, "");
    EXPECT_STREQ(rec->subject, "caf\xe9") << "no conversion configured";
    bvcom_SetCharConversion(28591, 65001);
    com_CharConvert(rec, "");
    bvcom_SetCharConversion(0, 0);
    EXPECT_STREQ(rec->subject, "caf\xc3\xa9");
    com_Pause(20);  // returns at once: pauses were not enabled
}
