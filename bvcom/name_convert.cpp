// com_NameConvert: splits a person's full name into first, last and other
// names, or turns a bare name into an address line of a mail domain.
//
// Splitting ("/fn/ln"):
//   "Last, First Middle"      -> first "First", last "Last", rest "Middle"
//   "First Middle Last"       -> first "First", last "Last", rest "Middle"
//   "Dr. Ludwig van Beethoven Jr." -> first "Ludwig", last "van Beethoven",
//                                rest "Dr. Jr." (titles and suffixes)
//   "Cher"                    -> first "Cher"
// Blanks (spaces, tabs) are collapsed and surrounding quotes removed.
//
// Address line (mode = a domain): "John Smith" with "example.com" gives
// out1 "John Smith", out2 "John.Smith@example.com" and out3
// "\"John Smith\" <John.Smith@example.com>". A directory name such as
// "/o=Org/ou=Site/cn=Recipients/cn=jsmith" uses its last "cn=" value. The
// local part keeps the characters an unquoted address may hold; letters with
// accents lose them ("Jörg" -> "Jorg") through ICU's Latin-ASCII rules.
#include <string.h>
#include <strings.h>

#include <unicode/utrans.h>
#include <unicode/ustring.h>

#include "record/com.h"

namespace {

constexpr int kMaxNameWords = 64;  // words of one name considered; the rest joins the last
constexpr size_t kWorkLen = BV_NAME_LEN;

struct NameWords {
    char text[kWorkLen];           // the cleaned name; words are cut in place
    const char *word[kMaxNameWords];
    int count;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Copies src into out, trimmed, blanks collapsed to one space, enclosing
// double quotes (or single quotes) removed.
void CleanName(const char *src, char *out, size_t outCap) {
    size_t n = 0;
    bool pendingSpace = false;
    for (const char *p = src; *p && n + 1 < outCap; ++p) {
        if (IsBlank(*p)) {
            pendingSpace = n > 0;
            continue;
        }
        if (pendingSpace && n + 2 < outCap) out[n++] = ' ';
        pendingSpace = false;
        out[n++] = *p;
    }
    out[n] = 0;
    while (n >= 2 && ((out[0] == '"' && out[n - 1] == '"') || (out[0] == '\'' && out[n - 1] == '\''))) {
        memmove(out, out + 1, n - 2);
        n -= 2;
        out[n] = 0;
        while (n > 0 && out[n - 1] == ' ') out[--n] = 0;
        size_t lead = 0;
        while (out[lead] == ' ') ++lead;
        if (lead) {
            memmove(out, out + lead, n - lead + 1);
            n -= lead;
        }
    }
}

// Splits text (already cleaned) at spaces into words, in place.
void SplitWords(NameWords *w) {
    w->count = 0;
    char *p = w->text;
    while (*p) {
        while (*p == ' ') ++p;
        if (!*p) break;
        if (w->count == kMaxNameWords) break;  // the rest stays inside the last word
        w->word[w->count++] = p;
        char *end = strchr(p, ' ');
        if (!end || w->count == kMaxNameWords) break;
        *end = 0;
        p = end + 1;
    }
}

bool WordIn(const char *word, const char *const *list) {
    for (; *list; ++list)
        if (strcasecmp(word, *list) == 0) return true;
    return false;
}

const char *const kTitles[] = {"Mr",   "Mr.",   "Mrs",  "Mrs.", "Ms",  "Ms.",  "Miss", "Dr",   "Dr.",
                               "Prof", "Prof.", "Herr", "Frau", "Sir", "Mme",  "Mme.", "Mlle", nullptr};
const char *const kSuffixes[] = {"Jr",   "Jr.", "Sr", "Sr.", "II",   "III",  "IV",   "PhD", "Ph.D.",
                                 "MD",   "M.D.", "Esq", "Esq.", "MBA", "DDS", nullptr};
// Lower-case particles that belong to the last name that follows them.
const char *const kParticles[] = {"van", "von", "der", "den", "de",  "del", "della", "di",
                                  "da",  "du",  "la",  "le",  "ten", "ter", "zu",    "dos", nullptr};

bool IsParticle(const char *word) {
    return word[0] >= 'a' && word[0] <= 'z' && WordIn(word, kParticles);
}

// Appends word to a space-separated list in out (BV_NAME_LEN bytes).
void AppendWord(char *out, const char *word) {
    size_t len = strlen(out);
    if (len && len + 1 < BV_NAME_LEN) {
        out[len++] = ' ';
        out[len] = 0;
    }
    if (len + 1 < BV_NAME_LEN) com_strncpy(out + len, word, BV_NAME_LEN - 1 - len);
}

// Words [from, to) of w joined with spaces, appended to out.
void AppendRange(char *out, const NameWords *w, int from, int to) {
    for (int i = from; i < to; ++i) AppendWord(out, w->word[i]);
}

// "First Middle Last" order.
void SplitNatural(NameWords *w, char *first, char *last, char *rest) {
    int lo = 0, hi = w->count;  // [lo, hi) holds the name proper
    while (hi - lo > 1 && WordIn(w->word[lo], kTitles)) AppendWord(rest, w->word[lo++]);
    int suffixFrom = hi;
    while (suffixFrom - lo > 1 && WordIn(w->word[suffixFrom - 1], kSuffixes)) --suffixFrom;
    hi = suffixFrom;
    if (hi - lo == 1) {
        com_strncpy(first, w->word[lo], BV_NAME_LEN - 1);
    } else if (hi - lo >= 2) {
        com_strncpy(first, w->word[lo], BV_NAME_LEN - 1);
        int lastFrom = hi - 1;
        while (lastFrom - 1 > lo && IsParticle(w->word[lastFrom - 1])) --lastFrom;
        AppendRange(last, w, lastFrom, hi);
        AppendRange(rest, w, lo + 1, lastFrom);
    }
    AppendRange(rest, w, suffixFrom, w->count);
}

// "Last, First Middle" order; text holds the part after the comma.
void SplitInverted(const char *lastPart, NameWords *w, char *first, char *last, char *rest) {
    com_strncpy(last, lastPart, BV_NAME_LEN - 1);
    int lo = 0;
    while (lo < w->count && WordIn(w->word[lo], kTitles)) AppendWord(rest, w->word[lo++]);
    if (lo < w->count) com_strncpy(first, w->word[lo++], BV_NAME_LEN - 1);
    AppendRange(rest, w, lo, w->count);
}

int SplitFullName(const char *name, char *first, char *last, char *rest) {
    first[0] = last[0] = rest[0] = 0;
    NameWords w;
    CleanName(name, w.text, sizeof w.text);
    char *comma = strchr(w.text, ',');
    if (comma) {
        // "Smith, Jr." is a suffix, not an inverted name.
        NameWords after;
        CleanName(comma + 1, after.text, sizeof after.text);
        SplitWords(&after);
        bool suffixOnly = after.count > 0;
        for (int i = 0; i < after.count; ++i) suffixOnly = suffixOnly && WordIn(after.word[i], kSuffixes);
        *comma = 0;
        char lastPart[kWorkLen];
        CleanName(w.text, lastPart, sizeof lastPart);
        if (!lastPart[0]) {
            SplitNatural(&after, first, last, rest);
        } else if (suffixOnly) {
            com_strncpy(w.text, lastPart, sizeof w.text - 1);
            SplitWords(&w);
            SplitNatural(&w, first, last, rest);
            for (int i = 0; i < after.count; ++i) AppendWord(rest, after.word[i]);
        } else {
            SplitInverted(lastPart, &after, first, last, rest);
        }
    } else {
        SplitWords(&w);
        SplitNatural(&w, first, last, rest);
    }
    return first[0] || last[0];
}

// Plain-ASCII form of UTF-8 text through ICU ("Jörg" -> "Jorg"); false when
// ICU cannot do it.
bool Transliterate(const char *text, char *out, size_t outCap) {
    // Building the rules is costly: one transliterator serves the process.
    static UTransliterator *trans = [] {
        static const UChar kRules[] = u"Any-Latin; Latin-ASCII";
        UErrorCode openErr = U_ZERO_ERROR;
        UTransliterator *t = utrans_openU(kRules, -1, UTRANS_FORWARD, nullptr, 0, nullptr, &openErr);
        return U_SUCCESS(openErr) ? t : nullptr;
    }();
    if (!trans) return false;
    UErrorCode err = U_ZERO_ERROR;
    constexpr int kCap = BV_NAME_LEN * 2;
    UChar buf[kCap];
    int32_t len = 0;
    u_strFromUTF8Lenient(buf, kCap - 1, &len, text, -1, &err);
    bool ok = U_SUCCESS(err) && len < kCap;
    if (ok) {
        int32_t limit = len;
        utrans_transUChars(trans, buf, &len, kCap - 1, 0, &limit, &err);
        ok = U_SUCCESS(err);
    }
    if (!ok) return false;
    size_t n = 0;
    for (int32_t i = 0; i < len && n + 1 < outCap; ++i)
        if (buf[i] < 0x80) out[n++] = (char)buf[i];
    out[n] = 0;
    return true;
}

bool IsAtomChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c && strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

// Local part of an address from a display name: blanks become dots, other
// characters outside an atom are dropped, dots never double or end it.
void LocalPartFromName(const char *name, char *out, size_t outCap) {
    char ascii[kWorkLen];
    if (!Transliterate(name, ascii, sizeof ascii)) com_strncpy(ascii, name, sizeof ascii - 1);
    size_t n = 0;
    for (const char *p = ascii; *p && n + 1 < outCap; ++p) {
        char c = *p;
        if (IsBlank(c) || c == '.') {
            if (n > 0 && out[n - 1] != '.') out[n++] = '.';
        } else if (IsAtomChar(c)) {
            out[n++] = c;
        }
    }
    while (n > 0 && out[n - 1] == '.') --n;
    out[n] = 0;
}

// "/o=Org/ou=Site/cn=Recipients/cn=jsmith" -> "jsmith"; other names unchanged.
const char *DirectoryNameValue(const char *name) {
    if (name[0] != '/') return name;
    const char *found = nullptr;
    for (const char *p = name; (p = com_stristr(p, "/cn=", 0)) != nullptr; p += 4) found = p + 4;
    return found && *found ? found : name;
}

int BuildAddressLine(const char *name, const char *domain, char *display, char *addr, char *line) {
    display[0] = addr[0] = line[0] = 0;
    char cleaned[kWorkLen];
    CleanName(DirectoryNameValue(name), cleaned, sizeof cleaned);
    while (*domain == '@' || IsBlank(*domain)) ++domain;
    char local[BV_ADDR_LEN];
    LocalPartFromName(cleaned, local, sizeof local);
    com_strncpy(display, cleaned, BV_NAME_LEN - 1);
    if (!local[0] || !domain[0]) return 0;
    // The address stays within an address field of the record.
    size_t n = 0;
    for (const char *p = local; *p && n + 1 < BV_ADDR_LEN; ++p) addr[n++] = *p;
    if (n + 1 < BV_ADDR_LEN) addr[n++] = '@';
    for (const char *p = domain; *p && !IsBlank(*p) && n + 1 < BV_ADDR_LEN; ++p) addr[n++] = *p;
    addr[n] = 0;
    size_t addrLen = n;
    // The display name as a quoted string, quotes and backslashes escaped,
    // cut where the address would no longer fit: '"' name '"' ' ' '<' addr '>'.
    const size_t nameLimit = BV_NAME_LEN - addrLen - 5;
    n = 0;
    line[n++] = '"';
    for (const char *p = cleaned; *p; ++p) {
        bool escape = *p == '"' || *p == '\\';
        if (n + (escape ? 2 : 1) > nameLimit) break;
        if (escape) line[n++] = '\\';
        line[n++] = *p;
    }
    line[n++] = '"';
    line[n++] = ' ';
    line[n++] = '<';
    memcpy(line + n, addr, addrLen);
    n += addrLen;
    line[n++] = '>';
    line[n] = 0;
    return 1;
}

}  // namespace

BVCOM_API int com_NameConvert(const char *name, const char *mode, char *out1, char *out2, char *out3, int flags) {
    (void)flags;
    if (!out1 || !out2 || !out3) return 0;
    out1[0] = out2[0] = out3[0] = 0;
    if (!name || !mode) return 0;
    if (strcasecmp(mode, "/fn/ln") == 0) return SplitFullName(name, out1, out2, out3);
    return BuildAddressLine(name, mode, out1, out2, out3);
}
