// One logged-on module instance as the host drives it: the common library
// configured for it, the logon dialog's values, Logon, the folder list, and
// the read and write cycles of one folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/endpoints.h"
#include "host/module_instance.h"

namespace bvhost {

struct HostOptions {
    std::string switches;
    bool switchesGiven = false;
    std::string tag;
    bool upcoming = false;
    bool insecure = false;  // downloads without TLS verification
    std::string workDir;  // with a trailing separator
    int maxRead = 0x7fffffff;
    bool verbose = false;
};

struct FolderInfo {
    int number = 0;
    std::string text;  // as the module reported it
    std::string name;  // the text before " {BV:"
    int count = 0;
    int folderClass = 0;
};

class ModuleSession {
public:
    ModuleSession(std::unique_ptr<ModuleInstance> module, Endpoint endpoint, bool isSource);
    ~ModuleSession();

    // Configures the common library for this instance and logs on; returns
    // the module's result.
    int Logon(const HostOptions &options);
    std::vector<FolderInfo> ListFolders();
    std::string TrueName(int folderNumber);
    void Logoff();

    ModuleInstance &module() { return *module_; }
    const Endpoint &endpoint() const { return endpoint_; }

private:
    std::unique_ptr<ModuleInstance> module_;
    Endpoint endpoint_;
    bool isSource_;
    bool loggedOn_ = false;
    std::string logonPath_;
};

// The switch string one instance gets: the user's (or the module's default
// from GetLogonParameters), plus the kind's implied switch.
std::string SwitchStringFor(const HostOptions &options, const Endpoint &endpoint, const std::string &moduleDefault);

// A module result as words, for error messages.
std::string LogonResultText(int result);

// Parses "Name {BV:count:FCLASS:class}"; false when the tag is missing.
bool ParseFolderText(const std::string &text, FolderInfo *out);

}  // namespace bvhost
