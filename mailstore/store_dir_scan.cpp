// ScanStoreDir: the folder table of a directory-per-message store, filled
// once at logon. Every directory below the store is one candidate folder;
// the recursion visits subdirectories in name order.
#include <string.h>

#include <string>

#include "mailstore/mail_reader.h"
#include "mailstore/mailstore.h"
#include "mailstore/store_dir.h"
#include "platform/platform.h"

namespace {

// Names that mark a folder (and everything below it) as not the user's mail.
const char *const kExcludedNames[] = {"#assoc", "#deleted", "_hidden_", "#certificates", "Deleted mailbox -"};

// The kind that status.fld names, checked in this order; -1 for none.
struct StatusMarker {
    const char *text;
    int folderClass;
};
const StatusMarker kStatusMarkers[] = {
    {"WIPF.Contact", BV_CLASS_CONTACTS},
    {"WIPF.Task", BV_CLASS_TASKS},
    {"WIPF.Appointment", BV_CLASS_CALENDAR},
    {"WIPF.Note", BV_CLASS_MAIL},
};

std::string WithSeparator(const char *dir) {
    std::string out = dir;
    if (out.empty() || out.back() != BV_PATH_SEP) out += BV_PATH_SEP;
    return out;
}

FILE *OpenStatusFile(const std::string &dir) {
    FILE *file = plat_fopen((dir + STORE_STATUS_FILE).c_str(), "rb");
    char found[BV_PATH_LEN * 2];
    if (!file && plat_FindFileNoCase(dir.c_str(), STORE_STATUS_FILE, found, sizeof found))
        file = plat_fopen(found, "rb");
    return file;
}

// The file may hold binary bytes; the markers are searched in all of it.
int ReadStatusClass(const std::string &dir) {
    FILE *file = OpenStatusFile(dir);
    if (!file) return -1;
    char bytes[STORE_STATUS_READ_LEN];
    size_t length = fread(bytes, 1, sizeof bytes, file);
    fclose(file);
    std::string text(bytes, length);
    for (const StatusMarker &marker : kStatusMarkers)
        if (text.find(marker.text) != std::string::npos) return marker.folderClass;
    return -1;
}

// The folder's path below the store, or for the store directory itself its
// own name (so that a store root holding messages has a name too).
void RelativeName(const char *path, char *out, size_t outCap) {
    size_t rootLength = strlen(gKerioDir);
    const char *relative = strncmp(path, gKerioDir, rootLength) == 0 ? path + rootLength : path;
    while (*relative == BV_PATH_SEP) relative++;
    com_strncpy(out, relative, outCap - 1);
    for (size_t length = strlen(out); length > 0 && out[length - 1] == BV_PATH_SEP;) out[--length] = '\0';
    if (out[0]) return;
    std::string own = path;
    while (own.size() > 1 && own.back() == BV_PATH_SEP) own.pop_back();
    com_ExtractFileName(own.c_str(), out, outCap);
}

bool IsExcluded(const char *name) {
    for (const char *excluded : kExcludedNames)
        if (com_stristr(name, excluded, 0)) return true;
    return false;
}

// Levels joined with '^', then IMAP modified UTF-7 decoded ("Entw&APw-rfe").
void ListedName(char *name, size_t capacity) {
    for (char *c = name; *c; c++)
        if (*c == BV_PATH_SEP) *c = '^';
    decode_modified_ut7(name, capacity);
}

// "__" hides a folder itself, not its subfolders, so the folder's own level
// is tested: testing the whole name would hide every level below it too.
bool IsHiddenLevel(const char *name) {
    const char *level = strrchr(name, '^');
    level = level ? level + 1 : name;
    return strncmp(level, "__", 2) == 0;
}

// Steps for the directory itself: its record, when it is a folder.
void AddStoreFolder(const char *path, const std::string &dir, int statusClass, const char *name) {
    std::string messagesDir = dir + STORE_MESSAGES_DIR + BV_PATH_SEP;
    if (messagesDir.size() >= BV_PATH_LEN) {
        com_Log("BV Warning: folder path too long, not listed: %s", path);
        return;
    }
    std::vector<std::string> messages;
    if (ListStoreEntries(messagesDir.c_str(), "*.eml", STORE_FILES, &messages) == STORE_LIST_FAILED)
        com_Log("BV Warning: unable to list the messages of %s", messagesDir.c_str());
    if (messages.empty() && statusClass == -1) return;
    int contentClass = messages.empty() ? -1 : StoreMessageClass((messagesDir + messages[0]).c_str());
    // Messages in a folder that nothing else describes are mail.
    int folderClass = contentClass != -1 ? contentClass : statusClass != -1 ? statusClass : BV_CLASS_MAIL;

    char listed[BV_PATH_LEN];
    com_strncpy(listed, name, sizeof listed - 1);
    ListedName(listed, sizeof listed);
    if (IsHiddenLevel(listed)) return;
    if (gFolderCount >= STORE_MAX_FOLDERS) {
        com_Log("BV Warning: more than %d folders, not listed: %s", STORE_MAX_FOLDERS, listed);
        return;
    }
    AddFolder(listed, messagesDir.c_str(), 0, (uint32_t)messages.size(), (uint32_t)folderClass);
}

}  // namespace

extern "C" int ScanStoreDir(const char *path) {
    std::string dir = WithSeparator(path);
    int statusClass = ReadStatusClass(dir);
    char name[BV_PATH_LEN];
    RelativeName(path, name, sizeof name);
    if (IsExcluded(name)) return 1;
    if (dir.size() >= BV_PATH_LEN) {
        // Its subfolders' paths are longer still: none would fit a folder record.
        com_Log("BV Warning: folder path too long, not listed with its subfolders: %s", path);
        return 1;
    }
    AddStoreFolder(path, dir, statusClass, name);

    std::vector<std::string> subdirectories;
    if (ListStoreEntries(dir.c_str(), "*.*", STORE_DIRECTORIES, &subdirectories) == STORE_LIST_FAILED) {
        com_Log("BV Error: unable to access folder %s, check file permissions", path);
        return 0;
    }
    for (const std::string &entry : subdirectories) {
        if (entry[0] == '.') continue;
        if (!ScanStoreDir((dir + entry).c_str())) return 0;
    }
    return 1;
}
