// ParseOptionSwitches: walks the host's switch tokens and sets the session's
// flags, numbers and texts. Matching is exact and case-sensitive, in table
// order. A switch that takes a value reads the following token into the same
// buffer without advancing; the rest of the pass compares against that value,
// and the next pass examines the value token again as a switch of its own.
#include <stdlib.h>
#include <string.h>
#include "module/session.h"

namespace {

enum SwitchKind {
    SET_ONE,         // *flag = 1
    SET_ZERO,        // *flag = 0 (switches that turn a default off)
    TEXT,            // value copied into text
    ZFOLDERS_FILE,   // value copied, then made absolute against the host's directory
    ATTACH_DIR,      // value copied, then a separator appended
    NUMBER,          // *flag = decimal value
    EVCS,            // flag and level 3; a non-empty value sets the level
    D153,            // flag; a value that begins with '1' also sets gD153One
};

struct SwitchEntry {
    const char *name;
    SwitchKind kind;
    int *flag;
    char *text;
    const char *controls;  // what the switch changes; "accepted, no effect yet" when nothing reads it
};

// The switch names are the host's; the letter-and-number variables keep the
// names the host's documentation gives them, and `controls` says what each does.
const SwitchEntry kSwitches[] = {
    {"/LOGUUID", SET_ONE, &gLogUuid, nullptr, "each mail message logged between UUID markers"},
    {"/D153", D153, &gD153, nullptr, "contacts in the list layout; value 1...: the address first"},
    {"/CURLDEBUG", SET_ONE, &gCurlDebug, nullptr, "every libcurl trace line in the log"},
    {"/INSECURE", SET_ONE, &gInsecureTls, nullptr, "downloads without TLS certificate verification"},
    {"/D179", SET_ONE, &gD179, nullptr, "accepted, no effect yet"},
    {"/D301", SET_ONE, &gD301, nullptr, "each written event in its own VCALENDAR object"},
    {"/D288", SET_ONE, &gD288, nullptr, "calendar entries grouped into series by UID"},
    {"/D149", SET_ONE, &gD149, nullptr, "only attendees with CUTYPE=INDIVIDUAL are read"},
    {"/UTF8", SET_ONE, &gUtf8, nullptr, "source texts taken as UTF-8"},
    {"/CP850", SET_ONE, &gCp850, nullptr, "calendar lines also converted from code page 850"},
    {"/BVGUI", SET_ONE, &gBvGui, nullptr, "mail folders listed without counting their messages"},
    {"/DEBUG", SET_ONE, &gDebug, nullptr, "the debug lines of the log"},
    {"/NOINVENTORY", SET_ONE, &gNoInventory, nullptr, "mail folders listed without counting their messages"},
    {"/SSTORE", SET_ONE, &gSStore, nullptr, "no group folder for the records read"},
    {"/FAS", SET_ONE, &gFas, nullptr, "contacts CSV gets a FileAs column"},
    {"/ACTDIR", SET_ONE, &gActDir, nullptr, "contacts in the directory-import layout"},
    {"/CSVTASK", SET_ONE, &gCsvTask, nullptr, "events and tasks also written to a task CSV"},
    {"/XIMIAN", SET_ONE, &gXimian, nullptr, "calendar files with the Evolution header and zone"},
    {"/OED", SET_ONE, &gOeDirect, nullptr, "mail read from the DBX/MBX files of a directory"},
    {"/DEDUP", SET_ONE, &gDedup, nullptr, "a message without Message-ID gets its digest as one"},
    {"/LSUB", SET_ONE, &gLSub, nullptr, "the title of every item read is logged"},
    {"/EIH", SET_ONE, &gEih, nullptr, "with /D68: the original header block is kept"},
    {"/D68", SET_ONE, &gD68, nullptr, "with /EIH: the original header block is kept"},
    {"/D74", SET_ONE, &gD74, nullptr, "composed messages without their body"},
    {"/D77", SET_ONE, &gD77, nullptr, "written events carry compatibility lines (TRANSP, STATUS, DCREATED, ...)"},
    {"/D81", SET_ONE, &gD81, nullptr, "the raw source message kept and written as it came"},
    {"/D84", SET_ZERO, &gD84, nullptr, "event times written without the UTC mark Z"},
    {"/UNID", SET_ONE, &gUnid, nullptr, "contacts CSV gets a UNID column"},
    {"/NHS", SET_ONE, &gNhs, nullptr, "no header sniffing: parts and Class lines taken as they are"},
    {"/D133", SET_ZERO, &gD133, nullptr, "imported messages created and committed, never copied"},
    {"/D220", SET_ONE, &gD220, nullptr, "Class CONFIDENTIAL makes an entry private"},
    {"/D226", SET_ONE, &gD226, nullptr, "a calendar entry keeps its foreign UID"},
    {"/D230", SET_ONE, &gD230, nullptr, "a calendar entry keeps its foreign UID"},
    {"/D242", SET_ZERO, &gD242, nullptr, "the mailbox owner is not added as an attendee"},
    {"/GN", TEXT, nullptr, gRootFolderName, "the group folder above the migrated folders"},
    {"/ZFOLDERS", ZFOLDERS_FILE, nullptr, gZFoldersFile, "a file that lists the folders of a web source"},
    {"/D223", TEXT, nullptr, gD223Text, "the field-label file of contact CSV columns"},
    {"/D160", TEXT, nullptr, gD160Text, "only calendar entries of this PRODID are read"},
    {"/D159", TEXT, nullptr, gD159Text, "the mailbox owner's address, for meeting ownership"},
    {"/EVCS", EVCS, &gEvcs, nullptr, "written events carry attachments (level bit 2)"},
    {"/D161", SET_ONE, &gD161, nullptr, "only events the mailbox owner organizes are read"},
    {"/MAXATTACHSIZE", NUMBER, &gMaxAttachSize, nullptr, "largest attachment kept, in bytes"},
    {"/DSTOFFSET", NUMBER, &gDstOffset, nullptr, "daylight-saving offset in minutes, instead of the system's"},
    {"/ATTACHDIR", ATTACH_DIR, nullptr, gAttachDir, "directory of files that attachment lines name"},
    {"/D55", TEXT, nullptr, gD55Text, "mail domain added to attendee names without one"},
    {"/D47", NUMBER, &gD47, nullptr, "accepted, no effect yet"},
};

// Every switch text buffer has the same width.
const size_t kSwitchTextCap = BV_SWITCH_TEXT_LEN;

// Reads the value token into token (empty when there is none); the index
// stays where it is so that the next pass sees the same token.
void FetchValue(int nextIndex, char *token) {
    if (!com_GetParm(nextIndex, token)) token[0] = '\0';
    token[BV_TOKEN_LEN - 1] = '\0';
}

void ApplySwitch(const SwitchEntry &entry, int nextIndex, char *token) {
    switch (entry.kind) {
    case SET_ONE:
        *entry.flag = 1;
        return;
    case SET_ZERO:
        *entry.flag = 0;
        return;
    case EVCS:
        gEvcs = 1;
        gEvcsLevel = 3;
        FetchValue(nextIndex, token);
        if (token[0]) gEvcsLevel = atoi(token);
        return;
    case D153:
        *entry.flag = 1;
        FetchValue(nextIndex, token);
        if (token[0] == '1') gD153One = 1;
        return;
    case TEXT:
    case ZFOLDERS_FILE:
    case ATTACH_DIR:
        FetchValue(nextIndex, token);
        if (!token[0]) return;
        com_strncpy(entry.text, token, kSwitchTextCap - 1);
        if (entry.kind == ZFOLDERS_FILE) com_AddSystemDir(entry.text, kSwitchTextCap);
        if (entry.kind == ATTACH_DIR) com_AppendSlash(entry.text, kSwitchTextCap);
        return;
    case NUMBER:
        FetchValue(nextIndex, token);
        if (token[0]) *entry.flag = atoi(token);
        return;
    }
}

}  // namespace

extern "C" void ParseOptionSwitches(void) {
    char token[BV_TOKEN_LEN];
    memset(token, 0, sizeof token);
    if (!com_GetParm(0, token)) return;
    token[BV_TOKEN_LEN - 1] = '\0';
    int nextIndex = 1;
    for (;;) {
        for (const SwitchEntry &entry : kSwitches) {
            if (strcmp(token, entry.name) == 0) ApplySwitch(entry, nextIndex, token);
        }
        if (!com_GetParm(nextIndex, token)) return;
        token[BV_TOKEN_LEN - 1] = '\0';
        nextIndex++;
    }
}
