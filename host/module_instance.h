// One loaded instance of the connector module: its own copy of libbvole.so,
// opened with RTLD_LOCAL, with the twelve exports resolved.
//
// The module keeps its session in globals, so two sessions in one process
// need two copies of the library image. dlopen returns the already-loaded
// object for the same path or the same file (device and inode), so every
// instance after the first is loaded from a private copy of the file. The
// copy still names libbvcom.so and libbvplatform.so as dependencies, and the
// loader binds those to the libraries already in the process: every instance
// shares one common library, as the modules of the suite do. (dlmopen with a
// new link-map namespace would give each instance its own common library,
// with its own switch string, log and duplicate register, which is wrong.)
#pragma once

#include <memory>
#include <string>

#include "module/exports.h"

namespace bvhost {

class ModuleInstance {
public:
    // privateCopy: load from a fresh copy of the file (required for every
    // instance after the first that is alive at the same time).
    static std::unique_ptr<ModuleInstance> Load(const std::string &libraryPath, bool privateCopy,
                                                std::string *error);
    ~ModuleInstance();
    ModuleInstance(const ModuleInstance &) = delete;
    ModuleInstance &operator=(const ModuleInstance &) = delete;

    // Any other symbol of the loaded image (nullptr when absent).
    void *Symbol(const char *name) const;

    BvGetLogonParametersFn GetLogonParameters = nullptr;
    BvLogonFn Logon = nullptr;
    BvLogoffFn Logoff = nullptr;
    BvGetFolderNamesFn GetFolderNames = nullptr;
    BvGetTrueFolderFn GetTrueFolder = nullptr;
    BvConvertFolderFn ConvertFolder = nullptr;
    BvInitReadFn InitRead = nullptr;
    BvCloseReadFn CloseRead = nullptr;
    BvInitWriteFn InitWrite = nullptr;
    BvWriteMsgFn WriteMsg = nullptr;
    BvCloseWriteFn CloseWrite = nullptr;
    BvTestFileFn TestFile = nullptr;

private:
    ModuleInstance() = default;
    void *handle_ = nullptr;
};

// libbvole.so in the lib directory beside the running program's bin
// directory (build/<x>/bin/bvhost -> build/<x>/lib/libbvole.so); the
// environment variable BVHOST_MODULE overrides it.
std::string DefaultModulePath();

}  // namespace bvhost
