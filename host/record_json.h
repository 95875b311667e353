// The JSON form of a record for the dump: every field that is not empty or
// zero under its own name, times as ISO-8601 UTC text, the digest as hex,
// parts with the SHA-256 of their files, recipients, exceptions and notes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "record/mdat.h"

namespace bvhost {

// workDir: where the record's part files and notes are (trailing separator).
nlohmann::json RecordToJson(mdat *rec, const std::string &workDir);

// "2024-01-15T14:00:00Z"; empty for no time (zero, or a date in 1601).
std::string FileTimeToIso(const FILETIME &time);

// Lower-case hex SHA-256 of a file; empty when it cannot be read.
std::string FileSha256(const std::string &path);

}  // namespace bvhost
