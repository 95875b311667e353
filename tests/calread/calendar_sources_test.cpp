// Sources that need a server or generated files: listing pages and
// addresses on a loopback server, "/ZFOLDERS" folders, and hostile input
// that must end with a warning and lose no other entry.
#include <gtest/gtest.h>

#include <string>

#include "calread_test_support.h"
#include "http/loopback.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace {

std::string Event(const std::string &uid, const std::string &summary, const std::string &extra = "") {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + summary + "\r\nDTSTART:20240301T100000Z\r\n" + extra +
           "END:VEVENT\r\n";
}
std::string Calendar(const std::string &body) { return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + body + "END:VCALENDAR\r\n"; }

std::string Titles(const bvtest::CalendarDump &dump) {
    std::string titles;
    for (const auto &record : dump.records) titles += record.value("title", "") + ";";
    return titles;
}

std::string Statuses(const bvtest::CalendarDump &dump) {
    std::string text;
    for (int s : dump.statuses) text += std::to_string(s);
    return text;
}

const char *kListingPage =
    "<!DOCTYPE html><html><body><table>\n"
    "<tr><td><a href=\"/sabre/caldav.php/calendars/u/home/one.ics?export\">one.ics</a></td></tr>\n"
    "<tr><td><a href=\"/sabre/caldav.php/calendars/u/home/two%20b.ics?export\">two b.ics</a></td></tr>\n"
    "</table></body></html>\n";

class CalendarServer : public ::testing::Test {
  protected:
    void SetUp() override {
        auto text = [](const std::string &body, const char *type = "text/calendar") {
            return [body, type](const httplib::Request &, httplib::Response &res) { res.set_content(body, type); };
        };
        server_.Routes().Get("/sabre/caldav.php/calendars/u/home/", text(kListingPage, "text/html"));
        server_.Routes().Get("/sabre/caldav.php/calendars/u/home/one.ics", text(Calendar(Event("1", "One"))));
        server_.Routes().Get("/sabre/caldav.php/calendars/u/home/two b.ics", text(Calendar(Event("2", "Two"))));
        server_.Routes().Get("/cal/Calendar", text(Calendar(Event("3", "Main") + Event("4", "Main 2"))));
        server_.Routes().Get("/cal/Work", text(Calendar(Event("5", "Work item"))));
        server_.Routes().Get("/tasks.ics", text(Calendar(Event("6", "Event among tasks") +
                                                         "BEGIN:VTODO\r\nUID:7\r\nSUMMARY:Task\r\nEND:VTODO\r\n")));
        server_.Start();
    }
    bvtest::LoopbackServer server_;
    bvtest::TempDir scratch_{"bvcalsrc"};
};

TEST_F(CalendarServer, ListingPagesAddressesAndListedFoldersAreRead) {
    bvtest::CalendarDump listing = bvtest::DumpCalendar("calendar:" + server_.Url("/sabre/caldav.php/calendars/u/home/"));
    EXPECT_EQ(Titles(listing), "One;Two;") << listing.log;
    EXPECT_EQ(listing.folders.find("Calendar {BV:2:FCLASS:2}") != std::string::npos, true) << listing.folders;
    EXPECT_NE(listing.log.find("Downloading file " + server_.Url("/sabre/caldav.php/calendars/u/home/one.ics")),
              std::string::npos);

    bvtest::CalendarDump tasks = bvtest::DumpCalendar("tasks:" + server_.Url("/tasks.ics"));
    EXPECT_EQ(Titles(tasks), "Task;");
    EXPECT_EQ(Statuses(tasks), "60");
    EXPECT_NE(tasks.folders.find("Tasks {BV:1:FCLASS:3}"), std::string::npos) << tasks.folders;

    // A "/ZFOLDERS" list: one folder per line, its address made from the session's.
    std::string list = (scratch_.Path() / "folders.txt").string();
    bvtest::WriteFileText(list, "Folders:\nWork^any=12=2\n");
    bvtest::CalendarDump listed =
        bvtest::DumpCalendar("calendar:" + server_.Url("/cal/Calendar?fmt=ics"), "/ZFOLDERS " + list);
    EXPECT_NE(listed.folders.find("Work {BV:12:FCLASS:2}"), std::string::npos) << listed.folders;
    EXPECT_EQ(Titles(listed), "Work item;") << listed.log;

    bvtest::CalendarDump plain = bvtest::DumpCalendar("calendar:" + server_.Url("/cal/Calendar?fmt=ics"));
    EXPECT_EQ(Titles(plain), "Main;Main 2;");
    EXPECT_NE(plain.folders.find("Calendar {BV:2:FCLASS:2}"), std::string::npos) << plain.folders;
}

struct HostileCase {
    const char *name;
    std::string text;
    const char *statuses;  // one digit per status, in order
    const char *titles;
    const char *warning;   // in the log
};

TEST(CalendarHostileInput, EndsWithAWarningAndLosesNoOtherEntry) {
    std::string bigLine = "DESCRIPTION:" + std::string(10 * 1024 * 1024, 'x') + "\r\n";
    std::string attendees;
    for (int i = 0; i < 100000; i++) attendees += "ATTENDEE;CN=P" + std::to_string(i) + ":mailto:p@x\r\n";
    std::string junk;
    for (int i = 0; i < 200000; i++) junk += (char)((i * 7919 + 13) % 256);
    const HostileCase cases[] = {
        {"unterminated", Calendar(Event("1", "Good")) + "BEGIN:VEVENT\r\nSUMMARY:Cut", "06", "Good;", "has no end line"},
        {"begin_without_end", Calendar("BEGIN:VEVENT\r\nSUMMARY:Open\r\n" + Event("2", "Next")), "60", "Next;",
         "has no end line"},
        {"ten_megabyte_line", Calendar(Event("3", "Long", bigLine) + Event("4", "After")), "00", "Long;After;",
         "longer than"},
        {"many_attendees", Calendar(Event("5", "Crowd", attendees) + Event("6", "After")), "00", "Crowd;After;",
         "beyond the limit"},
        {"binary_junk", junk + "\r\n" + Calendar(Event("7", "Survivor")) + junk, "0", "Survivor;", ""},
    };
    bvtest::TempDir dir("bvcalhostile");
    for (const HostileCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = (dir.Path() / (std::string(c.name) + ".ics")).string();
        bvtest::WriteFileText(path, c.text);
        bvtest::CalendarDump dump = bvtest::DumpCalendar("calendar:" + path, "/UTF8");
        EXPECT_EQ(dump.exitStatus, 0);
        EXPECT_EQ(Statuses(dump), c.statuses);
        EXPECT_EQ(Titles(dump), c.titles);
        EXPECT_NE(dump.log.find(c.warning), std::string::npos) << dump.log.substr(0, 2000);
    }
}

}  // namespace
