// What an item carries beside its fields: its note text and the reminders
// its fields have no room for. Kept in this library under the record's
// address so that a writer in another module instance of the process reads
// what a reader stored. Cleared with the record (reset, deallocation).
#include <map>
#include <mutex>
#include <string.h>
#include <string>
#include <unordered_map>
#include <vector>

#include "bvcom/library_state.h"

static std::mutex gNotesLock;
static std::unordered_map<const mdat *, std::string> gNotes;
// Record -> occurrence (-1: the item) -> minutes.
static std::unordered_map<const mdat *, std::map<int, std::vector<int>>> gExtraReminders;

void bvcom_DropItemExtras(const mdat *rec) {
    std::lock_guard<std::mutex> lock(gNotesLock);
    gNotes.erase(rec);
    gExtraReminders.erase(rec);
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

BVCOM_API int bvcom_SetExtraReminders(const mdat *rec, int occurrence, const int *minutes, int count) {
    if (!rec) return 0;
    if (!minutes || count < 0) count = 0;
    if (count > BV_MAX_EXTRA_REMINDERS) count = BV_MAX_EXTRA_REMINDERS;
    std::lock_guard<std::mutex> lock(gNotesLock);
    auto item = gExtraReminders.find(rec);
    if (count == 0) {
        if (item == gExtraReminders.end()) return 0;
        item->second.erase(occurrence);
        if (item->second.empty()) gExtraReminders.erase(item);
        return 0;
    }
    gExtraReminders[rec][occurrence].assign(minutes, minutes + count);
    return count;
}

BVCOM_API int bvcom_GetExtraReminders(const mdat *rec, int occurrence, int *minutes, int max) {
    if (!rec || !minutes || max <= 0) return 0;
    std::lock_guard<std::mutex> lock(gNotesLock);
    auto item = gExtraReminders.find(rec);
    if (item == gExtraReminders.end()) return 0;
    auto list = item->second.find(occurrence);
    if (list == item->second.end()) return 0;
    int count = 0;
    for (int value : list->second) {
        if (count >= max) break;
        minutes[count++] = value;
    }
    return count;
}

}  // extern "C"
