#include "support/module_loader.h"

namespace bvtest {

std::string BuildLibrary(const std::string &file) { return std::string(BV_BINARY_DIR) + "/lib/" + file; }

std::unique_ptr<bvhost::ModuleInstance> LoadModuleCopy(const std::string &path, std::string *error) {
    return bvhost::ModuleInstance::Load(path, true, error);
}

}  // namespace bvtest
