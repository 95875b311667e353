// Parses every message of a corpus directory into records and part files
// with Parse_RFC822_Msg, and the same corpus with GMime 3 writing every
// decoded part (and the header block) to a file, in one run; prints
// messages/s and MB/s of both and their ratio.
//
//   mime_bench CORPUS_DIR [WORK_DIR]
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>
#include "bench/gmime_leaf_file.h"
#include "mime/mime.h"
#include "module/session.h"
#include "record/com.h"

namespace fs = std::filesystem;

namespace {

double CpuSeconds() {
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Totals {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of this process during the run
    long messages = 0, parts = 0, failures = 0;
    uint64_t outBytes = 0;
};

uint64_t CountParts(const mdat *r, const std::string &dir, long *parts, int depth) {
    uint64_t bytes = 0;
    for (int i = 0; i < r->partCount; i++) {
        ++*parts;
        bytes += (uint64_t)std::max(0, r->parts[i]->size);
        if (r->parts[i]->subMsg && depth < 40) bytes += CountParts(r->parts[i]->subMsg, dir, parts, depth + 1);
    }
    return bytes;
}

Totals RunBvole(const std::vector<std::string> &files, const std::string &workDir) {
    Totals t;
    mdat *rec = (mdat *)calloc(1, sizeof(mdat));
    auto start = std::chrono::steady_clock::now();
    double cpuStart = CpuSeconds();
    for (size_t i = 0; i < files.size(); i++) {
        FILE *f = fopen(files[i].c_str(), "rb");
        if (!f) continue;
        com_ResetObject(rec);
        rec->msgNumber = (int)(i % 1000);
        int result = Parse_RFC822_Msg(f, rec, workDir.c_str(), "", 1);
        fclose(f);
        if (result != 0) t.failures++;
        t.outBytes += CountParts(rec, workDir, &t.parts, 0);
        com_Deallocate(rec, workDir.c_str());  // deletes the part files
        t.messages++;
    }
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.cpuSeconds = CpuSeconds() - cpuStart;
    free(rec);
    return t;
}

struct GmimeWalk {
    std::string workDir;
    int index;
    Totals *totals;
    std::vector<std::string> written;
};

void WriteGmimeFile(GmimeWalk *w, const char *data, size_t len, GMimeDataWrapper *content) {
    std::string path = w->workDir + "gm" + std::to_string(w->index++) + ".part";
    long long written = WriteGmimeLeafFile(path, data, len, content);
    if (written < 0) return;
    w->totals->outBytes += (uint64_t)written;
    w->totals->parts++;
    w->written.push_back(path);
}

void WalkMessage(GMimeMessage *message, GmimeWalk *w);

void VisitPart(GMimeObject *, GMimeObject *part, gpointer data) {
    GmimeWalk *w = (GmimeWalk *)data;
    if (GMIME_IS_MESSAGE_PART(part)) {
        GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
        if (inner) WalkMessage(inner, w);
    } else if (GMIME_IS_TEXT_PART(part)) {
        char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));  // converted to UTF-8
        if (text) WriteGmimeFile(w, text, strlen(text), nullptr);
        g_free(text);
    } else if (GMIME_IS_PART(part)) {
        GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(part));
        if (content) WriteGmimeFile(w, nullptr, 0, content);  // decoded bytes
    }
}

void WalkMessage(GMimeMessage *message, GmimeWalk *w) {
    // the same header work as the record: sender, recipients, subject, date
    InternetAddressList *from = g_mime_message_get_from(message);
    char *fromText = from ? internet_address_list_to_string(from, nullptr, FALSE) : nullptr;
    InternetAddressList *to = g_mime_message_get_all_recipients(message);
    if (to) g_object_unref(to);
    volatile const char *subject = g_mime_message_get_subject(message);
    (void)subject;
    (void)g_mime_message_get_date(message);
    g_free(fromText);
    char *headers = g_mime_object_get_headers(GMIME_OBJECT(message), nullptr);
    if (headers) WriteGmimeFile(w, headers, strlen(headers), nullptr);
    g_free(headers);
    g_mime_message_foreach(message, VisitPart, w);
}

Totals RunGmime(const std::vector<std::string> &files, const std::string &workDir) {
    Totals t;
    auto start = std::chrono::steady_clock::now();
    double cpuStart = CpuSeconds();
    for (const std::string &file : files) {
        GMimeStream *stream = g_mime_stream_fs_open(file.c_str(), O_RDONLY, 0, nullptr);
        if (!stream) continue;
        GMimeParser *parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
        GmimeWalk w{workDir, 0, &t, {}};
        if (message) WalkMessage(message, &w);
        else t.failures++;
        for (const std::string &p : w.written) unlink(p.c_str());
        if (message) g_object_unref(message);
        g_object_unref(parser);
        g_object_unref(stream);
        t.messages++;
    }
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.cpuSeconds = CpuSeconds() - cpuStart;
    return t;
}

void Report(const char *name, const Totals &t, double mb) {
    printf("%-8s %6ld messages %7ld parts %7.1f MB out | wall %6.2f s %7.0f msg/s %6.1f MB/s | cpu %6.2f s %7.0f msg/s "
           "%6.1f MB/s | %ld failed\n",
           name, t.messages, t.parts, t.outBytes / 1e6, t.seconds, t.messages / t.seconds, mb / t.seconds, t.cpuSeconds,
           t.messages / t.cpuSeconds, mb / t.cpuSeconds, t.failures);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s CORPUS_DIR [WORK_DIR]\n", argv[0]);
        return 2;
    }
    std::vector<std::string> files;
    uint64_t inBytes = 0;
    for (const auto &e : fs::directory_iterator(argv[1]))
        if (e.is_regular_file()) {
            files.push_back(e.path().string());
            inBytes += e.file_size();
        }
    std::sort(files.begin(), files.end());
    std::string workDir = argc > 2 ? argv[2] : (fs::temp_directory_path() / "bv_mime_bench").string();
    fs::create_directories(workDir);
    workDir += "/";
    // read everything once so that both runs find the corpus in the page cache
    std::vector<char> block(1 << 20);
    for (const std::string &f : files) {
        FILE *in = fopen(f.c_str(), "rb");
        if (!in) continue;
        while (fread(block.data(), 1, block.size(), in) > 0) {
        }
        fclose(in);
    }
    g_mime_init();
    double mb = inBytes / 1e6;
    printf("corpus: %zu messages, %.1f MB\n", files.size(), mb);
    Totals bv = RunBvole(files, workDir);
    Totals gm = RunGmime(files, workDir);
    Report("bvole", bv, mb);
    Report("GMime 3", gm, mb);
    printf("ratio bvole / GMime: wall %.2f, cpu %.2f\n", gm.seconds / bv.seconds, gm.cpuSeconds / bv.cpuSeconds);
    g_mime_shutdown();
    return 0;
}
