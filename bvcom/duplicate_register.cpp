// Item digests and the register of converted items. The register is the
// text file BVCOM_DUP_REGISTER_NAME in the work directory, one line per
// converted item: 32 hex digits, a tab, the folder name. It is read once per
// work directory and appended to (and flushed) as items are registered, so a
// second run of the same migration skips what the first converted.
#include <mutex>
#include <openssl/evp.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include <stdio.h>
#include <string.h>
#include <string>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_DUP_REGISTER_NAME "bvdupreg.txt"
#define BVCOM_DUP_LINE_LEN 2048

// One registered item: its digest and its folder's number in gFolders. The
// set holds one per item converted, so it is kept small (about 50 bytes an
// item with the hash table's own).
struct RegisteredItem {
    uint64_t high, low;
    uint32_t folder;
    bool operator==(const RegisteredItem &other) const {
        return high == other.high && low == other.low && folder == other.folder;
    }
};
struct RegisteredItemHash {
    size_t operator()(const RegisteredItem &item) const {
        return (size_t)(item.high ^ (item.low * 0x9E3779B97F4A7C15ULL) ^ item.folder);
    }
};

static std::mutex gDupLock;
static std::string gLoadedDir;  // work directory whose register is in gRegistered
static bool gLoaded;
static std::unordered_set<RegisteredItem, RegisteredItemHash> gRegistered;
static std::vector<std::string> gFolders;                     // folder names by number
static std::unordered_map<std::string, uint32_t> gFolderIds;  // and back

// The register of gLoadedDir open for appending from its first new item on,
// so an item costs one write, not an open, seek, write and close; every
// line is flushed as it is added.
static FILE *gRegisterOut;

// Caller holds gDupLock.
static void CloseRegister() {
    if (gRegisterOut) fclose(gRegisterOut);
    gRegisterOut = nullptr;
}

void bvcom_ForgetDuplicateRegister(void) {
    std::lock_guard<std::mutex> lock(gDupLock);
    CloseRegister();
    gLoaded = false;
    gLoadedDir.clear();
    gRegistered.clear();
    gFolders.clear();
    gFolderIds.clear();
}

static void DigestAdd(EVP_MD_CTX *ctx, const char *text, size_t cap) {
    size_t len = strnlen(text, cap);
    EVP_DigestUpdate(ctx, text, len);
    EVP_DigestUpdate(ctx, "\x1f", 1);  // field separator: "ab","c" differs from "a","bc"
}

static void DigestAdd(EVP_MD_CTX *ctx, const FILETIME &time) {
    uint64_t value = plat_FileTimeToU64(&time);
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = (unsigned char)(value >> (8 * i));
    EVP_DigestUpdate(ctx, bytes, sizeof(bytes));
}

#define ADD_TEXT(field) DigestAdd(ctx, rec->field, sizeof(rec->field))

// The fields that tell one item from another, by kind.
static void ComputeDigest(mdat *rec) {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (!ctx) return;
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    unsigned char kind = (unsigned char)rec->dataType;
    EVP_DigestUpdate(ctx, &kind, 1);
    switch (rec->dataType) {
        case 1:  // contact
            ADD_TEXT(firstName);
            ADD_TEXT(middleName);
            ADD_TEXT(lastName);
            ADD_TEXT(displayName);
            ADD_TEXT(company);
            ADD_TEXT(title);
            ADD_TEXT(emailAddr);
            ADD_TEXT(email2Addr);
            ADD_TEXT(email3Addr);
            ADD_TEXT(businessPhone);
            ADD_TEXT(homePhone);
            ADD_TEXT(mobilePhone);
            break;
        case 2:  // event
        case 3:  // task
            ADD_TEXT(title);
            ADD_TEXT(location);
            DigestAdd(ctx, rec->startTime);
            DigestAdd(ctx, rec->endTime);
            ADD_TEXT(rrule);
            ADD_TEXT(organizerAddr);
            break;
        default:  // mail
            ADD_TEXT(messageId);
            ADD_TEXT(fromAddr);
            ADD_TEXT(subject);
            DigestAdd(ctx, rec->date);
            break;
    }
    EVP_DigestFinal_ex(ctx, md, &mdLen);
    EVP_MD_CTX_free(ctx);
    if (mdLen == sizeof(rec->digest)) memcpy(rec->digest, md, sizeof(rec->digest));
}

static std::string RegisterLine(const mdat *rec, const char *folder) {
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", rec->digest[i]);
    return std::string(hex) + "\t" + (folder ? folder : "");
}

// Caller holds gDupLock.
static uint32_t FolderNumber(const std::string &folder) {
    auto it = gFolderIds.find(folder);
    if (it != gFolderIds.end()) return it->second;
    gFolders.push_back(folder);
    return gFolderIds[folder] = (uint32_t)(gFolders.size() - 1);
}

static uint64_t HexWord(const char *hex) {
    uint64_t value = 0;
    for (int i = 0; i < 16; ++i) {
        char c = hex[i];
        value = (value << 4) | (uint64_t)(c >= 'a' ? c - 'a' + 10 : c >= 'A' ? c - 'A' + 10 : c - '0');
    }
    return value;
}

// A register line "32 hex digits<TAB>folder" as its item. Caller holds gDupLock.
static RegisteredItem ItemOfLine(const std::string &line) {
    return RegisteredItem{HexWord(line.c_str()), HexWord(line.c_str() + 16), FolderNumber(line.substr(33))};
}

static void RegisterPath(const char *workDir, char *out, size_t outCap) {
    char dir[BVCOM_PATH_LEN];
    com_strncpy(dir, (workDir && *workDir) ? workDir : bvcom_WorkDirectory(), sizeof(dir) - 2);
    if (dir[0]) com_AppendSlash(dir, sizeof(dir));
    int n = snprintf(out, outCap, "%s%s", dir, BVCOM_DUP_REGISTER_NAME);
    if (n < 0 || (size_t)n >= outCap) out[0] = 0;
}

// Caller holds gDupLock.
static void LoadRegister(const char *path) {
    if (gLoaded && gLoadedDir == path) return;
    CloseRegister();
    gRegistered.clear();
    gLoadedDir = path;
    gLoaded = true;
    FILE *in = plat_fopen(path, "r");
    if (!in) return;
    char line[BVCOM_DUP_LINE_LEN];
    while (fgets(line, sizeof(line), in)) {
        com_StripLineEnd(line);
        if (strlen(line) > 33 && line[32] == '\t' && strspn(line, "0123456789abcdefABCDEF") == 32)
            gRegistered.insert(ItemOfLine(line));
    }
    fclose(in);
}

extern "C" BVCOM_API int com_MsgIsDuplicate(mdat *rec, const char *workDir, int mode, const char *folder) {
    if (!rec) return 0;
    ComputeDigest(rec);
    if (mode != BV_DUP_CHECK && mode != BV_DUP_REGISTER) return 0;
    char path[BVCOM_PATH_LEN];
    RegisterPath(workDir, path, sizeof(path));
    std::string key = RegisterLine(rec, folder);
    std::lock_guard<std::mutex> lock(gDupLock);
    LoadRegister(path);
    RegisteredItem item = ItemOfLine(key);
    bool known = gRegistered.count(item) != 0;
    if (mode == BV_DUP_CHECK) return known ? 1 : 0;
    if (known) return 1;
    gRegistered.insert(item);
    if (!gRegisterOut) gRegisterOut = plat_fopen(path, "a");
    if (!gRegisterOut || fprintf(gRegisterOut, "%s\n", key.c_str()) < 0 || fflush(gRegisterOut) != 0) {
        com_Log("BV Warning: cannot write the duplicate register %s", path);
        CloseRegister();
    }
    return 0;
}
