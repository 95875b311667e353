// Zone texts, date-time property values and recurrence rules, from the tables
// in data/: each row is a real input and the result the calendar reader must
// make of it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "calread/cal_time.h"
#include "platform/platform.h"
#include "tests/caltime/cal_time_test_util.h"

TEST(ZoneNames, TextsToOffsetAndTablePosition) {
    for (const Row &row : ReadTable("zone_names.tsv")) {
        int position = 99;
        EXPECT_EQ(MapTimeZoneName(row[0].c_str(), &position), std::stoi(row[1])) << row[0];
        EXPECT_EQ(position, std::stoi(row[2])) << row[0];
    }
    EXPECT_EQ(MapTimeZoneName("Asia/Tokyo", nullptr), 540);
}

TEST(ZoneNames, DisplayNamesToWindowsNames) {
    ASSERT_EQ(gZoneTable[BV_ZONE_STRINGS][0], 0);
    for (int p = 0; p < BV_ZONE_STRINGS; ++p)
        EXPECT_EQ(strncmp(gZoneTable[p], "(UTC", 4) == 0, p % 2 == 1) << p << " " << gZoneTable[p];
    struct Case {
        const char *text;
        size_t capacity;
        int result;
        const char *after;
    } cases[] = {
        {"(GMT-05:00) Eastern Time (US & Canada)", 64, 1, "Eastern Standard Time"},
        {"(UTC-05:00) Eastern Time (US & Canada)", 64, 1, "Eastern Standard Time"},
        {"Eastern Time (US & Canada)", 64, 1, "Eastern Standard Time"},
        {"(UTC-04:00) Caracas", 64, 1, "SA Western Standard Time"},
        {"(UTC+03:00) Istanbul", 64, 1, "Turkey Standard Time"},
        {"amsterdam, berlin, bern, rome, stockholm, vienna", 64, 1, "W. Europe Standard Time"},
        {"Kabul", 12, 1, "Transitiona"},  // cut to the buffer
        {"Nowhere", 64, 0, "Nowhere"},
        {"", 64, 0, ""},
    };
    for (const Case &c : cases) {
        char text[64];
        com_strncpy(text, c.text, sizeof(text) - 1);
        EXPECT_EQ(NormalizeZoneName(text, c.capacity), c.result) << c.text;
        EXPECT_STREQ(text, c.after) << c.text;
    }
}

TEST_F(MachineZone, PropertyTextsToUtcUnderThreeMachineZones) {
    for (const Row &row : ReadTable("datetimes.tsv")) {
        UseMachineZone(row[0].c_str());
        memset(&gVtz, 0, sizeof(gVtz));
        FILETIME out = {1, 1};
        EXPECT_EQ(ParseVcsDateTime(row[1].c_str(), &out), std::stoi(row[3])) << row[0] << " " << row[1];
        EXPECT_EQ(IsoOf(out), row[2]) << row[0] << " " << row[1];
    }
}

TEST_F(MachineZone, ZoneOfTheEntrysVTimeZoneAndBadValues) {
    UseMachineZone("UTC");
    memset(&gVtz, 0, sizeof(gVtz));
    com_strncpy(gVtz.name, "Custom Zone", BV_VTZ_NAME_LEN - 1);
    gVtz.stdOffset = 60;
    gVtz.dstOffset = 120;
    gVtz.stdStart = At("1970-10-25T03:00");
    gVtz.dstStart = At("1970-03-29T02:00");
    FILETIME out = {0, 0};
    ParseVcsDateTime(";TZID=Custom Zone:20240715T090000", &out);
    EXPECT_EQ(IsoOf(out), "2024-07-15T07:00");
    ParseVcsDateTime(";TZID=\"Custom Zone\":20240115T090000", &out);
    EXPECT_EQ(IsoOf(out), "2024-01-15T08:00");
    // A recognised zone becomes the entry's zone name.
    ParseVcsDateTime(";TZID=Asia/Kolkata:20240115T090000", &out);
    EXPECT_STREQ(gVtz.name, "(UTC+05:30) Chennai, Kolkata, Mumbai, New Delhi");

    FILETIME kept = At("2000-01-01T00:00");
    EXPECT_EQ(ParseVcsDateTime("20240115T090000", &kept), 0);  // no ":": unchanged
    EXPECT_EQ(IsoOf(kept), "2000-01-01T00:00");
    EXPECT_EQ(ParseVcsDateTime(":2024", &out), 0);
    EXPECT_TRUE(com_DateIsNull(&out));
    std::string longZone = ";TZID=" + std::string(600, 'x') + ":20240115T090000Z";
    EXPECT_EQ(ParseVcsDateTime(longZone.c_str(), &out), 0);
    EXPECT_EQ(IsoOf(out), "2024-01-15T09:00");
}
