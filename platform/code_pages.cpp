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
    {1250, "windows-1250"},     {1251, "windows-1251"},  {1252, "windows-1252"},
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

// ISO-8859-16 (code page 28606), which ICU's data lacks: bytes 0xA0-0xFF;
// the bytes below are those of ISO-8859-1.
static const char16_t kIso8859_16High[96] = {
    0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x0218, 0x00AB, 0x0179, 0x00AD,
    0x017A, 0x017B, 0x00B0, 0x00B1, 0x010C, 0x0142, 0x017D, 0x201D, 0x00B6, 0x00B7, 0x017E, 0x010D, 0x0219, 0x00BB,
    0x0152, 0x0153, 0x0178, 0x017C, 0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0106, 0x00C6, 0x00C7, 0x00C8, 0x00C9,
    0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A,
    0x0170, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0118, 0x021A, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107,
    0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x0144, 0x00F2, 0x00F3,
    0x00F4, 0x0151, 0x00F6, 0x015B, 0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF,
};
static const int kCpIso8859_16 = 28606;

static WCHAR Iso8859_16ToUnit(unsigned char byte) {
    return byte < 0xA0 ? (WCHAR)byte : (WCHAR)kIso8859_16High[byte - 0xA0];
}

static char UnitToIso8859_16(WCHAR unit) {
    if (unit < 0xA0) return (char)unit;
    for (int i = 0; i < 96; ++i)
        if (kIso8859_16High[i] == unit) return (char)(0xA0 + i);
    return '?';
}

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
    if (codepage == CP_UTF8 || codepage == CP_ACP_ISO || codepage == kCpIso8859_16) return 1;
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
    if (codepage == kCpIso8859_16) {
        if (dstCap == 0) return len;
        if (dstCap < len) return 0;
        for (int i = 0; i < len; ++i) dst[i] = Iso8859_16ToUnit((unsigned char)src[i]);
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
    if (codepage == kCpIso8859_16) {
        if (dstCap == 0) return len;
        if (dstCap < len) return 0;
        for (int i = 0; i < len; ++i) dst[i] = UnitToIso8859_16(src[i]);
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
