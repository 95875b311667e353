// The module's three output routines over the standard library.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "module/session.h"

extern "C" int bv_fprintf(FILE *file, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int written = vfprintf(file, format, args);
    va_end(args);
    return written;
}

extern "C" int bv_snprintf(char *out, size_t outCap, const char *format, ...) {
    if (outCap == 0) return 0;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(out, outCap, format, args);
    va_end(args);
    return written;
}

// One CSV field as RFC 4180 has it: between double quotes, with every quote
// inside doubled, when `alwaysQuote` asks for it or the text holds a quote, a
// comma or a line end; as it stands otherwise. Negative when the write failed.
extern "C" int bv_fputcsv(FILE *file, const char *text, int alwaysQuote) {
    bool quote = alwaysQuote || strpbrk(text, "\",\r\n") != NULL;
    if (!quote) return fputs(text, file) < 0 ? -1 : 0;
    if (fputc('"', file) == EOF) return -1;
    for (const char *c = text; *c; c++) {
        if (*c == '"' && fputc('"', file) == EOF) return -1;
        if (fputc(*c, file) == EOF) return -1;
    }
    return fputc('"', file) == EOF ? -1 : 0;
}

extern "C" int bv_sscanf(const char *text, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int scanned = vsscanf(text, format, args);
    va_end(args);
    return scanned;
}
