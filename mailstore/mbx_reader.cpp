// The MBX and mailbox-style text reader: messages are cut at lines that begin
// with "From -", and at the separator lines of an ordinary mbox file ("From "
// with an address and a date, at the start of the file or after an empty
// line, as RFC 4155 describes them); an Outlook Express 4 file starts with a
// 100-byte "JMF6" header instead of a separator line.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include "mailstore/dbx_scan.h"
#include "mailstore/mail_reader.h"
#include "mime/mime_internal.h"
#include "platform/platform.h"

#define JMF6_PROBE_LEN 92    // read first to look for the signature
#define JMF6_HEADER_LEN 100  // the whole header that is skipped

static int IsWordOf(const char *text, const char *const *words, int count) {
    for (int i = 0; i < count; i++)
        if (strncmp(text, words[i], 3) == 0) return 1;
    return 0;
}

static int HasTimeOfDay(const char *text) {
    for (const char *p = text; (p = strchr(p, ':')) != NULL; p++) {
        if (p - text >= 1 && isdigit((unsigned char)p[-1]) && isdigit((unsigned char)p[1]) &&
            isdigit((unsigned char)p[2]))
            return 1;
    }
    return 0;
}

// "From " sender date: the sender is one word, the date an asctime date
// ("Mon Jan 15 10:00:00 2024", also with a zone or a comma after the day).
static int IsMboxFromLine(const char *line) {
    static const char *const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (strncmp(line, "From ", 5) != 0 || line[5] == ' ' || !line[5]) return 0;
    const char *date = strchr(line + 5, ' ');
    if (!date) return 0;
    while (*date == ' ') date++;
    if (!IsWordOf(date, kDays, 7)) return 0;
    const char *month = date + 3;
    while (*month == ' ' || *month == ',') month++;
    // asctime puts the month second; other writers put the day of the month first
    while (isdigit((unsigned char)*month) || *month == ' ') month++;
    return IsWordOf(month, kMonths, 12) && HasTimeOfDay(month);
}

// A line that begins the next message: "From -" anywhere, an mbox "From "
// line at the start or after an empty line.
static int IsSeparatorLine(const char *line, int afterEmptyLine) {
    return MailTextEqualNoCase(line, "From -", 6) || (afterEmptyLine && IsMboxFromLine(line));
}

extern "C" int SkipJmf6Header(FILE *file) {
    char header[JMF6_HEADER_LEN];
    size_t got = fread(header, 1, JMF6_PROBE_LEN, file);
    if (got >= 4 && memcmp(header, "JMF6", 4) == 0) {
        size_t rest = fread(header, 1, JMF6_HEADER_LEN - JMF6_PROBE_LEN, file);
        (void)rest;
        return 1;
    }
    fseek(file, 0, SEEK_SET);
    return 0;
}

extern "C" uint32_t CountMailFileMessages(const char *path) {
    if (gBvGui || gNoInventory) return 0;
    if (MailFileHasExtension(path, "DBX")) {
        int count = 0;
        ParseDBX(path, &count, 1);
        return (uint32_t)count;
    }
    FILE *file = plat_fopen(path, "rb");
    if (!file) return 0;
    // Counting reads the whole 100 bytes before it tests the signature.
    char header[JMF6_HEADER_LEN];
    size_t got = fread(header, 1, JMF6_HEADER_LEN, file);
    if (!(got >= 4 && memcmp(header, "JMF6", 4) == 0)) fseek(file, 0, SEEK_SET);
    uint32_t count = 0;
    int afterEmptyLine = 1;
    while (ReadMimeLine(file, NULL, 0, 0) == 0) {
        if (IsSeparatorLine(gLineBuf, afterEmptyLine)) count++;
        afterEmptyLine = gLineBuf[0] == 0;
    }
    fclose(file);
    return count;
}

// Keeps the line in gLineBuf as the first line of the next message.
static void KeepPendingLine(char *pending) {
    size_t len = strnlen(gLineBuf, BV_LINE_BUF_LEN - 1);
    memcpy(pending, gLineBuf, len);
    pending[len] = 0;
}

// Writes the line (piece) in gLineBuf, with its line end when it is whole:
// one call to stdio for both where the buffer has room for the LF.
static void WriteLine(FILE *out, bool lineEnd) {
    size_t len = (size_t)gLineLen;
    if (lineEnd && len + 1 < sizeof(gLineBuf)) {
        gLineBuf[len++] = '\n';
        lineEnd = false;
    }
    fwrite(gLineBuf, 1, len, out);
    if (lineEnd) fputc('\n', out);
}

extern "C" int ReadMbxFolder(MailHandOver *h, const FolderRecord *folder) {
    FILE *mbx = plat_fopen(folder->fileName, "rb");
    if (!mbx) return 1;
    char *pending = (char *)malloc(BV_LINE_BUF_LEN);
    if (!pending) {
        fclose(mbx);
        com_Log("BV Warning: out of memory reading %s", folder->fileName);
        return 0;
    }
    pending[0] = 0;
    // Without the header the first line is the first message's separator,
    // which is dropped; every later message keeps its "From -" line.
    int atEnd;
    if (SkipJmf6Header(mbx)) {
        atEnd = ReadBodyLine(mbx, 0);
    } else {
        atEnd = ReadMimeLine(mbx, NULL, 0, 0);
        if (!atEnd) atEnd = ReadBodyLine(mbx, 0);
    }
    if (!atEnd) KeepPendingLine(pending);

    // Lines longer than the line buffer come in pieces and are copied whole;
    // only the first piece of a line can be a separator.
    bool atLineStart = !gLineContinues;
    FILE *out = atEnd ? NULL : OpenMessageScratch(h, "temprfc.tmp");
    while (!atEnd && out) {
        plat_ScratchRestart(out);
        fputs(pending, out);
        if (atLineStart) fputc('\n', out);
        int afterEmptyLine = pending[0] == 0;
        for (;;) {
            if (ReadBodyLine(mbx, 0) != 0) {
                atEnd = 1;
                break;
            }
            bool lineStart = atLineStart;
            atLineStart = !gLineContinues;
            if (lineStart && IsSeparatorLine(gLineBuf, afterEmptyLine)) {
                KeepPendingLine(pending);
                break;
            }
            WriteLine(out, atLineStart);
            afterEmptyLine = lineStart && atLineStart && gLineLen == 0;
        }
        if (ParseAndHandOver(h, out)) break;
    }
    plat_CloseScratch(out);
    free(pending);
    fclose(mbx);
    return 0;
}
