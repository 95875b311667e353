// RRULE texts of both grammars to the recurrence block, the block back to an
// RRULE, and occurrence dates checked against python3-dateutil.
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "calread/cal_time.h"
#include "tests/caltime/cal_time_test_util.h"

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
