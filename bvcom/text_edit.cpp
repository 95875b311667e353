// In-place text edits, bounded copies and searches on 8-bit texts.
#include <ctype.h>
#include <string.h>
#include <strings.h>
#include <string>

#include "bvcom/library_state.h"
#include "platform/platform.h"

static int IsBlank(char c) {
    return c == ' ' || c == '\t';
}

static int IsSpaceOrLineEnd(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

static void TrimTrailing(char *text, int (*drop)(char)) {
    size_t len = strlen(text);
    while (len > 0 && drop(text[len - 1])) text[--len] = 0;
}

static void TrimLeading(char *text, int (*drop)(char)) {
    size_t skip = 0;
    while (text[skip] && drop(text[skip])) ++skip;
    if (skip) memmove(text, text + skip, strlen(text + skip) + 1);
}

int bvcom_WildcardMatch(const char *pattern, const char *text) {
    const char *starPattern = nullptr, *starText = nullptr;
    while (*text) {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starText = text;
        } else if (*pattern == '?' ||
                   (*pattern && tolower((unsigned char)*pattern) == tolower((unsigned char)*text))) {
            ++pattern;
            ++text;
        } else if (starPattern) {
            pattern = starPattern;
            text = ++starText;
        } else {
            return 0;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

extern "C" {

BVCOM_API char *com_strncpy(char *dst, const char *src, size_t n) {
    if (!dst) return dst;
    if (!src) {
        dst[0] = 0;
        return dst;
    }
    size_t len = strnlen(src, n);
    memmove(dst, src, len);
    dst[len] = 0;
    return dst;
}

// The fields cut since the item's warning, one reader per thread.
static thread_local std::string tCutFields;

BVCOM_API int bvcom_CopyField(char *dst, const char *src, size_t limit, const char *field) {
    com_strncpy(dst, src, limit);
    if (!src || strnlen(src, limit + 1) <= limit) return 1;
    if (field && (", " + tCutFields + ", ").find(std::string(", ") + field + ", ") == std::string::npos) {
        if (!tCutFields.empty()) tCutFields += ", ";
        tCutFields += field;
    }
    return 0;
}

BVCOM_API void bvcom_WarnCutFields(const char *item) {
    if (tCutFields.empty()) return;
    com_Log("BV Warning: %.300s: cut to fit: %s", item ? item : "item", tCutFields.c_str());
    tCutFields.clear();
}

// Blanks, tabs and line ends.
BVCOM_API void com_ltrim(char *text) {
    if (text) TrimLeading(text, IsSpaceOrLineEnd);
}

BVCOM_API void com_rtrim(char *text) {
    if (text) TrimTrailing(text, IsSpaceOrLineEnd);
}

// Blanks and tabs at both ends of a header value; the blanks inside are the
// text's own and stay.
BVCOM_API void com_delspaces(char *text) {
    if (!text) return;
    TrimTrailing(text, IsBlank);
    TrimLeading(text, IsBlank);
}

// Enclosing double quotes (a doubled quote inside becomes one) or a pair of
// enclosing single quotes. A lone quote at either end is dropped as well.
BVCOM_API void com_Remove_Quotes(char *text) {
    if (!text || !text[0]) return;
    size_t len = strlen(text);
    if (len >= 2 && text[0] == '\'' && text[len - 1] == '\'') {
        memmove(text, text + 1, len - 2);
        text[len - 2] = 0;
        return;
    }
    bool leading = text[0] == '"';
    bool trailing = len > (leading ? 1u : 0u) && text[len - 1] == '"';
    if (trailing) text[--len] = 0;
    if (leading) {
        memmove(text, text + 1, len);
        --len;
    }
    if (leading && trailing) {
        size_t out = 0;
        for (size_t i = 0; i < len; ++i) {
            text[out++] = text[i];
            if (text[i] == '"' && text[i + 1] == '"') ++i;
        }
        text[out] = 0;
    }
}

// Every CR, and the line feeds at the end.
BVCOM_API void com_StripCR(char *text) {
    if (!text) return;
    size_t out = 0;
    for (size_t i = 0; text[i]; ++i)
        if (text[i] != '\r') text[out++] = text[i];
    text[out] = 0;
    while (out > 0 && text[out - 1] == '\n') text[--out] = 0;
}

// Ordinal 47: the line end and any blanks before it.
BVCOM_API void com_StripLineEnd(char *line) {
    if (line) TrimTrailing(line, IsSpaceOrLineEnd);
}

// Quoted pairs of a header text: \" becomes " and \\ becomes \. Any other
// backslash is text (a path in a subject stays as written).
BVCOM_API void com_Unescape(char *text) {
    if (!text) return;
    size_t out = 0;
    for (size_t i = 0; text[i]; ++i) {
        if (text[i] == '\\' && (text[i + 1] == '"' || text[i + 1] == '\\')) ++i;
        text[out++] = text[i];
    }
    text[out] = 0;
}

// Trailing path separators (either kind) go; a lone root separator stays.
BVCOM_API void com_DeSlash(char *text) {
    if (!text) return;
    size_t len = strlen(text);
    while (len > 1 && (text[len - 1] == '/' || text[len - 1] == '\\')) text[--len] = 0;
}

// Ordinal 35.
BVCOM_API char *com_stristr(const char *text, const char *pattern, int start) {
    if (!text || !pattern || start < 0) return nullptr;
    size_t textLen = strlen(text);
    if ((size_t)start > textLen) return nullptr;
    const char *p = text + start;
    size_t patLen = strlen(pattern);
    if (patLen == 0) return (char *)p;
    int first = tolower((unsigned char)pattern[0]);
    for (; *p; ++p) {
        if (tolower((unsigned char)*p) != first) continue;
        if (strncasecmp(p, pattern, patLen) == 0) return (char *)p;
    }
    return nullptr;
}

}  // extern "C"
