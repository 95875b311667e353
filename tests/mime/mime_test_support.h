// Shared fixtures of the parser tests: a fresh work directory per test, the
// parse of a file or a memory buffer, and a flat dump of the record that the
// case files compare against.
#pragma once

#include <map>
#include <string>
#include "mime/mime.h"
#include "record/mdat.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace mimetest {

// Session switches a case may set; reset before every parse.
struct ParseOptions {
    bool lsub = false;
    bool d81 = false;
    bool nhs = false;
    int maxRecipients = 0;  // 0: the session default
    std::string attachDir;
    std::string messageFileDir;
    std::string excludePattern;
};

struct ParseRun {
    int result = 0;
    std::string workDir;  // with trailing separator
    std::string log;      // every log line written during the parse
    mdat *record = nullptr;
};

// Parses `bytes` as one top-level message, from a file or from memory.
ParseRun ParseBytes(const std::string &bytes, const ParseOptions &options, bool fromMemory);
void FreeRun(ParseRun *run);

// Every non-empty field of the record (and of embedded records, prefixed
// "part N sub "), one key per field: "subject", "part 1 type", "recip 0",
// "part 1 bytes" (the part file's bytes), ...
std::map<std::string, std::string> DumpRecord(const mdat *record, const std::string &workDir);
std::string PartFile(const std::string &workDir, const mdat *record, int index);
std::string IsoDate(const FILETIME &ft);

}  // namespace mimetest
