// Unpredictable bytes from the system's cryptographic generator: libcrypto's
// DRBG on POSIX (seeded from the kernel once, so a draw costs no system
// call), the system-preferred generator of CNG on Win32.
#ifdef _WIN32
// windows.h and the project's own Win32 type names cannot meet in one file.
#include <stddef.h>
#include <windows.h>
#include <bcrypt.h>

extern "C" int plat_RandomBytes(void *out, size_t count) {
    if (!out || count > 0xFFFFFFFFu) return 0;
    return BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(count),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

#else
#include <limits.h>
#include "platform/platform.h"
#include <openssl/rand.h>

extern "C" int plat_RandomBytes(void *out, size_t count) {
    if (!out || count > INT_MAX) return 0;
    return RAND_bytes(static_cast<unsigned char *>(out), static_cast<int>(count)) == 1;
}

#endif
