// MultiByteToWideChar / WideCharToMultiByte for Windows code-page numbers.
// 28591 (the ANSI code page here) maps each byte to the same code unit, so
// every byte 0x00-0xFF survives a round trip; 65001 goes through ICU's UTF-8
// routines; every other code page through an ICU converter.
#include <string.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "platform/platform.h"

struct CodePageName {
    int codepage;
    const char *icuName;
};

// Windows code page -> ICU converter name.
static const CodePageName kCodePages[] = {
    {20127, "US-ASCII"},       {28591, "ISO-8859-1"},      {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},     {28595, "ISO-8859-5"},      {28596, "ISO-8859-6"},   {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},     {38598, "ISO-8859-8"},      {28599, "ISO-8859-9"},   {28600, "ISO-8859-10"},
    {28601, "ISO-8859-11"},    {28603, "ISO-8859-13"},     {28604, "ISO-8859-14"},  {28605, "ISO-8859-15"},
    {28606, "ISO-8859-16"},    {1250, "windows-1250"},     {1251, "windows-1251"},  {1252, "windows-1252"},
    {1253, "windows-1253"},    {1254, "windows-1254"},     {1255, "windows-1255"},  {1256, "windows-1256"},
    {1257, "windows-1257"},    {1258, "windows-1258"},     {874, "windows-874"},    {932, "windows-31j"},
    {936, "windows-936"},      {949, "windows-949"},       {950, "windows-950"},    {54936, "GB18030"},
    {20936, "GB2312"},         {52936, "HZ-GB-2312"},      {51932, "EUC-JP"},       {20932, "EUC-JP"},
    {51949, "EUC-KR"},         {50220, "ISO-2022-JP"},     {50221, "ISO-2022-JP"},  {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},    {20866, "KOI8-R"},          {21866, "KOI8-U"},       {65000, "UTF-7"},
    {1200, "UTF-16LE"},        {1201, "UTF-16BE"},         {12000, "UTF-32LE"},     {12001, "UTF-32BE"},
    {437, "ibm-437"},          {737, "ibm-737"},           {775, "ibm-775"},        {850, "ibm-850"},
    {852, "ibm-852"},          {855, "ibm-855"},           {857, "ibm-857"},        {858, "ibm-858"},
    {860, "ibm-860"},          {861, "ibm-861"},           {862, "ibm-862"},        {863, "ibm-863"},
    {864, "ibm-864"},          {865, "ibm-865"},           {866, "ibm-866"},        {869, "ibm-869"},
    {10000, "macintosh"},      {10007, "x-mac-cyrillic"},  {10029, "x-mac-centraleurroman"},
};

static const char *IcuNameOf(int codepage) {
    for (const CodePageName &entry : kCodePages)
        if (entry.codepage == codepage) return entry.icuName;
    return nullptr;
}

// Converter for a code page; unknown numbers are tried as ICU's "cp<n>".
static UConverter *OpenConverter(int codepage) {
    UErrorCode status = U_ZERO_ERROR;
    const char *name = IcuNameOf(codepage);
    char fallback[32];
    if (!name) {
        snprintf(fallback, sizeof(fallback), "cp%d", codepage);
        name = fallback;
    }
    UConverter *conv = ucnv_open(name, &status);
    if (U_FAILURE(status)) {
        if (conv) ucnv_close(conv);
        return nullptr;
    }
    return conv;
}

static int SourceLength(const char *src, int srcLen) {
    return srcLen < 0 ? (int)strlen(src) + 1 : srcLen;
}

static int WideLength(const WCHAR *src, int srcLen) {
    if (srcLen >= 0) return srcLen;
    int n = 0;
    while (src[n]) ++n;
    return n + 1;
}

extern "C" {

const char *plat_CodePageConverterName(int codepage) {
    return IcuNameOf(codepage);
}

int plat_GetACP(void) {
    return CP_ACP_ISO;
}

int plat_IsValidCodePage(int codepage) {
    if (codepage == CP_UTF8 || codepage == CP_ACP_ISO) return 1;
    UConverter *conv = OpenConverter(codepage);
    if (!conv) return 0;
    ucnv_close(conv);
    return 1;
}

int plat_MultiByteToWideChar(int codepage, const char *src, int srcLen, WCHAR *dst, int dstCap) {
    if (!src || dstCap < 0 || (dstCap > 0 && !dst)) return 0;
    int len = SourceLength(src, srcLen);
    if (len == 0) return 0;
    if (codepage == 0) codepage = CP_ACP_ISO;
    if (codepage == CP_ACP_ISO) {
        if (dstCap == 0) return len;
        if (dstCap < len) return 0;
        for (int i = 0; i < len; ++i) dst[i] = (WCHAR)(unsigned char)src[i];
        return len;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    if (codepage == CP_UTF8) {
        u_strFromUTF8WithSub(dstCap ? dst : nullptr, dstCap, &needed, src, len, 0xFFFD, nullptr, &status);
    } else {
        UConverter *conv = OpenConverter(codepage);
        if (!conv) return 0;
        needed = ucnv_toUChars(conv, dstCap ? dst : nullptr, dstCap, src, len, &status);
        ucnv_close(conv);
    }
    if (dstCap == 0) return (status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) ? needed : 0;
    if (U_FAILURE(status)) return 0;
    return needed;
}

int plat_WideCharToMultiByte(int codepage, const WCHAR *src, int srcLen, char *dst, int dstCap) {
    if (!src || dstCap < 0 || (dstCap > 0 && !dst)) return 0;
    int len = WideLength(src, srcLen);
    if (len == 0) return 0;
    if (codepage == 0) codepage = CP_ACP_ISO;
    if (codepage == CP_ACP_ISO) {
        if (dstCap == 0) return len;
        if (dstCap < len) return 0;
        for (int i = 0; i < len; ++i) dst[i] = src[i] <= 0xFF ? (char)src[i] : '?';
        return len;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    if (codepage == CP_UTF8) {
        u_strToUTF8WithSub(dstCap ? dst : nullptr, dstCap, &needed, src, len, 0xFFFD, nullptr, &status);
    } else {
        UConverter *conv = OpenConverter(codepage);
        if (!conv) return 0;
        ucnv_setSubstChars(conv, "?", 1, &status);
        status = U_ZERO_ERROR;
        needed = ucnv_fromUChars(conv, dstCap ? dst : nullptr, dstCap, src, len, &status);
        ucnv_close(conv);
    }
    if (dstCap == 0) return (status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) ? needed : 0;
    if (U_FAILURE(status)) return 0;
    return needed;
}

}  // extern "C"
