// Charset names <-> Windows code pages, and in-place conversion of a text
// between code pages.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <stdio.h>
#include <unicode/ucnv.h>
#include <vector>

#include "bvcom/library_state.h"
#include "platform/platform.h"

struct CharsetName {
    const char *name;
    int codepage;
};

// The first name of a code page is the one written into messages.
static const CharsetName kCharsets[] = {
    {"us-ascii", 20127}, {"ascii", 20127}, {"ansi_x3.4-1968", 20127}, {"iso646-us", 20127}, {"us", 20127},
    {"iso-8859-1", 28591}, {"iso8859-1", 28591}, {"iso_8859-1", 28591}, {"latin1", 28591}, {"l1", 28591},
    {"iso-ir-100", 28591}, {"cp819", 28591}, {"ibm819", 28591},
    {"iso-8859-2", 28592}, {"iso8859-2", 28592}, {"iso_8859-2", 28592}, {"latin2", 28592}, {"l2", 28592},
    {"iso-8859-3", 28593}, {"iso8859-3", 28593}, {"iso_8859-3", 28593}, {"latin3", 28593},
    {"iso-8859-4", 28594}, {"iso8859-4", 28594}, {"iso_8859-4", 28594}, {"latin4", 28594},
    {"iso-8859-5", 28595}, {"iso8859-5", 28595}, {"iso_8859-5", 28595}, {"cyrillic", 28595},
    {"iso-8859-6", 28596}, {"iso8859-6", 28596}, {"iso_8859-6", 28596}, {"arabic", 28596},
    {"iso-8859-7", 28597}, {"iso8859-7", 28597}, {"iso_8859-7", 28597}, {"greek", 28597},
    {"iso-8859-8", 28598}, {"iso8859-8", 28598}, {"iso_8859-8", 28598}, {"hebrew", 28598}, {"visual", 28598},
    {"iso-8859-8-i", 38598}, {"logical", 38598},
    {"iso-8859-9", 28599}, {"iso8859-9", 28599}, {"iso_8859-9", 28599}, {"latin5", 28599},
    {"iso-8859-10", 28600}, {"iso8859-10", 28600}, {"latin6", 28600},
    {"iso-8859-11", 28601}, {"iso8859-11", 28601}, {"tis-620", 28601},
    {"iso-8859-13", 28603}, {"iso8859-13", 28603}, {"latin7", 28603},
    {"iso-8859-14", 28604}, {"iso8859-14", 28604}, {"latin8", 28604},
    {"iso-8859-15", 28605}, {"iso8859-15", 28605}, {"iso_8859-15", 28605}, {"latin-9", 28605}, {"latin9", 28605},
    {"iso-8859-16", 28606}, {"iso8859-16", 28606}, {"latin10", 28606},
    {"windows-1250", 1250}, {"cp1250", 1250}, {"x-cp1250", 1250},
    {"windows-1251", 1251}, {"cp1251", 1251}, {"x-cp1251", 1251},
    {"windows-1252", 1252}, {"cp1252", 1252}, {"x-cp1252", 1252},
    {"windows-1253", 1253}, {"cp1253", 1253},
    {"windows-1254", 1254}, {"cp1254", 1254},
    {"windows-1255", 1255}, {"cp1255", 1255},
    {"windows-1256", 1256}, {"cp1256", 1256},
    {"windows-1257", 1257}, {"cp1257", 1257},
    {"windows-1258", 1258}, {"cp1258", 1258},
    {"windows-874", 874}, {"cp874", 874},
    {"utf-8", 65001}, {"utf8", 65001}, {"unicode-1-1-utf-8", 65001},
    {"utf-7", 65000}, {"utf7", 65000}, {"unicode-1-1-utf-7", 65000},
    {"utf-16", 1200}, {"utf-16le", 1200}, {"unicode", 1200}, {"utf-16be", 1201}, {"unicodefffe", 1201},
    {"utf-32", 12000}, {"utf-32le", 12000}, {"utf-32be", 12001},
    {"koi8-r", 20866}, {"koi8r", 20866}, {"koi8", 20866}, {"csKOI8R", 20866},
    {"koi8-u", 21866}, {"koi8u", 21866}, {"koi8-ru", 21866},
    {"iso-2022-jp", 50220}, {"csiso2022jp", 50220}, {"iso-2022-jp-2", 50220},
    {"iso-2022-kr", 50225}, {"csiso2022kr", 50225},
    {"shift_jis", 932}, {"shift-jis", 932}, {"sjis", 932}, {"x-sjis", 932}, {"ms_kanji", 932}, {"cp932", 932},
    {"windows-31j", 932}, {"csshiftjis", 932},
    {"euc-jp", 51932}, {"eucjp", 51932}, {"x-euc-jp", 51932}, {"cseucpkdfmtjapanese", 51932},
    {"gb2312", 936}, {"gbk", 936}, {"cp936", 936}, {"x-gbk", 936}, {"windows-936", 936}, {"csgb2312", 936},
    {"euc-cn", 936}, {"x-euc-cn", 936},
    {"gb18030", 54936},
    {"hz-gb-2312", 52936},
    {"big5", 950}, {"big-5", 950}, {"cn-big5", 950}, {"x-x-big5", 950}, {"csbig5", 950}, {"cp950", 950},
    {"big5-hkscs", 950},
    {"ks_c_5601-1987", 949}, {"ks_c_5601", 949}, {"ks_c_5601-1989", 949}, {"ksc5601", 949}, {"ksc_5601", 949},
    {"cp949", 949}, {"windows-949", 949}, {"uhc", 949},
    {"euc-kr", 51949}, {"euckr", 51949}, {"cseuckr", 51949},
    {"ibm850", 850}, {"cp850", 850}, {"850", 850}, {"ibm-850", 850}, {"cspc850multilingual", 850},
    {"ibm437", 437}, {"cp437", 437}, {"437", 437},
    {"ibm852", 852}, {"cp852", 852},
    {"ibm855", 855}, {"cp855", 855},
    {"ibm857", 857}, {"cp857", 857},
    {"ibm00858", 858}, {"cp858", 858},
    {"ibm860", 860}, {"cp860", 860},
    {"ibm861", 861}, {"cp861", 861},
    {"dos-862", 862}, {"ibm862", 862}, {"cp862", 862},
    {"ibm863", 863}, {"cp863", 863},
    {"ibm864", 864}, {"cp864", 864},
    {"ibm865", 865}, {"cp865", 865},
    {"cp866", 866}, {"ibm866", 866},
    {"ibm869", 869}, {"cp869", 869},
    {"ibm737", 737}, {"cp737", 737},
    {"ibm775", 775}, {"cp775", 775},
    {"macintosh", 10000}, {"mac", 10000}, {"x-mac-roman", 10000},
    {"x-mac-cyrillic", 10007}, {"x-mac-ce", 10029},
};

static int CodepageOfName(const char *name) {
    for (const CharsetName &entry : kCharsets)
        if (strcasecmp(entry.name, name) == 0) return entry.codepage;
    return 0;
}

// ICU's canonical converter name of a charset name or alias ("" unknown).
static void IcuCanonical(const char *name, char *out, size_t outCap) {
    out[0] = 0;
    UErrorCode status = U_ZERO_ERROR;
    UConverter *conv = ucnv_open(name, &status);
    if (conv && U_SUCCESS(status)) {
        status = U_ZERO_ERROR;
        const char *canonical = ucnv_getName(conv, &status);
        if (U_SUCCESS(status) && canonical) com_strncpy(out, canonical, outCap - 1);
    }
    if (conv) ucnv_close(conv);
}

// A name ICU knows under another alias ("latin-1", "x-cp1251", ...): the code
// page whose converter is the same.
static int CodepageThroughIcu(const char *name) {
    char wanted[128], other[128];
    IcuCanonical(name, wanted, sizeof(wanted));
    if (!wanted[0]) return 0;
    int last = 0;
    for (const CharsetName &entry : kCharsets) {
        if (entry.codepage == last) continue;
        last = entry.codepage;
        const char *icu = plat_CodePageConverterName(entry.codepage);
        if (!icu) continue;
        IcuCanonical(icu, other, sizeof(other));
        if (strcmp(other, wanted) == 0) return entry.codepage;
    }
    return 0;
}

extern "C" {

BVCOM_API int com_iso_codepage(int codepage, char *name) {
    if (!name) return 0;
    if (codepage == 0) {
        char trimmed[BV_CHARSET_LEN * 2];
        com_strncpy(trimmed, name, sizeof(trimmed) - 1);
        com_delspaces(trimmed);
        com_Remove_Quotes(trimmed);
        if (!trimmed[0]) return 0;
        int found = CodepageOfName(trimmed);
        return found ? found : CodepageThroughIcu(trimmed);
    }
    for (const CharsetName &entry : kCharsets) {
        if (entry.codepage == codepage) {
            com_strncpy(name, entry.name, BV_CHARSET_LEN - 1);
            return codepage;
        }
    }
    name[0] = 0;
    return 0;
}

// Returns the new length, or -1 (text unchanged) when a code page is unknown.
BVCOM_API int com_CodepageToWindows(char *text, int fromCodepage, int toCodepage, size_t capacity) {
    if (!text || capacity == 0) return -1;
    size_t len = strnlen(text, capacity - 1);
    text[len] = 0;
    if (fromCodepage == toCodepage || len == 0) return (int)len;
    int units = plat_MultiByteToWideChar(fromCodepage, text, (int)len, nullptr, 0);
    if (units <= 0) return -1;
    std::vector<WCHAR> wide((size_t)units);
    if (plat_MultiByteToWideChar(fromCodepage, text, (int)len, wide.data(), units) != units) return -1;
    int bytes = plat_WideCharToMultiByte(toCodepage, wide.data(), units, nullptr, 0);
    if (bytes <= 0) return -1;
    std::vector<char> out((size_t)bytes);
    if (plat_WideCharToMultiByte(toCodepage, wide.data(), units, out.data(), bytes) != bytes) return -1;
    if ((size_t)bytes <= capacity - 1) {
        memcpy(text, out.data(), (size_t)bytes);
        text[bytes] = 0;
        return bytes;
    }
    // Too long: the longest prefix of whole characters that fits.
    int lo = 0, hi = units;  // lo fits, hi does not
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        int fit = plat_WideCharToMultiByte(toCodepage, wide.data(), mid, nullptr, 0);
        if (fit > 0 && (size_t)fit <= capacity - 1) lo = mid;
        else hi = mid;
    }
    if (lo > 0 && wide[lo] >= 0xDC00 && wide[lo] <= 0xDFFF) --lo;  // keep a surrogate pair whole
    int fit = lo > 0 ? plat_WideCharToMultiByte(toCodepage, wide.data(), lo, text, (int)capacity - 1) : 0;
    text[fit > 0 ? fit : 0] = 0;
    return fit > 0 ? fit : 0;
}

// The byte order of UTF-16 or UTF-32 text. A byte-order mark decides (and
// is skipped: it is no character of the text); a label that names the order
// comes next. Bare "utf-16" or "unicode" without a mark is read by where the
// zero bytes of its ASCII characters fall, since Windows writes it
// little-endian while the MIME default is big-endian.
static const char *WideOrder(int codepage, const char *label, const unsigned char *head, size_t n, size_t *skip) {
    bool wide32 = codepage == 12000 || codepage == 12001;
    const char *le = wide32 ? "UTF-32LE" : "UTF-16LE", *be = wide32 ? "UTF-32BE" : "UTF-16BE";
    *skip = 0;
    if (wide32 && n >= 4 && !memcmp(head, "\xFF\xFE\0\0", 4)) return *skip = 4, le;
    if (wide32 && n >= 4 && !memcmp(head, "\0\0\xFE\xFF", 4)) return *skip = 4, be;
    if (!wide32 && n >= 2 && head[0] == 0xFF && head[1] == 0xFE) return *skip = 2, le;
    if (!wide32 && n >= 2 && head[0] == 0xFE && head[1] == 0xFF) return *skip = 2, be;
    bool namesOrder = label && (strcasestr(label, "le") || strcasestr(label, "be") || strcasestr(label, "fffe"));
    if (namesOrder) return codepage == 1200 || codepage == 12000 ? le : be;
    size_t unit = wide32 ? 4 : 2, zeroLow = 0, zeroHigh = 0;
    for (size_t i = 0; i + unit <= n; i += unit) {
        zeroLow += head[i] == 0;
        zeroHigh += head[i + unit - 1] == 0;
    }
    return zeroHigh > zeroLow ? le : be;
}

BVCOM_API int bvcom_WideTextToUtf8(FILE *in, FILE *out, int codepage, const char *label) {
    static unsigned char block[65536];
    static char utf8[65536 * 2];
    static UChar pivot[4096];
    size_t got = fread(block, 1, sizeof(block), in), skip = 0;
    UErrorCode status = U_ZERO_ERROR;
    UConverter *from = ucnv_open(WideOrder(codepage, label, block, got, &skip), &status);
    UConverter *to = ucnv_open("UTF-8", &status);
    bool ok = U_SUCCESS(status);
    UChar *pivotSource = pivot, *pivotTarget = pivot;
    bool reset = true;
    while (ok) {
        bool last = got < sizeof(block) && feof(in);
        const char *source = (const char *)block + skip, *sourceEnd = (const char *)block + got;
        do {
            char *target = utf8;
            status = U_ZERO_ERROR;
            ucnv_convertEx(to, from, &target, utf8 + sizeof(utf8), &source, sourceEnd, pivot, &pivotSource,
                           &pivotTarget, pivot + 4096, reset, last, &status);
            reset = false;
            fwrite(utf8, 1, (size_t)(target - utf8), out);
        } while (status == U_BUFFER_OVERFLOW_ERROR);
        ok = U_SUCCESS(status);
        if (last) break;
        skip = 0;
        got = fread(block, 1, sizeof(block), in);
    }
    if (from) ucnv_close(from);
    if (to) ucnv_close(to);
    return ok ? 1 : 0;
}

}  // extern "C"
