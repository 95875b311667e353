// Unison calendar text: one entry per block of "Key: value" lines, blocks
// separated by blank lines (calread/README.md shows the format). The reader
// rewrites the text as an iCalendar file, "unison.tmp" in the work
// directory, and reads that with the entry parser, so a Unison entry fills
// the record exactly as a VEVENT does.
#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include "calread/calendar_run.h"
#include "calread/calread.h"
#include "platform/platform.h"

#define UNISON_LINE_MAX 4096

typedef struct UnisonKey {
    const char *key;
    const char *property;  // iCalendar property the value becomes
} UnisonKey;

// Keys with a plain text value.
static const UnisonKey kTextKeys[] = {
    {"Subject", "SUMMARY"}, {"Location", "LOCATION"}, {"UID", "UID"}, {"Repeat", "RRULE"}, {"Category", "CATEGORIES"},
};

static int KeyIs(const char *line, const char *key, const char **value) {
    size_t n = strlen(key);
    if (strncasecmp(line, key, n) != 0 || line[n] != ':') return 0;
    *value = line + n + 1;
    while (**value == ' ' || **value == '\t') (*value)++;
    return 1;
}

// "2024-01-15 09:00" (local time), "2024-01-15 09:00Z" (UTC) or "2024-01-15"
// (a day) into the property line; 0 when the value is not such a time.
static int WriteTime(FILE *out, const char *property, const char *value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    int fields = sscanf(value, "%4d-%2d-%2d %2d:%2d", &year, &month, &day, &hour, &minute);
    if (fields < 3) return 0;
    if (fields < 5) return fprintf(out, "%s;VALUE=DATE:%04d%02d%02d\r\n", property, year, month, day) > 0;
    const char *utc = strchr(value, 'Z') ? "Z" : "";
    return fprintf(out, "%s:%04d%02d%02dT%02d%02d00%s\r\n", property, year, month, day, hour, minute, utc) > 0;
}

// A text value with the line breaks of the notes escaped.
static void WriteText(FILE *out, const char *property, const char *value) {
    fprintf(out, "%s:", property);
    for (const char *c = value; *c; c++) {
        if (*c == '\n')
            fputs("\\n", out);
        else if (*c == ',' || *c == ';')
            fprintf(out, "\\%c", *c);
        else if (*c != '\r')
            fputc(*c, out);
    }
    fputs("\r\n", out);
}

// "Name <addr@host>" or "addr@host".
static void WritePerson(FILE *out, const char *property, const char *value) {
    const char *open = strchr(value, '<');
    const char *close = open ? strchr(open, '>') : NULL;
    if (open && close) {
        int nameLength = (int)(open - value);
        while (nameLength > 0 && value[nameLength - 1] == ' ') nameLength--;
        fprintf(out, "%s;CN=\"%.*s\":mailto:%.*s\r\n", property, nameLength, value, (int)(close - open - 1), open + 1);
    } else {
        fprintf(out, "%s:mailto:%s\r\n", property, value);
    }
}

typedef struct UnisonEntry {
    int open;  // BEGIN:VEVENT written
    int reminder;
    char notes[BV_NOTES_LEN];
} UnisonEntry;

static void OpenEntry(FILE *out, UnisonEntry *entry) {
    if (entry->open) return;
    fputs("BEGIN:VEVENT\r\n", out);
    entry->open = 1;
    entry->reminder = -1;
    entry->notes[0] = 0;
}

static void CloseEntry(FILE *out, UnisonEntry *entry) {
    if (!entry->open) return;
    if (entry->notes[0]) WriteText(out, "DESCRIPTION", entry->notes);
    if (entry->reminder >= 0)
        fprintf(out, "BEGIN:VALARM\r\nTRIGGER:-PT%dM\r\nACTION:DISPLAY\r\nEND:VALARM\r\n", entry->reminder);
    fputs("END:VEVENT\r\n", out);
    entry->open = 0;
}

static void AppendNotes(UnisonEntry *entry, const char *value) {
    size_t used = strlen(entry->notes);
    bv_snprintf(entry->notes + used, sizeof entry->notes - used, "%s%s", used ? "\n" : "", value);
}

// One line of a block; 0 when the key is not known (the line is kept as a note).
static int ConvertLine(FILE *out, UnisonEntry *entry, const char *line) {
    const char *value = NULL;
    for (size_t i = 0; i < sizeof kTextKeys / sizeof kTextKeys[0]; i++) {
        if (!KeyIs(line, kTextKeys[i].key, &value)) continue;
        if (strcmp(kTextKeys[i].property, "RRULE") == 0 || strcmp(kTextKeys[i].property, "UID") == 0)
            fprintf(out, "%s:%s\r\n", kTextKeys[i].property, value);
        else
            WriteText(out, kTextKeys[i].property, value);
        return 1;
    }
    if (KeyIs(line, "Start", &value)) return WriteTime(out, "DTSTART", value);
    if (KeyIs(line, "End", &value)) return WriteTime(out, "DTEND", value);
    if (KeyIs(line, "Organizer", &value)) return WritePerson(out, "ORGANIZER", value), 1;
    if (KeyIs(line, "Attendee", &value)) return WritePerson(out, "ATTENDEE;ROLE=REQ-PARTICIPANT", value), 1;
    if (KeyIs(line, "Private", &value)) return fprintf(out, "CLASS:%s\r\n", tolower((unsigned char)*value) == 'y' ? "PRIVATE" : "PUBLIC") > 0;
    if (KeyIs(line, "Busy", &value)) return fprintf(out, "TRANSP:%s\r\n", tolower((unsigned char)*value) == 'n' ? "TRANSPARENT" : "OPAQUE") > 0;
    if (KeyIs(line, "Reminder", &value)) return entry->reminder = atoi(value), 1;
    if (KeyIs(line, "Notes", &value)) return AppendNotes(entry, value), 1;
    return 0;
}

// Returns the number of entries written; -1 when unison.tmp could not be written.
static int ConvertUnison(FILE *in, FILE *out) {
    static char line[UNISON_LINE_MAX];
    static UnisonEntry entry;
    memset(&entry, 0, sizeof entry);
    int entries = 0;
    fputs("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bvole//Unison import//EN\r\n", out);
    while (fgets(line, sizeof line, in)) {
        if (!strchr(line, '\n') && !feof(in)) {
            int c;
            while ((c = fgetc(in)) != EOF && c != '\n') {
            }
        }
        com_StripLineEnd(line);
        if (line[0] == '#') continue;
        if (!line[0]) {
            CloseEntry(out, &entry);
            continue;
        }
        if (!entry.open) entries++;
        OpenEntry(out, &entry);
        // A line the format does not know is kept in the notes, not lost.
        if (!ConvertLine(out, &entry, line)) AppendNotes(&entry, line);
    }
    CloseEntry(out, &entry);
    fputs("END:VCALENDAR\r\n", out);
    return ferror(out) ? -1 : entries;
}

static FILE *OpenUnison(const char *path) {
    FILE *in = plat_fopen(path, "rb");
    if (!in) com_Log("BV Warning: fopen on file %s, error %d", path, errno);
    return in;
}

void ReadUnisonFile(CalendarRun *run, const char *path) {
    FILE *in = OpenUnison(path);
    if (!in) return;
    com_Log("Opened Unison file %s", path);
    char tempPath[BV_PATH_LEN * 2];
    bv_snprintf(tempPath, sizeof tempPath, "%sunison.tmp", run->workDir);
    FILE *out = plat_fopen(tempPath, "wb");
    if (!out) {
        com_Log("BV Warning: fopen on file %s, error %d", tempPath, errno);
        fclose(in);
        return;
    }
    int entries = ConvertUnison(in, out);
    fclose(in);
    if (fclose(out) != 0 || entries < 0) {
        com_Log("BV Warning: error writing %s; the Unison file is not read", tempPath);
        plat_DeleteFile(tempPath);
        return;
    }
    ReadCalendarPath(run, tempPath);
    plat_DeleteFile(tempPath);
}

extern "C" int CountUnisonEntries(const char *path) {
    FILE *in = OpenUnison(path);
    if (!in) return 0;
    char line[UNISON_LINE_MAX];
    int entries = 0, inEntry = 0;
    while (fgets(line, sizeof line, in)) {
        com_StripLineEnd(line);
        if (line[0] == '#') continue;
        if (line[0] && !inEntry) entries++;
        inEntry = line[0] != 0;
    }
    fclose(in);
    return entries;
}
