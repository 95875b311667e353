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

namespace {

constexpr size_t kTextBuffer = 64 * 1024;  // bytes of the file held at once
constexpr size_t kSeparatorProbe = 4096;   // bytes of a line start tested for a separator

// A text mail file read line by line in place, through one buffer that is
// filled by reads at offsets (no stdio buffer between). Only a line that
// begins with 'F' or 'f' is looked at closely; the bytes taken go to the
// output in runs, as they stand in the file (a binary part keeps its own line
// ends), not line by line. Lines end at LF, CR LF, CR CR LF or a lone CR, as
// for the message parser.
class MailTextFile {
  public:
    ~MailTextFile() {
        plat_CloseFile(file_);
        free(buffer_);
    }
    // False when the file cannot be read (logged by the platform) or there
    // is no memory for the buffer.
    bool Open(const char *path) {
        int64_t size;
        file_ = plat_OpenForReading(path, &size);
        buffer_ = static_cast<char *>(malloc(kTextBuffer));
        if (file_ && !buffer_) com_Log("BV Warning: out of memory reading %s", path);
        return file_ && buffer_;
    }
    bool ReadFailed() const { return readFailed_; }
    bool AtEnd() { return Fill(1) == 0; }
    // Skips the 100-byte "JMF6" header of an Outlook Express 4 file (what
    // there is of it): true when it was there.
    bool SkipJmf6Header() {
        if (Fill(4) < 4 || memcmp(buffer_ + pos_, "JMF6", 4) != 0) return false;
        size_t available = Fill(JMF6_HEADER_LEN);
        pos_ += available < JMF6_HEADER_LEN ? available : JMF6_HEADER_LEN;
        runStart_ = pos_;
        return true;
    }
    // Where taken bytes go from now on; NULL drops them.
    void SetOutput(FILE *out) {
        Flush();
        out_ = out;
    }
    // Writes the bytes taken that are still in the buffer.
    void Flush() {
        if (out_ && pos_ > runStart_) fwrite(buffer_ + runStart_, 1, pos_ - runStart_, out_);
        runStart_ = pos_;
    }
    // Takes the line at the read position, whole. *empty: it held nothing
    // but its line end.
    void TakeLine(bool *empty) {
        size_t content = 0;
        for (bool whole = false; !whole && Fill(3) > 0;) {
            size_t contentHere = 0;
            pos_ += LineSpan(&whole, &contentHere);
            content += contentHere;
        }
        *empty = content == 0;
    }
    // Whether the line at the read position begins a message.
    bool AtSeparator(bool afterEmptyLine) {
        size_t available = Fill(1);
        if (available == 0 || (buffer_[pos_] != 'F' && buffer_[pos_] != 'f')) return false;
        available = Fill(kSeparatorProbe);
        const char *line = buffer_ + pos_;
        size_t len = available < kSeparatorProbe ? available : kSeparatorProbe;
        const char *end = static_cast<const char *>(memchr(line, '\n', len));
        if (end) len = (size_t)(end - line);
        const char *cr = static_cast<const char *>(memchr(line, '\r', len));
        if (cr) len = (size_t)(cr - line);
        char probe[kSeparatorProbe + 1];
        memcpy(probe, line, len);
        probe[len] = 0;
        return IsSeparatorLine(probe, afterEmptyLine);
    }

  private:
    // Bytes available at the read position: at least `want` unless the file
    // ends first. Refilling writes out the run taken so far.
    size_t Fill(size_t want) {
        if (end_ - pos_ >= want || atEof_) return end_ - pos_;
        Flush();
        memmove(buffer_, buffer_ + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = runStart_ = 0;
        while (end_ < kTextBuffer && !atEof_) {
            int64_t got = plat_ReadAt(file_, offset_, buffer_ + end_, kTextBuffer - end_);
            readFailed_ = got < 0;
            atEof_ = got <= 0;
            if (got > 0) {
                end_ += (size_t)got;
                offset_ += got;
            }
        }
        return end_ - pos_;
    }
    // Bytes of the line at the read position up to and with its line end,
    // within the buffer; *whole is false when the buffer ends first.
    // *content: the bytes before the line end.
    size_t LineSpan(bool *whole, size_t *content) {
        const char *p = buffer_ + pos_;
        size_t n = end_ - pos_;
        const char *lf = static_cast<const char *>(memchr(p, '\n', n));
        size_t upTo = lf ? (size_t)(lf - p) : n;
        const char *cr = static_cast<const char *>(memchr(p, '\r', upTo));
        *whole = true;
        if (!cr) {
            *content = upTo;
            *whole = lf != nullptr;
            return lf ? upTo + 1 : n;
        }
        size_t at = (size_t)(cr - p);
        *content = at;
        if (at + 1 < n && p[at + 1] == '\n') return at + 2;
        if (at + 2 < n && p[at + 1] == '\r' && p[at + 2] == '\n') return at + 3;
        if ((at + 1 < n && p[at + 1] != '\r') || at + 2 < n || atEof_) return at + 1;  // a lone CR
        *whole = false;  // what follows the CR is not read yet
        return at;
    }

    PlatFile *file_ = nullptr;
    int64_t offset_ = 0;  // of the byte after the buffer's last
    char *buffer_ = nullptr;
    size_t pos_ = 0, end_ = 0;
    size_t runStart_ = 0;  // first byte taken but not yet written out
    bool atEof_ = false;
    bool readFailed_ = false;
    FILE *out_ = nullptr;
};

}  // namespace

extern "C" uint32_t CountMailFileMessages(const char *path) {
    if (gBvGui || gNoInventory) return 0;
    if (MailFileHasExtension(path, "DBX")) {
        int count = 0;
        ParseDBX(path, &count, 1);
        return (uint32_t)count;
    }
    MailTextFile text;
    if (!text.Open(path)) return 0;
    text.SkipJmf6Header();
    uint32_t count = 0;
    bool afterEmptyLine = true;
    while (!text.AtEnd()) {
        if (text.AtSeparator(afterEmptyLine)) count++;
        text.TakeLine(&afterEmptyLine);
    }
    return count;
}

extern "C" int ReadMbxFolder(MailHandOver *h, const FolderRecord *folder) {
    MailTextFile text;
    if (!text.Open(folder->fileName)) return 1;
    // Without the header the first line is the first message's separator,
    // which is dropped; every later message keeps its "From -" line. A file
    // that begins with something else loses that line all the same, so the
    // log says so.
    bool afterEmptyLine;
    if (!text.SkipJmf6Header()) {
        if (!text.AtEnd() && !text.AtSeparator(true))
            com_Log("BV Warning: %s does not begin with a separator line; its first line is dropped",
                    folder->fileName);
        text.TakeLine(&afterEmptyLine);
    }
    FILE *out = text.AtEnd() ? NULL : OpenMessageScratch(h, "temprfc.tmp");
    while (out && !text.AtEnd()) {
        plat_ScratchRestart(out);
        text.SetOutput(out);
        text.TakeLine(&afterEmptyLine);  // the separator, or the first line of the file
        while (!text.AtEnd() && !text.AtSeparator(afterEmptyLine)) text.TakeLine(&afterEmptyLine);
        text.SetOutput(NULL);
        if (ParseAndHandOver(h, out)) break;
    }
    plat_CloseScratch(out);
    if (text.ReadFailed()) com_Log("BV Warning: read error in %s; the folder ends there", folder->fileName);
    return 0;
}
