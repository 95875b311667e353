// mbx_writer: writes messages as a mailbox text file cut by "From -" lines,
// as Outlook Express and Netscape leave them: with --jmf6 behind the 100-byte
// "JMF6" header of an Outlook Express 4 .mbx file, else as a plain mbox file.
// Body lines that would read as a separator get a '>' in front.
//
//   mbx_writer [--jmf6] OUT INPUT...   (INPUT: .eml files or directories of them)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
const size_t kJmf6HeaderLen = 100;
const char kSeparator[] = "From - Mon Jan 15 14:00:00 2024\r\n";

bool CopyMessage(const fs::path &path, FILE *out) {
    FILE *in = fopen(path.c_str(), "rb");
    if (!in) return false;
    fputs(kSeparator, out);
    char *line = nullptr;
    size_t cap = 0;
    ssize_t len;
    bool endsWithNewline = true;
    while ((len = getline(&line, &cap, in)) > 0) {
        if (len >= 6 && strncasecmp(line, "From -", 6) == 0) fputc('>', out);
        fwrite(line, 1, (size_t)len, out);
        endsWithNewline = line[len - 1] == '\n';
    }
    if (!endsWithNewline) fputs("\r\n", out);
    free(line);
    fclose(in);
    return true;
}
}  // namespace

int main(int argc, char **argv) {
    bool jmf6 = false;
    int arg = 1;
    if (arg < argc && strcmp(argv[arg], "--jmf6") == 0) {
        jmf6 = true;
        arg++;
    }
    if (arg >= argc) {
        fprintf(stderr, "usage: mbx_writer [--jmf6] OUT [INPUT.eml | DIR]...\n");
        return 2;
    }
    FILE *out = fopen(argv[arg], "wb");
    if (!out) {
        perror(argv[arg]);
        return 1;
    }
    if (jmf6) {
        std::vector<unsigned char> header(kJmf6HeaderLen, 0);
        memcpy(header.data(), "JMF6", 4);
        fwrite(header.data(), 1, header.size(), out);
    }
    for (arg++; arg < argc; arg++) {
        std::vector<fs::path> files;
        std::error_code ec;
        if (fs::is_directory(argv[arg], ec)) {
            for (const auto &e : fs::directory_iterator(argv[arg], ec))
                if (e.is_regular_file() && e.path().extension() == ".eml") files.push_back(e.path());
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(argv[arg]);
        }
        for (const fs::path &file : files) {
            if (!CopyMessage(file, out)) {
                fprintf(stderr, "mbx_writer: cannot read %s\n", file.c_str());
                fclose(out);
                return 1;
            }
        }
    }
    return fclose(out) == 0 ? 0 : 1;
}
