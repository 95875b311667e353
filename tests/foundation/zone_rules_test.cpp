// Zones named by calendar data (Windows, Olson and display names), VTIMEZONE
// records and text, and the recurrence block as RRULE and occurrence count.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tests/foundation/foundation_test_util.h"

static FILETIME Utc(int y, int mo, int d, int h, int mi) {
    return com_Create_FileTime(mo, d, y, h, mi, 0);
}

struct ZoneInfo {
    int ok, bias, dstBias, stdBias;
};

static ZoneInfo Info(const char *name) {
    ZoneInfo z{};
    z.ok = com_GetTZInfo(name, &z.bias, &z.dstBias, &z.stdBias, 0);
    return z;
}

TEST(ZoneNames, WindowsOlsonAndDisplayNames) {
    ZoneInfo z = Info("W. Europe Standard Time");
    EXPECT_TRUE(z.ok);
    EXPECT_EQ(z.bias, -60);
    EXPECT_EQ(z.dstBias, -60);
    EXPECT_EQ(z.stdBias, 0);
    z = Info("Eastern Standard Time");
    EXPECT_EQ(z.bias, 300);
    EXPECT_EQ(z.dstBias, -60);
    z = Info("India Standard Time");
    EXPECT_EQ(z.bias, -330);
    EXPECT_EQ(z.dstBias, 0);
    z = Info("Europe/London");
    EXPECT_TRUE(z.ok);
    EXPECT_EQ(z.bias, 0);
    EXPECT_EQ(z.dstBias, -60);
    z = Info("(UTC-05:00) Eastern Time (US & Canada)");
    EXPECT_TRUE(z.ok);
    EXPECT_EQ(z.bias, 300);
    z = Info("(UTC+01:00) Amsterdam, Berlin, Bern, Rome, Stockholm, Vienna");
    EXPECT_TRUE(z.ok);
    EXPECT_EQ(z.bias, -60);
    z = Info("Nowhere Standard Time");
    EXPECT_FALSE(z.ok);
    EXPECT_EQ(z.bias, 0);
    EXPECT_FALSE(Info("").ok);
    EXPECT_FALSE(Info(nullptr).ok);

    int dstBias = 0, flag = 0;
    FILETIME winter = Utc(2024, 1, 15, 14, 0), summer = Utc(2024, 7, 15, 13, 0);
    EXPECT_FALSE(com_TZDateIsDST(&winter, "America/New_York", &dstBias, &flag));
    EXPECT_EQ(flag, 1);
    EXPECT_TRUE(com_TZDateIsDST(&summer, "Eastern Standard Time", &dstBias, &flag));
    EXPECT_EQ(dstBias, -60);
    EXPECT_TRUE(com_TZDateIsDST(&winter, "AUS Eastern Standard Time", &dstBias, &flag)) << "southern summer";
    EXPECT_FALSE(com_TZDateIsDST(&summer, "Nowhere", &dstBias, &flag));
    EXPECT_EQ(flag, 0);
}

TEST(ZoneNames, VTimeZoneTextAndTzid) {
    char text[2048], tzid[256];
    ASSERT_TRUE(com_GetVTimeZone("W. Europe Standard Time", text, tzid));
    std::string vtz = text;
    EXPECT_STREQ(tzid, "W. Europe Standard Time");
    EXPECT_EQ(vtz.rfind("BEGIN:VTIMEZONE\n", 0), 0u);
    EXPECT_NE(vtz.find("TZID:W. Europe Standard Time\n"), std::string::npos);
    EXPECT_NE(vtz.find("BEGIN:DAYLIGHT\n"), std::string::npos);
    EXPECT_NE(vtz.find("TZOFFSETTO:+0200\n"), std::string::npos);
    EXPECT_NE(vtz.find("BYMONTH=3"), std::string::npos);
    EXPECT_EQ(vtz.find('\r'), std::string::npos);
    EXPECT_EQ(vtz.substr(vtz.size() - 14), "END:VTIMEZONE\n");

    ASSERT_TRUE(com_GetVTimeZone("(UTC-05:00) Eastern Time (US & Canada)", text, tzid));
    EXPECT_NE(strchr(tzid, '/'), nullptr) << "a display name is written under its Olson name";
    EXPECT_NE(strstr(text, tzid), nullptr);

    ASSERT_TRUE(com_GetVTimeZone("India Standard Time", text, tzid));
    EXPECT_EQ(strstr(text, "BEGIN:DAYLIGHT"), nullptr);
    EXPECT_NE(strstr(text, "TZOFFSETTO:+0530"), nullptr);

    EXPECT_FALSE(com_GetVTimeZone("Nowhere", text, tzid));
    EXPECT_STREQ(text, "");
    EXPECT_STREQ(tzid, "");
}

TEST(ZoneNames, DaylightTimeByAParsedVTimeZone) {
    // The usual US rules, as a VTIMEZONE with 1970 start dates gives them.
    BvVTimeZone us;
    memset(&us, 0, sizeof(us));
    us.stdOffset = -300;
    us.stdStart = Utc(1970, 11, 1, 2, 0);  // first Sunday of November
    us.dstOffset = -240;
    us.dstStart = Utc(1970, 3, 8, 2, 0);  // second Sunday of March
    FILETIME t = Utc(2024, 3, 10, 6, 59);  // 01:59 EST
    EXPECT_FALSE(com_DateIsDST(&t, &us));
    t = Utc(2024, 3, 10, 7, 0);  // 03:00 EDT
    EXPECT_TRUE(com_DateIsDST(&t, &us));
    t = Utc(2024, 11, 3, 5, 59);  // 01:59 EDT, the first of the two
    EXPECT_TRUE(com_DateIsDST(&t, &us));
    t = Utc(2024, 11, 3, 6, 0);  // 01:00 EST
    EXPECT_FALSE(com_DateIsDST(&t, &us));

    // Southern rules: daylight time over the new year.
    BvVTimeZone au;
    memset(&au, 0, sizeof(au));
    au.stdOffset = 600;
    au.stdStart = Utc(1970, 4, 5, 3, 0);  // first Sunday of April
    au.dstOffset = 660;
    au.dstStart = Utc(1970, 10, 4, 2, 0);  // first Sunday of October
    t = Utc(2024, 1, 15, 0, 0);
    EXPECT_TRUE(com_DateIsDST(&t, &au));
    t = Utc(2024, 6, 15, 0, 0);
    EXPECT_FALSE(com_DateIsDST(&t, &au));

    // Only a name: judged by that zone, whatever the machine's is.
    BvVTimeZone named;
    memset(&named, 0, sizeof(named));
    strcpy(named.name, "Europe/Berlin");
    t = Utc(2024, 7, 1, 12, 0);
    EXPECT_TRUE(com_DateIsDST(&t, &named));
    strcpy(named.name, "Asia/Tokyo");
    EXPECT_FALSE(com_DateIsDST(&t, &named));
}

static std::string Rule(mdat *rec) {
    char out[512];
    memset(out, 'Z', sizeof(out));
    com_Genrrule(rec, out);
    return out;
}

TEST(Recurrence, RuleTextFromTheRecurrenceBlock) {
    HeapRecord rec;
    EXPECT_EQ(Rule(rec), "");
    rec->recurType = 5;
    rec->recurInterval = 2;
    rec->recurDayMask = 2 | 8;
    rec->recurEndType = 0;
    rec->recurCount = 10;
    EXPECT_EQ(Rule(rec), "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;COUNT=10");
    rec->recurType = 4;
    rec->recurInterval = 1;
    rec->recurWeekOfMonth = 5;
    rec->recurDayMask = 32;
    rec->recurEndType = 2;
    EXPECT_EQ(Rule(rec), "FREQ=MONTHLY;INTERVAL=1;BYDAY=-1FR");
    rec->recurType = 2;
    rec->recurWeekOfMonth = 2;
    rec->recurDayMask = 2;
    rec->recurMonth = 6;
    EXPECT_EQ(Rule(rec), "FREQ=YEARLY;INTERVAL=1;BYDAY=2MO;BYMONTH=6");
    rec->recurType = 1;
    rec->recurDayOfMonth = 15;
    rec->recurEndType = 1;
    rec->recurEnd = Utc(2030, 6, 15, 20, 0);
    EXPECT_EQ(Rule(rec), "FREQ=YEARLY;INTERVAL=1;BYMONTH=6;BYMONTHDAY=15;UNTIL=20300615T200000Z");
    rec->recurType = 7;
    rec->recurEndType = 2;
    EXPECT_EQ(Rule(rec), "FREQ=DAILY;INTERVAL=1;BYDAY=MO,TU,WE,TH,FR");
    rec->recurType = 6;
    rec->recurInterval = 0;
    EXPECT_EQ(Rule(rec), "FREQ=DAILY;INTERVAL=1");
    rec->recurType = 9;
    EXPECT_EQ(Rule(rec), "");
}

class RecurrenceCount : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (tz) saved_ = tz;
        setenv("TZ", "UTC0", 1);
    }
    void TearDown() override {
        if (hadTz_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    int Count(int type, uint32_t interval, FILETIME start, FILETIME end, uint32_t mask = 0, uint32_t week = 0,
              uint32_t dom = 0, uint32_t month = 0) {
        HeapRecord rec;
        rec->recurType = (uint16_t)type;
        rec->recurInterval = interval;
        rec->startTime = start;
        rec->recurEndType = 1;
        rec->recurEnd = end;
        rec->recurDayMask = mask;
        rec->recurWeekOfMonth = week;
        rec->recurDayOfMonth = dom;
        rec->recurMonth = month;
        int n = com_ExpandRecur(rec, "");
        EXPECT_EQ(rec->isRecurring, 1);
        return n;
    }

  private:
    bool hadTz_ = false;
    std::string saved_;
};

TEST_F(RecurrenceCount, OccurrencesUpToTheEndDate) {
    EXPECT_EQ(Count(6, 1, Utc(2024, 1, 1, 9, 0), Utc(2024, 1, 10, 23, 59)), 10);
    EXPECT_EQ(Count(6, 3, Utc(2024, 1, 1, 9, 0), Utc(2024, 1, 10, 23, 59)), 4);  // 1, 4, 7, 10
    EXPECT_EQ(Count(7, 1, Utc(2024, 1, 1, 9, 0), Utc(2024, 1, 14, 23, 59)), 10);
    EXPECT_EQ(Count(5, 1, Utc(2024, 1, 1, 9, 0), Utc(2024, 1, 31, 23, 59), 2 | 8), 10);  // Mondays and Wednesdays
    EXPECT_EQ(Count(5, 2, Utc(2024, 1, 3, 9, 0), Utc(2024, 1, 31, 23, 59), 2 | 8), 5)
        << "every other week, from a Wednesday start: 3, 15, 17, 29, 31";
    EXPECT_EQ(Count(3, 1, Utc(2024, 1, 31, 9, 0), Utc(2024, 12, 31, 23, 59), 0, 0, 31), 7) << "months with a 31st";
    EXPECT_EQ(Count(4, 1, Utc(2024, 1, 26, 9, 0), Utc(2024, 3, 31, 23, 59), 32, 5), 3) << "last Fridays";
    EXPECT_EQ(Count(1, 1, Utc(2024, 2, 29, 9, 0), Utc(2032, 12, 31, 23, 59), 0, 0, 29, 2), 3) << "Feb 29 only";
    EXPECT_EQ(Count(2, 1, Utc(2024, 11, 28, 9, 0), Utc(2026, 12, 1, 23, 59), 16, 4, 0, 11), 3) << "Thanksgiving";

    HeapRecord rec;
    rec->recurType = 5;
    rec->recurEndType = 0;
    rec->recurCount = 12;
    EXPECT_EQ(com_ExpandRecur(rec, ""), 12);
    EXPECT_EQ(rec->recurInterval, 1u) << "an interval of 0 is 1";
    rec->recurCount = 0;
    EXPECT_EQ(com_ExpandRecur(rec, ""), -1) << "a count end without count never ends";
    EXPECT_EQ(rec->recurEndType, 2u);
    rec->recurType = 0;
    EXPECT_EQ(com_ExpandRecur(rec, ""), 0);
    EXPECT_EQ(rec->isRecurring, 0);
}
