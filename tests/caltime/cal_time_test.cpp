// Zone texts, date-time property values and recurrence rules, from the tables
// in data/: each row is a real input and the result the calendar reader must
// make of it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
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
    for (const Row &row : ReadTable("display_names.tsv")) {
        char text[64];
        com_strncpy(text, row[0].c_str(), sizeof(text) - 1);
        EXPECT_EQ(NormalizeZoneName(text, (size_t)row.Int(1)), row.Int(2)) << row.Where();
        EXPECT_EQ(text, row[3]) << row.Where();
    }
}

// Rows may give the entry's own VTIMEZONE (name,std offset,dst offset,std
// start,dst start) and the zone name the entry has afterwards.
TEST_F(MachineZone, PropertyTextsToUtcUnderThreeMachineZones) {
    for (const Row &row : ReadTable("datetimes.tsv")) {
        UseMachineZone(row[0].c_str());
        memset(&gVtz, 0, sizeof(gVtz));
        char name[BV_VTZ_NAME_LEN] = "", stdStart[32] = "", dstStart[32] = "";
        sscanf(row[4].c_str(), "%[^,],%d,%d,%31[^,],%31s", name, &gVtz.stdOffset, &gVtz.dstOffset, stdStart, dstStart);
        com_strncpy(gVtz.name, name, BV_VTZ_NAME_LEN - 1);
        if (stdStart[0]) gVtz.stdStart = At(stdStart), gVtz.dstStart = At(dstStart);
        FILETIME out = At("2000-01-01T00:00");  // what a value without ':' leaves
        EXPECT_EQ(ParseVcsDateTime(row[1].c_str(), &out), row.Int(3)) << row.Where() << " " << row[1];
        EXPECT_EQ(IsoOf(out), row[2]) << row.Where() << " " << row[1];
        EXPECT_EQ(row[5].empty() ? row[5] : std::string(gVtz.name), row[5]) << row.Where();
    }
}
