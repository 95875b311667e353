// Host callbacks for the module's entry points that keep what they receive.
// Callbacks are plain function pointers, so what they keep lives in globals
// here; a test clears them before it calls the module.
#pragma once

#include <string>
#include <vector>

#include "module/session.h"

namespace bvtest {

// GetFolderNames' callback: every folder text, in call order.
extern std::vector<std::string> gCollectedFolderTexts;
int BV_CALL CollectFolderText(const char *folderText);

// A status callback that never stops.
int BV_CALL NeverStop(mdat *rec, const char *text, int status, int *a, int *b, int *stop);

// The text of part `index` of the record as written to the work directory;
// empty when the record has no such part.
std::string PartFileText(const mdat *rec, const char *workDir, int index);

}  // namespace bvtest
