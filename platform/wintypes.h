// Windows data types with their Windows layout, for every backend.
#pragma once

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define BV_CALL __stdcall
#else
#define BV_CALL
#endif

#ifdef __cplusplus
#define BV_EXTERN_C extern "C"
#else
#define BV_EXTERN_C
#endif

// 100-nanosecond intervals since 1601-01-01, split in two 32-bit halves.
typedef struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} FILETIME;

typedef struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;  // 0 Sunday
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} SYSTEMTIME;

typedef char16_t WCHAR;
typedef WCHAR *BSTR;  // length-prefixed UTF-16 text from plat_SysAllocString
typedef int32_t HRESULT;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

typedef struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef struct TIME_ZONE_INFORMATION {
    int32_t Bias;  // minutes, UTC = local + Bias
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    int32_t StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    int32_t DaylightBias;  // usually -60
} TIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2

#define CP_ACP_ISO 28591  // the ANSI code page on POSIX: every byte survives
#define CP_UTF8 65001
