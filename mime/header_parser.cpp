// Parse_RFC822_Msg: one message from an open stream into the item record.
// The header block is read line by line into the record and echoed into the
// first part file ("Internet Headers.txt"); the body then goes to the part
// walker (multipart), to a nested parse (message/rfc822) or into one part
// file (single part).
#include <stdlib.h>
#include <string.h>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

extern "C" {
int gNestLevel;
}

namespace {

constexpr size_t kFirstLineLen = 500;
constexpr size_t kReceivedDateLen = 500;
constexpr size_t kSubjectWorkLen = 2400;
constexpr size_t kSenderWorkLen = 2000;
constexpr size_t kSubjectFieldLimit = 500;
constexpr size_t kMessageIdLimit = 127;
constexpr size_t kDeliveredToLimit = 256;
constexpr size_t kRecordCharsetLimit = 30;
constexpr size_t kCopyBlock = 65536;
constexpr int kMaxPlausibleYear = 2100;

// Working values of one message's header block.
struct HeaderState {
    char partName[MIME_HEADER_NAME_LEN + 1];
    char charsetName[MIME_MSG_CHARSET_LEN + 1];
    char boundary[MIME_BOUNDARY_LEN + 1];
    char firstLine[kFirstLineLen + 1];
    char receivedDate[kReceivedDateLen + 1];
    char subjectWork[kSubjectWorkLen + 1];
    char senderWork[kSenderWorkLen + 1];
    char mediaType[MIME_MEDIA_TYPE_LEN + 1];
    int classCode;
    int lineCount;
    bool quotedPrintable, charsetSeen, haveSubject, haveDate, haveFrom, subjectLogged;
    bool isEmbeddedMessage, isStickyNote, skip;
};

void InitState(HeaderState *st) {
    memset(st, 0, sizeof(*st));
    com_strncpy(st->partName, "Message Text", MIME_HEADER_NAME_LEN);
    com_strncpy(st->charsetName, "ISO-8859-1", MIME_MSG_CHARSET_LEN);
    st->classCode = BV_PART_TEXT;
}

bool Has(const char *line, const char *text) { return com_stristr(line, text, 0) != nullptr; }

int YearOf(const FILETIME &ft) {
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&ft, &st)) return 1601;
    return st.wYear;
}

void SkipLeadingEmptyLines(FILE *stream) {
    for (;;) {
        long start = ftell(stream);
        if (ReadMimeLine(stream, NULL, 0, 0)) return;
        if (gLineBuf[0]) {
            fseek(stream, start, SEEK_SET);
            return;
        }
    }
}

// "RAWRFC.dat": the whole message as it came, under /D81.
void CopyRawMessage(FILE *stream, mdat *record, const char *tempDir) {
    if (!AllocPartOrWarn(record)) return;
    int index = record->partCount;
    mpart *part = record->parts[index];
    part->partType = BV_PART_ATTACHMENT;
    com_strncpy(part->name, "RAWRFC.dat", sizeof(part->name) - 1);
    char path[MIME_PATH_LEN];
    PartPath(tempDir, record, index, path, sizeof(path));
    long start = ftell(stream);
    FILE *out = plat_fopen(path, "wb");
    if (out) {
        static char block[kCopyBlock];
        size_t got;
        while ((got = fread(block, 1, sizeof(block), stream)) > 0) fwrite(block, 1, got, out);
        fclose(out);
    }
    int64_t size = plat_GetFileSize(path);
    part->size = (int32_t)(size < 0 ? 0 : (size > INT32_MAX ? INT32_MAX : size));
    record->partCount++;
    fseek(stream, start, SEEK_SET);
}

// The "/LSUB" subject line, and the exclusion test on it: an excluded
// message is marked to be skipped.
void LogSubjectLine(mdat *record, HeaderState *st) {
    SYSTEMTIME t;
    memset(&t, 0, sizeof(t));
    plat_FileTimeToSystemTime(&record->date, &t);
    char line[1024];
    bv_snprintf(line, sizeof(line), "RFC subject: %s; Date=%d/%d/%d %02d:%02d", record->subject, t.wMonth, t.wDay,
                t.wYear, t.wHour, t.wMinute);
    com_Log("BV Info: %s", line);
    st->subjectLogged = true;
    if (com_ExcludeSubject(line)) {
        com_Log("BV Info: message skipped due to /SKIPSUBS");
        st->skip = true;
    } else {
        st->skip = false;
    }
}

void TakeFrom(mdat *record, HeaderState *st, const char *value) {
    com_strncpy(st->senderWork, value, kSenderWorkLen);
    int codepage = com_Decode_iso(st->senderWork, 0);
    com_delspaces(st->senderWork);
    com_Unescape(st->senderWork);
    com_ExtractMIMEAddr(st->senderWork, record->fromName, record->fromAddr);
    CleanAddress(record->fromAddr);
    com_Remove_Quotes(record->fromAddr);
    if (codepage) record->codepage = codepage;
    st->haveFrom = true;
}

void TakeSubject(mdat *record, HeaderState *st, const char *value) {
    com_strncpy(st->subjectWork, value, kSubjectWorkLen);
    com_delspaces(st->subjectWork);
    int codepage = com_Decode_iso(st->subjectWork, 0);
    if (codepage) record->codepage = codepage;
    com_Unescape(st->subjectWork);
    com_strncpy(record->subject, st->subjectWork, kSubjectFieldLimit);
    st->haveSubject = true;
    if (gLSub && st->haveDate) LogSubjectLine(record, st);
}

void TakeDeliveredTo(mdat *record, const char *value) {
    com_strncpy(record->deliveredTo, value, kDeliveredToLimit);
    const char *colon = strchr(record->deliveredTo, ':');
    const char *dash = colon ? strchr(colon, '-') : nullptr;
    if (dash) memmove(record->deliveredTo, dash + 1, strlen(dash + 1) + 1);
}

void TakeReceived(HeaderState *st, const char *line) {
    const char *semi = strrchr(line, ';');
    if (!semi) return;
    semi++;
    while (*semi == ' ') semi++;
    com_strncpy(st->receivedDate, semi, kReceivedDateLen);
}

void TakeDate(mdat *record, HeaderState *st, const char *value) {
    com_Parse_Mime_Date(value, record);
    st->haveDate = YearOf(record->date) != 1601;
    if (gLSub && st->haveSubject) LogSubjectLine(record, st);
}

// Returns true when the message is deleted (the header loop ends).
bool TakeMozillaStatus(mdat *record, HeaderState *st, const char *line) {
    unsigned long flags = strtoul(line + 17, nullptr, 16);
    record->unread = (flags & 0x0001) ? 0 : 1;
    if (flags & 0x0008) {
        com_Log("BV Warning: skipping deleted message");
        st->skip = true;
        return true;
    }
    return false;
}

void TakePmFlags(mdat *record, const char *line) {
    unsigned long flags = strlen(line) > 11 ? strtoul(line + 11, nullptr, 10) : 0;
    record->unread = (flags & 0x80) ? 0 : 1;
    record->pmFlag21 = (flags & 0x200000) ? 1 : 0;
    record->pmFlag20 = (flags & 0x100000) ? 1 : 0;
}

void TakeXPriority(mdat *record, const char *line) {
    long value = strtol(line + 11, nullptr, 10);
    if (value == 1 || value == 2) record->priority = 2;
    else if (value == 4 || value == 5) record->priority = 0;
}

bool IsFollowUpFlag(const char *line) {
    static const char *const kFlags[] = {"X-Message-Flag: Assurer un suivi", "X-Message-Flag: Follow Up",
                                         "X-Message-Flag: Flag for follow Up"};
    for (const char *flag : kFlags)
        if (strncasecmp(line, flag, 32) == 0) return true;
    return false;
}

void TakeTransferEncoding(HeaderState *st, const char *line) {
    if (Has(line, "quoted-printable")) st->quotedPrintable = true;
    if (Has(line, "base64")) st->classCode = PartClassOf(PartClassKind(st->classCode), MIME_BODY_BASE64);
    if (Has(line, "uuencode")) st->classCode = MIME_CLASS_UUENCODED;
}

void TakeContentType(mdat *record, HeaderState *st, const char *line) {
    TakeBoundaryParam(line, st->boundary, MIME_BOUNDARY_LEN);
    TakeMediaType(line, st->mediaType, MIME_MEDIA_TYPE_LEN);
    TakeNameParam(line, st->partName, MIME_HEADER_NAME_LEN);
    TakeExtendedParam(line, "name", st->partName, MIME_HEADER_NAME_LEN);
    int &c = st->classCode;
    if (Has(line, "text/html")) c = PartClassAsKind(c, BV_PART_HTML);
    // A body of any non-text type is an attachment: converted as text, its
    // bytes would be lost. Base64 seen before the type stays to be decoded.
    if (IsBinaryMediaType(line) || Has(line, "application/pdf") || Has(line, "ms-tnef") || Has(line, "image/"))
        c = PartClassAsKind(c, BV_PART_ATTACHMENT);
    if (Has(line, "text/calendar")) {
        com_strncpy(st->partName, "event.ics", MIME_HEADER_NAME_LEN);
        c = PartClassAsKind(c, BV_PART_ATTACHMENT);
    }
    if (Has(line, "text/x-stickynote")) {
        c = PartClassAsKind(c, BV_PART_TEXT);
        st->isStickyNote = true;
    }
    if (Has(line, "text/plain")) c = PartClassAsKind(c, BV_PART_TEXT);
    if (Has(line, "message/rfc822")) st->isEmbeddedMessage = true;
    if (Has(line, "text/rtf")) com_strncpy(st->partName, "Message.rtf", MIME_HEADER_NAME_LEN);
    const char *cs = com_stristr(line, "charset=", 0);
    if (cs) {
        cs += 8;
        if (*cs == '"') CopyUntil(st->charsetName, MIME_MSG_CHARSET_LEN, cs + 1, "\"");
        else CopyUntil(st->charsetName, MIME_MSG_CHARSET_LEN, cs, "; ");
        com_Remove_Quotes(st->charsetName);
        com_strncpy(record->charset, st->charsetName, sizeof(record->charset) - 1);
        st->charsetSeen = true;
    }
}

// Every other header line. Returns true when the header loop ends here.
bool TakeOtherHeader(mdat *record, HeaderState *st, const char *line, const char *value, const char *tempDir) {
    if (StartsNoCase(line, "Message-ID:")) com_strncpy(record->messageId, value, kMessageIdLimit);
    if (StartsNoCase(line, "Delivered-To:")) TakeDeliveredTo(record, value);
    if (StartsNoCase(line, "Received:")) TakeReceived(st, line);
    if (StartsNoCase(line, "Date:") || StartsNoCase(line, "Resent-Date:") || StartsNoCase(line, "Message Sent:")) {
        TakeDate(record, st, value);
        return false;
    }
    if (StartsNoCase(line, "X-Mozilla-Status:") && TakeMozillaStatus(record, st, line)) return true;
    if (StartsNoCase(line, "X-PMFLAGS:")) TakePmFlags(record, line);
    if (StartsNoCase(line, "Priority: urgent")) record->priority = 2;
    if (StartsNoCase(line, "X-Priority:")) TakeXPriority(record, line);
    if (StartsNoCase(line, "Importance: High")) record->importance = 2;
    if (StartsNoCase(line, "Importance: Low")) record->importance = 0;
    if (IsFollowUpFlag(line)) record->followUpFlag = 2;
    if (StartsNoCase(line, "To:")) ParseAddressList(record, value, 3);
    else if (StartsNoCase(line, "CC:") || StartsNoCase(line, "Copies-to:")) ParseAddressList(record, value, 11);
    else if (StartsNoCase(line, "BCC:")) ParseAddressList(record, value, 12);
    else {
        if (StartsNoCase(line, "Content-transfer-encoding: ")) TakeTransferEncoding(st, line);
        if (StartsNoCase(line, "Content-Disposition: attachment")) {
            TakeNameParam(line, st->partName, MIME_HEADER_NAME_LEN);
            TakeExtendedParam(line, "filename", st->partName, MIME_HEADER_NAME_LEN);
            if (st->classCode == MIME_CLASS_BASE64_TEXT) st->classCode = MIME_CLASS_BASE64;
        }
        if (StartsNoCase(line, "Attachment: ")) AddMhsAttachment(record, line + 12, tempDir);
        if (StartsNoCase(line, "Attachment-name: ")) NameMhsAttachments(record, line + 17);
        if (StartsNoCase(line, "FileID: ")) CopyFileIdAttachment(record, line + 8, tempDir);
        if (StartsNoCase(line, "Content-Type:")) TakeContentType(record, st, line);
    }
    return false;
}

void ReadHeaderBlock(FILE *stream, FILE *headerFile, mdat *record, HeaderState *st, const char *tempDir) {
    for (;;) {
        long lineStart = ftell(stream);
        if (ReadMimeLine(stream, headerFile, 1, 0)) return;
        const char *line = gLineBuf;
        if (!line[0]) return;
        if (StartsNoCase(line, "<!DOCTYPE html>") || StartsNoCase(line, "<b>")) {
            fseek(stream, lineStart, SEEK_SET);  // that line begins the body
            return;
        }
        // A line without a colon after the first (the first may be a
        // reader's separator line, and an envelope "From " line may follow
        // it) is text: the header block lacked its empty line, and the body
        // begins here rather than being lost.
        if (st->lineCount >= 1 && !strchr(line, ':') && strncmp(line, "From ", 5) != 0 &&
            strncmp(line, ">From ", 6) != 0) {
            fseek(stream, lineStart, SEEK_SET);
            return;
        }
        if (++st->lineCount == 1) com_strncpy(st->firstLine, line, kFirstLineLen);
        const char *value = HeaderValue(line);
        if (StartsNoCase(line, "From:")) TakeFrom(record, st, value);
        else if (StartsNoCase(line, "Subject:")) TakeSubject(record, st, value);
        else if (TakeOtherHeader(record, st, line, value, tempDir)) return;
    }
}

void ConvertHeaderTexts(mdat *record) {
    int cp = record->codepage;
    ConvertToUtf8(record->fromName, cp, sizeof(record->fromName));
    ConvertToUtf8(record->fromAddr, cp, sizeof(record->fromAddr));
    ConvertToUtf8(record->subject, cp, sizeof(record->subject));
    for (int i = 0; i < record->recipCount; i++) {
        mrecip *r = record->recips[i];
        if (!r) continue;
        ConvertToUtf8(r->name, cp, sizeof(r->name));
        ConvertToUtf8(r->addr, cp, sizeof(r->addr));
    }
}

void SettleCharset(mdat *record, HeaderState *st) {
    if (!st->charsetSeen && record->codepage) {
        char name[BV_CHARSET_LEN] = "";
        com_iso_codepage(record->codepage, name);
        com_strncpy(st->charsetName, name, MIME_MSG_CHARSET_LEN);
    }
    if (record->codepage) return;
    if (!st->charsetName[0]) com_strncpy(st->charsetName, "ISO-8859-1", MIME_MSG_CHARSET_LEN);
    record->codepage = com_iso_codepage(0, st->charsetName);
    ConvertHeaderTexts(record);
}

bool HasMonthName(const char *text) {
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (const char *m : kMonths)
        if (com_stristr(text, m, 0)) return true;
    return false;
}

void SubstituteNow(mdat *record) {
    plat_GetSystemTimeAsFileTime(&record->date);
    record->dateSubstituted = 1;
}

// A message without a usable Date (or without a From) takes its date from
// the mbox separator line, else from the last Received line.
void DateFallback(mdat *record, HeaderState *st) {
    if (st->haveDate && st->haveFrom) return;
    const char *first = strlen(st->firstLine) >= 6 ? st->firstLine + 6 : "";
    if (*first == ' ') first++;
    if (YearOf(record->date) != 1601 || st->haveDate) return;
    const char *candidate = first;
    if (!st->haveFrom) {
        const char *blank = strchr(first, ' ');
        candidate = blank ? blank + 1 : "";
    }
    if (!HasMonthName(candidate)) {
        candidate = st->receivedDate;
        if (!HasMonthName(candidate)) {
            SubstituteNow(record);
            return;
        }
    }
    com_Parse_Mime_Date(candidate, record);
    int year = YearOf(record->date);
    if (year > kMaxPlausibleYear || year == 1601) SubstituteNow(record);
}

int ParseEmbeddedBody(FILE *stream, mdat *record, const char *tempDir) {
    int index = record->partCount;
    if (!AllocPartOrWarn(record)) return MIME_PARSED;
    mpart *part = record->parts[index];
    part->partType = BV_PART_EMBEDDED;
    com_strncpy(part->name, "Message Text", sizeof(part->name) - 1);
    if (!com_AllocSubMsg(record, index) || !part->subMsg) return MIME_PARSED;
    int result = Parse_RFC822_Msg(stream, part->subMsg, tempDir, "", 0);
    gNestLevel--;
    record->partCount++;
    return result == MIME_PARSE_FAILED ? MIME_PARSE_FAILED : MIME_PARSED;
}

int ParseMultipartBody(FILE *stream, mdat *record, HeaderState *st, const char *tempDir) {
    long start = ftell(stream);
    int scan = CopyPartBody(stream, NULL, st->boundary, "", st->classCode, 0, st->charsetName, NULL, 0);
    if (scan != COPY_AT_DELIMITER) {
        if (KeepLongSubject(record, tempDir, st->subjectWork) || scan == COPY_AT_CLOSE) return MIME_PARSED;
        fseek(stream, start, SEEK_SET);
        st->boundary[0] = 0;
    }
    gNextMultipartIsDigest = strcmp(st->mediaType, "multipart/digest") == 0;
    if (ParseMimeParts(record, st->boundary, "", tempDir, stream, st->charsetName) == WALK_FAILED) return MIME_PARSE_FAILED;
    FixTextParts(record, tempDir);
    ExpandEmlAttachments(record, tempDir);
    KeepLongSubject(record, tempDir, st->subjectWork);
    if (st->isStickyNote) ConvertStickyNote(record, tempDir);
    if (!record->charset[0]) com_strncpy(record->charset, st->charsetName, kRecordCharsetLimit);
    return MIME_PARSED;
}

int ParseSinglePartBody(FILE *stream, mdat *record, HeaderState *st, const char *tempDir, const char *enclosing) {
    int index = record->partCount;
    if (!AllocPartOrWarn(record)) return MIME_PARSED;
    mpart *part = record->parts[index];
    part->partType = st->classCode;
    com_strncpy(part->name, st->partName, sizeof(part->name) - 1);
    com_strncpy(part->charset, st->charsetName, kRecordCharsetLimit);
    if (PartClassKind(st->classCode) == BV_PART_ATTACHMENT)
        KeepAttachmentType(part, st->mediaType);
    char path[MIME_PATH_LEN];
    PartPath(tempDir, record, index, path, sizeof(path));
    FILE *file = plat_fopen(path, "wb");
    if (!file) {
        com_Log("BV Error: Unable to open msg part");
        return MIME_PARSE_FAILED;
    }
    int32_t size = 0;
    int convertedCodepage = ConvertWhileWriting(record, index, st->classCode, st->charsetName);
    gCopyConvertCodepage = convertedCodepage;
    CopyPartBody(stream, file, enclosing, enclosing, st->classCode, st->quotedPrintable, st->charsetName, &size, 0);
    MarkConvertedCopy(part, convertedCodepage);
    part->size = size;
    record->partCount++;
    if (gLastCopyDecodedBase64) MarkPart(part, PART_DECODED);
    if (!plat_CloseWritten(file)) {
        NotePartWriteFailure(path);
        return MIME_PARSE_FAILED;
    }
    FixTextParts(record, tempDir);
    ExpandEmlAttachments(record, tempDir);
    if (st->isStickyNote) ConvertStickyNote(record, tempDir);
    KeepLongSubject(record, tempDir, st->subjectWork);
    return MIME_PARSED;
}

int ParseBody(FILE *stream, mdat *record, HeaderState *st, const char *tempDir, const char *enclosing) {
    if (st->isEmbeddedMessage && gNestLevel >= MIME_MAX_NEST_LEVEL) {
        KeepTooDeepMessage(record, &st->classCode, st->partName, sizeof(st->partName));
        return ParseSinglePartBody(stream, record, st, tempDir, enclosing);
    }
    if (st->isEmbeddedMessage) return ParseEmbeddedBody(stream, record, tempDir);
    com_rtrim(st->boundary);
    if (st->boundary[0]) return ParseMultipartBody(stream, record, st, tempDir);
    return ParseSinglePartBody(stream, record, st, tempDir, enclosing);
}

// Part 0, the header block as it came. Returns its open file, or NULL.
FILE *OpenHeaderPart(mdat *record, const char *tempDir, char *path, size_t cap) {
    mpart *part = record->parts[0];
    part->partType = BV_PART_HEADER;
    com_strncpy(part->name, "Internet Headers.txt", sizeof(part->name) - 1);
    part->contentId[0] = 0;
    part->size = 0;
    PartPath(tempDir, record, 0, path, cap);
    return plat_fopen(path, "wb");
}

}  // namespace

extern "C" int Parse_RFC822_Msg(FILE *stream, mdat *record, const char *tempDir, const char *enclosingBoundary,
                                int topLevel) {
    if (!record) {
        LogDebug("debug: in Parse_RFC822_Msg, mdat is NULL!");
        return MIME_PARSE_FAILED;
    }
    if (!stream) return MIME_PARSE_SKIPPED;
    if (!tempDir) tempDir = "";
    if (!enclosingBoundary) enclosingBoundary = "";
    if (topLevel) SkipLeadingEmptyLines(stream);
    record->partCount = 0;
    if (!AllocPartOrWarn(record)) return MIME_PARSED;
    char headerPath[MIME_PATH_LEN];
    FILE *headerFile = OpenHeaderPart(record, tempDir, headerPath, sizeof(headerPath));
    if (!headerFile) {
        com_Log("BV Error: Unable to open msg part");
        return MIME_PARSE_FAILED;
    }
    record->partCount = 1;
    if (topLevel && gD81) CopyRawMessage(stream, record, tempDir);
    if (topLevel) {
        gNestLevel = 0;
        ResetPartWalker();
    } else if (++gNestLevel > MIME_MAX_NEST_LEVEL) {
        com_Log("BV Warning: too many nested messages in RFC-822 data");
        fclose(headerFile);
        return MIME_PARSE_FAILED;
    }
    record->priority = 1;
    static HeaderState states[MIME_MAX_NEST_LEVEL + 2];  // one per nesting level, off the stack
    HeaderState *st = &states[topLevel ? 0 : (gNestLevel < 1 ? 1 : gNestLevel)];
    InitState(st);
    ReadHeaderBlock(stream, headerFile, record, st, tempDir);
    SettleCharset(record, st);
    long headerSize = ftell(headerFile);
    record->parts[0]->size = (int32_t)(headerSize < 0 ? 0 : headerSize);
    if (!plat_CloseWritten(headerFile)) {
        NotePartWriteFailure(headerPath);
        return MIME_PARSE_FAILED;
    }
    if (st->skip) return MIME_PARSE_SKIPPED;
    if (st->lineCount == 0) {
        plat_DeleteFile(headerPath);
        com_Deallocate(record, tempDir);
        return MIME_PARSE_SKIPPED;
    }
    DateFallback(record, st);
    if (gLSub && !st->subjectLogged) {
        LogSubjectLine(record, st);
        if (st->skip) return MIME_PARSE_SKIPPED;
    }
    int result = ParseBody(stream, record, st, tempDir, enclosingBoundary);
    // A part file that could not be written whole fails the whole message.
    return topLevel && gPartWriteFailed ? MIME_PARSE_FAILED : result;
}
