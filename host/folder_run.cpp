#include "host/folder_run.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <memory>

#include "host/record_json.h"
#include "record/com.h"

namespace bvhost {

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gStopRequested;

const int kMaxRecipients = 5000;
const int kStatusFailed = 3;       // the module could not read or parse the item
const int kHostDidNotTake = 1234;  // item callback answer: not taken, not registered
const size_t kFailedItemsNamed = 50;
const auto kProgressInterval = std::chrono::milliseconds(250);

// The callbacks have no context argument of their own: the folder being
// converted is this one.
struct FolderContext {
    const RunSettings *settings;
    RunTotals *totals;
    int folderNumber;
    std::string trueName;
    long long items = 0;
    long long skipped = 0;
    long long failed = 0;
    long long writeFailures = 0;
    std::string writeFailure;  // the item just offered could not be written: what it was
    Clock::time_point started;
    Clock::time_point lastProgress;
};
FolderContext *gFolder;

void ShowProgress(bool final) {
    if (!gFolder->settings->progress) return;
    auto now = Clock::now();
    if (!final && now - gFolder->lastProgress < kProgressInterval) return;
    gFolder->lastProgress = now;
    double seconds = std::chrono::duration<double>(now - gFolder->started).count();
    double rate = seconds > 0 ? (double)gFolder->items / seconds : 0;
    fprintf(stderr, "\r%s: %lld items (%.0f/s)%s", gFolder->trueName.c_str(), gFolder->items, rate, final ? "\n" : "");
    fflush(stderr);
}

// "folder N NAME message M "SUBJECT"" for the list of failed items (M: the
// message's place in the folder, from 1).
std::string ItemName(const mdat *rec) {
    std::string name = "folder " + std::to_string(gFolder->folderNumber) + " " + gFolder->trueName;
    if (rec && rec->msgNumber > 0) name += " message " + std::to_string(rec->msgNumber);
    if (rec && rec->subject[0]) name += " \"" + std::string(rec->subject, strnlen(rec->subject, sizeof rec->subject)) + "\"";
    return name;
}

int BV_CALL OnItem(mdat *rec, const char *, const char *workDir, int itemNumber) {
    if (!gFolder || !rec) return 0;
    const RunSettings &settings = *gFolder->settings;
    if (settings.dump) {
        nlohmann::json line = {{"type", "item"},
                               {"folder", gFolder->folderNumber},
                               {"folderName", gFolder->trueName},
                               {"item", itemNumber},
                               {"record", RecordToJson(rec, workDir ? workDir : settings.workDir)}};
        *settings.dump << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    }
    if (settings.target &&
        settings.target->module().WriteMsg(rec, gFolder->trueName.c_str(), workDir ? workDir : settings.workDir.c_str(),
                                           0) != 0) {
        // Not taken: the module then does not register it, and a later run tries it again.
        gFolder->writeFailure = ItemName(rec) + ": could not be written to the target";
        return kHostDidNotTake;
    }
    return 0;
}

int BV_CALL OnStatus(mdat *rec, const char *, int status, int *, int *, int *stop) {
    if (!gFolder) return 0;
    if (!gFolder->writeFailure.empty() || status == kStatusFailed) {
        std::string name = gFolder->writeFailure;
        if (name.empty()) {
            name = ItemName(rec) + ": could not be read from the source (see the log)";
        } else {
            gFolder->writeFailures++;  // the module counted it as handed over
        }
        gFolder->writeFailure.clear();
        gFolder->totals->failed.push_back(name);
        gFolder->failed++;
        status = kStatusFailed;
    }
    const RunSettings &settings = *gFolder->settings;
    if (settings.dump) {
        nlohmann::json line = {{"type", "status"}, {"folder", gFolder->folderNumber}, {"status", status}};
        *settings.dump << line.dump() << '\n';
    }
    if (status == kStatusFailed) {
        // counted above
    } else if (status == 0) {
        gFolder->items++;
    } else {
        gFolder->skipped++;
        gFolder->totals->skipped[status]++;
    }
    if (gStopRequested && stop) *stop = 1;
    ShowProgress(false);
    return 0;
}

}  // namespace

void RequestStop() {
    gStopRequested = 1;
    bvcom_SetStopRequest(1);  // also reaches a step that runs without callbacks (a download)
}

bool RunFolders(ModuleSession &source, const std::vector<FolderInfo> &folders, const RunSettings &settings,
                RunTotals *totals, std::ostream &report) {
    std::vector<int> chosen = settings.folders;
    if (chosen.empty())
        for (const FolderInfo &folder : folders) chosen.push_back(folder.number);
    for (int number : chosen) {
        if (number < 0 || number >= (int)folders.size()) {
            report << "bvhost: there is no folder " << number << " (the source has " << folders.size()
                   << " folders, numbered from 0)\n";
            return false;
        }
    }
    auto rec = std::make_unique<mdat>();
    for (int number : chosen) {
        if (gStopRequested) break;
        const FolderInfo &info = folders[number];
        ModuleSession *target = settings.target;
        if (target && info.folderClass != target->endpoint().folderClass) {
            report << "folder " << number << " " << info.name << ": skipped, a " << FolderClassName(info.folderClass)
                   << " folder does not fit a " << target->endpoint().kind << " target\n";
            totals->foldersSkipped++;
            continue;
        }
        FolderContext context;
        context.settings = &settings;
        context.totals = totals;
        context.folderNumber = number;
        context.trueName = source.TrueName(number);
        context.started = context.lastProgress = Clock::now();
        gFolder = &context;

        source.module().InitRead(rec.get(), 0, 0, 0, 0, settings.maxRead);
        if (target) target->module().InitWrite(rec.get(), context.trueName.c_str(), 0, info.folderClass);
        int count = 0, size = 0;
        int result = source.module().ConvertFolder(rec.get(), OnItem, number, nullptr, 0, 0, 0, 0, kMaxRecipients, 0,
                                                   settings.workDir.c_str(), &count, &size, OnStatus);
        source.module().CloseRead(0);
        if (target) target->module().CloseWrite(info.folderClass);
        ShowProgress(true);
        gFolder = nullptr;

        totals->folders++;
        // An item the target could not take was still counted by the module.
        totals->items += count - (long long)context.writeFailures;
        totals->bytes += size;
        report << "folder " << number << " " << context.trueName << ": " << count - context.writeFailures
               << " items, " << context.skipped << " skipped, " << context.failed << " failed, " << size << " bytes\n";
        if (result != 0) {
            totals->foldersFailed++;
            report << "bvhost: folder " << number << " " << context.trueName << ": ConvertFolder result " << result
                   << (result == 1 ? " (the mail file cannot be opened)" : "") << "\n";
        }
    }
    return true;
}

std::string SummaryLine(const RunTotals &totals) {
    auto skipped = [&](int status) {
        auto found = totals.skipped.find(status);
        return found == totals.skipped.end() ? 0LL : found->second;
    };
    long long other = 0;
    for (const auto &entry : totals.skipped)
        if (entry.first != 1 && entry.first != 2 && entry.first != 6) other += entry.second;
    char line[512];
    snprintf(line, sizeof line,
             "summary: %d folders, %lld items, skipped %lld duplicate, %lld date limit, %lld excluded, %lld other, "
             "failed %zu; %lld bytes; %lld warnings",
             totals.folders, totals.items, skipped(1), skipped(2), skipped(6), other, totals.failed.size(),
             totals.bytes, totals.warnings);
    return line;
}

std::string FailedItemLines(const RunTotals &totals) {
    std::string lines;
    for (size_t i = 0; i < totals.failed.size() && i < kFailedItemsNamed; i++) lines += "failed: " + totals.failed[i] + "\n";
    if (totals.failed.size() > kFailedItemsNamed)
        lines += "failed: ... and " + std::to_string(totals.failed.size() - kFailedItemsNamed) + " more (see the log)\n";
    return lines;
}

}  // namespace bvhost
