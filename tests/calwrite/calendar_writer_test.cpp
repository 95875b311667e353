// Events and tasks written through the module's exports from records built
// here: the exact text of each case, and what libical and python3-icalendar
// read from every file written.
#include <functional>
#include <vector>

#include "ical_facts.h"
#include "module_fixture.h"

namespace bvtest {
namespace {

using Fill = std::function<void(mdat *rec, const std::string &dir)>;

struct WriteCase {
    const char *name;
    const char *switches;
    int dataType;
    std::vector<Fill> items;
    std::string expected;  // the whole file; "{UID}" stands for the first item's UID
    bool readable = true;  // read back by libical and python3-icalendar without errors
};

void AddRecip(mdat *rec, const char *name, const char *addr, int type, int status) {
    ASSERT_TRUE(com_AllocRecip(rec));
    mrecip *recip = rec->recips[rec->recipCount++];
    snprintf(recip->name, sizeof recip->name, "%s", name);
    snprintf(recip->addr, sizeof recip->addr, "%s", addr);
    recip->type = type;
    recip->status = status;
}

mexception *AddException(mdat *rec, int kind, FILETIME original) {
    EXPECT_TRUE(com_AllocBreakout(rec));
    mexception *exc = rec->exceptions[rec->exceptionCount++];
    exc->kind = kind;
    exc->originalStart = original;
    return exc;
}

const std::string kLong(53, 'a');

const char *const kHeader = "BEGIN:VCALENDAR\nVERSION:1.0\n";

std::vector<WriteCase> Cases() {
    return {
        {"NoLocationEndBeforeStartCutTitle", "", 2,
         {[](mdat *rec, const std::string &) {
             snprintf(rec->title, sizeof rec->title, "Team sync\r\nsecond line");
             rec->startTime = Utc(2024, 1, 15, 14, 0);
             rec->endTime = Utc(2024, 1, 15, 13, 0);
             rec->reminderSet = 1;
             rec->reminderMinutes = 15;
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Team sync\nDTSTART:20240115T140000Z\nDTEND:20240115T140000Z\n"
             "DESCRIPTION:\nSEQUENCE:0\nBEGIN:VALARM\nTRIGGER:-PT15M\nACTION:DISPLAY\n"
             "DESCRIPTION:Team sync at 2024-01-15 14:00:00, Location: My Location\nEND:VALARM\nEND:VEVENT\n"
             "END:VCALENDAR\n"},
        {"HighPriorityPrivateFoldedDescription", "", 2,
         {[](mdat *rec, const std::string &dir) {
             snprintf(rec->title, sizeof rec->title, "Budget");
             snprintf(rec->location, sizeof rec->location, "Room 4, 2nd floor\r\nEast wing");
             rec->importance = 2;
             rec->sensitivity = 1;
             rec->startTime = Utc(2024, 1, 15, 14, 0);
             rec->endTime = Utc(2024, 1, 15, 15, 30);
             com_WriteNotes(rec, ("Agenda:\r\n1. Budget\n2. " + kLong + "bbbbbbbbbbbbbbbbb").c_str(), dir.c_str());
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nPRIORITY:1\nLOCATION;ENCODING=QUOTED-PRINTABLE:Room 4, 2nd floor\\nEast wing\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Budget\nCLASS:PRIVATE\nDTSTART:20240115T140000Z\n"
             "DTEND:20240115T153000Z\nDESCRIPTION:Agenda:\\n1. Budget\\n2. " + kLong + "\n\tbbbbbbbbbbbbbbbbb\n"
             "SEQUENCE:0\nEND:VEVENT\nEND:VCALENDAR\n"},
        {"LowPriorityAllDayInLocalDates", "", 2,
         {[](mdat *rec, const std::string &) {
             snprintf(rec->title, sizeof rec->title, "Holiday");
             rec->importance = 0;
             rec->allDay = 1;
             rec->startTime = Utc(2024, 3, 9, 23, 0);  // midnight in Berlin
             rec->endTime = Utc(2024, 3, 10, 23, 0);
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nPRIORITY:9\nLOCATION;ENCODING=QUOTED-PRINTABLE:\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Holiday\nDTSTART;VALUE=DATE:20240310\nDTEND;VALUE=DATE:20240311\n"
             "DESCRIPTION:\nSEQUENCE:0\nEND:VEVENT\nEND:VCALENDAR\n"},
        {"AttendeesAndOrganizer", "", 2,
         {[](mdat *rec, const std::string &) {
             snprintf(rec->title, sizeof rec->title, "Review");
             rec->startTime = Utc(2024, 2, 1, 9, 0);
             rec->endTime = Utc(2024, 2, 1, 10, 0);
             rec->rsvp = 1;
             snprintf(rec->organizerName, sizeof rec->organizerName, "Olga");
             snprintf(rec->organizerAddr, sizeof rec->organizerAddr, "olga@example.org");
             AddRecip(rec, "Olga", "olga@example.org", 31, 1);
             AddRecip(rec, "Doe, Jane", "jane@example.org", 3, 1);
             AddRecip(rec, "Bob", "bob@example.org", 11, 2);
             AddRecip(rec, "Carl", "carl@example.org", 12, 7);  // keeps the role and reply before
             AddRecip(rec, "Dora", "dora@example.org", 3, 3);
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Review\n"
             "DTSTART:20240201T090000Z\nDTEND:20240201T100000Z\n"
             "ATTENDEE;CN=\"Doe, Jane\";ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED;RSVP=TRUE:mailto:jane@example.org\n"
             "ATTENDEE;CN=Bob;ROLE=OPT-PARTICIPANT;PARTSTAT=DECLINED;RSVP=TRUE:mailto:bob@example.org\n"
             "ATTENDEE;CN=Carl;ROLE=OPT-PARTICIPANT;PARTSTAT=DECLINED;RSVP=TRUE:mailto:carl@example.org\n"
             "ATTENDEE;CN=Dora;ROLE=REQ-PARTICIPANT;PARTSTAT=TENTATIVE;RSVP=TRUE:mailto:dora@example.org\n"
             "ORGANIZER:mailto:olga@example.org\nDESCRIPTION:\nSEQUENCE:0\nEND:VEVENT\nEND:VCALENDAR\n"},
        {"RecurringWithDeletedAndChangedOccurrences", "", 2,
         {[](mdat *rec, const std::string &dir) {
             snprintf(rec->title, sizeof rec->title, "Standup");
             snprintf(rec->location, sizeof rec->location, "Hall");
             snprintf(rec->organizerName, sizeof rec->organizerName, "Front desk");
             rec->startTime = Utc(2024, 1, 1, 8, 0);
             rec->endTime = Utc(2024, 1, 1, 8, 15);
             rec->isRecurring = 1;
             rec->recurType = 6;  // daily
             rec->recurInterval = 1;
             rec->recurEndType = 0;
             rec->recurCount = 10;
             AddRecip(rec, "Ann", "ann@example.org", 3, 0);
             AddException(rec, 1, Utc(2024, 1, 2, 8, 0));
             AddException(rec, 1, Utc(2024, 1, 4, 8, 0));
             mexception *moved = AddException(rec, 0, Utc(2024, 1, 5, 8, 0));
             moved->newStart = Utc(2024, 1, 5, 10, 0);
             moved->newEnd = Utc(2024, 1, 5, 10, 30);
             snprintf(moved->location, sizeof moved->location, "Room 2");
             snprintf(moved->notesFile, sizeof moved->notesFile, "%sexc-notes.txt", dir.c_str());
             snprintf(moved->attendeeFile, sizeof moved->attendeeFile, "%sexc-people.txt", dir.c_str());
             WriteFileText(moved->notesFile, "Moved\r\nfor the visit");
             WriteFileText(moved->attendeeFile, "Ann;ann@example.org;1\r\nVisitor;v@example.org;0\n");
             mexception *kept = AddException(rec, 0, Utc(2024, 1, 8, 8, 0));
             kept->newStart = Utc(2024, 1, 8, 9, 0);
             kept->newEnd = Utc(2024, 1, 8, 9, 15);
             snprintf(kept->notesFile, sizeof kept->notesFile, "%smissing.txt", dir.c_str());
             snprintf(kept->attendeeFile, sizeof kept->attendeeFile, "%smissing.txt", dir.c_str());
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:Hall\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Standup\n"
             "DTSTART:20240101T080000Z\nDTEND:20240101T081500Z\n"
             "ATTENDEE;CN=Ann;ROLE=REQ-PARTICIPANT;PARTSTAT=NEEDS-ACTION;RSVP=FALSE:mailto:ann@example.org\n"
             "ORGANIZER:Front desk\nDESCRIPTION:\nRRULE:FREQ=DAILY;INTERVAL=1;COUNT=10\n"
             "EXDATE:20240102T080000Z\nEXDATE:20240104T080000Z\nSEQUENCE:0\nEND:VEVENT\n"
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:Room 2\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Standup\nDESCRIPTION:Moved\\nfor the visit\nORGANIZER:Front desk\n"
             "ATTENDEE;CN=Ann;ROLE=REQ-PARTICIPANT;RSVP=FALSE:mailto:ann@example.org\n"
             "ATTENDEE;CN=Visitor;ROLE=OPT-PARTICIPANT;RSVP=FALSE:mailto:v@example.org\n"
             "RECURRENCE-ID:20240105T080000Z\nDTSTART:20240105T100000Z\nDTEND:20240105T103000Z\nSEQUENCE:3\n"
             "END:VEVENT\n"
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:Hall\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Standup\nDESCRIPTION:\nORGANIZER:Front desk\n"
             "ATTENDEE;CN=Ann;ROLE=REQ-PARTICIPANT;PARTSTAT=NEEDS-ACTION;RSVP=FALSE:mailto:ann@example.org\n"
             "RECURRENCE-ID:20240108T080000Z\nDTSTART:20240108T090000Z\nDTEND:20240108T091500Z\nSEQUENCE:4\n"
             "END:VEVENT\nEND:VCALENDAR\n"},
        {"AllDaySeriesOccurrencesAsDays", "", 2,
         {[](mdat *rec, const std::string &) {
             snprintf(rec->title, sizeof rec->title, "Birthday");
             rec->allDay = 1;
             rec->startTime = Utc(2024, 3, 9, 23, 0);  // midnight in Berlin
             rec->endTime = Utc(2024, 3, 10, 23, 0);
             rec->isRecurring = 1;
             rec->recurType = 1;  // yearly
             rec->recurInterval = 1;
             rec->recurMonth = 3;
             rec->recurDayOfMonth = 10;
             AddException(rec, 1, Utc(2025, 3, 9, 23, 0));
             mexception *moved = AddException(rec, 0, Utc(2026, 3, 9, 23, 0));
             moved->newStart = Utc(2026, 3, 10, 23, 0);
             moved->newEnd = Utc(2026, 3, 11, 23, 0);
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Birthday\n"
             "DTSTART;VALUE=DATE:20240310\nDTEND;VALUE=DATE:20240311\nDESCRIPTION:\n"
             "RRULE:FREQ=YEARLY;INTERVAL=1;BYMONTH=3;BYMONTHDAY=10\nEXDATE;VALUE=DATE:20250310\nSEQUENCE:0\nEND:VEVENT\n"
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Birthday\n"
             "RECURRENCE-ID;VALUE=DATE:20260310\nDTSTART;VALUE=DATE:20260311\nDTEND;VALUE=DATE:20260312\nSEQUENCE:2\n"
             "END:VEVENT\nEND:VCALENDAR\n"},
        {"WeekdaysOfTheZoneMovedToUtc", "", 2,
         {[](mdat *rec, const std::string &) {
             snprintf(rec->title, sizeof rec->title, "Sydney weekly");
             snprintf(rec->tzName, sizeof rec->tzName, "Australia/Sydney");
             rec->startTime = Utc(2024, 1, 7, 22, 30);  // Monday 09:30 in Sydney
             rec->endTime = Utc(2024, 1, 7, 23, 0);
             rec->isRecurring = 1;
             rec->recurType = 5;  // weekly
             rec->recurInterval = 2;
             rec->recurDayMask = 2 | 8;  // Monday, Wednesday
         },
          [](mdat *rec, const std::string &) {
              snprintf(rec->title, sizeof rec->title, "Sydney workdays");
              snprintf(rec->tzName, sizeof rec->tzName, "Australia/Sydney");
              rec->startTime = Utc(2024, 1, 7, 22, 30);
              rec->endTime = Utc(2024, 1, 7, 23, 0);
              rec->isRecurring = 1;
              rec->recurType = 7;  // every weekday
          }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Sydney weekly\nDTSTART:20240107T223000Z\nDTEND:20240107T230000Z\n"
             "DESCRIPTION:\nRRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,TU\nSEQUENCE:0\nEND:VEVENT\n"
             "BEGIN:VEVENT\nUID:{UID2}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\n"
             "SUMMARY;ENCODING=QUOTED-PRINTABLE:Sydney workdays\nDTSTART:20240107T223000Z\nDTEND:20240107T230000Z\n"
             "DESCRIPTION:\nRRULE:FREQ=WEEKLY;INTERVAL=1;BYDAY=SU,MO,TU,WE,TH\nSEQUENCE:0\nEND:VEVENT\n"
             "END:VCALENDAR\n"},
        {"CompatibilityLinesLocalTimes", "/D77 /D84", 2,
         {[](mdat *rec, const std::string &) {
             snprintf(rec->title, sizeof rec->title, "Old");
             rec->startTime = Utc(2024, 1, 15, 14, 0);
             rec->endTime = Utc(2024, 1, 15, 15, 0);
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Old\n"
             "TRANSP:1\nSTATUS:CONFIRMED\nSEQUENCE:0\nDCREATED:20240115T140000Z\nX-ORACLE-CLASS:NORMAL\n"
             "DTSTART:20240115T140000\nDTEND:20240115T150000\nDESCRIPTION:\nSEQUENCE:0\nEND:VEVENT\nEND:VCALENDAR\n",
         false},  // DCREATED is vCalendar 1.0 only: libical flags it
        {"Attachments", "/EVCS", 2,
         {[](mdat *rec, const std::string &dir) {
             snprintf(rec->title, sizeof rec->title, "Files");
             rec->startTime = Utc(2024, 1, 15, 14, 0);
             rec->endTime = Utc(2024, 1, 15, 15, 0);
             rec->msgNumber = 4;
             for (const char *name : {"a \"b\".txt", "gone.bin"}) {
                 ASSERT_TRUE(com_AllocPart(rec));
                 snprintf(rec->parts[rec->partCount]->name, BV_NAME_LEN, "%s", name);
                 rec->parts[rec->partCount++]->partType = 0;
             }
             char path[BV_PATH_LEN];
             com_PartFileName(dir.c_str(), rec, 0, path, sizeof path);
             WriteFileText(path, std::string(60, 'x'));
         }},
         std::string(kHeader) +
             "BEGIN:VEVENT\nUID:{UID}\nLOCATION;ENCODING=QUOTED-PRINTABLE:\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Files\n"
             "DTSTART:20240115T140000Z\nDTEND:20240115T150000Z\n"
             "ATTACH;FMTTYPE=application/binary;ENCODING=BASE64;VALUE=BINARY;X-S1CS-FILENAME=\"a 'b'.txt\":\n"
             " eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4\n eHh4eHh4\n\n"
             "ATTACH;FMTTYPE=application/binary;ENCODING=BASE64;VALUE=BINARY;X-S1CS-FILENAME=\"gone.bin\":\n"
             "DESCRIPTION:\nSEQUENCE:0\nEND:VEVENT\nEND:VCALENDAR\n"},
        {"TaskWithoutStartAndTwoLineNote", "", 3,
         {[](mdat *rec, const std::string &dir) {
             rec->dataType = 3;
             snprintf(rec->title, sizeof rec->title, "Shopping");
             rec->endTime = Utc(2024, 5, 31, 17, 0);
             rec->percentComplete = 40;
             com_WriteNotes(rec, "Buy milk\r\nCall Bob", dir.c_str());
         },
          [](mdat *rec, const std::string &dir) {
              rec->dataType = 3;
              snprintf(rec->title, sizeof rec->title, "Report\nignored");
              rec->startTime = Utc(2024, 5, 1, 8, 0);
              rec->endTime = Utc(2024, 5, 2, 8, 0);
              rec->importance = 2;
              rec->itemFlag = 2;
              rec->percentComplete = 100;
              com_WriteNotes(rec, ("Line\n" + kLong + "ccc").c_str(), dir.c_str());
          }},
         "BEGIN:VCALENDAR\nVERSION:1.0\n"
         "BEGIN:VTODO\nVERSION:3.0\nUID:{UID}\nPRIORITY:5\nPERCENT-COMPLETE:40\nSTATUS:IN-PROCESS\n"
         "SUMMARY;ENCODING=QUOTED-PRINTABLE:Shopping\nDUE:20240531T170000Z\n"
         "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:Buy milk=0D=0ACall Bob\nEND:VTODO\n"
         "BEGIN:VTODO\nVERSION:3.0\nUID:{UID2}\nPRIORITY:1\nPERCENT-COMPLETE:100\nSTATUS:COMPLETED\n"
         "SUMMARY;ENCODING=QUOTED-PRINTABLE:Report\nDTSTART:20240501T080000Z\nDUE:20240502T080000Z\n"
         "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:Line=0D=0A" + kLong.substr(0, 28) + "\n\t" + kLong.substr(28) +
             "ccc\nEND:VTODO\nEND:VCALENDAR\n"},
    };
}

class CalendarWriterTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        rec_ = std::make_unique<mdat>();
    }
    void TearDown() override {
        Clear();
        ModuleTest::TearDown();
    }
    void Clear() {
        com_Deallocate_All(rec_.get(), work_.c_str());
        com_Deallocate(rec_.get(), work_.c_str());
        com_ResetObject(rec_.get());
    }
    // Writes the items into `file` through InitWrite, WriteMsg and CloseWrite;
    // returns the UIDs written.
    std::vector<std::string> Write(const fs::path &file, const char *switches, int dataType,
                                   const std::vector<Fill> &items) {
        Load();
        bvcom_SetSwitches(switches);
        EXPECT_EQ(Logon(file.string(), dataType == 2 ? 99 : 100, 0), 0);
        EXPECT_EQ(module_->InitWrite(rec_.get(), "Calendar", 0, dataType), 0);
        std::vector<std::string> uids;
        for (const Fill &fill : items) {
            Clear();
            rec_->dataType = dataType;
            fill(rec_.get(), work_);
            EXPECT_EQ(module_->WriteMsg(rec_.get(), "Calendar", work_.c_str(), 0), 0);
            char hex[33];
            for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", rec_->digest[i]);
            uids.push_back(hex);
        }
        EXPECT_EQ(module_->CloseWrite(dataType), 0);
        Unload();
        return uids;
    }
    void ExpectReadable(const fs::path &file, size_t items) {
        CalendarFacts facts = ReadCalendarFacts(file);
        EXPECT_EQ(facts.parseErrors, 0) << facts.errorText;
        EXPECT_EQ(facts.items.size(), items);
    }
    std::unique_ptr<mdat> rec_;
};

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST_F(CalendarWriterTest, ExactText) {
    std::vector<fs::path> readable;
    for (const WriteCase &c : Cases()) {
        SCOPED_TRACE(c.name);
        fs::path file = dir_ / (std::string(c.name) + ".vcs");
        std::vector<std::string> uids = Write(file, c.switches, c.dataType, c.items);
        std::string expected = Replace(c.expected, "{UID}", uids[0]);
        if (uids.size() > 1) expected = Replace(expected, "{UID2}", uids[1]);
        EXPECT_EQ(ReadFileText(file), expected);
        if (!c.readable) continue;
        ExpectReadable(file, (size_t)CountOf(expected, "BEGIN:VEVENT") + CountOf(expected, "BEGIN:VTODO"));
        readable.push_back(file);
    }
    EXPECT_EQ(PythonParseErrors(readable, dir_), "");
    EXPECT_EQ(CountOf(Log(), "BV Error: cannot open cal attachment " + work_ + "PRT00401.TMP|"), 1) << Log();
}

// With "/D301" every event is a VCALENDAR object of its own, in the local
// time of its zone, and the file has no frame of its own.
TEST_F(CalendarWriterTest, OneCalendarObjectPerEventInItsZone) {
    fs::path file = dir_ / "zoned.ics";
    auto event = [](int month, int hour) {
        return [month, hour](mdat *rec, const std::string &) {
            snprintf(rec->title, sizeof rec->title, "Zoned %d", month);
            snprintf(rec->tzName, sizeof rec->tzName, "W. Europe Standard Time");
            rec->startTime = Utc(2024, month, 15, hour, 0);
            rec->endTime = Utc(2024, month, 15, hour + 1, 0);
        };
    };
    Write(file, "/D301", 2, {event(1, 14), event(7, 12)});
    std::string text = ReadFileText(file);
    EXPECT_EQ(text.rfind("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Brevanto Migrator\nBEGIN:VTIMEZONE\n", 0), 0u)
        << text;
    EXPECT_EQ(CountOf(text, "BEGIN:VCALENDAR\n"), 2);
    EXPECT_EQ(CountOf(text, "END:VCALENDAR\n\n"), 2);
    EXPECT_EQ(text.substr(text.size() - 15), "END:VCALENDAR\n\n");
    EXPECT_NE(text.find("DTSTART;TZID=\"W. Europe Standard Time\":20240115T150000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DTEND;TZID=\"W. Europe Standard Time\":20240715T150000\n"), std::string::npos) << text;
    CalendarFacts facts = ReadCalendarFacts(file);
    EXPECT_EQ(facts.parseErrors, 0) << facts.errorText;
    ASSERT_EQ(facts.items.size(), 2u);
    EXPECT_EQ(facts.items[0].substr(0, 55), "VEVENT start=20240115T140000Z end=20240115T150000Z summ");
    EXPECT_EQ(facts.items[1].substr(0, 55), "VEVENT start=20240715T120000Z end=20240715T130000Z summ");
    EXPECT_EQ(PythonParseErrors({file}, dir_), "");
}

}  // namespace
}  // namespace bvtest
