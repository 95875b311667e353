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

constexpr size_t kUtf16Chunk = 32768;  // UTF-16 units converted at once

constexpr size_t kUtf16Probe = 64;     // bytes after the mark looked at

// The byte order of a UTF-16 file: 1 little-endian, 2 big-endian, 0 none
// (the file is left at its start). A UTF-16 mark followed by 8-bit text
// without NUL bytes is not UTF-16: such files are read as before, the mark
// dropped and the text taken as UTF-8.
int Utf16Order(FILE *file) {
    unsigned char head[2 + kUtf16Probe];
    size_t got = fread(head, 1, sizeof head, file);
    rewind(file);
    if (got < 4 || !memchr(head + 2, 0, got - 2)) return 0;
    if (head[0] == 0xFF && head[1] == 0xFE) return 1;
    if (head[0] == 0xFE && head[1] == 0xFF) return 2;
    return 0;
}

// Writes the UTF-16 text of `in` (after its mark) to `out` as UTF-8.
void CopyUtf16AsUtf8(FILE *in, int order, FILE *out) {
    static unsigned char bytes[kUtf16Chunk * 2];
    static WCHAR units[kUtf16Chunk + 1];
    static char utf8[kUtf16Chunk * 3 + 4];
    fseek(in, 2, SEEK_SET);
    size_t kept = 0;  // a high surrogate whose pair is in the next chunk
    size_t got;
    while ((got = fread(bytes, 2, kUtf16Chunk - kept, in)) > 0) {
        for (size_t i = 0; i < got; i++) {
            unsigned char lo = bytes[2 * i + (order == 1 ? 0 : 1)], hi = bytes[2 * i + (order == 1 ? 1 : 0)];
            units[kept + i] = (WCHAR)(lo | (hi << 8));
        }
        size_t count = kept + got;
        kept = (units[count - 1] >= 0xD800 && units[count - 1] <= 0xDBFF) ? 1 : 0;
        int n = plat_WideCharToMultiByte(65001, units, (int)(count - kept), utf8, (int)sizeof(utf8));
        if (n > 0) fwrite(utf8, 1, (size_t)n, out);
        if (kept) units[0] = units[count - 1];
    }
}

// A UTF-16 file is read through a UTF-8 copy in the download/work
// directory; returns that copy open at its start, or nullptr.
FILE *OpenUtf8Copy(FILE *file, int order, CsvSource *source) {
    char dir[BV_PATH_LEN] = "";
    com_GetHostSetting(BVCOM_SETTING_WORK_DIR, dir, sizeof dir);
    bv_snprintf(source->convertedPath, sizeof source->convertedPath, "%scsvutf8.tmp", dir);
    FILE *copy = plat_fopen(source->convertedPath, "wb");
    if (!copy) return nullptr;
    CopyUtf16AsUtf8(file, order, copy);
    fclose(copy);
    return plat_fopen(source->convertedPath, "rb");
}

}  // namespace

extern "C" {

void CloseCsvSource(CsvSource *source) {
    if (source->file) fclose(source->file);
    source->file = nullptr;
    if (source->convertedPath[0]) plat_DeleteFile(source->convertedPath);
    source->convertedPath[0] = 0;
}

int OpenCsvSource(const char *path, CsvSource *source, int quiet) {
    memset(source, 0, sizeof(*source));
    InitFieldLabels(&source->labels);
    ReadFieldLabelFile(&source->labels, path);
    FILE *file = plat_fopen(path, "rb");
    if (!file) {
        if (!quiet) com_Log("BV Error: fopen failure %d on file: %s", errno, path);
        return 0;
    }
    // UTF-16 text (with its mark) is read as UTF-8; the fields are then taken
    // as UTF-8, as for a file with the UTF-8 mark.
    int order = Utf16Order(file);
    if (order) {
        FILE *copy = OpenUtf8Copy(file, order, source);
        fclose(file);
        source->file = copy;
        if (!copy) {
            if (!quiet) com_Log("BV Warning: cannot convert the UTF-16 file %s", path);
            CloseCsvSource(source);
            return 0;
        }
        file = copy;
        source->utf8 = 1;
    }
    char line[BV_CSV_FIRST_LINE_LEN];
    if (!fgets(line, sizeof(line), file)) {
        source->file = file;
        CloseCsvSource(source);
        return 0;
    }
    size_t length = strlen(line);
    if (length < BV_CSV_MIN_FIRST_LINE) {
        source->file = file;
        CloseCsvSource(source);
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
            source->file = file;
            CloseCsvSource(source);
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
    CloseCsvSource(&source);
    return count;
}

}  // extern "C"
