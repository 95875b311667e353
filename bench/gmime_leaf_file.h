// One GMime leaf part written to a file the way the module writes its part
// files: through a buffered stdio stream, the decoded content when there is a
// data wrapper, else the bytes given. Returns the bytes written, -1 when the
// file cannot be made. Shared by the GMime peers of the benchmarks.
#pragma once
#include <gmime/gmime.h>
#include <stdio.h>

#include <string>

inline long long WriteGmimeLeafFile(const std::string &path, const char *data, size_t len,
                                    GMimeDataWrapper *content) {
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return -1;
    GMimeStream *out = g_mime_stream_file_new(file);
    if (content) g_mime_data_wrapper_write_to_stream(content, out);
    else g_mime_stream_write(out, data, len);
    g_mime_stream_flush(out);
    long long written = (long long)g_mime_stream_tell(out);
    g_object_unref(out);
    return written;
}
