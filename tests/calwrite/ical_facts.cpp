// libical's reading of a calendar file, reduced to comparable lines.
#include "ical_facts.h"

#include <libical/ical.h>

#include <ctype.h>
#include <time.h>

#include <algorithm>

#include "support/file_text.h"
#include "support/program_run.h"

namespace bvtest {
namespace {

const int kOccurrencesCompared = 25;

// A floating time is the machine's local time (TZ), as the module reads it.
std::string FloatingInstant(icaltimetype time) {
    struct tm local = {};
    local.tm_year = time.year - 1900, local.tm_mon = time.month - 1, local.tm_mday = time.day;
    local.tm_hour = time.hour, local.tm_min = time.minute, local.tm_sec = time.second, local.tm_isdst = -1;
    time_t instant = mktime(&local);
    struct tm utc;
    char text[32];
    if (instant == (time_t)-1 || !gmtime_r(&instant, &utc)) return "F:bad";
    strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// A date as "D:YYYYMMDD", a time as its UTC instant.
std::string InstantText(icaltimetype time) {
    if (icaltime_is_null_time(time)) return "-";
    if (time.is_date) return std::string("D:") + icaltime_as_ical_string(time);
    if (!time.zone && !icaltime_is_utc(time)) return FloatingInstant(time);
    icaltimetype utc = icaltime_convert_to_zone(time, icaltimezone_get_utc_timezone());
    return icaltime_as_ical_string(utc);
}

std::string Text(const char *text) { return text ? text : ""; }

// A text property's value; a vCalendar 1.0 value marked quoted-printable has
// its "=XX" bytes decoded, as vCalendar readers do.
std::string TextValue(icalcomponent *item, icalproperty_kind kind) {
    icalproperty *p = icalcomponent_get_first_property(item, kind);
    if (!p) return "";
    std::string value = Text(icalvalue_get_text(icalproperty_get_value(p)));
    if (std::string(icalproperty_as_ical_string(p)).find("ENCODING=QUOTED-PRINTABLE") == std::string::npos)
        return value;
    std::string out;
    for (size_t i = 0; i < value.size(); i++) {
        bool hex = value[i] == '=' && i + 2 < value.size() && isxdigit((unsigned char)value[i + 1]) &&
                   isxdigit((unsigned char)value[i + 2]);
        out += hex ? (char)std::stoi(value.substr(i + 1, 2), nullptr, 16) : value[i];
        if (hex) i += 2;
    }
    size_t crlf;
    while ((crlf = out.find("\r\n")) != std::string::npos) out.erase(crlf, 1);  // a CR LF pair is one line break
    return out;
}

// The first occurrences of the rule from the start, as UTC instants.
std::string Occurrences(icalcomponent *item, icaltimetype start) {
    icalproperty *rule = icalcomponent_get_first_property(item, ICAL_RRULE_PROPERTY);
    if (!rule) return "";
    icalrecurrencetype recur = icalproperty_get_rrule(rule);
    icalrecur_iterator *it = icalrecur_iterator_new(recur, start);
    if (!it) return "bad rule";
    std::string out;
    for (int i = 0; i < kOccurrencesCompared; i++) {
        icaltimetype next = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(next) || next.year > 2200) break;
        next.zone = start.zone;
        out += InstantText(next) + ",";
    }
    icalrecur_iterator_free(it);
    return out;
}

std::string SortedList(std::vector<std::string> values) {
    std::sort(values.begin(), values.end());
    std::string out;
    for (const std::string &value : values) out += value + ",";
    return out;
}

std::string ListOf(icalcomponent *item, icalproperty_kind kind) {
    std::vector<std::string> values;
    for (icalproperty *p = icalcomponent_get_first_property(item, kind); p;
         p = icalcomponent_get_next_property(item, kind))
        values.push_back(InstantText(icalproperty_get_datetime_with_component(p, item)));
    return SortedList(values);
}

std::string Alarms(icalcomponent *item) {
    std::vector<std::string> values;
    for (icalcomponent *alarm = icalcomponent_get_first_component(item, ICAL_VALARM_COMPONENT); alarm;
         alarm = icalcomponent_get_next_component(item, ICAL_VALARM_COMPONENT)) {
        icalproperty *trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
        int seconds = trigger ? icaldurationtype_as_int(icalproperty_get_trigger(trigger).duration) : 0;
        if (trigger) values.push_back(std::to_string(seconds / 60) + "m");
    }
    return SortedList(values);
}

std::string ItemLine(icalcomponent *item) {
    bool todo = icalcomponent_isa(item) == ICAL_VTODO_COMPONENT;
    icaltimetype start = icalcomponent_get_dtstart(item);
    icaltimetype end = todo ? icalcomponent_get_due(item) : icalcomponent_get_dtend(item);
    icalproperty *rid = icalcomponent_get_first_property(item, ICAL_RECURRENCEID_PROPERTY);
    std::string line = todo ? "VTODO" : "VEVENT";
    line += " start=" + InstantText(start) + " end=" + InstantText(end);
    if (rid) line += " recurrence-id=" + InstantText(icalproperty_get_datetime_with_component(rid, item));
    line += " summary=" + TextValue(item, ICAL_SUMMARY_PROPERTY) + " description=" +
            TextValue(item, ICAL_DESCRIPTION_PROPERTY);
    if (todo) return line;  // the task layout holds no location, recurrence or alarm
    return line + " location=" + TextValue(item, ICAL_LOCATION_PROPERTY) + " occurrences=" +
           Occurrences(item, start) + " exdate=" + ListOf(item, ICAL_EXDATE_PROPERTY) + " alarms=" + Alarms(item);
}

void Collect(icalcomponent *component, const char *only, CalendarFacts *facts) {
    icalcomponent_kind kind = icalcomponent_isa(component);
    bool wanted = !only || kind == icalcomponent_string_to_kind(only);
    if ((kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VTODO_COMPONENT) && wanted)
        facts->items.push_back(ItemLine(component));
    for (icalproperty *p = icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY)) {
        std::string error = Text(icalproperty_get_xlicerror(p));
        if (error.rfind("No value for ", 0) == 0) continue;  // an empty property, dropped by libical
        facts->parseErrors++;
        facts->errorText += error + "\n";
    }
    for (icalcomponent *child = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT); child;
         child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
        Collect(child, only, facts);
}

}  // namespace

CalendarFacts ReadCalendarFacts(const std::filesystem::path &file, const char *component) {
    CalendarFacts facts;
    std::string text = ReadFileText(file);
    if (text.empty()) return facts;  // nothing written: no items
    icalcomponent *root = icalparser_parse_string(text.c_str());
    if (!root) return {1, {}, "libical found no calendar"};
    Collect(root, component, &facts);
    icalcomponent_free(root);
    std::sort(facts.items.begin(), facts.items.end());
    return facts;
}

std::string PythonParseErrors(const std::vector<std::filesystem::path> &files, const std::filesystem::path &scratch) {
    std::string command = "/usr/bin/python3 " + ShellQuote(BV_CALWRITE_TEST_DIR "/parse_check.py");
    for (const std::filesystem::path &file : files) command += " " + ShellQuote(file.string());
    ProgramRun run = RunProgram(command, scratch);
    return run.status == 0 ? "" : run.out + run.err;
}

}  // namespace bvtest
