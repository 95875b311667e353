#include "support/temp_dir.h"

#include <stdlib.h>

#include <system_error>

namespace bvtest {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string &prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::SubDir(const std::string &name) const {
    fs::path dir = path_ / name;
    fs::create_directories(dir);
    return dir.string() + "/";
}

}  // namespace bvtest
