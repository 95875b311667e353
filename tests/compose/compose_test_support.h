// Records with part files in a scratch work directory, parsed messages, and
// the log, for the composer and import tests.
#pragma once

#include <string>

#include "record/mdat.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

struct ScratchDir {
    bvtest::TempDir dir{"bvcompose"};
    std::string path = dir.SubDir("work");  // with a trailing separator
    std::string File(const std::string &name) const { return path + name; }
};

// A cleared mail record: priority and importance normal, read.
mdat *NewMailRecord(int msgNumber);
// Frees parts (with their files), recipients and the record itself.
void FreeMailRecord(mdat *rec, const std::string &workDir);
// Appends a part whose file holds `content`; returns its index.
int AddPart(mdat *rec, const std::string &workDir, int partType, const std::string &name, const std::string &content,
            const std::string &contentId = "", const std::string &charset = "");
// Parse_RFC822_Msg of a file into a new record; *result gets its result.
mdat *ParseMessageFile(const std::string &path, const std::string &workDir, int msgNumber, int *result);

// Resets every switch global that the composer and the import read.
void ResetComposeSwitches();

// Collects the log of the common library while alive.
struct LogCapture {
    bvtest::TempDir dir{"bvcomposelog"};
    LogCapture();
    ~LogCapture();
    std::string Text() const;
};
