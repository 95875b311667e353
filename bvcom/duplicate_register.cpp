// Item digests and the register of converted items. The register is a text
// file, one line per converted item: 32 hex digits, a tab, the folder key.
// It lives where the host put it (with the target, so that a second run into
// the same target skips what the first moved, whatever work directory each
// used), else as BVCOM_DUP_REGISTER_NAME in the work directory. It is read
// once, kept open, and each registration is appended and flushed at once.
// A register starts with kRegisterHeader; one without it comes from a build
// that hashed part files with MD5, so the mail it lists is not recognized
// (contact and calendar digests did not change), and the log says so.
//
// A mail item's digest covers its content: the bytes of its part files (the
// header block is part 0), embedded messages included. It never covers the
// record's date: the parser may have substituted the time of the run, and the
// target rewrites the field to local time while it composes. The digest that
// registers an item is the one computed when the same record was checked.
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
#define BVCOM_DUP_READ_CHUNK (64 * 1024)  // bytes of a part file hashed at once
static const char kRegisterHeader[] = "# bvole duplicate register 2: mail by the SHA-256 of its parts";

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
static std::string gHostRegister;  // path the host chose; empty: the work directory's
static std::string gLoadedPath;    // register whose lines are in gRegistered
static bool gLoaded;
static bool gHeaderWritten;  // the loaded register has kRegisterHeader
static std::unordered_set<RegisteredItem, RegisteredItemHash> gRegistered;
static std::vector<std::string> gFolders;                     // folder keys by number
static std::unordered_map<std::string, uint32_t> gFolderIds;  // and back
static FILE *gAppend;                                         // gLoadedPath opened for appending
// The record checked last, with the digest the check computed.
static const mdat *gCheckedRecord;
static uint8_t gCheckedDigest[16];

// Caller holds gDupLock.
static void CloseRegister(void) {
    if (gAppend) fclose(gAppend);
    gAppend = nullptr;
    gLoaded = false;
    gHeaderWritten = false;
    gLoadedPath.clear();
    gRegistered.clear();
    gFolders.clear();
    gFolderIds.clear();
    gCheckedRecord = nullptr;
}

void bvcom_ForgetDuplicateRegister(void) {
    std::lock_guard<std::mutex> lock(gDupLock);
    CloseRegister();
}

extern "C" BVCOM_API void bvcom_SetDuplicateRegister(const char *path) {
    std::lock_guard<std::mutex> lock(gDupLock);
    CloseRegister();
    gHostRegister = path ? path : "";
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

// The SHA-256 of a file's bytes: the one the platform kept while the file
// was written, else read from the file. False when the file cannot be read.
static bool FileSha256(const char *path, unsigned char sha256[32]) {
    if (plat_WrittenFileSha256(path, sha256)) return true;
    FILE *in = plat_fopen(path, "rb");
    EVP_MD_CTX *ctx = in ? EVP_MD_CTX_new() : nullptr;
    if (!ctx) {
        if (in) fclose(in);
        return false;
    }
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    static char buffer[BVCOM_DUP_READ_CHUNK];  // under gDupLock
    setvbuf(in, nullptr, _IONBF, 0);           // read straight into the buffer
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), in)) > 0) {
        EVP_DigestUpdate(ctx, buffer, got);
        if (got < sizeof(buffer)) break;  // a short read is the end of the file
    }
    fclose(in);
    unsigned int len = 0;
    bool ok = EVP_DigestFinal_ex(ctx, sha256, &len) == 1 && len == 32;
    EVP_MD_CTX_free(ctx);
    return ok;
}

// A part file's content; a missing file adds a marker of its own.
static void DigestAddFile(EVP_MD_CTX *ctx, const char *path) {
    unsigned char sha256[32];
    if (FileSha256(path, sha256)) {
        EVP_DigestUpdate(ctx, sha256, sizeof(sha256));
    } else {
        EVP_DigestUpdate(ctx, "\x1e", 1);
    }
}

// Every part: name, class and file bytes; an embedded message with its own parts.
static void DigestAddParts(EVP_MD_CTX *ctx, const mdat *rec, const char *workDir, int depth) {
    for (int i = 0; i < rec->partCount && i < BV_MAX_PARTS; ++i) {
        const mpart *part = rec->parts[i];
        if (!part) continue;
        DigestAdd(ctx, part->name, sizeof(part->name));
        EVP_DigestUpdate(ctx, &part->partType, sizeof(part->partType));
        if (part->subMsg && depth < 64) {
            DigestAddParts(ctx, part->subMsg, workDir, depth + 1);
            continue;
        }
        char path[BVCOM_PATH_LEN];
        com_PartFileName(workDir, rec, i, path, sizeof(path));
        if (path[0]) DigestAddFile(ctx, path);
    }
}

// The fields that tell one item from another, by kind; a mail item by its
// content. Caller holds gDupLock.
static void ComputeDigest(mdat *rec, const char *workDir) {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (!ctx) return;
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    unsigned char kind = (unsigned char)rec->dataType;
    EVP_DigestUpdate(ctx, &kind, 1);
    switch (rec->dataType) {
        case BV_DATA_CONTACT:
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
        case BV_DATA_EVENT:
        case BV_DATA_TASK:
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
            DigestAddParts(ctx, rec, (workDir && *workDir) ? workDir : bvcom_WorkDirectory(), 0);
            break;
    }
    EVP_DigestFinal_ex(ctx, md, &mdLen);
    EVP_MD_CTX_free(ctx);
    if (mdLen == sizeof(rec->digest)) memcpy(rec->digest, md, sizeof(rec->digest));
}

static std::string RegisterKey(const mdat *rec, const char *folder) {
    char hex[33];
    bvcom_HexEncode(rec->digest, sizeof rec->digest, hex, sizeof hex);
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
    for (int i = 0; i < 16; ++i) value = (value << 4) | (uint64_t)bvcom_HexValue((unsigned char)hex[i]);
    return value;
}

// A register line "32 hex digits<TAB>folder" as its item. Caller holds gDupLock.
static RegisteredItem ItemOfLine(const std::string &line) {
    return RegisteredItem{HexWord(line.c_str()), HexWord(line.c_str() + 16), FolderNumber(line.substr(33))};
}

static std::string RegisterPath(const char *workDir) {
    if (!gHostRegister.empty()) return gHostRegister;
    char dir[BVCOM_PATH_LEN];
    com_strncpy(dir, (workDir && *workDir) ? workDir : bvcom_WorkDirectory(), sizeof(dir) - 2);
    if (dir[0]) com_AppendSlash(dir, sizeof(dir));
    return std::string(dir) + BVCOM_DUP_REGISTER_NAME;
}

// Caller holds gDupLock.
static void LoadRegister(const std::string &path) {
    if (gLoaded && gLoadedPath == path) return;
    CloseRegister();
    gLoadedPath = path;
    gLoaded = true;
    FILE *in = plat_fopen(path.c_str(), "r");
    if (!in) return;
    char line[BVCOM_DUP_LINE_LEN];
    while (fgets(line, sizeof(line), in)) {
        com_StripLineEnd(line);
        if (strcmp(line, kRegisterHeader) == 0) gHeaderWritten = true;
        if (strlen(line) > 33 && line[32] == '\t' && strspn(line, "0123456789abcdefABCDEF") == 32)
            gRegistered.insert(ItemOfLine(line));
    }
    fclose(in);
    if (!gHeaderWritten && !gRegistered.empty())
        com_Log("BV Warning: the duplicate register %s comes from an earlier version: the mail it lists is not "
                "recognized and may arrive again",
                path.c_str());
}

// Caller holds gDupLock.
static bool WriteRegisterLine(const char *lead, const std::string &key) {
    if (!gAppend) gAppend = plat_fopen(gLoadedPath.c_str(), "a");
    const char *header = gHeaderWritten ? "" : kRegisterHeader;  // before the first line of a register
    if (gAppend && fprintf(gAppend, "%s%s%s%s\n", lead, header, *header ? "\n" : "", key.c_str()) > 0 &&
        fflush(gAppend) == 0) {
        gHeaderWritten = true;
        return true;
    }
    if (gAppend) fclose(gAppend);
    gAppend = nullptr;
    return false;
}

// An item that is in the target but not in the register would arrive twice
// with the next run, so a failed write is tried once more on a fresh line
// (after whatever part of the first attempt reached the file).
static void AppendRegistration(const std::string &key) {
    if (WriteRegisterLine("", key) || WriteRegisterLine("\n", key)) return;
    com_Log("BV Warning: cannot write the duplicate register %s", gLoadedPath.c_str());
}

extern "C" BVCOM_API int com_MsgIsDuplicate(mdat *rec, const char *workDir, int mode, const char *folder) {
    if (!rec) return 0;
    std::lock_guard<std::mutex> lock(gDupLock);
    if (mode == BV_DUP_REGISTER && gCheckedRecord == rec) {
        memcpy(rec->digest, gCheckedDigest, sizeof(rec->digest));
    } else {
        ComputeDigest(rec, workDir);
    }
    gCheckedRecord = mode == BV_DUP_CHECK ? rec : nullptr;
    if (mode == BV_DUP_CHECK) memcpy(gCheckedDigest, rec->digest, sizeof(gCheckedDigest));
    if (mode != BV_DUP_CHECK && mode != BV_DUP_REGISTER) return 0;
    std::string key = RegisterKey(rec, folder);
    LoadRegister(RegisterPath(workDir));
    RegisteredItem item = ItemOfLine(key);
    bool known = gRegistered.count(item) != 0;
    if (mode == BV_DUP_CHECK) return known ? 1 : 0;
    if (known) return 1;
    gRegistered.insert(item);
    AppendRegistration(key);
    return 0;
}
