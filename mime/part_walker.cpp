// ParseMimeParts: walks the body parts of one multipart. For each part it
// reads the part's header block, settles the part's content class and file
// name, and then recurses into a nested multipart, parses an embedded
// message, or streams the part's body into its part file.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unordered_map>
#include "mime/mime_internal.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

extern "C" {
int gEmbeddedMsgCount;
int gMultipartDepth;
int gPartWriteFailed;
int gNextMultipartIsDigest;
}

namespace {

// Parts of the message being parsed whose files already hold final bytes.
std::unordered_map<const mpart *, int> partMarks;

constexpr size_t kContentIdLen = 250;
constexpr size_t kBeckyNameLen = 500;
constexpr const char *kDefaultPartName = "Message Text";

// The last inner boundary (with its enclosing one) that a scan did not find.
char lastMissing[MIME_BOUNDARY_LEN + 1];
char lastMissingEnclosing[MIME_BOUNDARY_LEN + 1];
FILE *lastMissingStream;

// What the walker knows about one body part.
struct PartHeader {
    char name[MIME_PART_NAME_LEN + 1];
    int classCode;
    char charset[MIME_PART_CHARSET_LEN + 1];
    char innerBoundary[MIME_BOUNDARY_LEN + 1];
    char contentId[kContentIdLen + 1];
    char beckyName[kBeckyNameLen + 1];
    char mediaType[MIME_MEDIA_TYPE_LEN + 1];
    int64_t sizeParam;
    bool quotedPrintable, binary, related, isAttachment, isEmbeddedMessage, digest;
};

void ResetPart(PartHeader *h, const char *charset) {
    memset(h, 0, sizeof(*h));
    com_strncpy(h->name, kDefaultPartName, MIME_PART_NAME_LEN);
    h->classCode = MIME_CLASS_UNSET;
    com_strncpy(h->charset, charset ? charset : "", MIME_PART_CHARSET_LEN);
}

bool Has(const char *line, const char *text) { return com_stristr(line, text, 0) != nullptr; }

// Value after `key`, cut at ";", unquoted.
void ParamValue(const char *line, const char *key, char *out, size_t limit) {
    const char *p = com_stristr(line, key, 0);
    if (!p) return;
    CopyUntil(out, limit, p + strlen(key), ";");
    com_Remove_Quotes(out);
}

void StripPrefixNoCase(char *text, const char *prefix) {
    size_t n = strlen(prefix);
    if (strncasecmp(text, prefix, n) == 0) memmove(text, text + n, strlen(text + n) + 1);
}

void NameIfDefault(PartHeader *h, const char *name) {
    if (strcmp(h->name, kDefaultPartName) == 0) com_strncpy(h->name, name, MIME_PART_NAME_LEN);
}

void TakeKind(PartHeader *h, int kind) { h->classCode = PartClassAsKind(h->classCode, kind); }

void ApplyContentType(const char *line, PartHeader *h, const mdat *record) {
    TakeMediaType(line, h->mediaType, MIME_MEDIA_TYPE_LEN);
    TakeBoundaryParam(line, h->innerBoundary, MIME_BOUNDARY_LEN);
    if (Has(line, "NAME=")) {
        ParamValue(line, "NAME=", h->name, MIME_PART_NAME_LEN);
        const char *quoted = com_stristr(line, "NAME=\"", 0);
        if (quoted) CopyUntil(h->name, MIME_PART_NAME_LEN, quoted + 6, "\"");
    }
    // RFC 2231 names, split or in another charset: every piece, decoded.
    TakeExtendedParam(line, "name", h->name, MIME_PART_NAME_LEN);
    if (Has(line, "multipart/related")) h->related = true;
    if (Has(line, "multipart/digest")) h->digest = true;
    if (Has(line, "text/html")) TakeKind(h, BV_PART_HTML);
    if (Has(line, "application/pdf") && strcmp(h->name, kDefaultPartName) == 0) {
        com_strncpy(h->name, "embedded_document.pdf", MIME_PART_NAME_LEN);
        if (com_stristr(record->subject, ".pdf", 0)) {
            com_strncpy(h->name, record->subject, MIME_PART_NAME_LEN);
            StripPrefixNoCase(h->name, "Fwd: ");
            StripPrefixNoCase(h->name, "Re: ");
        }
    }
    if (Has(line, "image")) {
        TakeKind(h, BV_PART_ATTACHMENT);
        if (Has(line, "image/jpeg") || Has(line, "image/jpg")) NameIfDefault(h, "embedded image.jpg");
        else if (Has(line, "image/gif")) NameIfDefault(h, "embedded image.gif");
        else if (Has(line, "image/png")) NameIfDefault(h, "embedded image.png");
    }
    if (Has(line, "audio")) {
        TakeKind(h, BV_PART_ATTACHMENT);
        if (Has(line, "audio/mpeg")) NameIfDefault(h, "embedded mpeg.mpg");
    }
    if (StartsNoCase(h->name, "data:image/png")) com_strncpy(h->name, "image.png", MIME_PART_NAME_LEN);
    if (Has(line, "application") || IsBinaryMediaType(line)) TakeKind(h, BV_PART_ATTACHMENT);
    if (Has(line, "pgp-encrypted")) {
        com_strncpy(h->name, "pgp message", MIME_PART_NAME_LEN);
        TakeKind(h, BV_PART_TEXT);
    }
    // A part already taken as an attachment stays one.
    if (Has(line, "text/plain") && h->classCode != BV_PART_ATTACHMENT) TakeKind(h, BV_PART_TEXT);
    if (Has(line, "text/calendar")) {
        // A calendar part keeps the file name it came with; one without gets
        // the subject's.
        if (strcmp(h->name, kDefaultPartName) != 0) {
        } else if (record->subject[0]) {
            bv_snprintf(h->name, sizeof(h->name), "%.*s.ics", MIME_PART_NAME_LEN - 4, record->subject);
        } else {
            com_strncpy(h->name, "event.ics", MIME_PART_NAME_LEN);
        }
        TakeKind(h, BV_PART_ATTACHMENT);
    }
    // Delivery reports, news articles and other message kinds that are not
    // walked as messages stay attachments of their own type and bytes.
    if (IsKeptMessageType(h->mediaType) || Has(line, "rfc822-headers"))
        TakeKind(h, BV_PART_ATTACHMENT);
    if (Has(line, "text/enriched")) TakeKind(h, BV_PART_TEXT);
    if (Has(line, "message/rfc822") && gEmbeddedMsgCount < MIME_MAX_EMBEDDED_MSGS) h->isEmbeddedMessage = true;
    if (Has(line, "text/rtf")) com_strncpy(h->name, "Message.rtf", MIME_PART_NAME_LEN);
    if (Has(line, "charset=")) ParamValue(line, "charset=", h->charset, MIME_PART_CHARSET_LEN);
    // an HTML part is walked as a multipart only when it is multipart/related
    if (h->classCode == BV_PART_HTML && h->innerBoundary[0] && !h->related) h->innerBoundary[0] = 0;
}

void ApplyDisposition(const char *line, PartHeader *h) {
    if (Has(line, "attachment")) {
        h->isAttachment = true;
        TakeKind(h, BV_PART_ATTACHMENT);
    }
    if (Has(line, "NAME=")) {
        ParamValue(line, "NAME=", h->name, MIME_PART_NAME_LEN);
        const char *quoted = com_stristr(line, "NAME=\"", 0);
        if (quoted) CopyUntil(h->name, MIME_PART_NAME_LEN, quoted + 6, "\"");
    }
    TakeExtendedParam(line, "filename", h->name, MIME_PART_NAME_LEN);
    const char *size = com_stristr(line, "size=", 0);
    if (size) h->sizeParam = strtoll(size + 5, nullptr, 10);
    if (Has(line, "inline")) {
        if (h->classCode == MIME_CLASS_UNSET) {
            h->classCode = BV_PART_INLINE_TEXT;
            com_strncpy(h->name, "Inline.txt", MIME_PART_NAME_LEN);
        } else if (h->classCode == BV_PART_TEXT && h->name[0] &&
                   ((!Has(h->name, ".txt") && !Has(h->name, kDefaultPartName)) || gNhs)) {
            h->classCode = BV_PART_ATTACHMENT;
        }
    } else if (h->classCode == MIME_CLASS_UNSET) {
        h->classCode = BV_PART_ATTACHMENT;
    }
}

void ApplyTransferEncoding(const char *line, PartHeader *h) {
    if (Has(line, "quoted-printable")) h->quotedPrintable = true;
    if (Has(line, "binary")) h->binary = true;
    if (Has(line, "base64")) h->classCode = PartClassOf(PartClassKind(h->classCode), MIME_BODY_BASE64);
    if (Has(line, "uuencode")) h->classCode = MIME_CLASS_UUENCODED;
}

void ApplyPartHeaderLine(const char *line, PartHeader *h, const mdat *record) {
    if (StartsNoCase(line, "Content-Type:")) ApplyContentType(line, h, record);
    if (Has(line, "Content-ID:") && strlen(line) > 11) {
        const char *p = line + 11;
        while (*p == ' ' || *p == '<') p++;
        CopyUntil(h->contentId, kContentIdLen, p, strchr(p, '>') ? ">" : " ");
    }
    if (Has(line, "X-Becky-Include:") && strlen(line) > 17) com_strncpy(h->beckyName, line + 17, kBeckyNameLen);
    if (StartsNoCase(line, "Content-Disposition:")) ApplyDisposition(line, h);
    if (StartsNoCase(line, "Content-transfer-encoding: ")) ApplyTransferEncoding(line, h);
}

// Reads one part's header block. Returns WALK_NEXT_PART when it was read,
// else WALK_AT_EOF or WALK_AT_CLOSE.
int ReadPartHeader(FILE *stream, const char *closeDelim, PartHeader *h, const mdat *record) {
    for (;;) {
        if (ReadMimeLine(stream, NULL, 1, 0)) return WALK_AT_EOF;
        if (!gLineBuf[0]) return WALK_NEXT_PART;
        if (strcmp(gLineBuf, closeDelim) == 0) return WALK_AT_CLOSE;
        ApplyPartHeaderLine(gLineBuf, h, record);
    }
}

// An embedded message. Returns WALK_FAILED, WALK_CLOSED_IN_BODY or
// WALK_NEXT_PART.
int ParseEmbeddedPart(mdat *record, const PartHeader &h, const char *boundary, const char *tempDir, FILE *stream) {
    gEmbeddedMsgCount++;
    int index = record->partCount;
    if (!AllocPartOrWarn(record)) {
        LogDebug("debug: com_AllocPart is false!");
        return WALK_FAILED;
    }
    mpart *part = record->parts[index];
    part->partType = BV_PART_EMBEDDED;
    com_strncpy(part->name, h.name, sizeof(part->name) - 1);
    if (!com_AllocSubMsg(record, index) || !part->subMsg) {
        LogDebug("debug: com_AllocPart is false!");
        return WALK_FAILED;
    }
    gClosedBoundary[0] = 0;
    int result = Parse_RFC822_Msg(stream, part->subMsg, tempDir, boundary, 0);
    gNestLevel--;
    record->partCount++;
    if (result == MIME_PARSE_FAILED) return WALK_FAILED;
    return boundary[0] && strcmp(gClosedBoundary, boundary) == 0 ? WALK_CLOSED_IN_BODY : WALK_NEXT_PART;
}

// Stores a leaf part. Returns WALK_FAILED, WALK_AT_CLOSE when the walk ends
// with the record as it is (no part slot left), WALK_CLOSED_IN_BODY or
// WALK_NEXT_PART.
int StoreLeafPart(mdat *record, PartHeader *h, const char *boundary, const char *enclosing, const char *tempDir,
                  FILE *stream) {
    if (h->classCode == MIME_CLASS_UNSET) h->classCode = BV_PART_TEXT;
    int index = record->partCount;
    char path[MIME_PATH_LEN];
    PartPath(tempDir, record, index, path, sizeof(path));
    FILE *file = plat_fopen(path, "wb");
    if (!file) {
        com_Log("BV Error: ParseMimeParts, Cannot open %s, errno=%d", path, errno);
        return WALK_FAILED;
    }
    int64_t byteCount = h->binary ? h->sizeParam : 0;
    int32_t size = 0;
    // a Becky include is appended unconverted: the pass converts the whole file
    gCopyConvertCodepage = h->beckyName[0] ? 0 : ConvertWhileWriting(record, index, h->classCode, h->charset);
    int convertedCodepage = gCopyConvertCodepage;
    gCopyKeepsLineEnds = h->binary && PartClassKind(h->classCode) == BV_PART_ATTACHMENT;
    int copy = CopyPartBody(stream, file, boundary, enclosing, h->classCode, h->quotedPrintable, h->charset, &size,
                            byteCount);
    if (size == 0 && !h->beckyName[0]) {
        fclose(file);
        plat_DeleteFile(path);
        return copy == COPY_AT_CLOSE ? WALK_CLOSED_IN_BODY : WALK_NEXT_PART;
    }
    if (!AllocPartOrWarn(record)) {
        fclose(file);
        plat_DeleteFile(path);  // no record will name it
        return WALK_AT_CLOSE;
    }
    mpart *part = record->parts[index];
    part->partType = h->classCode;
    com_strncpy(part->name, h->name, sizeof(part->name) - 1);
    if (!h->isAttachment || com_stristr(h->contentId, "@zimbra", 0))
        com_strncpy(part->contentId, h->contentId, sizeof(part->contentId) - 1);
    com_strncpy(part->charset, h->charset, 30);
    if (PartClassKind(h->classCode) == BV_PART_ATTACHMENT)
        KeepAttachmentType(part, h->mediaType);
    part->size = size;
    record->partCount++;
    if (gLastCopyDecodedBase64) MarkPart(part, PART_DECODED);
    if (byteCount <= 0) MarkConvertedCopy(part, convertedCodepage);
    if (size < 3 && h->beckyName[0]) {
        CopyBeckyInclude(file, h->beckyName);
        long end = ftell(file);
        if (end > 0) part->size = (int32_t)end;
    }
    if (!plat_CloseWritten(file)) {
        NotePartWriteFailure(path);
        return WALK_FAILED;
    }
    return copy == COPY_AT_CLOSE ? WALK_CLOSED_IN_BODY : WALK_NEXT_PART;
}

// A nested multipart: scans for its first delimiter, then walks it. Returns
// WALK_FAILED, WALK_NEXT_PART or WALK_NO_BOUNDARY.
int WalkNestedMultipart(mdat *record, const PartHeader &h, const char *boundary, const char *enclosing,
                        const char *tempDir, FILE *stream) {
    // A boundary that was not found once is not found further down either:
    // remembering it keeps a message of many such parts from being rescanned.
    if (gMultipartDepth >= MIME_MAX_MULTIPART_DEPTH ||
        (stream == lastMissingStream && strcmp(lastMissing, h.innerBoundary) == 0 &&
         strcmp(lastMissingEnclosing, enclosing) == 0))
        return WALK_NO_BOUNDARY;
    long start = ftell(stream);
    int scan = CopyPartBody(stream, NULL, h.innerBoundary, enclosing, h.classCode, 0, h.charset, NULL, 0);
    if (scan == COPY_AT_EOF) {
        fseek(stream, start, SEEK_SET);
        com_strncpy(lastMissing, h.innerBoundary, MIME_BOUNDARY_LEN);
        com_strncpy(lastMissingEnclosing, enclosing, MIME_BOUNDARY_LEN);
        lastMissingStream = stream;
        return WALK_NO_BOUNDARY;
    }
    if (scan == COPY_AT_CLOSE) return WALK_NEXT_PART;
    gMultipartDepth++;
    gNextMultipartIsDigest = h.digest;
    int result = ParseMimeParts(record, h.innerBoundary, boundary, tempDir, stream, h.charset);
    gMultipartDepth--;
    return result == WALK_FAILED ? WALK_FAILED : WALK_NEXT_PART;
}

}  // namespace

extern "C" void MarkPart(const mpart *part, int mark) { partMarks[part] |= mark; }

extern "C" int TakePartMark(const mpart *part, int mark) {
    auto it = partMarks.find(part);
    if (it == partMarks.end() || !(it->second & mark)) return 0;
    it->second &= ~mark;
    return 1;
}

extern "C" int ConvertWhileWriting(const mdat *record, int index, int classCode, const char *charset) {
    if (classCode != BV_PART_TEXT || !charset[0]) return 0;
    // Only the first text/plain part stays text (FixTextParts); later ones are attachments.
    for (int i = 0; i < index && i < BV_MAX_PARTS; i++) {
        const mpart *p = record->parts[i];
        if (p && p->partType == BV_PART_TEXT && p->size != 2) return 0;
    }
    char name[31];
    com_strncpy(name, charset, 30);  // as the part record keeps it
    int codepage = com_iso_codepage(0, name);
    return codepage == 65001 || (codepage && ConvertsAsAscii(codepage)) ? codepage : 0;
}

extern "C" void MarkConvertedCopy(const mpart *part, int codepage) {
    if (codepage == 65001) {
        MarkPart(part, PART_CONVERTED);
    } else if (codepage == 28591) {
        // text in a one-byte charset that is UTF-8 already is kept as it came
        MarkPart(part, gLastCopyRawWasUtf8 ? PART_LATIN1_OF_UTF8 : PART_CONVERTED);
    } else if (codepage && (gLastCopyRawWasUtf8 || gLastCopyRawWasAscii)) {
        MarkPart(part, PART_CONVERTED);  // reads the same in UTF-8
    }
}

extern "C" void NotePartWriteFailure(const char *path) {
    com_Log("BV Warning: cannot write the part file %s", path);
    gPartWriteFailed = 1;
}

extern "C" void ResetPartWalker(void) {
    partMarks.clear();
    gPartWriteFailed = 0;
    gEmbeddedMsgCount = 0;
    gMultipartDepth = 0;
    lastMissing[0] = lastMissingEnclosing[0] = 0;
    lastMissingStream = nullptr;
    ForgetPartLimitWarning();
}

extern "C" int ParseMimeParts(mdat *record, const char *boundary, const char *enclosingBoundary, const char *tempDir,
                              FILE *stream, const char *charset) {
    char closeDelim[MIME_DELIM_LEN];
    bv_snprintf(closeDelim, sizeof(closeDelim), "--%.*s--", MIME_BOUNDARY_LEN, boundary);
    if (!boundary[0]) closeDelim[0] = 0;
    // In a digest a part without a type of its own is a message (RFC 2046).
    bool digest = gNextMultipartIsDigest;
    gNextMultipartIsDigest = false;
    PartHeader h;
    for (;;) {
        ResetPart(&h, charset);
        int header = ReadPartHeader(stream, boundary[0] ? closeDelim : "\x01", &h, record);
        if (header != WALK_NEXT_PART) return header;
        if (digest && !h.mediaType[0] && gEmbeddedMsgCount < MIME_MAX_EMBEDDED_MSGS) h.isEmbeddedMessage = true;
        if (h.isEmbeddedMessage && h.isAttachment) {
            h.isEmbeddedMessage = false;
            com_strncpy(h.name, "Message.eml", MIME_PART_NAME_LEN);
        }
        if (h.innerBoundary[0]) {
            int nested = WalkNestedMultipart(record, h, boundary, enclosingBoundary, tempDir, stream);
            if (nested == WALK_FAILED) return WALK_FAILED;
            if (nested == WALK_NEXT_PART) continue;
        } else if (h.isEmbeddedMessage && gNestLevel >= MIME_MAX_NEST_LEVEL) {
            KeepTooDeepMessage(record, &h.classCode, h.name, sizeof(h.name));
        } else if (h.isEmbeddedMessage) {
            int embedded = ParseEmbeddedPart(record, h, boundary, tempDir, stream);
            if (embedded != WALK_NEXT_PART) return embedded;
            continue;
        }
        int leaf = StoreLeafPart(record, &h, boundary, enclosingBoundary, tempDir, stream);
        if (leaf != WALK_NEXT_PART) return leaf;
    }
}
