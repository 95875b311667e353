#include "host/endpoints.h"

#include <strings.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace bvhost {

namespace {

enum PathRule { DIRECTORY, FILE_OR_ADDRESS, FILE_DIR_MASK_OR_ADDRESS, TARGET_DIRECTORY, TARGET_FILE };

struct KindEntry {
    const char *name;
    int adrType, dataType;
    const char *tag;
    const char *impliedSwitch;
    int folderClass;
    PathRule rule;
    const char *expects;
    // An oe target keeps each message's own header block (Reply-To,
    // Received, List-* and the rest), not only the fields the composer writes.
    const char *defaultSwitches = "";
};

const KindEntry kSources[] = {
    {"oe-dir", 0, 0, "", "/OED", 0, DIRECTORY, "a directory of DBX/MBX files"},
    {"oe", 0, 0, "", "", 0, DIRECTORY, "the root directory of the Maildir-backed store"},
    {"contacts", 2, 2, "", "", 1, FILE_OR_ADDRESS, "a CSV or NK2 file, or an http(s) address"},
    {"calendar", 99, 4, "", "", 2, FILE_DIR_MASK_OR_ADDRESS,
     "a vCalendar/iCalendar file, a directory or mask, a listing page, or an http(s) address"},
    {"tasks", 100, 4, "", "", 3, FILE_DIR_MASK_OR_ADDRESS,
     "a vCalendar/iCalendar file, a directory or mask, a listing page, or an http(s) address"},
    {"kerio", 99, 4, "VCSK", "", 0, DIRECTORY, "a directory-per-message store"},
};

const KindEntry kTargets[] = {
    {"oe", 0, 0, "", "", 0, TARGET_DIRECTORY, "the root directory of the Maildir store", "/D68 /EIH"},
    {"contacts", 2, 2, "", "", 1, TARGET_FILE, "a CSV file"},
    {"calendar", 99, 4, "", "", 2, TARGET_FILE, "a .vcs or .ics file"},
    {"tasks", 100, 4, "", "", 3, TARGET_FILE, "a .vcs or .ics file"},
};

const char *const kTags[] = {"CSVZ", "VCSZ", "VCSG", "VCSK"};

template <size_t N>
std::string KindList(const KindEntry (&table)[N]) {
    std::string list;
    for (const KindEntry &entry : table) list += std::string(list.empty() ? "" : ", ") + entry.name;
    return list;
}

bool IsAddress(const std::string &path) {
    return strncasecmp(path.c_str(), "http://", 7) == 0 || strncasecmp(path.c_str(), "https://", 8) == 0;
}

bool CheckPath(const KindEntry &kind, const std::string &role, Endpoint *out, std::string *error) {
    std::error_code ec;
    std::string endpointText = role + " " + kind.name + ":" + out->path;
    auto fail = [&](const std::string &why) {
        *error = endpointText + ": " + why + " (" + kind.name + " expects " + kind.expects + ")";
        return false;
    };
    if (out->path.empty()) return fail("no path given");
    if (IsAddress(out->path)) {
        if (kind.rule == FILE_OR_ADDRESS || kind.rule == FILE_DIR_MASK_OR_ADDRESS) {
            out->isAddress = true;
            return true;
        }
        return fail("an address is not accepted here");
    }
    out->path = fs::absolute(out->path, ec).lexically_normal().string();
    switch (kind.rule) {
    case DIRECTORY:
        if (!fs::is_directory(out->path, ec)) return fail("no such directory");
        return true;
    case FILE_OR_ADDRESS:
        if (!fs::is_regular_file(out->path, ec)) return fail("no such file");
        return true;
    case FILE_DIR_MASK_OR_ADDRESS: {
        if (fs::exists(out->path, ec)) return true;
        bool mask = out->path.find_first_of("*?") != std::string::npos;
        if (mask && fs::is_directory(fs::path(out->path).parent_path(), ec)) return true;
        return fail("no such file or directory");
    }
    case TARGET_DIRECTORY:
        if (fs::exists(out->path, ec) && !fs::is_directory(out->path, ec)) return fail("not a directory");
        return true;
    case TARGET_FILE:
        if (fs::is_directory(out->path, ec)) return fail("is a directory");
        return true;
    }
    return true;
}

template <size_t N>
bool ParseWith(const KindEntry (&table)[N], const std::string &endpointText, const char *role, const std::string &tagOverride,
               Endpoint *out, std::string *error) {
    size_t colon = endpointText.find(':');
    std::string kindName = colon == std::string::npos ? endpointText : endpointText.substr(0, colon);
    for (const KindEntry &kind : table) {
        if (kindName != kind.name) continue;
        if (colon == std::string::npos) {
            *error = std::string(role) + " " + kind.name + ": missing ':PATH' (" + kind.name + " expects " +
                     kind.expects + ")";
            return false;
        }
        out->kind = kind.name;
        out->path = endpointText.substr(colon + 1);
        out->adrType = kind.adrType;
        out->dataType = kind.dataType;
        out->tag = tagOverride.empty() ? kind.tag : tagOverride;
        out->impliedSwitch = kind.impliedSwitch;
        out->defaultSwitches = kind.defaultSwitches;
        out->folderClass = kind.folderClass;
        return CheckPath(kind, role, out, error);
    }
    *error = std::string("unknown ") + role + " kind '" + kindName + "'; valid " + role +
             " kinds: " + KindList(table) + " (as KIND:PATH)";
    return false;
}

}  // namespace

bool ParseEndpoint(const std::string &endpointText, bool asTarget, const std::string &tagOverride, Endpoint *out,
                   std::string *error) {
    if (!tagOverride.empty()) {
        bool known = false;
        for (const char *tag : kTags) known = known || tagOverride == tag;
        if (!known) {
            *error = "unknown tag '" + tagOverride + "'; valid tags: CSVZ, VCSZ, VCSG, VCSK";
            return false;
        }
    }
    return asTarget ? ParseWith(kTargets, endpointText, "target", tagOverride, out, error)
                    : ParseWith(kSources, endpointText, "source", tagOverride, out, error);
}

const char *FolderClassName(int folderClass) {
    switch (folderClass) {
    case 0: return "mail";
    case 1: return "contacts";
    case 2: return "calendar";
    case 3: return "tasks";
    default: return "unknown";
    }
}

}  // namespace bvhost
