#include "host/host_session.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <system_error>

#include "record/com.h"

namespace bvhost {

namespace {

std::vector<FolderInfo> *gFolderSink;  // the folder callback has no context argument

int BV_CALL OnFolder(const char *folderText) {
    if (!gFolderSink || !folderText) return 0;
    FolderInfo info;
    info.number = (int)gFolderSink->size();
    if (!ParseFolderText(folderText, &info)) {
        info.text = folderText;
        info.name = folderText;
    }
    gFolderSink->push_back(info);
    return 0;
}

}  // namespace

bool ParseFolderText(const std::string &text, FolderInfo *out) {
    out->text = text;
    size_t tag = text.rfind(" {BV:");
    if (tag == std::string::npos) return false;
    int count = 0, folderClass = 0;
    if (sscanf(text.c_str() + tag, " {BV:%d:FCLASS:%d}", &count, &folderClass) != 2) return false;
    out->name = text.substr(0, tag);
    out->count = count;
    out->folderClass = folderClass;
    return true;
}

std::string SwitchStringFor(const HostOptions &options, const Endpoint &endpoint, const std::string &moduleDefault) {
    std::string switches = options.switchesGiven ? options.switches : moduleDefault;
    if (!options.switchesGiven && !endpoint.defaultSwitches.empty())
        switches = endpoint.defaultSwitches + (switches.empty() ? "" : " " + switches);
    if (!endpoint.impliedSwitch.empty()) switches += (switches.empty() ? "" : " ") + endpoint.impliedSwitch;
    if (options.insecure) switches += (switches.empty() ? "" : " ") + std::string("/INSECURE");
    return switches;
}

std::string LogonResultText(int result) {
    switch (result) {
    case 0: return "success";
    case 1: return "logon refused";
    case 3: return "source or target not found or not usable";
    case 4: return "the mail store object (OEAPI) is not available";
    default: return "download or module failure";
    }
}

ModuleSession::ModuleSession(std::unique_ptr<ModuleInstance> module, Endpoint endpoint, bool isSource)
    : module_(std::move(module)), endpoint_(std::move(endpoint)), isSource_(isSource) {}

ModuleSession::~ModuleSession() { Logoff(); }

int ModuleSession::Logon(const HostOptions &options) {
    // The switches are in force for GetLogonParameters; the module's default
    // switch text (its 15th output) applies when the user gave none.
    bvcom_SetSwitches(SwitchStringFor(options, endpoint_, "").c_str());
    char out4[BV_HOST_TEXT_LEN] = "", out5[BV_HOST_TEXT_LEN] = "", label[BV_HOST_TEXT_LEN] = "";
    char out7[BV_HOST_TEXT_LEN] = "", check[BV_HOST_TEXT_LEN] = "", chooser[BV_HOST_TEXT_LEN] = "";
    char defaultSwitches[BV_HOST_TEXT_LEN] = "";
    char path[BV_HOST_TEXT_LEN] = "";
    snprintf(path, sizeof path, "%s", endpoint_.path.c_str());
    module_->GetLogonParameters(endpoint_.dataType, endpoint_.adrType, endpoint_.tag.c_str(), out4, out5, label,
                                out7, check, 0, 0, path, 0, chooser, 0, defaultSwitches);
    bvcom_SetSwitches(SwitchStringFor(options, endpoint_, defaultSwitches).c_str());
    if (options.verbose)
        fprintf(stderr, "bvhost: %s %s: %s %s\n", isSource_ ? "source" : "target", endpoint_.kind.c_str(), label,
                path);

    // The live store's object takes its root from the environment when it is created.
    if (endpoint_.kind == "oe") {
        std::error_code ec;
        if (!isSource_) std::filesystem::create_directories(endpoint_.path, ec);
        setenv("BV_OE_STORE", endpoint_.path.c_str(), 1);
    }
    char outText[BV_HOST_TEXT_LEN] = "";
    int result = module_->Logon(0, 0, path, 0, 0, 0, 0, 0, 0, 0, outText, options.upcoming ? 1 : 0, 1,
                                isSource_ ? 1 : 0, endpoint_.adrType, endpoint_.tag.c_str(), 0);
    logonPath_ = path;
    loggedOn_ = true;
    return result;
}

std::vector<FolderInfo> ModuleSession::ListFolders() {
    std::vector<FolderInfo> folders;
    gFolderSink = &folders;
    char path[BV_HOST_TEXT_LEN] = "";
    snprintf(path, sizeof path, "%s", logonPath_.c_str());
    module_->GetFolderNames(path, OnFolder);
    gFolderSink = nullptr;
    return folders;
}

std::string ModuleSession::TrueName(int folderNumber) {
    char name[BV_HOST_TEXT_LEN] = "";
    module_->GetTrueFolder(folderNumber, name);
    return name;
}

void ModuleSession::Logoff() {
    if (!loggedOn_) return;
    module_->Logoff(0);
    loggedOn_ = false;
}

}  // namespace bvhost
