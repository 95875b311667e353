// Logical lines of a calendar file: the buffered physical reader, unfolding,
// quoted-printable, code pages and the blanks after the first colon; and the
// small text helpers of the entry parser.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include "calread/vcs_parser.h"
#include "platform/platform.h"
#include "record/com.h"

char gTextLine[BV_TEXT_LINE_LEN];

// ---- buffered file --------------------------------------------------------------

extern "C" int VcsOpen(VcsFile *vf, FILE *file) {
    memset(vf, 0, sizeof *vf);
    vf->file = file;
    vf->block = (char *)malloc(VCS_READ_BLOCK);
    if (!vf->block) return 0;
    vf->blockStart = file ? ftell(file) : 0;
    if (vf->blockStart < 0) vf->blockStart = 0;
    return 1;
}

extern "C" void VcsClose(VcsFile *vf) {
    free(vf->block);
    vf->block = NULL;
}

extern "C" int64_t VcsTell(const VcsFile *vf) { return vf->blockStart + (int64_t)vf->pos; }

extern "C" int VcsSeek(VcsFile *vf, int64_t offset) {
    if (offset >= vf->blockStart && offset <= vf->blockStart + (int64_t)vf->length) {
        vf->pos = (size_t)(offset - vf->blockStart);
        vf->atEnd = 0;
        return 1;
    }
    if (!vf->file || fseek(vf->file, (long)offset, SEEK_SET) != 0) return 0;
    vf->blockStart = offset;
    vf->length = vf->pos = 0;
    vf->atEnd = 0;
    return 1;
}

static int VcsFill(VcsFile *vf) {
    if (vf->pos < vf->length) return 1;
    if (vf->atEnd || !vf->file || !vf->block) return 0;
    vf->blockStart += (int64_t)vf->length;
    vf->length = fread(vf->block, 1, VCS_READ_BLOCK, vf->file);
    vf->pos = 0;
    if (vf->length == 0) vf->atEnd = 1;
    return vf->length > 0;
}

extern "C" int VcsPeekByte(VcsFile *vf) {
    if (!VcsFill(vf)) return -1;
    return (unsigned char)vf->block[vf->pos];
}

extern "C" int VcsReadPhysical(VcsFile *vf, char *out, size_t max, size_t *lengthOut) {
    size_t length = 0;
    int readAny = 0;
    int cut = 0;
    while (VcsFill(vf)) {
        readAny = 1;
        const char *start = vf->block + vf->pos;
        size_t avail = vf->length - vf->pos;
        const char *newline = (const char *)memchr(start, '\n', avail);
        size_t chunk = newline ? (size_t)(newline - start) : avail;
        size_t room = max - length;
        size_t take = chunk < room ? chunk : room;
        memcpy(out + length, start, take);
        length += take;
        if (take < chunk) cut = 1;
        vf->pos += chunk + (newline ? 1 : 0);
        if (newline) break;
    }
    out[length] = 0;
    if (cut) vf->longLines++;
    if (lengthOut) *lengthOut = length;
    return readAny ? 0 : 1;
}

// ---- logical lines ------------------------------------------------------------------

static size_t CutAtLineEnd(char *line, size_t length) {
    char *cr = (char *)memchr(line, '\r', length);
    if (cr) {
        *cr = 0;
        return (size_t)(cr - line);
    }
    return length;
}

static void DecodeQuotedPrintable(char *line) { line[bvcom_DecodeHexEscapes(line, strlen(line), '=')] = 0; }

static int IsAscii(const char *text) {
    for (; *text; text++)
        if ((unsigned char)*text >= 0x80) return 0;
    return 1;
}

// A trailing single '=' (not "==") is a soft line break; it is removed.
static int TakeSoftBreak(char *line, size_t *length) {
    size_t n = *length;
    if (n == 0 || line[n - 1] != '=' || (n >= 2 && line[n - 2] == '=')) return 0;
    line[--n] = 0;
    *length = n;
    return 1;
}

// Appends the folded continuation lines of the logical line in gTextLine.
static void Unfold(VcsFile *vf, size_t *length, int softBreak) {
    static char next[VCS_LOGICAL_LINE_MAX + 1];
    for (;;) {
        int first = VcsPeekByte(vf);
        if (first < 0) return;
        int folded = first == ' ' || first == '\t';
        if (!folded && !softBreak) return;
        int64_t mark = VcsTell(vf);
        size_t n = 0;
        VcsReadPhysical(vf, next, VCS_CONTINUATION_MAX, &n);
        n = CutAtLineEnd(next, n);
        const char *add = folded ? next + 1 : next;
        size_t addLength = folded && n > 0 ? n - 1 : n;
        if (*length + addLength >= VCS_LOGICAL_LINE_MAX) {
            VcsSeek(vf, mark);  // read again as a line of its own
            return;
        }
        memcpy(gTextLine + *length, add, addLength);
        *length += addLength;
        gTextLine[*length] = 0;
        softBreak = TakeSoftBreak(gTextLine, length);
    }
}

// "NAME:   value" -> "NAME:value".
static void DropBlanksAfterColon(char *line) {
    char *colon = strchr(line, ':');
    if (!colon || colon[1] != ' ') return;
    char *value = colon + 1;
    while (*value == ' ') value++;
    memmove(colon + 1, value, strlen(value) + 1);
}

extern "C" int ReadVcsLine(VcsFile *vf, int quotedPrintable) {
    size_t length = 0;
    // Physical lines are read up to the logical-line limit, not cut at 499
    // characters: producers that do not fold write descriptions far longer
    // than that on one line, and cutting them would lose text.
    if (VcsReadPhysical(vf, gTextLine, VCS_LOGICAL_LINE_MAX - 1, &length)) {
        gTextLine[0] = 0;
        return 1;
    }
    if (com_stristr(gTextLine, "encoding=quoted-printable", 0)) quotedPrintable = 1;
    length = CutAtLineEnd(gTextLine, length);
    int softBreak = quotedPrintable ? TakeSoftBreak(gTextLine, &length) : 0;
    if (strncmp(gTextLine, "ATTACH", 6) == 0) return 0;
    Unfold(vf, &length, softBreak);
    if (quotedPrintable) DecodeQuotedPrintable(gTextLine);
    // A line that names its own charset as UTF-8 (vCalendar 1.0 "CHARSET=UTF-8")
    // is UTF-8 already, whatever the session assumes.
    if (!gUtf8 && !IsAscii(gTextLine) && !com_stristr(gTextLine, "CHARSET=UTF-8", 0)) {
        com_CodepageToWindows(gTextLine, 28591, 65001, VCS_LOGICAL_LINE_MAX);
        if (gCp850) com_CodepageToWindows(gTextLine, 850, 65001, VCS_LOGICAL_LINE_MAX);
    }
    DropBlanksAfterColon(gTextLine);
    return 0;
}

// ---- text values ----------------------------------------------------------------------

extern "C" void AppendVcsText(char *dest, const char *source, int *position, int capacity) {
    int pos = *position;
    unsigned char last = 0;
    for (const char *s = source; *s; s++) {
        // A run of bytes of 0x80 and above (one multi-byte character) is
        // never cut: the copy stops at the limit only after a printable byte.
        if (pos >= capacity - 1 && last >= 0x20 && last <= 0x7e) break;
        // Callers leave room for one more character of up to four bytes and the
        // terminator (title 4,096 bytes for 4,090); a longer run of high bytes
        // is not one character and is cut there.
        if (pos >= capacity + 4) break;
        char c = *s;
        if (c == '\\' && (s[1] == 'n' || s[1] == 'N' || s[1] == 'r')) {
            c = s[1] == 'r' ? '\r' : '\n';
            s++;
        }
        dest[pos++] = c;
        last = (unsigned char)c;
    }
    dest[pos] = 0;
    *position = pos;
}

extern "C" void UnescapeVcsText(char *text) {
    char *out = text;
    for (const char *in = text; *in; in++) {
        if (in[0] == '\\' && (in[1] == ',' || in[1] == ';' || in[1] == '\\' || in[1] == ':')) in++;
        *out++ = *in;
    }
    *out = 0;
}

// Digits right before the first `unit` letter of the text.
static int CountBefore(const char *text, char unit) {
    const char *letter = strchr(text, unit);
    if (!letter) return 0;
    const char *digits = letter;
    while (digits > text && isdigit((unsigned char)digits[-1])) digits--;
    return digits < letter ? atoi(digits) : 0;
}

extern "C" void ParseVcsDuration(const char *text, int *minutes) {
    *minutes = 0;
    if (!text || !strchr(text, ':')) return;
    long total = (long)CountBefore(text, 'H') * 60 + CountBefore(text, 'M') + (long)CountBefore(text, 'D') * 1440 +
                 (long)CountBefore(text, 'W') * 10080;
    *minutes = total > 0x7fffffffL ? 0x7fffffff : (int)total;
}
