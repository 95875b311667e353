// A scratch directory made fresh under the system's temporary directory and
// removed with everything in it when the object goes away.
#pragma once

#include <filesystem>
#include <string>

namespace bvtest {

class TempDir {
public:
    // prefix names the directory ("<prefix>-XXXXXX") so a left-over one
    // shows which suite made it.
    explicit TempDir(const std::string &prefix = "bvtest");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // Empty when the directory could not be made.
    const std::filesystem::path &Path() const { return path_; }
    // A subdirectory (created) with a trailing separator, the form the
    // module expects for work and download directories.
    std::string SubDir(const std::string &name) const;

private:
    std::filesystem::path path_;
};

}  // namespace bvtest
