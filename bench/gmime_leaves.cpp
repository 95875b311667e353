// The peer of `bvhost dump` in bench/scale_bench.sh: GMime 3 parses an mbox
// file message by message and writes every leaf part to a file of a work
// directory (text converted to UTF-8, other parts decoded, and the header
// block, as the part files of the record), deleting each message's files
// before the next one as the module does.
//   gmime_leaves MBOX WORKDIR
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gmime_leaf_file.h"

namespace {

struct Walk {
    std::string workDir;
    std::vector<std::string> written;
    long long parts = 0;
};

void WriteLeaf(Walk *w, const char *data, size_t len, GMimeDataWrapper *content) {
    std::string path = w->workDir + "/part" + std::to_string(w->written.size());
    if (WriteGmimeLeafFile(path, data, len, content) < 0) return;
    w->written.push_back(path);
    w->parts++;
}

void WalkMessage(GMimeMessage *message, Walk *w);

void VisitPart(GMimeObject *, GMimeObject *part, gpointer data) {
    Walk *w = static_cast<Walk *>(data);
    if (GMIME_IS_MESSAGE_PART(part)) {
        GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
        if (inner) WalkMessage(inner, w);
    } else if (GMIME_IS_TEXT_PART(part)) {
        char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
        if (text) WriteLeaf(w, text, strlen(text), nullptr);
        g_free(text);
    } else if (GMIME_IS_PART(part)) {
        GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(part));
        if (content) WriteLeaf(w, nullptr, 0, content);
    }
}

void WalkMessage(GMimeMessage *message, Walk *w) {
    char *headers = g_mime_object_get_headers(GMIME_OBJECT(message), nullptr);
    if (headers) WriteLeaf(w, headers, strlen(headers), nullptr);
    g_free(headers);
    g_mime_message_foreach(message, VisitPart, w);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: gmime_leaves MBOX WORKDIR\n");
        return 2;
    }
    g_mime_init();
    GMimeStream *stream = g_mime_stream_fs_open(argv[1], O_RDONLY, 0, nullptr);
    if (!stream) return 1;
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
    Walk walk;
    walk.workDir = argv[2];
    long long messages = 0;
    while (!g_mime_parser_eos(parser)) {
        GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
        if (!message) break;
        WalkMessage(message, &walk);
        g_object_unref(message);
        for (const std::string &path : walk.written) unlink(path.c_str());
        walk.written.clear();
        messages++;
    }
    g_object_unref(parser);
    g_object_unref(stream);
    g_mime_shutdown();
    printf("%lld messages, %lld parts\n", messages, walk.parts);
    return 0;
}
