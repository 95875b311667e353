// A contact CSV file: its first line (byte-order mark, separator, header or
// first record), the character-level field reader, and the record counter.
#include <errno.h>
#include <string.h>
#include "contacts/contacts.h"
#include "platform/platform.h"

namespace {

// A line feed ends a line; a CR anywhere is dropped.
inline int NextChar(FILE *file) {
    int c;
    do c = getc(file);
    while (c == '\r');
    return c;
}

void SkipRestOfLine(FILE *file) {
    int c;
    do c = getc(file);
    while (c != EOF && c != '\n');
}

// Drops the line end and a leading byte-order mark; returns the number of
// bytes of the mark.
size_t StripFirstLine(char *line, size_t length, int *utf8) {
    for (int i = 0; i < 2 && length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'); i++)
        line[--length] = '\0';
    size_t markLength = 0;
    unsigned char *bytes = reinterpret_cast<unsigned char *>(line);
    if (length >= 2 && bytes[0] == 0xEF && bytes[1] == 0xBB) {
        size_t drop = length >= 3 ? 3 : length;
        memmove(line, line + drop, length - drop + 1);
        length -= drop;
        markLength += drop;
        *utf8 = 1;
    }
    if (length >= 1 && (bytes[0] == 0xFE || bytes[0] == 0xFF)) {
        size_t drop = length >= 2 ? 2 : length;
        memmove(line, line + drop, length - drop + 1);
        markLength += drop;
        *utf8 = 1;
    }
    return markLength;
}

}  // namespace

extern "C" {

int OpenCsvSource(const char *path, CsvSource *source, int quiet) {
    memset(source, 0, sizeof(*source));
    InitFieldLabels(&source->labels);
    ReadFieldLabelFile(&source->labels, path);
    FILE *file = plat_fopen(path, "rb");
    if (!file) {
        if (!quiet) com_Log("BV Error: fopen failure %d on file: %s", errno, path);
        return 0;
    }
    char line[BV_CSV_FIRST_LINE_LEN];
    if (!fgets(line, sizeof(line), file)) {
        fclose(file);
        return 0;
    }
    size_t length = strlen(line);
    if (length < BV_CSV_MIN_FIRST_LINE) {
        fclose(file);
        return 0;
    }
    // A first line longer than the buffer: the rest of it is not a record.
    if (line[length - 1] != '\n') SkipRestOfLine(file);
    size_t markLength = StripFirstLine(line, length, &source->utf8);
    if (strchr(line, ';')) source->semicolon = 1;

    if (LabelsGiveColumns(&source->labels)) {
        // No header line: the first line is a record.
        fseek(file, (long)markLength, SEEK_SET);
    } else {
        MatchHeaderLine(&source->labels, line);
        if (!LabelsUsable(&source->labels)) {
            if (!quiet) com_Log("BV Warning: unable to locate valid field labels");
            fclose(file);
            return 0;
        }
    }
    source->file = file;
    return 1;
}

enum CsvFieldEnd ReadCsvField(FILE *file, char separator, char *out, size_t cap) {
    size_t length = 0;
    CsvFieldEnd end;
    int c = NextChar(file);
    if (c == '"') {
        for (;;) {
            c = NextChar(file);
            if (c == EOF) {
                end = CSV_FILE_ENDS;
                break;
            }
            if (c == '"') {
                c = NextChar(file);
                if (c != '"') {
                    // The closing quote; the character after it ends the field.
                    end = c == EOF ? CSV_FILE_ENDS : c == '\n' ? CSV_RECORD_ENDS : CSV_FIELD_ENDS;
                    break;
                }
            }
            if (length + 1 < cap) out[length++] = (char)c;
        }
    } else {
        for (;; c = NextChar(file)) {
            if (c == EOF) {
                end = CSV_FILE_ENDS;
                break;
            }
            if (c == '\n') {
                end = CSV_RECORD_ENDS;
                break;
            }
            if (c == separator) {
                end = CSV_FIELD_ENDS;
                break;
            }
            if (length + 1 < cap) out[length++] = (char)c;
        }
    }
    if (cap) out[length] = '\0';
    return end;
}

int CountCsvContacts(const char *path) {
    CsvSource source;
    if (!OpenCsvSource(path, &source, 1)) return 0;
    char separator = source.semicolon ? ';' : gCsvSeparator;
    int count = 0;
    int columns = 0;
    char field[BV_CSV_FIELD_LEN];
    for (;;) {
        CsvFieldEnd end = ReadCsvField(source.file, separator, field, sizeof(field));
        columns++;
        if (end == CSV_FIELD_ENDS) continue;
        if (columns > 1) count++;
        columns = 0;
        if (end == CSV_FILE_ENDS) break;
    }
    fclose(source.file);
    return count;
}

}  // extern "C"
