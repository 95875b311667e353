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
};

const SwitchEntry kSwitches[] = {
    {"/LOGUUID", SET_ONE, &gLogUuid, nullptr},
    {"/D153", D153, &gD153, nullptr},
    {"/CURLDEBUG", SET_ONE, &gCurlDebug, nullptr},
    {"/INSECURE", SET_ONE, &gInsecureTls, nullptr},
    {"/D179", SET_ONE, &gD179, nullptr},
    {"/D301", SET_ONE, &gD301, nullptr},
    {"/D288", SET_ONE, &gD288, nullptr},
    {"/D149", SET_ONE, &gD149, nullptr},
    {"/UTF8", SET_ONE, &gUtf8, nullptr},
    {"/CP850", SET_ONE, &gCp850, nullptr},
    {"/BVGUI", SET_ONE, &gBvGui, nullptr},
    {"/DEBUG", SET_ONE, &gDebug, nullptr},
    {"/NOINVENTORY", SET_ONE, &gNoInventory, nullptr},
    {"/SSTORE", SET_ONE, &gSStore, nullptr},
    {"/FAS", SET_ONE, &gFas, nullptr},
    {"/ACTDIR", SET_ONE, &gActDir, nullptr},
    {"/CSVTASK", SET_ONE, &gCsvTask, nullptr},
    {"/XIMIAN", SET_ONE, &gXimian, nullptr},
    {"/OED", SET_ONE, &gOeDirect, nullptr},
    {"/DEDUP", SET_ONE, &gDedup, nullptr},
    {"/LSUB", SET_ONE, &gLSub, nullptr},
    {"/EIH", SET_ONE, &gEih, nullptr},
    {"/D68", SET_ONE, &gD68, nullptr},
    {"/D74", SET_ONE, &gD74, nullptr},
    {"/D77", SET_ONE, &gD77, nullptr},
    {"/D81", SET_ONE, &gD81, nullptr},
    {"/D84", SET_ZERO, &gD84, nullptr},
    {"/UNID", SET_ONE, &gUnid, nullptr},
    {"/NHS", SET_ONE, &gNhs, nullptr},
    {"/D133", SET_ZERO, &gD133, nullptr},
    {"/D220", SET_ONE, &gD220, nullptr},
    {"/D226", SET_ONE, &gD226, nullptr},
    {"/D230", SET_ONE, &gD230, nullptr},
    {"/D242", SET_ZERO, &gD242, nullptr},
    {"/GN", TEXT, nullptr, gRootFolderName},
    {"/ZFOLDERS", ZFOLDERS_FILE, nullptr, gZFoldersFile},
    {"/D223", TEXT, nullptr, gD223Text},
    {"/D160", TEXT, nullptr, gD160Text},
    {"/D159", TEXT, nullptr, gD159Text},
    {"/EVCS", EVCS, &gEvcs, nullptr},
    {"/D161", SET_ONE, &gD161, nullptr},
    {"/MAXATTACHSIZE", NUMBER, &gMaxAttachSize, nullptr},
    {"/DSTOFFSET", NUMBER, &gDstOffset, nullptr},
    {"/ATTACHDIR", ATTACH_DIR, nullptr, gAttachDir},
    {"/D55", TEXT, nullptr, gD55Text},
    {"/D47", NUMBER, &gD47, nullptr},
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
