// Zone texts, date-time property values and recurrence rules, from the tables
// in data/: each row is a real input and the result the calendar reader must
// make of it; RRULE texts of both grammars to the recurrence block and back,
// and occurrence dates checked against python3-dateutil.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "calread/cal_time.h"
#include "platform/platform.h"
#include "support/case_table.h"
#include "support/scoped_env.h"

typedef bvtest::CaseRow Row;

// The rows of a table in data/.
inline std::vector<Row> ReadTable(const std::string &name) {
    return bvtest::ReadCaseTable(std::string(BV_CALTIME_DATA) + "/" + name);
}

// "2024-01-15T14:00" (minutes; no zone) of a FILETIME.
inline std::string IsoOf(const FILETIME &time) {
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&time, &st)) return "?";
    char text[32];
    snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
    return text;
}

inline FILETIME At(const std::string &iso) {
    return com_Create_FileTime(atoi(iso.substr(5, 2).c_str()), atoi(iso.substr(8, 2).c_str()),
                               atoi(iso.substr(0, 4).c_str()), atoi(iso.substr(11, 2).c_str()),
                               atoi(iso.substr(14, 2).c_str()), 0);
}

// Sets the machine's zone (TZ) and the session biases as logon computes them;
// the previous TZ comes back after the test.
class MachineZone : public ::testing::Test {
  protected:
    void UseMachineZone(const char *tz) {
        tz_.Set(tz);
        TIME_ZONE_INFORMATION zone;
        plat_GetTimeZoneInformation(&zone);
        gUtcBias = zone.Bias;
        gDstOffset = zone.DaylightBias;
    }
    bvtest::ScopedEnv tz_{"TZ", getenv("TZ")};
};

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

struct RecurFields {
    uint32_t type, interval, weekOfMonth, dayMask, month, dayOfMonth, endType, count;
};

static RecurFields FieldsOf(const mdat &rec) {
    return {rec.recurType,  rec.recurInterval,   rec.recurWeekOfMonth, rec.recurDayMask,
            rec.recurMonth, rec.recurDayOfMonth, rec.recurEndType,     rec.recurCount};
}

static std::string Describe(const RecurFields &f) {
    char text[160];
    snprintf(text, sizeof(text), "type %u interval %u week %u mask %u month %u day %u end %u count %u", f.type,
             f.interval, f.weekOfMonth, f.dayMask, f.month, f.dayOfMonth, f.endType, f.count);
    return text;
}

static mdat *NewEntry(const std::string &start) {
    mdat *rec = (mdat *)calloc(1, sizeof(mdat));
    rec->startTime = At(start);
    rec->endTime = rec->startTime;
    com_OffsetFileTimeVal(&rec->endTime, 60);
    return rec;
}

// A weekly rule moves the start (and end) to the first day of its mask in the
// machine's zone; the end check gives a rule that ends before it starts an
// end 7,300 days after the start.
TEST_F(MachineZone, RuleTextsToRecurrenceFieldsAndBack) {
    for (const Row &row : ReadTable("rrules.tsv")) {
        UseMachineZone(row[12].empty() ? "UTC" : row[12].c_str());
        mdat *rec = NewEntry(row[0]);
        ParseRecurRule(row[1].c_str(), rec);
        RecurFields want = {(uint32_t)row.Int(2), (uint32_t)row.Int(3), (uint32_t)row.Int(4), (uint32_t)row.Int(5),
                            (uint32_t)row.Int(6), (uint32_t)row.Int(7), (uint32_t)row.Int(8), (uint32_t)row.Int(9)};
        EXPECT_EQ(Describe(FieldsOf(*rec)), Describe(want)) << row.Where();
        EXPECT_EQ(IsoOf(rec->recurEnd), row[10] != "-" ? row[10] : IsoOf(rec->recurEnd)) << row.Where();
        EXPECT_EQ(IsoOf(rec->startTime), row[11] != "-" ? row[11] : row[0]) << row.Where();
        FILETIME end = rec->startTime;
        com_OffsetFileTimeVal(&end, 60);
        EXPECT_EQ(IsoOf(rec->endTime), IsoOf(end)) << row.Where();
        CheckRecurEnd(rec);
        EXPECT_EQ(IsoOf(rec->recurEnd), row[13].empty() ? IsoOf(rec->recurEnd) : row[13]) << row.Where();

        // The block back to an RRULE and read again gives the same block.
        char rule[512];
        com_Genrrule(rec, rule);
        EXPECT_EQ(rule[0] != 0, rec->recurType != 0) << row[1];
        if (rec->recurType == 0) {
            free(rec);
            continue;
        }
        mdat *again = NewEntry(IsoOf(rec->startTime));
        ParseRecurRule(rule, again);
        RecurFields a = FieldsOf(*rec), b = FieldsOf(*again);
        if (a.type == 1 || a.type == 3 || a.type == 6) a.dayMask = b.dayMask = 0;  // a mask means nothing there
        if (a.endType != 0) a.count = b.count = 0;
        EXPECT_EQ(Describe(b), Describe(a)) << row[1] << " -> " << rule;
        if (a.endType == 1) {
            EXPECT_EQ(IsoOf(again->recurEnd), IsoOf(rec->recurEnd)) << rule;
        }
        free(again);
        free(rec);
    }
}

namespace {
struct Series {
    std::string uid, start, end, rule, exDates, exDateTzid;
};

// The VEVENTs of an .ics file, their EXDATEs gathered as the entry parser does.
std::vector<Series> ReadSeries(const std::string &path) {
    std::vector<Series> all;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "BEGIN:VEVENT") all.emplace_back();
        if (all.empty()) continue;
        Series &s = all.back();
        if (line.rfind("UID:", 0) == 0) s.uid = line.substr(4);
        if (line.rfind("DTSTART", 0) == 0) s.start = line.substr(7);
        if (line.rfind("DTEND", 0) == 0) s.end = line.substr(5);
        if (line.rfind("RRULE:", 0) == 0) s.rule = line.substr(6);
        if (line.rfind("EXDATE", 0) == 0) {
            s.exDates += ";" + line.substr(line.find(':') + 1);
            size_t tzid = line.find("TZID=");
            if (s.exDateTzid.empty() && tzid != std::string::npos)
                s.exDateTzid = line.substr(tzid + 5, line.find(':') - tzid - 5);
        }
    }
    return all;
}
}  // namespace

TEST_F(MachineZone, OccurrencesAndDeletedOnesAgreeWithDateutil) {
    if (system("/usr/bin/python3 -c 'import icalendar, dateutil' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-icalendar or python3-dateutil missing";
    const std::string ics = std::string(BV_CALTIME_DATA) + "/series.ics";
    std::string command = "/usr/bin/python3 " BV_SOURCE_DIR "/tests/caltime/expand_series.py " + ics;
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string expected;
    char buf[512];
    while (fgets(buf, sizeof(buf), pipe)) expected += buf;
    ASSERT_EQ(pclose(pipe), 0);

    for (const char *zone : {"UTC", "America/New_York", "Asia/Kolkata"}) {
        UseMachineZone(zone);
        std::string got;
        for (const Series &s : ReadSeries(ics)) {
            mdat *rec = NewEntry("2000-01-01T00:00");
            memset(&gVtz, 0, sizeof(gVtz));
            bool allDay = ParseVcsDateTime(s.start.c_str(), &rec->startTime) == 1;
            ParseVcsDateTime(s.end.c_str(), &rec->endTime);
            ParseRecurRule(s.rule.c_str(), rec);
            com_SetExDates(s.exDates.c_str(), s.exDateTzid.c_str());
            int count = com_ExpandRecur(rec, "");
            std::vector<std::string> deleted;
            for (int i = 0; i < rec->exceptionCount; ++i) {
                EXPECT_EQ(rec->exceptions[i]->kind, 1);
                std::string when = IsoOf(rec->exceptions[i]->originalStart);
                deleted.push_back(allDay ? when.substr(0, 10) : when);
            }
            std::sort(deleted.begin(), deleted.end());
            got += s.uid + "\t" + std::to_string(count) + "\t";
            for (size_t i = 0; i < deleted.size(); ++i) got += (i ? " " : "") + deleted[i];
            got += "\n";
            com_Deallocate_All(rec, "");
            free(rec);
        }
        EXPECT_EQ(got, expected) << "machine zone " << zone;
    }
}
