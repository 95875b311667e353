// FILETIME / SYSTEMTIME conversions, local time across daylight-saving
// changes (TZ set by the test), zone information and date text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tests/foundation/foundation_test_util.h"

// Sets TZ for one test and restores the previous value afterwards.
class ZoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (tz) savedTz_ = tz;
    }
    void TearDown() override {
        if (hadTz_) setenv("TZ", savedTz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void UseZone(const char *tz) { setenv("TZ", tz, 1); }

  private:
    bool hadTz_ = false;
    std::string savedTz_;
};

static FILETIME Utc(int y, int mo, int d, int h, int mi, int s) {
    return com_Create_FileTime(mo, d, y, h, mi, s);
}

static std::string Text(const FILETIME &ft) {
    char out[32];
    com_FileTimeText(&ft, out, sizeof(out));
    return out;
}

static std::string Local(const FILETIME &utc) {
    FILETIME local;
    com_FileTimeToLocalFileTime(&utc, &local);
    return Text(local);
}

static std::string BackToUtc(int y, int mo, int d, int h, int mi) {
    FILETIME local = Utc(y, mo, d, h, mi, 0), utc;
    EXPECT_TRUE(plat_LocalFileTimeToFileTime(&local, &utc));
    return Text(utc);
}

TEST(TimeConversion, SystemTimeAndFileTimeAgree) {
    SYSTEMTIME st;
    memset(&st, 0, sizeof(st));
    st.wYear = 1601;
    st.wMonth = 1;
    st.wDay = 1;
    FILETIME ft;
    ASSERT_TRUE(plat_SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(plat_FileTimeToU64(&ft), 0u);
    EXPECT_TRUE(com_DateIsNull(&ft));

    st = SYSTEMTIME{2024, 2, 0, 29, 23, 59, 58, 123};
    ASSERT_TRUE(plat_SystemTimeToFileTime(&st, &ft));
    SYSTEMTIME back;
    ASSERT_TRUE(plat_FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, 2024);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wDayOfWeek, 4) << "2024-02-29 was a Thursday";
    EXPECT_EQ(back.wHour, 23);
    EXPECT_EQ(back.wMinute, 59);
    EXPECT_EQ(back.wSecond, 58);
    EXPECT_EQ(back.wMilliseconds, 123);
    // The Unix epoch in FILETIME units.
    EXPECT_EQ(plat_FileTimeToU64(&(ft = Utc(1970, 1, 1, 0, 0, 0))), 116444736000000000ULL);

    SYSTEMTIME bad = {2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(plat_SystemTimeToFileTime(&bad, &ft));
    bad = SYSTEMTIME{2023, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_FALSE(plat_SystemTimeToFileTime(&bad, &ft));
    bad = SYSTEMTIME{1600, 12, 0, 31, 0, 0, 0, 0};
    EXPECT_FALSE(plat_SystemTimeToFileTime(&bad, &ft));
    FILETIME negative = plat_U64ToFileTime(0x8000000000000000ULL);
    EXPECT_FALSE(plat_FileTimeToSystemTime(&negative, &back));

    EXPECT_EQ(plat_FileTimeToU64(&(ft = com_Create_FileTime(2, 30, 2024, 0, 0, 0))), 0u);
    EXPECT_EQ(plat_FileTimeToU64(&(ft = com_Create_FileTime(1, 1, 2024, 24, 0, 0))), 0u);
    ft = Utc(1601, 6, 1, 12, 0, 0);
    EXPECT_TRUE(com_DateIsNull(&ft)) << "any time in 1601 means no date";
    ft = Utc(1602, 1, 1, 0, 0, 0);
    EXPECT_FALSE(com_DateIsNull(&ft));

    FILETIME a = Utc(2024, 1, 15, 14, 0, 0), b = Utc(2024, 1, 15, 14, 0, 1);
    EXPECT_EQ(plat_CompareFileTime(&a, &b), -1);
    EXPECT_EQ(plat_CompareFileTime(&b, &a), 1);
    EXPECT_EQ(plat_CompareFileTime(&a, &a), 0);
}

TEST(TimeConversion, OffsetsAndText) {
    FILETIME ft = Utc(2024, 3, 1, 0, 10, 0);
    com_OffsetFileTime(&ft, -1, 2, -30);
    EXPECT_EQ(Text(ft), "2024-02-29 01:40:00");
    com_OffsetFileTimeVal(&ft, 60 * 24 * 366);
    EXPECT_EQ(Text(ft), "2025-03-01 01:40:00");
    FILETIME early = plat_U64ToFileTime(5);
    com_OffsetFileTimeVal(&early, -10);
    EXPECT_EQ(plat_FileTimeToU64(&early), 0u) << "clamped at 1601, never wrapped";

    char small[8];
    com_FileTimeText(&ft, small, sizeof(small));
    EXPECT_STREQ(small, "") << "does not fit: empty, never cut";

    SYSTEMTIME st = {2024, 1, 3, 15, 14, 0, 0, 0};
    char date[32];
    EXPECT_EQ(plat_GetDateFormat(&st, date, sizeof(date)), 17);
    EXPECT_STREQ(date, "Mon, 15 Jan 2024");
    st = SYSTEMTIME{1999, 12, 0, 5, 0, 0, 0, 0};
    plat_GetDateFormat(&st, date, sizeof(date));
    EXPECT_STREQ(date, "Sun, 05 Dec 1999");
    EXPECT_EQ(plat_GetDateFormat(&st, date, 10), 0);
}

TEST_F(ZoneTest, LocalTimeAcrossEuropeanChanges) {
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(Local(Utc(2024, 3, 31, 0, 59, 59)), "2024-03-31 01:59:59");
    EXPECT_EQ(Local(Utc(2024, 3, 31, 1, 0, 0)), "2024-03-31 03:00:00");
    EXPECT_EQ(Local(Utc(2024, 10, 27, 0, 59, 59)), "2024-10-27 02:59:59");
    EXPECT_EQ(Local(Utc(2024, 10, 27, 1, 0, 0)), "2024-10-27 02:00:00");
    // The platform function has the same per-instant meaning.
    FILETIME summer = Utc(2024, 7, 1, 12, 0, 0), local;
    ASSERT_TRUE(plat_FileTimeToLocalFileTime(&summer, &local));
    EXPECT_EQ(Text(local), "2024-07-01 14:00:00");

    FILETIME t = Utc(2024, 3, 31, 0, 59, 59);
    EXPECT_FALSE(com_DateIsDST(&t, nullptr));
    t = Utc(2024, 3, 31, 1, 0, 0);
    EXPECT_TRUE(com_DateIsDST(&t, nullptr));
    BvVTimeZone empty;
    memset(&empty, 0, sizeof(empty));
    EXPECT_TRUE(com_DateIsDST(&t, &empty)) << "an empty record means the machine's zone";
    t = Utc(2024, 12, 24, 18, 0, 0);
    EXPECT_FALSE(com_DateIsDST(&t, &empty));

    // Local to UTC: ordinary, repeated hour (first reading), skipped hour.
    EXPECT_EQ(BackToUtc(2024, 7, 1, 14, 0), "2024-07-01 12:00:00");
    EXPECT_EQ(BackToUtc(2024, 1, 10, 9, 0), "2024-01-10 08:00:00");
    EXPECT_EQ(BackToUtc(2024, 10, 27, 2, 30), "2024-10-27 00:30:00");
    EXPECT_EQ(BackToUtc(2024, 3, 31, 2, 30), "2024-03-31 01:30:00");
}

TEST_F(ZoneTest, ZoneInformationFromTz) {
    TIME_ZONE_INFORMATION tzi;
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    uint32_t id = plat_GetTimeZoneInformation(&tzi);
    EXPECT_TRUE(id == TIME_ZONE_ID_STANDARD || id == TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(tzi.Bias, -60);
    EXPECT_EQ(tzi.DaylightBias, -60);
    EXPECT_EQ(tzi.StandardBias, 0);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
    EXPECT_EQ(tzi.DaylightDate.wDay, 5);
    EXPECT_EQ(tzi.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(tzi.DaylightDate.wHour, 2);
    EXPECT_EQ(tzi.StandardDate.wMonth, 10);
    EXPECT_EQ(tzi.StandardDate.wDay, 5);
    EXPECT_EQ(tzi.StandardDate.wHour, 3);
    EXPECT_EQ(std::u16string((const char16_t *)tzi.StandardName), u"CET");
    EXPECT_EQ(std::u16string((const char16_t *)tzi.DaylightName), u"CEST");

    // The zone changes as soon as TZ does.
    UseZone("EST5EDT,M3.2.0,M11.1.0");
    plat_GetTimeZoneInformation(&tzi);
    EXPECT_EQ(tzi.Bias, 300);
    EXPECT_EQ(tzi.DaylightBias, -60);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
    EXPECT_EQ(tzi.DaylightDate.wDay, 2);
    EXPECT_EQ(tzi.StandardDate.wMonth, 11);
    EXPECT_EQ(tzi.StandardDate.wDay, 1);
    EXPECT_EQ(tzi.StandardDate.wHour, 2);

    UseZone("AEST-10AEDT,M10.1.0,M4.1.0/3");  // daylight time over the new year
    plat_GetTimeZoneInformation(&tzi);
    EXPECT_EQ(tzi.Bias, -600);
    EXPECT_EQ(tzi.DaylightBias, -60);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 10);
    EXPECT_EQ(tzi.StandardDate.wMonth, 4);
    EXPECT_EQ(tzi.StandardDate.wHour, 3);

    UseZone("IST-5:30");
    EXPECT_EQ(plat_GetTimeZoneInformation(&tzi), (uint32_t)TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(tzi.Bias, -330);
    EXPECT_EQ(tzi.DaylightBias, 0);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 0);

    UseZone("UTC0");
    EXPECT_EQ(plat_GetTimeZoneInformation(&tzi), (uint32_t)TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(tzi.Bias, 0);
}

TEST_F(ZoneTest, NamedZoneFromTheSystemDatabase) {
    if (!FileExists("/usr/share/zoneinfo/America/New_York")) GTEST_SKIP() << "no zone database";
    UseZone("America/New_York");
    TIME_ZONE_INFORMATION tzi;
    plat_GetTimeZoneInformation(&tzi);
    EXPECT_EQ(tzi.Bias, 300);
    EXPECT_EQ(tzi.DaylightBias, -60);
    EXPECT_EQ(Local(Utc(2024, 3, 10, 6, 59, 0)), "2024-03-10 01:59:00");
    EXPECT_EQ(Local(Utc(2024, 3, 10, 7, 0, 0)), "2024-03-10 03:00:00");
    // A historical rule: in 2006 daylight time began on the first Sunday of April.
    EXPECT_EQ(Local(Utc(2006, 3, 12, 12, 0, 0)), "2006-03-12 07:00:00");
    EXPECT_EQ(Local(Utc(2006, 4, 2, 12, 0, 0)), "2006-04-02 08:00:00");
}
