// The value texts that events and tasks share: the UID, date-times, line
// values, folded descriptions and base64 attachments.
#include <string.h>
#include "calwrite/calwrite_internal.h"
#include "platform/platform.h"

void ItemUid(mdat *record, const char *workDir, char out[BV_UID_HEX_LEN]) {
    com_MsgIsDuplicate(record, workDir, BV_DUP_DIGEST, "");
    bvcom_HexEncode(record->digest, sizeof record->digest, out, BV_UID_HEX_LEN);
}

void MinuteText(const FILETIME *time, char out[BV_CAL_TIME_LEN]) {
    SYSTEMTIME st = {};
    plat_FileTimeToSystemTime(time, &st);
    bv_snprintf(out, BV_CAL_TIME_LEN, "%d%02d%02dT%02d%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
}

void UtcSecondText(const FILETIME *time, char out[BV_CAL_TIME_LEN]) {
    SYSTEMTIME st = {};
    plat_FileTimeToSystemTime(time, &st);
    bv_snprintf(out, BV_CAL_TIME_LEN, "%d%02d%02dT%02d%02d%02dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
}

void CutAtLineBreak(char *text) { text[strcspn(text, "\r\n")] = '\0'; }

// A record without a code page (0) keeps its texts as they are: converting
// them to the ANSI code page would leave these copies in another encoding
// than the rest of the file.
void ToRecordCodepage(const mdat *record, char *text, size_t capacity) {
    if (!gUtf8 && record->codepage) com_CodepageToWindows(text, 65001, record->codepage, capacity);
}

void WriteLineValue(const char *text) {
    while (*text) {
        size_t run = strcspn(text, "\r\n");
        if (run) bv_fprintf(gOutFile, "%.*s", (int)run, text);
        text += run;
        if (!*text) break;
        bv_fprintf(gOutFile, "\\n");
        text += text[0] == '\r' && text[1] == '\n' ? 2 : 1;
    }
}

// A line break is one backslash-n: a CR LF pair, and also a CR or a line
// feed alone (iCalendar text, read back, holds line feeds only; dropping them
// would join its lines). The first line follows "DESCRIPTION:" on the same
// output line; later ones begin with a TAB, which readers drop when they
// unfold. Lines are broken only before an ASCII byte, so a multi-byte
// character stays whole, except in a run of non-ASCII bytes too long for the
// line buffer, which is broken before a lead byte.
void WriteFoldedText(const char *text) {
    char line[BV_FOLD_LINE_MAX + 2];
    size_t used = 0;
    bool first = true;
    auto flush = [&]() {
        line[used] = '\0';
        if (first)
            bv_fprintf(gOutFile, "%s\n", line);
        else
            bv_fprintf(gOutFile, "%c%s\n", '\t', line);
        first = false;
        used = 0;
    };
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p == '\n' && p > (const unsigned char *)text && p[-1] == '\r') continue;
        bool ascii = *p < 0x80;
        bool leadByte = (*p & 0xC0) != 0x80;
        if ((ascii && used >= BV_FOLD_COLUMN) || (leadByte && used >= BV_FOLD_LINE_MAX - 1)) flush();
        if (*p == '\r' || *p == '\n') {
            line[used++] = '\\';
            line[used++] = 'n';
        } else {
            line[used++] = (char)*p;
        }
        if (used >= BV_FOLD_LINE_MAX) flush();  // continuation bytes only reach this
    }
    if (used || first) flush();
}

// A file name goes between double quotes: quotes and line breaks in it
// become a single quote and a blank.
static void QuotedFileName(const char *name, char *out, size_t outCap) {
    com_strncpy(out, name, outCap - 1);
    for (char *p = out; *p; p++) {
        if (*p == '"') *p = '\'';
        if (*p == '\r' || *p == '\n') *p = ' ';
    }
}

static void WriteBase64Lines(FILE *in) {
    const size_t kLineBytes = BV_ATTACH_LINE_CHARS / 4 * 3;
    const size_t kChunkLines = 256;
    unsigned char chunk[kLineBytes * kChunkLines];
    char line[BV_ATTACH_LINE_CHARS + 1];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        for (size_t at = 0; at < got; at += kLineBytes) {
            bvcom_Base64Encode(chunk + at, got - at < kLineBytes ? got - at : kLineBytes, line);
            bv_fprintf(gOutFile, " %s\n", line);
        }
        if (got < sizeof chunk) break;
    }
}

void WriteAttach(const char *tempPath, const mpart *part) {
    char name[BV_NAME_LEN];
    QuotedFileName(part->name, name, sizeof name);
    bv_fprintf(gOutFile,
               "ATTACH;FMTTYPE=application/binary;ENCODING=BASE64;VALUE=BINARY;X-S1CS-FILENAME=\"%s\":\n", name);
    FILE *in = plat_fopen(tempPath, "rb");
    if (!in) {
        com_Log("BV Error: cannot open cal attachment %s|", tempPath);
        return;
    }
    WriteBase64Lines(in);
    bv_fprintf(gOutFile, "\n");
    fclose(in);
}

void WriteItemAttachments(const mdat *record, const char *workDir) {
    if (!gEvcs || !(gEvcsLevel & 2)) return;
    for (int i = 0; i < record->partCount && i < BV_MAX_PARTS; i++) {
        const mpart *part = record->parts[i];
        if (!part || part->partType != BV_PART_ATTACHMENT) continue;
        char path[BV_PATH_LEN];
        com_PartFileName(workDir, record, i, path, sizeof path);
        WriteAttach(path, part);
    }
}
