// Writes generated events through the loaded module's write cycle
// (InitWrite, WriteMsg, CloseWrite), as the target side of a calendar
// migration does, and prints events per second and the peak RSS. Two
// records (a plain and a recurring event) are built once and written in
// turn with a new title and start each time, so the figure is the writer's
// alone, not the common library's record freeing.
//
//   bench_calwrite EVENTS OUT.vcs
//
// Every event has a title, location, two attendees, an organizer, a
// 300-byte description, an alarm, and every tenth a weekly rule with a
// deleted and a changed occurrence.
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "host/module_instance.h"
#include "platform/platform.h"

namespace {

void AddRecip(mdat *rec, const char *name, const char *addr, int type) {
    if (!com_AllocRecip(rec)) return;
    mrecip *recip = rec->recips[rec->recipCount++];
    snprintf(recip->name, sizeof recip->name, "%s", name);
    snprintf(recip->addr, sizeof recip->addr, "%s", addr);
    recip->type = type;
}

void FillEvent(mdat *rec, int n, const std::string &notes, const char *workDir) {
    rec->dataType = 2;
    snprintf(rec->location, sizeof rec->location, "Room %d", n % 40);
    uint64_t start = 133500000000000000ULL;
    rec->reminderSet = 1;
    rec->reminderMinutes = 15;
    snprintf(rec->organizerAddr, sizeof rec->organizerAddr, "boss@example.org");
    AddRecip(rec, "Ann Example", "ann@example.org", 3);
    AddRecip(rec, "Bob Example", "bob@example.org", 11);
    com_WriteNotes(rec, notes.c_str(), workDir);
    if (n % 10 != 0) return;
    rec->isRecurring = 1;
    rec->recurType = BV_RECUR_WEEKLY;
    rec->recurDayMask = 2;
    rec->recurInterval = 1;
    rec->recurCount = 20;
    for (int kind = 1; kind >= 0; kind--) {
        if (!com_AllocBreakout(rec)) return;
        mexception *exc = rec->exceptions[rec->exceptionCount++];
        exc->kind = kind;
        exc->originalStart = plat_U64ToFileTime(start + (uint64_t)(2 - kind) * 6048000000000ULL);
        exc->newStart = exc->originalStart;
        exc->newEnd = exc->originalStart;
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bench_calwrite EVENTS OUT.vcs\n");
        return 2;
    }
    int events = atoi(argv[1]);
    std::string out = argv[2];
    std::string workDir = out + ".work/";
    std::filesystem::create_directories(workDir);
    bvcom_SetWorkDir(workDir.c_str());
    std::string error;
    std::unique_ptr<bvhost::ModuleInstance> module =
        bvhost::ModuleInstance::Load(BV_BINARY_DIR "/lib/libbvole.so", false, &error);
    if (!module) {
        fprintf(stderr, "bench_calwrite: %s\n", error.c_str());
        return 1;
    }
    char path[1024];
    snprintf(path, sizeof path, "%s", out.c_str());
    char outText[1024] = "";
    if (module->Logon(0, 0, path, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, 0, 99, "", 0) != 0) return 1;
    std::string notes;
    while (notes.size() < 300) notes += "Notes of the event, with a second line.\r\n";
    std::unique_ptr<mdat> records[2] = {std::make_unique<mdat>(), std::make_unique<mdat>()};
    FillEvent(records[0].get(), 1, notes, workDir.c_str());
    FillEvent(records[1].get(), 0, notes, workDir.c_str());
    auto begin = std::chrono::steady_clock::now();
    module->InitWrite(records[0].get(), "Calendar", 0, 2);
    for (int n = 0; n < events; n++) {
        mdat *rec = records[n % 10 == 0 ? 1 : 0].get();
        snprintf(rec->title, sizeof rec->title, "Event %d of the generated calendar", n);
        uint64_t start = 133500000000000000ULL + (uint64_t)n * 36000000000ULL;  // an hour apart
        rec->startTime = plat_U64ToFileTime(start);
        rec->endTime = plat_U64ToFileTime(start + 18000000000ULL);
        module->WriteMsg(rec, "Calendar", workDir.c_str(), 0);
    }
    module->CloseWrite(2);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    for (auto &rec : records) {
        com_Deallocate_All(rec.get(), workDir.c_str());
        com_Deallocate(rec.get(), workDir.c_str());
    }
    module->Logoff(0);
    std::filesystem::remove_all(workDir);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%d events in %.2f s: %.0f events/s, %.1f MB written, peak RSS %ld MB\n", events, seconds,
           events / seconds, std::filesystem::file_size(out) / 1e6, usage.ru_maxrss / 1024);
    return 0;
}
