// Composing and importing mail into the Maildir store: N messages, each with
// a text body, an HTML body, an inline image and two attachments, written
// through ImportOEMessage exactly as WriteMsg does (compose into
// "oemsg.tmp", read it back, create, commit, clone, commit, delete).
//
//   bench_compose [messages] [--d133] [--keep]
//
// Prints messages per second and megabytes of message text per second.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <string>

#include "compose/compose.h"
#include "module/session.h"
#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "record/com.h"

namespace {

struct BenchPart {
    int partType;
    const char *name;
    size_t size;
    const char *contentId;
};

const BenchPart kParts[] = {
    {BV_PART_HEADER, "Internet Headers.txt", 0, ""},
    {BV_PART_TEXT, "Message Text", 2000, ""},
    {BV_PART_HTML, "Message Text", 6000, ""},
    {BV_PART_ATTACHMENT, "logo.png", 8000, "logo@bench"},
    {BV_PART_ATTACHMENT, "report.pdf", 40000, ""},
    {BV_PART_ATTACHMENT, "data.xlsx", 12000, ""},
};

double CpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void WritePartFile(const char *workDir, mdat *rec, int index, const BenchPart &shape) {
    char path[1024];
    com_PartFileName(workDir, rec, index, path, sizeof path);
    FILE *f = plat_fopen(path, "wb");
    if (!f) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(1);
    }
    if (shape.partType == BV_PART_HEADER) {
        fputs("From: a@example.com\nReferences: <r1@example.com>\n <r2@example.com>\nSubject: x\n\n", f);
    } else if (shape.partType == BV_PART_TEXT || shape.partType == BV_PART_HTML) {
        for (size_t i = 0; i < shape.size; i++) fputc(i % 72 == 71 ? '\n' : 'a' + static_cast<int>(i % 26), f);
    } else {
        uint32_t x = static_cast<uint32_t>(shape.size);
        for (size_t i = 0; i < shape.size; i++) {
            x = x * 1103515245u + 12345u;
            fputc(static_cast<int>(x >> 16) & 0xff, f);
        }
    }
    fclose(f);
}

mdat *MakeRecord(const char *workDir) {
    mdat *rec = static_cast<mdat *>(calloc(1, sizeof(mdat)));
    rec->msgNumber = 1;
    rec->priority = 1;
    rec->importance = 1;
    rec->codepage = 65001;
    com_strncpy(rec->fromName, "Bench Sender", BV_NAME_LEN - 1);
    com_strncpy(rec->fromAddr, "sender@example.com", BV_ADDR_LEN - 1);
    for (int i = 0; i < 3; i++) {
        com_AllocRecip(rec);
        mrecip *r = rec->recips[rec->recipCount++];
        snprintf(r->name, sizeof r->name, "Recipient %d", i);
        snprintf(r->addr, sizeof r->addr, "r%d@example.org", i);
        r->type = i == 2 ? 11 : 3;
    }
    for (const BenchPart &shape : kParts) {
        com_AllocPart(rec);
        int index = rec->partCount++;
        mpart *p = rec->parts[index];
        p->partType = shape.partType;
        com_strncpy(p->name, shape.name, BV_NAME_LEN - 1);
        com_strncpy(p->contentId, shape.contentId, BV_CONTENTID_LEN - 1);
        com_strncpy(p->charset, shape.partType == BV_PART_TEXT || shape.partType == BV_PART_HTML ? "UTF-8" : "",
                    BV_CHARSET_LEN - 1);
        p->size = static_cast<int32_t>(shape.size);
        WritePartFile(workDir, rec, index, shape);
    }
    return rec;
}

double DirectoryBytes(const std::string &dir) {
    double total = 0;
    PlatFindData data;
    PlatFind *find = plat_FindFirstFile((dir + "/*.*").c_str(), &data);
    if (!find) return 0;
    do {
        total += static_cast<double>(data.size);
    } while (plat_FindNextFile(find, &data));
    plat_FindClose(find);
    return total;
}

}  // namespace

int main(int argc, char **argv) {
    int count = 10000;
    bool keep = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--d133") == 0) {
            gD133 = 0;
        } else if (strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else {
            count = atoi(argv[i]);
        }
    }
    char storeDir[] = "/tmp/bv_bench_store_XXXXXX";
    char workDir[] = "/tmp/bv_bench_work_XXXXXX";
    if (!mkdtemp(storeDir) || !mkdtemp(workDir)) return 1;
    std::string work = std::string(workDir) + "/";
    setenv("BV_OE_STORE", storeDir, 1);
    snprintf(gGmtOffset, sizeof gGmtOffset, "+0000");
    if (FAILED(plat_CoCreateInstance(&CLSID_OEAPI, nullptr, BV_CLSCTX_ALL_SERVERS, &IID_IOEAPI,
                                     reinterpret_cast<void **>(&gOeApi)))) {
        fprintf(stderr, "store object not available\n");
        return 1;
    }
    CreateOEFolder("Bench");
    gParentFolderId = gCurrentFolderId;
    CreateOEFolder("Inbox");
    mdat *rec = MakeRecord(work.c_str());
    const FILETIME date = plat_U64ToFileTime(133500000000000000ULL);

    // The composer alone, into one file that is rewritten each time.
    std::string composed = work + "compose_only.eml";
    double composeStart = Now(), composeCpu = CpuSeconds();
    for (int i = 0; i < count; i++) {
        FILE *out = plat_fopen(composed.c_str(), "wb");
        rec->date = date;
        ComposeRfc822(rec, out, "Next_Item:_(A3CB49KFSA19)/00", work.c_str(), "Inbox", 1);
        fclose(out);
    }
    double composeSeconds = Now() - composeStart;
    composeCpu = CpuSeconds() - composeCpu;
    double messageBytes = static_cast<double>(plat_GetFileSize(composed.c_str()));

    double start = Now(), cpu = CpuSeconds();
    for (int i = 0; i < count; i++) {
        snprintf(rec->subject, sizeof rec->subject, "Benchmark message %d", i);
        snprintf(rec->messageId, sizeof rec->messageId, "<bench.%d@example.com>", i);
        rec->unread = i % 3 == 0;
        rec->date = date;
        ImportOEMessage(work.c_str(), rec, "Inbox");
    }
    double seconds = Now() - start;
    cpu = CpuSeconds() - cpu;

    OeFolder *folder = nullptr;
    int32_t stored = 0;
    gOeApi->lpVtbl->GetFolder(gOeApi, gCurrentFolderId, &folder);
    folder->lpVtbl->GetMessageCount(folder, &stored);
    folder->lpVtbl->Release(folder);
    std::string folderDir = std::string(storeDir) + "/.Bench.Inbox";
    double megabytes = (DirectoryBytes(folderDir + "/cur") + DirectoryBytes(folderDir + "/new")) / 1e6;
    printf("message: %.0f bytes composed\n", messageBytes);
    printf("compose only: %.2f s  %.0f messages/s  (cpu %.3f ms/message)\n", composeSeconds, count / composeSeconds,
           composeCpu * 1000 / count);
    printf("compose+import: %d messages, %d stored (%s)\n", count, stored,
           gD133 ? "create, commit, clone, commit, delete" : "/D133: create, commit");
    printf("  %.2f s  %.0f messages/s  %.1f MB/s  (cpu %.3f ms/message)\n", seconds, count / seconds,
           megabytes / seconds, cpu * 1000 / count);

    com_Deallocate(rec, work.c_str());
    free(rec);
    gOeApi->lpVtbl->Release(gOeApi);
    if (!keep) plat_RemoveDirectoryTree(storeDir);
    plat_RemoveDirectoryTree(workDir);
    return stored == count ? 0 : 1;
}
