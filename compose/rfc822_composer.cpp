// ComposeRfc822: one mail record as RFC 822 / MIME text.
//
// The header block comes from the record's fields (or, with /D68 and /EIH,
// from the stored header part); the body is a multipart whose levels take
// their boundaries from the seed: the prefix before its '/', numbered from
// the seed's number plus one. Part files stream from the work directory into
// the output; text bodies are copied as they are, everything else is base64.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include "compose/compose.h"
#include "compose/compose_output.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

constexpr size_t kHeaderLineCap = 4096;  // header part lines read for copying: 4095 characters
constexpr size_t kEihLineCap = 500;      // /D68 /EIH header copy lines: 499 characters
constexpr size_t kBoundaryCap = 160;
constexpr size_t kBoundaryTokenLen = 16;  // hex digits drawn per message
constexpr size_t kPathCap = 1024;
constexpr size_t kZoneTextCap = 16;
const char kEmbeddedPrefix[] = "ABCDEFG";
const char kRawMessageName[] = "RAWRFC.dat";
const char kPgpPartName[] = "pgp message";
const char kUnnamedPart[] = "Message Text";  // the parser's name for a part without one
const char kInlineTextName[] = "Inline.txt";  // ... and for inline text without a type
const char kDefaultAttachmentType[] = "application/octet-stream";
constexpr int kMaxLineBytes = 998;  // RFC 5322 line length without its CR LF
// An attachment kept outside the message: its contentId holds this marker and
// then the link (an http(s) address, or a cloud-drive document id).
const char kOutsideLinkMarker[] = "link:";
const char kCloudDocumentBase[] = "https://drive.google.com";
const char *const kCopiedHeaders[] = {"Thread-Topic:", "Thread-Index:", "References:", "In-Reply-To:"};
const char *const kImageExtensions[] = {".jpeg", ".jpg", ".gif", ".bmp", ".png"};

// The boundaries of one message: every level of the message, embedded
// messages included, takes the next number after a prefix and a token drawn
// for this message, so that no level reuses another's boundary and no text
// written before the token was drawn can hold one of them (see DrawToken).
struct BoundarySeq {
    char prefix[kBoundaryCap];
    const char *token;
    int *next;  // shared by all levels of the message
};

struct PartSurvey {
    bool html;
    bool related;
    bool smime;
    bool mixed;
};

struct ComposeJob {
    mdat *rec;
    FILE *out;
    const char *tempDir;
    const char *domain;
    int topLevel;
    BoundarySeq seq;
};

void SplitSeed(const char *seed, char *prefix, size_t prefixCap, int *next) {
    const char *slash = strrchr(seed, '/');
    size_t prefixLen = slash ? static_cast<size_t>(slash - seed) : strlen(seed);
    if (prefixLen >= prefixCap) prefixLen = prefixCap - 1;
    memcpy(prefix, seed, prefixLen);
    prefix[prefixLen] = 0;
    *next = (slash ? atoi(slash + 1) : 0) + 1;
}

void NextBoundary(BoundarySeq *seq, char *out, size_t outCap) {
    bv_snprintf(out, outCap, "%s.%s/%d", seq->prefix, seq->token, (*seq->next)++);
}

bool StartsWithNoCase(const char *text, const char *prefix) { return strncasecmp(text, prefix, strlen(prefix)) == 0; }

// The Content-ID of a part, past a long original type kept before it.
const char *ContentIdOf(const mpart *part) {
    if (!StartsWithNoCase(part->contentId, BV_LONG_TYPE_MARKER)) return part->contentId;
    const char *space = strchr(part->contentId, ' ');
    return space ? space + 1 : "";
}

// The original type kept in the contentId (see BV_LONG_TYPE_MARKER), or empty.
void LongTypeOf(const mpart *part, char *out, size_t cap) {
    out[0] = 0;
    if (!StartsWithNoCase(part->contentId, BV_LONG_TYPE_MARKER)) return;
    const char *type = part->contentId + strlen(BV_LONG_TYPE_MARKER);
    size_t len = strcspn(type, " ");
    if (len >= cap) return;
    memcpy(out, type, len);
    out[len] = 0;
}

bool IsInlineImage(const mpart *part) {
    if (!ContentIdOf(part)[0] || part->partType == BV_PART_HEADER || part->partType == BV_PART_EMBEDDED) return false;
    if (StartsWithNoCase(part->contentId, kOutsideLinkMarker)) return false;
    for (const char *ext : kImageExtensions) {
        if (com_stristr(part->name, ext, 0)) return true;
    }
    return false;
}

bool IsOutsideAttachment(const mpart *part) { return StartsWithNoCase(part->contentId, kOutsideLinkMarker); }

bool IsAttachment(const mpart *part) {
    switch (part->partType) {
        case BV_PART_TEXT:
        case BV_PART_HTML:
        case BV_PART_HEADER:
        case BV_PART_EMPTY_BODY:
        case BV_PART_EMBEDDED:
            return false;
        default:
            return !IsInlineImage(part);
    }
}

PartSurvey SurveyParts(const mdat *rec) {
    PartSurvey s = {};
    for (int i = 0; i < rec->partCount; i++) {
        const mpart *p = rec->parts[i];
        if (!p) continue;
        if (p->partType == BV_PART_HTML) s.html = true;
        if (IsInlineImage(p)) s.related = true;
        if (com_stristr(p->name, "smime.p7m", 0)) s.smime = true;
        if (p->partType == BV_PART_EMBEDDED || IsAttachment(p)) s.mixed = true;
    }
    return s;
}

void PartPath(const ComposeJob *job, int index, char *out) {
    com_PartFileName(job->tempDir, job->rec, index, out, kPathCap);
}

// The part's file opened for reading; nullptr when it cannot be opened, and
// then the part is left out.
FILE *OpenPartFile(const ComposeJob *job, int index) {
    char path[kPathCap];
    PartPath(job, index, path);
    return plat_fopen(path, "rb");
}

const mpart *FindPart(const mdat *rec, int partType, int *index) {
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i] && rec->parts[i]->partType == partType) {
            if (index) *index = i;
            return rec->parts[i];
        }
    }
    return nullptr;
}

void ComposeMessage(ComposeJob *job);

// ---- header block ---------------------------------------------------------------------

// Reads one line of at most cap-1 characters without its line end; the rest
// of a longer line stays unread. False at end of file.
bool ReadLine(FILE *in, char *line, size_t cap, bool *complete) {
    if (!fgets(line, static_cast<int>(cap), in)) return false;
    size_t len = strlen(line);
    *complete = len > 0 && line[len - 1] == '\n';
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = 0;
    return true;
}

// Writes the rest of an over-long line unchanged, up to and without its line
// end (or skips it when out is null).
void CopyRestOfLine(FILE *in, FILE *out) {
    int c;
    while ((c = fgetc(in)) != EOF && c != '\n') {
        if (out && c != '\r') fputc(c, out);
    }
}

// Writes the header line just read, then every following line of the header
// file that begins with a blank or a tab; the header file is left at the
// first line that does not.
void CopyHeaderWithContinuation(FILE *headerFile, FILE *outFile, const char *line, bool complete) {
    bv_fprintf(outFile, "%s", line);
    if (!complete) CopyRestOfLine(headerFile, outFile);
    bv_fprintf(outFile, "\r\n");
    char next[kHeaderLineCap];
    for (;;) {
        long pos = ftell(headerFile);
        bool nextComplete = true;
        if (!ReadLine(headerFile, next, sizeof next, &nextComplete)) return;
        if (next[0] != ' ' && next[0] != '\t') {
            fseek(headerFile, pos, SEEK_SET);
            return;
        }
        bv_fprintf(outFile, "%s", next);
        if (!nextComplete) CopyRestOfLine(headerFile, outFile);
        bv_fprintf(outFile, "\r\n");
    }
}

void CopyThreadHeaders(const ComposeJob *job) {
    int index = 0;
    if (!FindPart(job->rec, BV_PART_HEADER, &index)) return;
    char path[kPathCap];
    PartPath(job, index, path);
    FILE *in = plat_fopen(path, "rb");
    if (!in) return;
    char line[kHeaderLineCap];
    bool complete = true;
    while (ReadLine(in, line, sizeof line, &complete)) {
        bool wanted = false;
        for (const char *name : kCopiedHeaders) wanted = wanted || StartsWithNoCase(line, name);
        if (wanted) {
            CopyHeaderWithContinuation(in, job->out, line, complete);
        } else if (!complete) {
            CopyRestOfLine(in, nullptr);
        }
    }
    fclose(in);
}

// Offset of a local time from UTC as "+hhmm".
void ZoneText(int64_t minutes, char *out, size_t cap) {
    char sign = minutes < 0 ? '-' : '+';
    if (minutes < 0) minutes = -minutes;
    bv_snprintf(out, cap, "%c%02d%02d", sign, static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
}

// The Date line. The record's date becomes its local-time value. The zone text
// is the one Logon prepared; where the platform converted this date with
// another offset (a date on the other side of a daylight-saving change), that
// offset is named instead, so the line always names the same instant.
void WriteDateLine(const ComposeJob *job) {
    mdat *rec = job->rec;
    SYSTEMTIME st;
    char zone[kZoneTextCap];
    com_strncpy(zone, gGmtOffset, sizeof zone - 1);
    if (com_DateIsNull(&rec->date)) {
        plat_GetLocalTime(&st);
        FILETIME nowUtc, nowLocal;
        plat_GetSystemTimeAsFileTime(&nowUtc);
        plat_SystemTimeToFileTime(&st, &nowLocal);
        if (!zone[0]) {
            int64_t diff = static_cast<int64_t>(plat_FileTimeToU64(&nowLocal) - plat_FileTimeToU64(&nowUtc));
            ZoneText((diff + (diff < 0 ? -300000000 : 300000000)) / 600000000, zone, sizeof zone);
        }
    } else {
        FILETIME local;
        plat_FileTimeToLocalFileTime(&rec->date, &local);
        int64_t minutes =
            (static_cast<int64_t>(plat_FileTimeToU64(&local)) - static_cast<int64_t>(plat_FileTimeToU64(&rec->date))) /
            600000000;
        char own[kZoneTextCap];
        ZoneText(minutes, own, sizeof own);
        if (strcmp(own, zone) != 0) com_strncpy(zone, own, sizeof zone - 1);
        rec->date = local;
        plat_FileTimeToSystemTime(&local, &st);
    }
    char day[64] = "";
    plat_GetDateFormat(&st, day, sizeof day);
    bv_fprintf(job->out, "Date: %s %02d:%02d:%02d %s\r\n", day, st.wHour, st.wMinute, st.wSecond, zone);
}

void WriteMessageId(const ComposeJob *job) {
    const mdat *rec = job->rec;
    char id[BV_MSGID_LEN + 1];
    com_strncpy(id, rec->messageId, sizeof id - 1);
    if (!id[0] && gDedup) {
        bvcom_HexEncode(rec->digest, sizeof rec->digest, id, sizeof id);
    }
    if (!id[0]) return;
    bv_fprintf(job->out, strchr(id, '<') ? "Message-ID: %s\r\n" : "Message-ID: <%s>\r\n", id);
}

// Recipient types of each line: Cc and Bcc by their codes, every other
// type on the To line.
const int kCcTypes[] = {11, 0};
const int kBccTypes[] = {12, 0};
const int kToTypes[] = {0};

bool LineTakes(const int *types, int type) {
    if (types == kToTypes) return type != 11 && type != 12;
    for (const int *t = types; *t; t++)
        if (*t == type) return true;
    return false;
}

// One line for all recipients of a kind: readers take the first To line
// only. Recipients are separated by commas, one to a folded line.
void WriteRecipientLine(ComposeJob *job, const char *word, const int *types) {
    const mdat *rec = job->rec;
    static char text[BV_ADDRESS_TEXT_LEN];
    bool first = true;
    for (int i = 0; i < rec->recipCount && i < BV_MAX_RECIPS; i++) {
        const mrecip *r = rec->recips[i];
        if (!r || !LineTakes(types, r->type)) continue;
        BuildAddressText(r->name[0] ? r->name : r->addr, r->addr, rec, text, sizeof text);
        bv_fprintf(job->out, "%s%s", first ? word : ",\r\n ", text);
        first = false;
    }
    if (!first) bv_fprintf(job->out, "\r\n");
}

void WriteHeaderBlock(ComposeJob *job) {
    mdat *rec = job->rec;
    FILE *out = job->out;
    char name[BV_NAME_LEN + BV_ORIGSENDER_LEN + 4];
    if (rec->originalSender[0]) {
        bv_snprintf(name, sizeof name, "%s (%s)", rec->fromName, rec->originalSender);
    } else {
        com_strncpy(name, rec->fromName, sizeof name - 1);
    }
    static char text[BV_ADDRESS_TEXT_LEN];
    BuildAddressText(name, rec->fromAddr, rec, text, sizeof text);
    bv_fprintf(out, "From: %s\r\n", text);
    bv_fprintf(out, "Sender: %s\r\n", text);
    if (rec->originalSender[0]) {
        BuildAddressText(rec->originalSender, "", rec, text, sizeof text);
        bv_fprintf(out, "Original-Sender: %s\r\n", text);
    }
    WriteRecipientLine(job, "To: ", kToTypes);
    WriteRecipientLine(job, "Cc: ", kCcTypes);
    WriteRecipientLine(job, "Bcc: ", kBccTypes);
    if (rec->priority == 0) bv_fprintf(out, "Priority: Low\r\nX-Priority: 5\r\n");
    if (rec->priority == 2) bv_fprintf(out, "Priority: Urgent\r\nX-Priority: 1\r\n");
    if (rec->importance == 2) bv_fprintf(out, "Importance: High\r\n");
    if (rec->importance == 0) bv_fprintf(out, "Importance: Low\r\n");
    if (rec->unread == 0) bv_fprintf(out, "X-Mozilla-Status: 0001\r\n");
    com_strncpy(text, rec->subject, sizeof text - 1);
    KeepOnOneLine(text);
    char charset[BV_CHARSET_LEN];
    com_Encode_iso(text, rec->codepage, charset, sizeof text);
    bv_fprintf(out, "Subject: %s\r\n", text);
    bv_fprintf(out, "MIME-Version: 1.0\r\n");
    WriteMessageId(job);
    CopyThreadHeaders(job);
    WriteDateLine(job);
}

// /D68 with /EIH: the stored header block instead of the composed one. Left
// out, each with its continuation lines: empty lines, lines that are no
// header field (a reader's "From -" line), and the fields that describe the old body,
// which the new body replaces. Long lines are copied whole.
const char *const kBodyFields[] = {"Content-Type:", "Content-Transfer-Encoding:", "Content-Disposition:",
                                   "Content-ID:", "Content-Length:"};

// "Name:" with a field name of printable characters (RFC 5322); a reader's
// "From - <date>" line is none, though its time holds colons.
bool IsHeaderField(const char *line) {
    const char *p = line;
    while (*p > 32 && *p < 127 && *p != ':') p++;
    return p > line && *p == ':';
}

bool DescribesOldBody(const char *line) {
    if (!IsHeaderField(line)) return true;
    for (const char *field : kBodyFields)
        if (StartsWithNoCase(line, field)) return true;
    return false;
}

// Writes one header line folded before whitespace wherever it would pass
// kMaxLineBytes, so the output is valid RFC 5322 and unfolds to the same
// text. A run without whitespace longer than a line is written whole: it has
// no place to fold without changing it.
struct HeaderFolder {
    FILE *out;
    size_t lineLen;     // bytes of the current output line written
    size_t pendingLen;  // the word being gathered, with its leading blank
    char pending[kMaxLineBytes];
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void FoldFlush(HeaderFolder *f) {
    fwrite(f->pending, 1, f->pendingLen, f->out);
    f->lineLen += f->pendingLen;
    f->pendingLen = 0;
}

void FoldIfLong(HeaderFolder *f, size_t extra) {
    if (f->lineLen > 0 && f->pendingLen > 0 && IsBlank(f->pending[0]) &&
        f->lineLen + f->pendingLen + extra > kMaxLineBytes) {
        bv_fprintf(f->out, "\r\n");
        f->lineLen = 0;
    }
}

void FoldPut(HeaderFolder *f, char c) {
    FoldIfLong(f, 1);
    if (IsBlank(c) || f->pendingLen == sizeof f->pending) FoldFlush(f);
    f->pending[f->pendingLen++] = c;
}

void FoldText(HeaderFolder *f, const char *text) {
    for (const char *p = text; *p; p++) FoldPut(f, *p);
}

void FoldEndLine(HeaderFolder *f) {
    FoldIfLong(f, 0);
    FoldFlush(f);
    bv_fprintf(f->out, "\r\n");
    f->lineLen = 0;
}

void CopyStoredHeaderBlock(const ComposeJob *job, int headerIndex) {
    char path[kPathCap];
    PartPath(job, headerIndex, path);
    FILE *in = plat_fopen(path, "rb");
    if (!in) return;
    char line[kEihLineCap];
    HeaderFolder folder{job->out, 0, 0, {}};
    bool complete = true, dropping = false, mimeVersion = false;
    while (ReadLine(in, line, sizeof line, &complete)) {
        bool continuation = line[0] == ' ' || line[0] == '\t';
        if (!continuation) dropping = !line[0] || DescribesOldBody(line);
        if (!continuation && StartsWithNoCase(line, "MIME-Version:")) mimeVersion = true;
        if (dropping) {
            if (!complete) CopyRestOfLine(in, nullptr);
            continue;
        }
        folder.lineLen = 0;
        FoldText(&folder, line);
        for (int c; !complete && (c = fgetc(in)) != EOF && c != '\n';)
            if (c != '\r') FoldPut(&folder, static_cast<char>(c));
        FoldEndLine(&folder);
    }
    fclose(in);
    if (!mimeVersion) bv_fprintf(job->out, "MIME-Version: 1.0\r\n");
}

// ---- body -----------------------------------------------------------------------------

// RFC 5322 lines end within 998 bytes: a part with a longer line (or a lone
// CR) is written in base64. A part file that fits in its first block is read
// once: the block then holds its text (`whole`); otherwise the file is left
// at its start.
constexpr size_t kTextBlock = 64 * 1024;
unsigned char gTextHead[kTextBlock];

struct TextCheck {
    size_t length = 0;  // bytes in gTextHead
    bool whole = false;
    bool overlong = false;
};

TextCheck CheckLines(FILE *in) {
    static unsigned char rest[kTextBlock];
    TextCheck t;
    int run = 0, previous = 0;
    size_t got;
    for (bool first = true; !t.overlong && (got = fread(first ? gTextHead : rest, 1, kTextBlock, in)) > 0;
         first = false) {
        const unsigned char *block = first ? gTextHead : rest;
        for (size_t i = 0; i < got && !t.overlong; i++) {
            int c = block[i];
            run = c == '\n' ? 0 : run + 1;
            t.overlong = run > kMaxLineBytes || (previous == '\r' && c != '\n');
            previous = c;
        }
        if (first) {
            t.length = got;
            t.whole = got < kTextBlock;  // a short read is the end of the file
        }
        if (got < kTextBlock) break;
    }
    if (t.overlong) t.whole = false;  // written in base64 from the file
    if (!t.whole) rewind(in);
    return t;
}

// Writes a checked part as it is (and closes it), with a line end after it.
void CopyCheckedText(FILE *in, const TextCheck &t, FILE *out) {
    bool lineEnd = true;
    if (t.whole) {
        fwrite(gTextHead, 1, t.length, out);
        if (t.length) lineEnd = gTextHead[t.length - 1] == '\n';
        fclose(in);
    } else {
        CopyStreamToOutput(in, out, &lineEnd);
    }
    if (!lineEnd) bv_fprintf(out, "\r\n");
}

// A part name for a quoted parameter: non-ASCII names as encoded words, on
// one line, quotes escaped.
void ParameterName(const char *name, char *out, size_t cap) {
    char encoded[BV_ADDRESS_TEXT_LEN];
    com_strncpy(encoded, name, sizeof encoded - 1);
    char charset[BV_CHARSET_LEN];
    com_Encode_iso(encoded, CP_UTF8, charset, sizeof encoded);
    QuotedParameterText(encoded, out, cap);
}

void WriteTextPart(const ComposeJob *job, int index, const char *boundary) {
    const mpart *part = job->rec->parts[index];
    FILE *in = OpenPartFile(job, index);
    if (!in) return;
    FILE *out = job->out;
    bv_fprintf(out, "--%s\r\n", boundary);
    const char *eol = "\r\n\r\n";
    TextCheck check = CheckLines(in);
    bool base64 = check.overlong;
    if (base64) eol = "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    if (strcmp(part->name, kPgpPartName) == 0) {
        bv_fprintf(out, "Content-type: %s; charset=\"UTF-8\"%s", "application/pgp-encrypted", eol);
    } else {
        const char *charset = part->charset[0] ? part->charset : (job->rec->charset[0] ? job->rec->charset : "UTF-8");
        // A text part keeps the file name it came with; the parser's own
        // names for unnamed text are not written.
        char name[BV_ADDRESS_TEXT_LEN] = "";
        if (strcmp(part->name, kUnnamedPart) != 0 && strcmp(part->name, kInlineTextName) != 0)
            ParameterName(part->name, name, sizeof name);
        if (name[0]) {
            bv_fprintf(out, "Content-type: text/plain; charset=\"%s\";\r\n  name=\"%s\"%s", charset, name, eol);
        } else {
            bv_fprintf(out, "Content-type: text/plain; charset=\"%s\"%s", charset, eol);
        }
    }
    if (base64) {
        WriteStreamBase64(in, out);
        return;
    }
    CopyCheckedText(in, check, out);
}

// The charset named by a "charset=" inside an HTML file, "unicode" excepted;
// the file is left at its start.
void FindHtmlCharset(FILE *in, char *out, size_t cap) {
    out[0] = 0;
    char line[kHeaderLineCap];
    bool complete = true;
    while (!out[0] && ReadLine(in, line, sizeof line, &complete)) {
        const char *at = com_stristr(line, "charset=", 0);
        if (!at) continue;
        at += 8;
        while (*at == '"' || *at == '\'' || *at == ' ') at++;
        size_t n = strcspn(at, "\"'>; /");
        if (n >= cap) n = cap - 1;
        memcpy(out, at, n);
        out[n] = 0;
        if (strcasecmp(out, "unicode") == 0) out[0] = 0;
    }
    rewind(in);
}

void WriteHtmlPart(const ComposeJob *job, int index, const char *boundary) {
    const mpart *part = job->rec->parts[index];
    FILE *in = OpenPartFile(job, index);
    if (!in) return;
    char charset[BV_CHARSET_LEN];
    com_strncpy(charset, part->charset, sizeof charset - 1);
    if (!charset[0]) FindHtmlCharset(in, charset, sizeof charset);
    if (!charset[0]) com_strncpy(charset, job->rec->charset[0] ? job->rec->charset : "UTF-8", sizeof charset - 1);
    FILE *out = job->out;
    bv_fprintf(out, "--%s\r\n", boundary);
    bv_fprintf(out, "Content-type: text/html; charset=\"%s\"\r\n", charset);
    bv_fprintf(out, "Content-Transfer-Encoding: base64\r\n\r\n");
    WriteStreamBase64(in, out);
}

const char *ContentTypeByExtension(const char *name) {
    char ext[32];
    com_ExtractFileExt(name, ext, sizeof ext);
    if (strcasecmp(ext, "jpg") == 0 || strcasecmp(ext, "jpeg") == 0) return "image/jpeg";
    if (strcasecmp(ext, "gif") == 0) return "image/gif";
    if (strcasecmp(ext, "bmp") == 0) return "image/bmp";
    if (strcasecmp(ext, "png") == 0) return "image/png";
    return kDefaultAttachmentType;
}

void WriteInlineImage(const ComposeJob *job, int index, const char *boundary) {
    const mpart *part = job->rec->parts[index];
    FILE *in = OpenPartFile(job, index);
    if (!in) return;
    char name[BV_ADDRESS_TEXT_LEN];
    ParameterName(part->name, name, sizeof name);
    FILE *out = job->out;
    bv_fprintf(out, "--%s\r\n", boundary);
    bv_fprintf(out, "Content-type: %s;\r\n  name=\"%s\"\r\n", ContentTypeByExtension(part->name), name);
    bv_fprintf(out, "Content-ID: <%s>\r\n", ContentIdOf(part));
    bv_fprintf(out, "Content-Transfer-Encoding: base64\r\n\r\n");
    WriteStreamBase64(in, out);
}

// Types that a name's extension gives an attachment the record carries no
// type for.
struct ExtensionType {
    const char *ext;
    const char *type;
};
const ExtensionType kExtensionTypes[] = {
    {"eml", "message/rfc822"}, {"ics", "text/calendar"}, {"vcs", "text/calendar"}, {"txt", "text/plain"},
    {"htm", "text/html"},      {"html", "text/html"},    {"csv", "text/csv"},      {"vcf", "text/vcard"},
    {"xml", "text/xml"},       {"pdf", "application/pdf"}, {"zip", "application/zip"},
};

// The content type of an attachment: the one it came with (kept in its
// charset field, or a long one in longType), else one by its name. *isText
// tells whether a charset belongs with it.
const char *AttachmentType(const mpart *part, bool *isText, char (&longType)[BV_LONG_TYPE_LEN + 1]) {
    const char *type = nullptr;
    LongTypeOf(part, longType, sizeof longType);
    if (longType[0]) type = longType;
    if (strchr(part->charset, '/')) type = part->charset;
    char ext[32];
    com_ExtractFileExt(part->name, ext, sizeof ext);
    for (const ExtensionType &e : kExtensionTypes)
        if (!type && strcasecmp(ext, e.ext) == 0) type = e.type;
    if (!type) type = ContentTypeByExtension(part->name);
    // Without a type of its own or of its name, a part with a charset is
    // text: MIME's default type.
    if (strcmp(type, kDefaultAttachmentType) == 0 && part->charset[0] &&
        com_iso_codepage(0, const_cast<char *>(part->charset)) != 0)
        type = "text/plain";
    if (!strchr(part->charset, '/') && !longType[0]) {
        if (StartsWithNoCase(part->name, "smime.p7s")) type = "application/x-pkcs7-signature";
        if (StartsWithNoCase(part->name, "smime.p7m")) type = "application/pkcs7-mime;smime-type=enveloped-data";
    }
    *isText = StartsWithNoCase(type, "text/");
    return type;
}

// Message types whose body is itself mail text: written as it is, since a
// transfer encoding is not allowed for message/rfc822 and would hide the
// report from the reader.
bool WrittenAsItIs(const char *type) {
    return StartsWithNoCase(type, "message/") || StartsWithNoCase(type, "text/rfc822-headers");
}

// The METHOD of a calendar file ("REQUEST", "REPLY", ...), or empty.
void CalendarMethod(FILE *in, char *out, size_t cap) {
    out[0] = 0;
    char line[kHeaderLineCap];
    bool complete = true;
    while (!out[0] && ReadLine(in, line, sizeof line, &complete)) {
        if (!StartsWithNoCase(line, "METHOD:")) continue;
        bv_snprintf(out, cap, "%s", line + 7);
        out[strcspn(out, " ;\"")] = 0;
    }
    rewind(in);
}

void WriteAttachment(const ComposeJob *job, int index, const char *boundary) {
    const mpart *part = job->rec->parts[index];
    FILE *in = OpenPartFile(job, index);
    if (!in) return;
    bool isText = false;
    char longType[BV_LONG_TYPE_LEN + 1];
    const char *type = AttachmentType(part, &isText, longType);
    char params[kBoundaryCap] = "";
    if (StartsWithNoCase(type, "text/calendar")) {
        char method[32];
        CalendarMethod(in, method, sizeof method);
        if (method[0]) bv_snprintf(params, sizeof params, "; method=%s", method);
    }
    if (isText && part->charset[0] && !strchr(part->charset, '/')) {
        size_t len = strlen(params);
        bv_snprintf(params + len, sizeof params - len, "; charset=\"%s\"", part->charset);
    }
    // An attachment the source left unnamed stays unnamed.
    bool named = strcmp(part->name, kUnnamedPart) != 0;
    char name[BV_ADDRESS_TEXT_LEN];
    ParameterName(part->name, name, sizeof name);
    FILE *out = job->out;
    bv_fprintf(out, "--%s\r\n", boundary);
    if (named) {
        bv_fprintf(out, "Content-type: %s%s;\r\n  name=\"%s\"\r\n", type, params, name);
    } else {
        bv_fprintf(out, "Content-type: %s%s\r\n", type, params);
    }
    if (ContentIdOf(part)[0]) bv_fprintf(out, "Content-ID: <%s>\r\n", ContentIdOf(part));
    TextCheck check;
    bool asItIs = WrittenAsItIs(type) && !(check = CheckLines(in)).overlong;
    bv_fprintf(out, "Content-Transfer-Encoding: %s\r\n", asItIs ? "8bit" : "base64");
    if (named) {
        bv_fprintf(out, "Content-Disposition: attachment;\r\n  filename=\"%s\"\r\n\r\n", name);
    } else {
        bv_fprintf(out, "Content-Disposition: attachment\r\n\r\n");
    }
    if (asItIs) {
        CopyCheckedText(in, check, out);
    } else {
        WriteStreamBase64(in, out);
    }
}

void WriteOutsideAttachment(const ComposeJob *job, int index, const char *boundary) {
    const mpart *part = job->rec->parts[index];
    const char *link = part->contentId + strlen(kOutsideLinkMarker);
    char target[BV_CONTENTID_LEN + 64];
    if (StartsWithNoCase(link, "http")) {
        com_strncpy(target, link, sizeof target - 1);
    } else {
        bv_snprintf(target, sizeof target, "%s/open?id=%s", kCloudDocumentBase, link);
    }
    FILE *out = job->out;
    bv_fprintf(out, "--%s\r\n", boundary);
    char name[BV_ADDRESS_TEXT_LEN];
    QuotedParameterText(part->name, name, sizeof name);
    bv_fprintf(out, "Content-type: text/html;\r\n  name=\"%s.html\"\r\nContent-Disposition: inline;\r\n  filename=\"%s.html\"\r\n\r\n",
               name, name);
    bv_fprintf(out, "\r\n<html>\r\n");
    bv_fprintf(out, "Your attachment has been moved here: <A HREF=\"%s\">%s</A>\r\n", target, part->name);
    bv_fprintf(out, "</html>\r\n\r\n");
}

// The summary of an embedded message that has neither a text nor an HTML
// body, written as its text body so that a reader sees what it was.
void WriteSummaryPart(const ComposeJob *job, const char *boundary) {
    const mdat *rec = job->rec;
    FILE *out = job->out;
    bv_fprintf(out, "--%s\r\n", boundary);
    bv_fprintf(out, "Content-type: text/plain; charset=\"UTF-8\"\r\n\r\n");
    bv_fprintf(out, "From: %s <%s>\n", rec->fromName, rec->fromAddr);
    bv_fprintf(out, "Subject: %s\n", rec->subject);
    SYSTEMTIME st;
    char day[64] = "", date[96] = "";
    if (!com_DateIsNull(&rec->date) && plat_FileTimeToSystemTime(&rec->date, &st)) {
        plat_GetDateFormat(&st, day, sizeof day);
        bv_snprintf(date, sizeof date, "%s %02d:%02d:%02d", day, st.wHour, st.wMinute, st.wSecond);
    }
    bv_fprintf(out, "Date: %s\n", date);
    if (rec->sensitivity == 1) bv_fprintf(out, "Sensitivity: High\n");
    static const char *const kLevels[] = {"Low", "Normal", "High"};
    if (rec->priority >= 0 && rec->priority <= 2) bv_fprintf(out, "Priority: %s\n", kLevels[rec->priority]);
    if (rec->importance >= 0 && rec->importance <= 2) bv_fprintf(out, "Importance: %s\n", kLevels[rec->importance]);
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i] && IsAttachment(rec->parts[i])) bv_fprintf(out, "Attachment: %s\n", rec->parts[i]->name);
    }
    bv_fprintf(out, "\r\n");
}

bool HasTextBody(const mdat *rec) { return FindPart(rec, BV_PART_TEXT, nullptr) || FindPart(rec, BV_PART_HTML, nullptr); }

void WriteBody(ComposeJob *job, const PartSurvey &survey) {
    mdat *rec = job->rec;
    FILE *out = job->out;
    char top[kBoundaryCap], related[kBoundaryCap] = "", alternative[kBoundaryCap] = "";
    NextBoundary(&job->seq, top, sizeof top);
    if (survey.smime) {
        bv_fprintf(out, "Content-Type: application/pkcs7-mime;boundary=\"%s\"\r\n", top);
    } else {
        bv_fprintf(out, "Content-Type: multipart/%s;boundary=\"%s\"\r\n", survey.mixed ? "mixed" : "alternative", top);
    }
    bv_fprintf(out, "\r\nThis is a multi-part message in MIME format.\r\n\r\n");
    const char *textLevel = top;
    if (survey.related) {
        NextBoundary(&job->seq, related, sizeof related);
        bv_fprintf(out, "--%s\r\n", top);
        bv_fprintf(out, "Content-type: multipart/related; boundary=\"%s\"\r\n\r\n", related);
        NextBoundary(&job->seq, alternative, sizeof alternative);
        bv_fprintf(out, "--%s\r\n", related);
        bv_fprintf(out, "Content-type: multipart/alternative; boundary=\"%s\"\r\n\r\n", alternative);
        textLevel = alternative;
    }
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i] && rec->parts[i]->partType == BV_PART_TEXT) WriteTextPart(job, i, textLevel);
    }
    if (!job->topLevel && !HasTextBody(rec)) WriteSummaryPart(job, textLevel);
    for (int i = 0; i < rec->partCount; i++) {
        if (rec->parts[i] && rec->parts[i]->partType == BV_PART_HTML) WriteHtmlPart(job, i, textLevel);
    }
    if (survey.related) {
        bv_fprintf(out, "\r\n--%s--\r\n\r\n", alternative);
        for (int i = 0; i < rec->partCount; i++) {
            if (rec->parts[i] && IsInlineImage(rec->parts[i])) WriteInlineImage(job, i, related);
        }
        bv_fprintf(out, "\r\n--%s--\r\n\r\n", related);
    }
    for (int i = 0; i < rec->partCount; i++) {
        const mpart *p = rec->parts[i];
        if (!p || p->partType != BV_PART_EMBEDDED || !p->subMsg) continue;
        bv_fprintf(out, "--%s\r\n", top);
        bv_fprintf(out, "Content-type: message/rfc822\r\n\r\n");
        ComposeJob inner = {p->subMsg, out, job->tempDir, job->domain, 0, job->seq};
        com_strncpy(inner.seq.prefix, kEmbeddedPrefix, sizeof inner.seq.prefix - 1);
        ComposeMessage(&inner);
    }
    for (int i = 0; i < rec->partCount; i++) {
        const mpart *p = rec->parts[i];
        if (!p || !IsAttachment(p)) continue;
        if (IsOutsideAttachment(p)) {
            WriteOutsideAttachment(job, i, top);
        } else {
            WriteAttachment(job, i, top);
        }
    }
    bv_fprintf(out, "--%s--\r\n", top);
}

bool CopyStoredRawMessage(const ComposeJob *job) {
    for (int i = 0; i < job->rec->partCount; i++) {
        const mpart *p = job->rec->parts[i];
        if (!p || p->partType != BV_PART_ATTACHMENT || strcmp(p->name, kRawMessageName) != 0) continue;
        FILE *in = OpenPartFile(job, i);
        if (!in) return false;  // composed from the record instead
        CopyStreamToOutput(in, job->out, nullptr);
        return true;
    }
    return false;
}

void ComposeMessage(ComposeJob *job) {
    mdat *record = job->rec;
    PartSurvey survey = SurveyParts(record);
    int headerIndex = 0;
    if (gD68 && gEih && FindPart(record, BV_PART_HEADER, &headerIndex)) {
        CopyStoredHeaderBlock(job, headerIndex);
    } else {
        WriteHeaderBlock(job);
    }
    if (gD74) {
        // An embedded message still ends its header block, so the enclosing
        // body stays readable.
        if (!job->topLevel) bv_fprintf(job->out, "\r\n");
        return;
    }
    WriteBody(job, survey);
}

// ---- boundary token --------------------------------------------------------------------

// The token is 64 bits from the cryptographic generator, drawn after every
// text of the message was written and never shown to anyone before. A
// delimiter line must repeat prefix, token and number exactly, so a text
// would have to guess the token to close a level early: a chance of 2^-64
// for hostile mail, and less for text that is not trying. That is why the
// part files need no search for it.
bool DrawToken(char *out, size_t cap) {
    unsigned char bytes[kBoundaryTokenLen / 2];
    if (!plat_RandomBytes(bytes, sizeof bytes)) return false;
    bvcom_HexEncode(bytes, sizeof bytes, out, cap);
    return true;
}

}  // namespace

extern "C" int ComposeRfc822(mdat *record, FILE *outFile, const char *boundarySeed, const char *tempDir,
                             const char *domain, int topLevel) {
    if (!record || !outFile) return 0;
    char token[kBoundaryTokenLen + 1];
    int next = 0;
    ComposeJob job = {record, outFile, tempDir ? tempDir : "", domain ? domain : "", topLevel, {}};
    SplitSeed(boundarySeed ? boundarySeed : "", job.seq.prefix, sizeof job.seq.prefix, &next);
    job.seq.next = &next;
    job.seq.token = token;
    if (gD81 && CopyStoredRawMessage(&job)) return 0;
    if (!DrawToken(token, sizeof token)) {
        com_Log("BV Warning: no random bytes for the message's boundaries, message not written");
        return 1;
    }
    ComposeMessage(&job);
    return 0;
}
