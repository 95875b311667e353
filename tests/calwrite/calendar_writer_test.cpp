// Events and tasks written through the module's exports from the record
// descriptions in data/written (one case a file: its records, then the whole
// file expected), and what libical and python3-icalendar read from them.
#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "ical_facts.h"
#include "module_fixture.h"
#include "support/case_table.h"

namespace bvtest {
namespace {

using Setter = std::function<void(mdat *, const std::string &)>;

// "2024-01-15 14:00", UTC.
FILETIME TimeOf(const std::string &text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    sscanf(text.c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi);
    return Utc(y, mo, d, h, mi);
}
template <size_t N>
Setter Field(char (mdat::*field)[N]) {
    return [field](mdat *rec, const std::string &value) { snprintf(rec->*field, N, "%s", value.c_str()); };
}
template <typename T>
Setter Field(T mdat::*field) {
    return [field](mdat *rec, const std::string &value) { rec->*field = (T)std::stol(value); };
}
Setter Field(FILETIME mdat::*field) {
    return [field](mdat *rec, const std::string &value) { rec->*field = TimeOf(value); };
}

#define FIELD(name) {#name, Field(&mdat::name)}
const std::map<std::string, Setter> kFields = {
    FIELD(title), FIELD(location), FIELD(tzName), FIELD(organizerName), FIELD(organizerAddr), FIELD(startTime),
    FIELD(endTime), FIELD(importance), FIELD(sensitivity), FIELD(allDay), FIELD(rsvp), FIELD(msgNumber),
    FIELD(reminderSet), FIELD(reminderMinutes), FIELD(isRecurring), FIELD(recurType), FIELD(recurInterval),
    FIELD(recurEndType), FIELD(recurCount), FIELD(recurMonth), FIELD(recurDayOfMonth), FIELD(recurDayMask),
    FIELD(percentComplete), FIELD(itemFlag)};

// "key value" of a description line.
std::pair<std::string, std::string> KeyValue(const std::string &line) {
    size_t space = line.find(' ');
    return {line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1)};
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string piece; std::getline(in, piece, separator);) out.push_back(piece);
    if (!text.empty() && text.back() == separator) out.push_back("");
    return out;
}

struct WriteCase {
    std::string switches, log, expected;
    bool readable = true;
    int dataType = BV_DATA_EVENT;
    std::vector<std::vector<std::string>> items;  // field lines of each record, escapes decoded
};

WriteCase ReadCase(const fs::path &file) {
    WriteCase c;
    std::string text = ReadFileText(file);
    size_t body = text.find("\nexpected\n");
    c.expected = body == std::string::npos ? "" : text.substr(body + 10);
    for (const std::string &line : Split(text.substr(0, body), '\n')) {
        auto [key, value] = KeyValue(line);
        if (key.empty() || key[0] == '#') continue;
        if (key == "switches") c.switches = value;
        else if (key == "log") c.log = value;
        else if (key == "unreadable") c.readable = false;
        else if (key == "event" || key == "task") {
            c.dataType = key == "task" ? BV_DATA_TASK : BV_DATA_EVENT;
            c.items.emplace_back();
        } else if (!c.items.empty()) {
            c.items.back().push_back(DecodeEscapes(line));
        }
    }
    return c;
}

// An expected line "*" stands for any number of written lines.
bool LinesMatch(const std::vector<std::string> &want, size_t w, const std::vector<std::string> &got, size_t g) {
    if (w == want.size()) return g == got.size();
    if (want[w] == "*") return LinesMatch(want, w + 1, got, g) || (g < got.size() && LinesMatch(want, w, got, g + 1));
    return g < got.size() && want[w] == got[g] && LinesMatch(want, w + 1, got, g + 1);
}

class CalendarWriterTest : public ModuleTest {
protected:
    // A file of the occurrence's: "" none, "!" a path with no file, else its text.
    void OccurrenceFile(const std::string &text, const std::string &name, char (&path)[BV_EXC_TEXT_LEN]) {
        if (text.empty()) return;
        snprintf(path, sizeof path, "%s%s", work_.c_str(), name.c_str());
        if (text != "!") WriteFileText(path, text);
    }
    void AddException(const std::vector<std::string> &f) {
        ASSERT_TRUE(com_AllocBreakout(&rec_));
        int index = rec_.exceptionCount++;
        mexception *exc = rec_.exceptions[index];
        exc->kind = f.size() == 1;
        exc->originalStart = TimeOf(f[0]);
        if (exc->kind) return;
        exc->newStart = TimeOf(f.at(1));
        exc->newEnd = TimeOf(f.at(2));
        snprintf(exc->location, sizeof exc->location, "%s", f.at(3).c_str());
        OccurrenceFile(f.at(4), "notes" + std::to_string(index), exc->notesFile);
        OccurrenceFile(f.at(5), "people" + std::to_string(index), exc->attendeeFile);
        exc->reminderSet = f.size() > 6 && !f[6].empty();
        if (exc->reminderSet) exc->reminderMinutes = std::stoi(f[6]);
    }
    void AddPart(const std::vector<std::string> &f) {
        ASSERT_TRUE(com_AllocPart(&rec_));
        snprintf(rec_.parts[rec_.partCount]->name, BV_NAME_LEN, "%s", f[0].c_str());
        char path[BV_PATH_LEN];
        com_PartFileName(work_.c_str(), &rec_, rec_.partCount++, path, sizeof path);
        if (f.at(1) != "!") WriteFileText(path, f[1]);
    }
    void Fill(const std::vector<std::string> &lines) {
        for (const std::string &line : lines) {
            auto [key, value] = KeyValue(line);
            std::vector<std::string> f = Split(value, '|');
            if (kFields.count(key)) kFields.at(key)(&rec_, value);
            else if (key == "notes") com_WriteNotes(&rec_, value.c_str(), work_.c_str());
            else if (key == "deleted" || key == "changed") AddException(f);
            else if (key == "part") AddPart(f);
            else if (key == "recip") {
                ASSERT_TRUE(com_AllocRecip(&rec_));
                mrecip *recip = rec_.recips[rec_.recipCount++];
                snprintf(recip->name, sizeof recip->name, "%s", f[0].c_str());
                snprintf(recip->addr, sizeof recip->addr, "%s", f.at(1).c_str());
                recip->type = std::stoi(f.at(2)), recip->status = std::stoi(f.at(3));
            } else if (key == "extraReminders") {
                std::vector<int> minutes;
                for (const std::string &m : Split(f.at(1), ',')) minutes.push_back(std::stoi(m));
                bvcom_SetExtraReminders(&rec_, std::stoi(f[0]), minutes.data(), (int)minutes.size());
            } else {
                ADD_FAILURE() << "unknown field line: " << line;
            }
        }
    }
    // Writes the case's records through InitWrite, WriteMsg and CloseWrite;
    // returns the UIDs written.
    std::vector<std::string> Write(const fs::path &file, const WriteCase &c) {
        Load();
        bvcom_SetSwitches(c.switches.c_str());
        EXPECT_EQ(Logon(file.string(), c.dataType == BV_DATA_EVENT ? 99 : 100, 0), 0);
        EXPECT_EQ(module_->InitWrite(&rec_, "Calendar", 0, c.dataType), 0);
        std::vector<std::string> uids;
        for (const std::vector<std::string> &item : c.items) {
            com_ResetObject(&rec_);
            rec_.dataType = c.dataType;
            Fill(item);
            EXPECT_EQ(module_->WriteMsg(&rec_, "Calendar", work_.c_str(), 0), 0);
            char hex[33];
            for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", rec_.digest[i]);
            uids.push_back(hex);
        }
        EXPECT_EQ(module_->CloseWrite(c.dataType), 0);
        com_ResetObject(&rec_);
        Unload();
        return uids;
    }
    mdat rec_{};
};

TEST_F(CalendarWriterTest, WrittenText) {
    std::vector<fs::path> cases, readable;
    for (const fs::directory_entry &entry : fs::directory_iterator(BV_CALWRITE_TEST_DIR "/data/written"))
        cases.push_back(entry.path());
    std::sort(cases.begin(), cases.end());
    ASSERT_FALSE(cases.empty());
    for (const fs::path &path : cases) {
        SCOPED_TRACE(path.filename().string());
        WriteCase c = ReadCase(path);
        fs::path file = dir_ / (path.stem().string() + ".vcs");
        std::vector<std::string> uids = Write(file, c);
        std::string expected = c.expected;
        for (size_t i = 0; i < uids.size(); i++)
            expected = std::regex_replace(expected, std::regex("\\{UID" + std::to_string(i + 1) + "\\}"), uids[i]);
        std::string written = ReadFileText(file);
        EXPECT_TRUE(LinesMatch(Split(expected, '\n'), 0, Split(written, '\n'), 0)) << written;
        if (!c.log.empty()) {
            EXPECT_EQ(CountOf(Log(), std::regex_replace(c.log, std::regex("\\{WORK\\}"), work_)), 1) << Log();
        }
        if (!c.readable) continue;
        CalendarFacts facts = ReadCalendarFacts(file);
        EXPECT_EQ(facts.parseErrors, 0) << facts.errorText;
        EXPECT_EQ((int)facts.items.size(), CountOf(written, "BEGIN:VEVENT") + CountOf(written, "BEGIN:VTODO"));
        readable.push_back(file);
    }
    EXPECT_EQ(PythonParseErrors(readable, dir_), "");
}

}  // namespace
}  // namespace bvtest
