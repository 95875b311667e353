#include "host/store_search.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "host/module_instance.h"
#include "platform/platform.h"
#include "record/com.h"

namespace fs = std::filesystem;

namespace bvhost {

namespace {

enum SearchAnswer { GO_ON = 0, USE_DIRECTORY = 1, CANCELLED = 2 };

// The question of the module's message box, on the terminal: stderr, so
// that stdout carries only the chosen directory. End of input cancels.
int AskOnTerminal(const char *text, const char *caption, uint32_t) {
    for (;;) {
        std::cerr << caption << ": " << text << " [y]es / [n]o / [c]ancel: " << std::flush;
        std::string reply;
        if (!std::getline(std::cin, reply)) return BV_IDCANCEL;
        char first = reply.empty() ? ' ' : (char)tolower((unsigned char)reply[0]);
        if (first == 'y') return BV_IDYES;
        if (first == 'n') return BV_IDNO;
        if (first == 'c') return BV_IDCANCEL;
    }
}

// Depth first; the entries of each directory in name order, files before
// the walk goes down. Unreadable directories are passed over.
int Walk(const fs::path &dir, ModuleInstance &module, std::string *chosen) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry &a, const fs::directory_entry &b) { return a.path() < b.path(); });
    for (const fs::directory_entry &entry : entries) {
        if (entry.is_symlink(ec) || !entry.is_regular_file(ec)) continue;
        char dirOut[BV_HOST_TEXT_LEN] = "";
        int result = module.TestFile(entry.path().c_str(), dirOut);
        if (result == USE_DIRECTORY) *chosen = dirOut;
        if (result != GO_ON) return result;
    }
    for (const fs::directory_entry &entry : entries) {
        if (entry.is_symlink(ec) || !entry.is_directory(ec)) continue;
        int result = Walk(entry.path(), module, chosen);
        if (result != GO_ON) return result;
    }
    return GO_ON;
}

}  // namespace

int RunFindStore(const std::string &root, const std::string &answer) {
    std::string error;
    auto module = ModuleInstance::Load(DefaultModulePath(), false, &error);
    if (!module) {
        std::cerr << "bvhost: " << error << "\n";
        return 1;
    }
    if (answer.empty()) {
        bvcom_SetMessageBoxHandler(AskOnTerminal);
    } else {
        bvcom_SetMessageBoxHandler(nullptr);
        bvcom_SetMessageBoxAnswer(answer == "yes" ? BV_IDYES : answer == "cancel" ? BV_IDCANCEL : BV_IDNO);
    }
    std::string chosen;
    std::error_code ec;
    int result = Walk(fs::absolute(root, ec), *module, &chosen);
    bvcom_SetMessageBoxHandler(nullptr);
    if (result == USE_DIRECTORY) {
        std::cout << chosen << "\n";
        return 0;
    }
    std::cerr << (result == CANCELLED ? "bvhost: search cancelled\n" : "bvhost: no store directory chosen\n");
    return 1;
}

}  // namespace bvhost
