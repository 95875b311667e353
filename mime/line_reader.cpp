// ReadMimeLine: one logical line of a message into gLineBuf.
//
// Physical lines end at LF, CR LF, CR CR LF or a lone CR. With unfolding, a
// line that begins with a blank continues the previous one: it is joined
// with ";" (so that parameters of structured headers stay apart) or with a
// space (inside a quoted string, after an encoded word, and in Subject, To,
// From and Cc lines, whose text must read as it was written).
#include <string.h>
#include "mime/mime_internal.h"
#include "platform/platform.h"

extern "C" {
char gLineBuf[BV_LINE_BUF_LEN];
int gLineLen;
int gLineContinues;
const char *gLineEnd = "";
}

namespace {

// One past the last byte of gLineBuf written since it was last cleared, so
// that a clear touches only what earlier lines used.
int sDirtyEnd;

// The blank that began a continuation read as a line of its own (the 22nd
// ";" join): it belongs at the front of that line's echo.
int sCarriedBlank = -1;
FILE *sCarriedEcho;

void ClearFrom(int start) {
    int end = sDirtyEnd > start ? sDirtyEnd : start;
    // text that another reader of gLineBuf put behind the mark
    while (end < BV_LINE_BUF_LEN && gLineBuf[end]) end++;
    if (end > start) memset(gLineBuf + start, 0, (size_t)(end - start));
    sDirtyEnd = start;
}

bool IsBlank(int c) { return c == ' ' || c == '\t'; }

// Lines whose folds read as one text: joined with a space, never with ";".
bool FoldsWithSpace(const char *line) {
    return StartsNoCase(line, "Subject:") || StartsNoCase(line, "To:") || StartsNoCase(line, "Fro") ||
           StartsNoCase(line, "cc:");
}

struct LineState {
    FILE *stream;
    FILE *echo;
    int pos;
    int quotes;  // double quotes stored so far
    bool unfold;  // a header line: its tabs read as spaces
    char echoBuf[MIME_MAX_ECHO_CHARS];
    int echoLen;
    bool inPieces;  // a full buffer ends the piece; the rest stays in the stream
    bool cut;       // this piece ended because the buffer was full
    const char *lineEnd;  // the line end consumed, one of the literals below
};

void Store(LineState *s, int c) {
    if (s->pos >= MIME_MAX_LINE_CHARS) return;  // the rest of an overlong line is dropped
    if (c == '"') s->quotes++;
    // Only header lines lose their tabs; body lines keep every byte.
    gLineBuf[s->pos++] = (char)(c == '\t' && s->unfold ? ' ' : c);
}

// The header part keeps each physical line whole: a full buffer is written
// out and filling goes on.
void Echo(LineState *s, int c) {
    if (!s->echo) return;
    if (s->echoLen == MIME_MAX_ECHO_CHARS) {
        fwrite(s->echoBuf, 1, (size_t)s->echoLen, s->echo);
        s->echoLen = 0;
    }
    s->echoBuf[s->echoLen++] = (char)c;
}

void FlushEcho(LineState *s) {
    if (!s->echo) return;
    fwrite(s->echoBuf, 1, (size_t)s->echoLen, s->echo);
    fputs(MIME_TEXT_EOL, s->echo);
    s->echoLen = 0;
}

// Stores and echoes a run of bytes that holds no line end, as Store and
// Echo would one by one.
void TakeRun(LineState *s, const char *run, size_t len) {
    if (s->echo) {
        for (size_t done = 0; done < len;) {
            if (s->echoLen == MIME_MAX_ECHO_CHARS) {
                fwrite(s->echoBuf, 1, (size_t)s->echoLen, s->echo);
                s->echoLen = 0;
            }
            size_t room = (size_t)(MIME_MAX_ECHO_CHARS - s->echoLen), n = len - done < room ? len - done : room;
            memcpy(s->echoBuf + s->echoLen, run + done, n);
            s->echoLen += (int)n;
            done += n;
        }
    }
    size_t room = s->pos < MIME_MAX_LINE_CHARS ? (size_t)(MIME_MAX_LINE_CHARS - s->pos) : 0;
    size_t kept = len < room ? len : room;  // the rest of an overlong line is dropped
    char *to = gLineBuf + s->pos;
    memcpy(to, run, kept);
    s->pos += (int)kept;
    if (!s->unfold) return;  // quotes matter for unfolding only
    for (size_t i = 0; i < kept; i++) {
        if (to[i] == '"') s->quotes++;
        if (to[i] == '\t') to[i] = ' ';
    }
}

// The bytes of the current line that the stream has read ahead, up to its
// line end (or, read in pieces, up to a full buffer), taken in one step.
void TakeBufferedRun(LineState *s) {
    const char *data;
    size_t len = plat_StreamPeek(s->stream, &data);
    if (!len) return;
    const char *lf = static_cast<const char *>(memchr(data, '\n', len));
    if (lf) len = (size_t)(lf - data);
    const char *cr = static_cast<const char *>(memchr(data, '\r', len));
    if (cr) len = (size_t)(cr - data);
    if (s->inPieces) {
        size_t room = s->pos < MIME_MAX_LINE_CHARS ? (size_t)(MIME_MAX_LINE_CHARS - s->pos) : 0;
        if (len > room) len = room;  // the byte after a full piece decides whether it is cut
    }
    TakeRun(s, data, len);
    plat_StreamSkip(s->stream, len);
}

bool EndedBy(LineState *s, const char *lineEnd) {
    s->lineEnd = lineEnd;
    return true;
}

// Reads the rest of a physical line whose first character is c. Returns
// false when the line ended at end of file.
bool ReadPhysicalLine(LineState *s, int c) {
    FILE *f = s->stream;
    for (;; TakeBufferedRun(s), c = MIME_GETC(f)) {
        if (c == EOF) return false;
        if (c == '\n') return EndedBy(s, "\n");
        if (s->inPieces && s->pos >= MIME_MAX_LINE_CHARS && c != '\r') {
            ungetc(c, f);
            s->cut = true;
            return true;
        }
        if (c == '\r') {
            int d = MIME_GETC(f);
            if (d == '\n') return EndedBy(s, "\r\n");
            if (d == '\r') {
                int e = MIME_GETC(f);
                if (e == '\n') return EndedBy(s, "\r\r\n");  // CR CR LF is one line end
                if (e != EOF) ungetc(e, f);
                ungetc('\r', f);
                return EndedBy(s, "\r");
            }
            if (d != EOF) ungetc(d, f);
            return EndedBy(s, "\r");
        }
        Echo(s, c);
        Store(s, c);
    }
}

// Skips the blanks that begin a continuation; returns its first other character.
int SkipBlanks(LineState *s, int c) {
    while (IsBlank(c)) {
        Echo(s, c);
        c = MIME_GETC(s->stream);
    }
    return c;
}

}  // namespace

namespace {

int ReadLogicalLine(FILE *stream, FILE *echoFile, int unfold, int startOffset, bool inPieces) {
    gLineContinues = 0;
    if (!stream) return 1;
    if (startOffset < 0) startOffset = 0;
    if (startOffset > MIME_MAX_LINE_CHARS) startOffset = MIME_MAX_LINE_CHARS;
    int c = MIME_GETC(stream);
    if (c == EOF) {
        sCarriedBlank = -1;
        return 1;
    }
    ClearFrom(startOffset);
    LineState s;
    s.stream = stream;
    s.echo = echoFile;
    s.pos = startOffset;
    s.quotes = 0;
    s.unfold = unfold != 0;
    // the quotes before the offset count for unfolding only; appends without
    // unfolding (soft line breaks) must not rescan a long line each time
    for (int i = 0; unfold && i < startOffset; i++)
        if (gLineBuf[i] == '"') s.quotes++;
    s.echoLen = 0;
    s.inPieces = inPieces;
    s.cut = false;
    s.lineEnd = "";
    if (sCarriedBlank >= 0 && echoFile == sCarriedEcho) Echo(&s, sCarriedBlank);
    sCarriedBlank = -1;
    int semicolonJoins = 0;
    for (;;) {
        bool lineEnded = ReadPhysicalLine(&s, c);
        FlushEcho(&s);
        if (!lineEnded || !unfold) break;
        int next = MIME_GETC(stream);
        if (!IsBlank(next) || s.pos == startOffset) {
            if (next != EOF) ungetc(next, stream);
            break;
        }
        Echo(&s, next);
        bool semicolon = gLineBuf[s.pos - 1] != '=' && !FoldsWithSpace(gLineBuf) && s.quotes % 2 == 0;
        if (semicolon) {
            if (++semicolonJoins > MIME_MAX_SEMICOLON_JOINS) {
                // the rest of this continuation is the next line
                s.echoLen = 0;
                sCarriedBlank = next;
                sCarriedEcho = echoFile;
                break;
            }
            Store(&s, ';');
            c = SkipBlanks(&s, MIME_GETC(stream));
        } else {
            int after = MIME_GETC(stream);
            if (after != '=') Store(&s, ' ');
            c = SkipBlanks(&s, after);
        }
    }
    gLineBuf[s.pos] = 0;
    gLineLen = s.pos;
    gLineContinues = s.cut ? 1 : 0;
    gLineEnd = s.lineEnd;
    if (s.pos + 1 > sDirtyEnd) sDirtyEnd = s.pos + 1;
    return 0;
}

}  // namespace

extern "C" int ReadMimeLine(FILE *stream, FILE *echoFile, int unfold, int startOffset) {
    return ReadLogicalLine(stream, echoFile, unfold, startOffset, false);
}

extern "C" int ReadBodyLine(FILE *stream, int startOffset) {
    // a piece always makes progress
    if (startOffset > MIME_MAX_LINE_CHARS - MIME_MAX_CARRY_CHARS) startOffset = MIME_MAX_LINE_CHARS - MIME_MAX_CARRY_CHARS;
    return ReadLogicalLine(stream, NULL, 0, startOffset, true);
}
