// Read-ahead of a stdio stream. glibc keeps the unread bytes between
// _IO_read_ptr and _IO_read_end (the same window getc_unlocked reads from,
// also while ungetc's backup area is active); other C libraries give 0 and
// their callers read one byte at a time.
#include "platform/platform.h"

extern "C" size_t plat_StreamPeek(FILE *stream, const char **data) {
#if defined(__GLIBC__)
    if (stream->_IO_read_ptr < stream->_IO_read_end) {
        *data = stream->_IO_read_ptr;
        return (size_t)(stream->_IO_read_end - stream->_IO_read_ptr);
    }
#else
    (void)stream;
#endif
    *data = nullptr;
    return 0;
}

extern "C" void plat_StreamSkip(FILE *stream, size_t count) {
#if defined(__GLIBC__)
    size_t available = (size_t)(stream->_IO_read_end - stream->_IO_read_ptr);
    stream->_IO_read_ptr += count < available ? count : available;
#else
    (void)stream;
    (void)count;
#endif
}
