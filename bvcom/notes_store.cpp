// Note text of an item, kept in this library under the record's address so
// that a writer in another module instance of the process reads what a reader
// stored. Cleared with the record (reset, deallocation).
#include <mutex>
#include <string.h>
#include <string>
#include <unordered_map>

#include "bvcom/library_state.h"

static std::mutex gNotesLock;
static std::unordered_map<const mdat *, std::string> gNotes;

void bvcom_DropNotes(const mdat *rec) {
    std::lock_guard<std::mutex> lock(gNotesLock);
    gNotes.erase(rec);
}

extern "C" {

// Keeps at most BV_NOTES_LEN - 1 bytes; an empty text removes the notes.
BVCOM_API void com_WriteNotes(mdat *rec, const char *notes, const char *workDir) {
    (void)workDir;
    if (!rec) return;
    size_t len = notes ? strnlen(notes, BV_NOTES_LEN - 1) : 0;
    std::lock_guard<std::mutex> lock(gNotesLock);
    if (len == 0) gNotes.erase(rec);
    else gNotes[rec].assign(notes, len);
}

BVCOM_API int com_ReadNotes(mdat *rec, char *notes, const char *workDir) {
    (void)workDir;
    if (!notes) return 0;
    notes[0] = 0;
    if (!rec) return 0;
    std::lock_guard<std::mutex> lock(gNotesLock);
    auto it = gNotes.find(rec);
    if (it == gNotes.end()) return 0;
    size_t len = it->second.size() < BV_NOTES_LEN - 1 ? it->second.size() : BV_NOTES_LEN - 1;
    memcpy(notes, it->second.data(), len);
    notes[len] = 0;
    return (int)len;
}

}  // extern "C"
