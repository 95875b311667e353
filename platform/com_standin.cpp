// The COM stand-in: a class is served by a shared library named for it,
// looked up beside the library that holds this code (dladdr), then on the
// ordinary library search path. The server exports BvComCreateInstance.
// BV_COM_SERVER_DIR, when set, is the only place searched (tests and hosts
// that keep servers elsewhere).
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "oeapi/oeapi.h"
#include "platform/platform.h"

typedef HRESULT (*BvComCreateFn)(const GUID *clsid, const GUID *iid, void **out);

struct ComServer {
    const GUID *clsid;
    const char *library;
    void *handle;  // kept open for the life of the process: objects may outlive any release
};

static ComServer gServers[] = {
    {&CLSID_OEAPI, "libbvoeapi.so", nullptr},
};
static int gComInitCount;

static void *OpenFrom(const char *dir, size_t dirLen, const char *library) {
    char path[4096];
    int n = snprintf(path, sizeof(path), "%.*s/%s", (int)dirLen, dir, library);
    if (n <= 0 || (size_t)n >= sizeof(path)) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

static void *OpenServer(ComServer &server) {
    const char *override = getenv("BV_COM_SERVER_DIR");
    if (override && *override) return OpenFrom(override, strlen(override), server.library);
    if (server.handle) return server.handle;
    Dl_info info;
    if (dladdr((void *)&plat_CoCreateInstance, &info) && info.dli_fname) {
        const char *slash = strrchr(info.dli_fname, '/');
        if (slash) server.handle = OpenFrom(info.dli_fname, (size_t)(slash - info.dli_fname), server.library);
    }
    if (!server.handle) server.handle = dlopen(server.library, RTLD_NOW | RTLD_LOCAL);
    return server.handle;
}

extern "C" {

HRESULT plat_CoInitialize(void *reserved) {
    (void)reserved;
    return gComInitCount++ == 0 ? S_OK : S_FALSE;
}

void plat_CoUninitialize(void) {
    if (gComInitCount > 0) --gComInitCount;
}

int plat_IsEqualGUID(const GUID *a, const GUID *b) {
    return a && b && memcmp(a, b, sizeof(GUID)) == 0;
}

HRESULT plat_CoCreateInstance(const GUID *clsid, void *outer, uint32_t context, const GUID *iid, void **out) {
    (void)context;
    if (!out || !clsid || !iid) return E_INVALIDARG;
    *out = nullptr;
    if (outer) return E_NOINTERFACE;  // no aggregation
    for (ComServer &server : gServers) {
        if (!plat_IsEqualGUID(clsid, server.clsid)) continue;
        void *handle = OpenServer(server);
        if (!handle) return REGDB_E_CLASSNOTREG;
        BvComCreateFn create = (BvComCreateFn)dlsym(handle, "BvComCreateInstance");
        if (!create) return REGDB_E_CLASSNOTREG;
        HRESULT hr = create(clsid, iid, out);
        if (FAILED(hr)) *out = nullptr;
        else if (!*out) hr = E_FAIL;
        return hr;
    }
    return REGDB_E_CLASSNOTREG;
}

// BSTR: a 32-bit byte count in front of the text, a terminator behind it.
BSTR plat_SysAllocStringLen(const WCHAR *text, uint32_t length) {
    if (length > (0x7FFFFFFFu - sizeof(uint32_t) - sizeof(WCHAR)) / sizeof(WCHAR)) return nullptr;
    size_t bytes = sizeof(uint32_t) + ((size_t)length + 1) * sizeof(WCHAR);
    uint32_t *block = (uint32_t *)malloc(bytes);
    if (!block) return nullptr;
    block[0] = length * (uint32_t)sizeof(WCHAR);
    WCHAR *chars = (WCHAR *)(block + 1);
    if (text) memcpy(chars, text, (size_t)length * sizeof(WCHAR));
    else memset(chars, 0, (size_t)length * sizeof(WCHAR));
    chars[length] = 0;
    return chars;
}

BSTR plat_SysAllocString(const WCHAR *text) {
    if (!text) return nullptr;
    uint32_t length = 0;
    while (text[length]) ++length;
    return plat_SysAllocStringLen(text, length);
}

void plat_SysFreeString(BSTR text) {
    if (text) free((uint32_t *)text - 1);
}

uint32_t plat_SysStringLen(BSTR text) {
    return text ? ((uint32_t *)text)[-1] / (uint32_t)sizeof(WCHAR) : 0;
}

}  // extern "C"
