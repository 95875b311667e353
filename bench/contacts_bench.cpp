// Reads a contact CSV file through ParseContactFile and writes every contact
// back through WriteContact in the address-book layout, as a migration from
// one contact file to another does.
//
//   bench_contacts --csv FILE.csv [google-benchmark flags]
//
// bench/contacts_bench.sh generates the 100,000-contact input and runs it.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <filesystem>
#include <vector>
#include <string>
#include "contacts/contacts.h"

namespace {

std::string gCsvPath;
std::string gScratch;
int gHanded;

int BV_CALL WriteBack(mdat *record, const char *, const char *workDir, int) {
    gHanded++;
    WriteContact(record, workDir);
    return 0;
}

int BV_CALL IgnoreStatus(mdat *, const char *, int, int *, int *, int *) { return 0; }

void BM_ReadAndWriteBack(benchmark::State &state) {
    FolderRecord folder = {};
    com_strncpy(folder.fileName, gCsvPath.c_str(), sizeof(folder.fileName) - 1);
    folder.folderClass = BV_CLASS_CONTACTS;
    FolderRecord *table[1] = {&folder};
    gFolderTable = table;
    gFolderCount = 1;
    gMaxRead = 1 << 30;
    mdat *record = static_cast<mdat *>(calloc(1, sizeof(mdat)));
    std::string out = gScratch + "/out.csv";
    int run = 0;
    for (auto _ : state) {
        // A fresh work directory: the duplicate register starts empty.
        std::string workDir = gScratch + "/work" + std::to_string(run++) + "/";
        std::filesystem::create_directories(workDir);
        bvcom_SetWorkDir(workDir.c_str());
        std::filesystem::remove(out);
        com_strncpy(gContactOutPath, out.c_str(), sizeof(gContactOutPath) - 1);
        InitContactFile();
        gHanded = 0;
        int count = 0;
        ParseContactFile(0, record, WriteBack, workDir.c_str(), &count, IgnoreStatus);
        fclose(gOutFile);
        gOutFile = nullptr;
        free(gNotesBuf);
        gNotesBuf = nullptr;
        state.SetItemsProcessed(state.items_processed() + count);
        std::filesystem::remove_all(workDir);
    }
    state.counters["contacts"] = gHanded;
    com_ResetObject(record);
    free(record);
    gFolderTable = nullptr;
    gFolderCount = 0;
}
BENCHMARK(BM_ReadAndWriteBack)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], "--csv") == 0) gCsvPath = argv[i + 1];
    if (gCsvPath.empty()) {
        fprintf(stderr, "usage: bench_contacts --csv FILE.csv\n");
        return 2;
    }
    char scratch[] = "/tmp/bv_contacts_bench_XXXXXX";
    if (!mkdtemp(scratch)) return 1;
    gScratch = scratch;
    // Drop our own flag before google-benchmark sees the rest.
    std::vector<char *> args;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--csv") == 0) {
            i++;
            continue;
        }
        args.push_back(argv[i]);
    }
    int count = (int)args.size();
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(gScratch);
    return 0;
}
