// bvhost find-store: the store location search of the module, driven over
// one directory tree.
#pragma once

#include <string>

namespace bvhost {

// answer: "" asks on the terminal; "yes", "no" or "cancel" answers every
// question so. Prints the chosen directory on stdout; the exit status: 0 a
// directory was chosen, 1 none (the walk ended or was cancelled).
int RunFindStore(const std::string &root, const std::string &answer);

}  // namespace bvhost
