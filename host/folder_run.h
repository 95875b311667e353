// The read cycle of the chosen folders of a source, with the host's item and
// status callbacks: every item goes to a dump file, to a target instance's
// WriteMsg, or both. Counts what was handed over and skipped.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "host/host_session.h"

namespace bvhost {

struct RunTotals {
    int folders = 0;
    int foldersSkipped = 0;  // class does not fit the target
    int foldersFailed = 0;   // ConvertFolder returned non-zero
    long long items = 0;     // handed over (status 0)
    std::map<int, long long> skipped;  // by status
    long long bytes = 0;     // ConvertFolder's size totals
    std::vector<std::string> failed;  // one line per item that failed, naming it
    long long warnings = 0;  // the module's "BV Warning: " lines: data left out or cut
};

struct RunSettings {
    std::vector<int> folders;  // empty: every folder
    std::ostream *dump = nullptr;
    ModuleSession *target = nullptr;
    bool progress = false;     // stderr is a terminal
    std::string workDir;
    int maxRead = 0x7fffffff;
};

// Runs every chosen folder; reports per folder on `report`. Returns false
// when a chosen folder number does not exist.
bool RunFolders(ModuleSession &source, const std::vector<FolderInfo> &folders, const RunSettings &settings,
                RunTotals *totals, std::ostream &report);

std::string SummaryLine(const RunTotals &totals);
// The lines that name the failed items (at most kFailedItemsNamed, then a count).
std::string FailedItemLines(const RunTotals &totals);

// Set from a SIGINT handler: the next status callback asks the module to stop.
void RequestStop();

}  // namespace bvhost
