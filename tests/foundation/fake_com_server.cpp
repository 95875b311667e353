// A COM server for the stand-in's tests: creates a counted dummy object for
// the store class and refuses every other interface.
#include <stdlib.h>
#include <string.h>

#include "oeapi/oeapi.h"

extern "C" __attribute__((visibility("default"))) HRESULT BvComCreateInstance(const GUID *clsid, const GUID *iid,
                                                                              void **out) {
    if (memcmp(clsid, &CLSID_OEAPI, sizeof(GUID)) != 0) return REGDB_E_CLASSNOTREG;
    if (memcmp(iid, &IID_IOEAPI, sizeof(GUID)) != 0) return E_NOINTERFACE;
    static int object = 42;
    *out = &object;
    return S_OK;
}
