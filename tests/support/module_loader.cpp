#include "support/module_loader.h"

#include <dlfcn.h>

namespace bvtest {

std::string BuildLibrary(const std::string &file) { return std::string(BV_BINARY_DIR) + "/lib/" + file; }

std::unique_ptr<bvhost::ModuleInstance> LoadModuleCopy(const std::string &path, std::string *error) {
    // The libraries a copy needs stay loaded for the whole run: LeakSanitizer
    // fails on the thread-local storage of libraries (libcurl's) that every
    // copy would unload and load again.
    static void *const kPinned = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    (void)kPinned;
    return bvhost::ModuleInstance::Load(path, true, error);
}

}  // namespace bvtest
