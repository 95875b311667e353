// Mail address lists: splitting a header value into entries and an entry into
// display name and address. Quoted strings, angle brackets and comments are
// honoured, so "Doe, John" <j@x> stays one entry; a group ("Team: a@x, b@y;")
// yields its members.
#include <string.h>
#include "record/com.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Copies [s, s+n) trimmed of blanks into out (capacity cap, terminated).
void CopyTrimmed(const char *s, size_t n, char *out, size_t cap) {
    while (n > 0 && IsBlank(*s)) s++, n--;
    while (n > 0 && IsBlank(s[n - 1])) n--;
    if (n >= cap) n = cap - 1;
    memcpy(out, s, n);
    out[n] = 0;
}

// A display name without its surrounding quotes and backslash escapes.
void CleanDisplayName(char *name) {
    size_t n = strlen(name);
    if (n >= 2 && ((name[0] == '"' && name[n - 1] == '"') || (name[0] == '\'' && name[n - 1] == '\''))) {
        memmove(name, name + 1, n - 2);
        name[n - 2] = 0;
    }
    char *w = name;
    for (const char *r = name; *r; r++) {
        if (*r == '\\' && r[1]) r++;
        *w++ = *r;
    }
    *w = 0;
    n = strlen(name);
    while (n > 0 && IsBlank(name[n - 1])) name[--n] = 0;
    size_t lead = 0;
    while (IsBlank(name[lead])) lead++;
    if (lead) memmove(name, name + lead, n - lead + 1);
}

// Finds the first occurrence of c outside quoted strings and comments.
const char *FindTopLevel(const char *s, char c) {
    bool quoted = false;
    int comment = 0;
    for (const char *p = s; *p; p++) {
        if (*p == '\\' && p[1]) {
            p++;
            continue;
        }
        if (quoted) {
            if (*p == '"') quoted = false;
            continue;
        }
        if (comment) {
            if (*p == '(') comment++;
            else if (*p == ')') comment--;
            continue;
        }
        if (*p == c) return p;
        if (*p == '"') quoted = true;
        else if (*p == '(') comment = 1;
    }
    return nullptr;
}

}  // namespace

BVCOM_API void com_ExtractMIMEAddr(const char *text, char *nameOut, char *addrOut) {
    if (nameOut) nameOut[0] = 0;
    if (addrOut) addrOut[0] = 0;
    if (!text || !nameOut || !addrOut) return;
    const char *lt = FindTopLevel(text, '<');
    if (lt) {
        const char *gt = strchr(lt + 1, '>');
        size_t addrLen = gt ? (size_t)(gt - lt - 1) : strlen(lt + 1);
        CopyTrimmed(lt + 1, addrLen, addrOut, BV_ADDR_LEN);
        CopyTrimmed(text, (size_t)(lt - text), nameOut, BV_NAME_LEN);
        if (!nameOut[0] && gt) {
            // "<a@x> (Name)": the comment names the sender
            const char *open = strchr(gt, '(');
            const char *close = open ? strrchr(open, ')') : nullptr;
            if (open && close) CopyTrimmed(open + 1, (size_t)(close - open - 1), nameOut, BV_NAME_LEN);
        }
        CleanDisplayName(nameOut);
        return;
    }
    const char *open = FindTopLevel(text, '(');
    if (open) {
        // "a@x (Name)"
        const char *close = strrchr(open, ')');
        size_t commentLen = close && close > open ? (size_t)(close - open - 1) : strlen(open + 1);
        CopyTrimmed(open + 1, commentLen, nameOut, BV_NAME_LEN);
        CopyTrimmed(text, (size_t)(open - text), addrOut, BV_ADDR_LEN);
        CleanDisplayName(nameOut);
        return;
    }
    char whole[BV_NAME_LEN];
    CopyTrimmed(text, strlen(text), whole, sizeof(whole));
    if (strchr(whole, '@') || !strchr(whole, ' ')) {
        com_strncpy(addrOut, whole, BV_ADDR_LEN - 1);
    } else {
        com_strncpy(nameOut, whole, BV_NAME_LEN - 1);
        CleanDisplayName(nameOut);
    }
}

BVCOM_API int com_Extract_Adr(const char **cursor, char *entryOut) {
    if (entryOut) entryOut[0] = 0;
    if (!cursor || !*cursor || !entryOut || !**cursor) return 0;
    const char *start = *cursor;
    const char *p = start;
    bool quoted = false;
    int comment = 0, angle = 0;
    for (; *p; p++) {
        if (*p == '\\' && p[1]) {
            p++;
            continue;
        }
        if (quoted) {
            if (*p == '"') quoted = false;
            continue;
        }
        if (comment) {
            if (*p == '(') comment++;
            else if (*p == ')') comment--;
            continue;
        }
        if (*p == '"') quoted = true;
        else if (*p == '(') comment = 1;
        else if (*p == '<') angle = 1;
        else if (*p == '>') angle = 0;
        else if (!angle && (*p == ',' || *p == ';')) break;
        else if (!angle && *p == ':') start = p + 1;  // group name: its members follow
    }
    CopyTrimmed(start, (size_t)(p - start), entryOut, BV_ADR_ENTRY_LEN);
    *cursor = *p ? p + 1 : p;
    return 1;
}
