// The module's three output routines over the standard library.
#include <stdarg.h>
#include <stdio.h>
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

extern "C" int bv_sscanf(const char *text, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int scanned = vsscanf(text, format, args);
    va_end(args);
    return scanned;
}
