// The built module loaded as a host loads it: a private copy of the library
// opened with RTLD_LOCAL (its own session globals) with the twelve exports
// resolved (host/module_instance.h).
#pragma once

#include <memory>
#include <string>

#include "host/module_instance.h"

namespace bvtest {

// A library of the build's lib directory ("libbvole.so" by default).
std::string BuildLibrary(const std::string &file = "libbvole.so");
// Loads a fresh private copy of the library at path; nullptr with *error set
// when it cannot be loaded or an export is missing.
std::unique_ptr<bvhost::ModuleInstance> LoadModuleCopy(const std::string &path, std::string *error);

}  // namespace bvtest
