// KIND:PATH arguments: which kind of source or target, and the address
// type, data type, tag and implied switch that the module expects for it.
#pragma once

#include <string>

namespace bvhost {

struct Endpoint {
    std::string kind;
    std::string path;           // absolute, or the address as given
    int adrType = 0;            // 0 mail, 1-98 contacts, 99 calendar, 100 tasks
    int dataType = 0;           // GetLogonParameters' data type: 0 mail, 2 contacts, 4 calendar
    std::string tag;            // "", "CSVZ", "VCSZ", "VCSG", "VCSK"
    std::string impliedSwitch;  // "/OED" for oe-dir
    std::string defaultSwitches;  // used when --switches is not given ("/D68 /EIH" for an oe target)
    int folderClass = 0;        // the folder class a target takes (0 mail, 1 contacts, 2 calendar, 3 tasks)
    bool isAddress = false;     // an http(s) address
};

// asTarget selects the target table. tagOverride, when not empty, replaces
// the kind's tag. On failure error holds one line naming the valid choices.
bool ParseEndpoint(const std::string &endpointText, bool asTarget, const std::string &tagOverride, Endpoint *out,
                   std::string *error);

const char *FolderClassName(int folderClass);

}  // namespace bvhost
