// Whole files as text: reading what the module wrote, writing fixtures.
#pragma once

#include <filesystem>
#include <string>

namespace bvtest {

// The file's bytes; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path &path);
// Writes text as the whole file, creating its parent directories.
void WriteFileText(const std::filesystem::path &path, const std::string &text);
// Non-overlapping occurrences of needle in text.
int CountOf(const std::string &text, const std::string &needle);
// Standard base64 with padding, no line breaks (fixtures, Basic credentials).
std::string Base64(const std::string &in);

}  // namespace bvtest
