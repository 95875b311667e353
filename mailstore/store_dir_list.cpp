// What a directory-per-message store scan and reader look at: the entries of
// one directory, and the kind of a message file.
#include <string.h>

#include <algorithm>

#include "mailstore/mail_reader.h"
#include "mailstore/store_dir.h"
#include "platform/platform.h"

namespace {

const int kContentScanLines = 1000;     // physical lines of a message looked at
const size_t kContentLineLen = 4096;    // one unfolded header line
const size_t kEntryNameUtf8Len = 512 * 3 + 1;  // a 512-unit UTF-16 name as UTF-8

// Reads one physical line without its line end; a longer line is cut and
// its rest skipped. false at the end of the file.
bool ReadPhysicalLine(FILE *file, char *out, size_t cap) {
    if (!fgets(out, (int)cap, file)) return false;
    size_t length = strlen(out);
    if (length > 0 && out[length - 1] == '\n') {
        out[--length] = '\0';
    } else {
        int c;
        while ((c = getc(file)) != EOF && c != '\n') {
        }
    }
    if (length > 0 && out[length - 1] == '\r') out[--length] = '\0';
    return true;
}

// One header line with its continuation lines joined (RFC 822 unfolding).
bool ReadUnfoldedLine(FILE *file, char *out, size_t cap, int *linesRead) {
    if (!ReadPhysicalLine(file, out, cap)) return false;
    ++*linesRead;
    char more[kContentLineLen];
    while (*linesRead < kContentScanLines) {
        int c = getc(file);
        if (c != EOF) ungetc(c, file);
        if (c != ' ' && c != '\t') break;
        if (!ReadPhysicalLine(file, more, sizeof more)) break;
        ++*linesRead;
        size_t length = strlen(out);
        if (length + 1 < cap) com_strncpy(out + length, more, cap - length - 1);
    }
    return true;
}

bool ContainsNoCase(const char *text, const char *pattern) { return com_stristr(text, pattern, 0) != nullptr; }

// The class a Content-Type value decides, or -1 for a type that says nothing
// about the folder (multipart containers, attachments, a calendar body
// without a component).
int ClassOfContentType(const char *value) {
    if (ContainsNoCase(value, "text/x-vcard") || ContainsNoCase(value, "text/vcard")) return BV_CLASS_CONTACTS;
    if (ContainsNoCase(value, "component=\"vevent\"") || ContainsNoCase(value, "component=vevent"))
        return BV_CLASS_CALENDAR;
    if (ContainsNoCase(value, "component=\"vtodo\"") || ContainsNoCase(value, "component=vtodo"))
        return BV_CLASS_TASKS;
    if (ContainsNoCase(value, "text/plain") || ContainsNoCase(value, "text/html")) return BV_CLASS_MAIL;
    return -1;
}

}  // namespace

bool StoreNameOrder(const std::string &a, const std::string &b) {
    int byCase = strcasecmp(a.c_str(), b.c_str());
    return byCase != 0 ? byCase < 0 : a < b;
}

StoreListResult ListStoreEntries(const char *dirWithSep, const char *mask, StoreEntryKind kind,
                                 std::vector<std::string> *names) {
    std::string pattern = std::string(dirWithSep) + mask;
    std::vector<WCHAR> widePattern(pattern.size() + 1);
    if (plat_MultiByteToWideChar(CP_UTF8, pattern.c_str(), -1, widePattern.data(), (int)widePattern.size()) <= 0)
        return STORE_LIST_FAILED;
    PlatFindDataW entry;
    PlatFind *find = plat_FindFirstFileW(widePattern.data(), &entry);
    if (!find) {
        uint32_t error = plat_GetLastError();
        return error == BV_ERROR_FILE_NOT_FOUND || error == BV_ERROR_PATH_NOT_FOUND ? STORE_LISTED : STORE_LIST_FAILED;
    }
    do {
        if ((kind == STORE_DIRECTORIES) != (entry.isDirectory != 0)) continue;
        char name[kEntryNameUtf8Len];
        if (plat_WideCharToMultiByte(CP_UTF8, entry.name, -1, name, (int)sizeof name) <= 0) continue;
        names->push_back(name);
    } while (plat_FindNextFileW(find, &entry));
    plat_FindClose(find);
    std::sort(names->begin(), names->end(), StoreNameOrder);
    return STORE_LISTED;
}

// The first Content-Type that decides wins. A message whose own header has
// no Content-Type is plain text (RFC 2045), so mail; a multipart message is
// decided by the first part type that says something.
int StoreMessageClass(const char *path) {
    FILE *file = plat_fopen(path, "rb");
    if (!file) return -1;
    char line[kContentLineLen];
    int linesRead = 0;
    bool inMessageHeader = true, headerHadType = false;
    int found = -1;
    while (linesRead < kContentScanLines && ReadUnfoldedLine(file, line, sizeof line, &linesRead)) {
        if (inMessageHeader && !line[0]) {
            inMessageHeader = false;
            if (!headerHadType) {
                found = BV_CLASS_MAIL;
                break;
            }
            continue;
        }
        if (!MailTextEqualNoCase(line, "Content-Type:", 13)) continue;
        headerHadType = headerHadType || inMessageHeader;
        found = ClassOfContentType(line + 13);
        if (found != -1) break;
    }
    fclose(file);
    return found;
}
