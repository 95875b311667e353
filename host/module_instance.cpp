#include "host/module_instance.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace bvhost {

namespace {

// Copies the library into a fresh private directory; the caller removes it
// once the copy is mapped.
bool CopyLibrary(const std::string &source, std::string *copyPath, std::string *error) {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "bvmodule-XXXXXX").string();
    if (ec) pattern = "/tmp/bvmodule-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *error = "cannot create a directory for a copy of " + source;
        return false;
    }
    fs::path target = fs::path(pattern) / fs::path(source).filename();
    if (!fs::copy_file(source, target, ec)) {
        *error = "cannot copy " + source + ": " + ec.message();
        fs::remove_all(pattern, ec);
        return false;
    }
    *copyPath = target.string();
    return true;
}

template <typename Fn>
bool Resolve(void *handle, const char *name, Fn *out, std::string *error) {
    *out = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!*out) *error = std::string("the module has no export ") + name;
    return *out != nullptr;
}

}  // namespace

std::unique_ptr<ModuleInstance> ModuleInstance::Load(const std::string &libraryPath, bool privateCopy,
                                                     std::string *error) {
    std::string path = libraryPath;
    std::string copyPath;
    if (privateCopy) {
        if (!CopyLibrary(libraryPath, &copyPath, error)) return nullptr;
        path = copyPath;
    }
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!copyPath.empty()) {  // mapped (or failed): the file is no longer needed
        std::error_code ec;
        fs::remove_all(fs::path(copyPath).parent_path(), ec);
    }
    if (!handle) {
        const char *why = dlerror();
        *error = "cannot load " + libraryPath + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    std::unique_ptr<ModuleInstance> instance(new ModuleInstance());
    instance->handle_ = handle;
    bool ok = Resolve(handle, "GetLogonParameters", &instance->GetLogonParameters, error) &&
              Resolve(handle, "Logon", &instance->Logon, error) && Resolve(handle, "Logoff", &instance->Logoff, error) &&
              Resolve(handle, "GetFolderNames", &instance->GetFolderNames, error) &&
              Resolve(handle, "GetTrueFolder", &instance->GetTrueFolder, error) &&
              Resolve(handle, "ConvertFolder", &instance->ConvertFolder, error) &&
              Resolve(handle, "InitRead", &instance->InitRead, error) &&
              Resolve(handle, "CloseRead", &instance->CloseRead, error) &&
              Resolve(handle, "InitWrite", &instance->InitWrite, error) &&
              Resolve(handle, "WriteMsg", &instance->WriteMsg, error) &&
              Resolve(handle, "CloseWrite", &instance->CloseWrite, error) &&
              Resolve(handle, "TestFile", &instance->TestFile, error);
    if (!ok) return nullptr;
    return instance;
}

ModuleInstance::~ModuleInstance() {
    if (handle_) dlclose(handle_);
}

void *ModuleInstance::Symbol(const char *name) const { return dlsym(handle_, name); }

std::string DefaultModulePath() {
    const char *over = getenv("BVHOST_MODULE");
    if (over && *over) return over;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "libbvole.so";
    return (self.parent_path().parent_path() / "lib" / "libbvole.so").string();
}

}  // namespace bvhost
