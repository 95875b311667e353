// What the host configures: work directory, numbered host settings, the
// registry stand-in file and the message-box answer.
#include <ctype.h>
#include <mutex>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <string>

#include "bvcom/library_state.h"
#include "platform/platform.h"

#define BVCOM_HOST_SETTINGS 64       // settings 0..63
#define BVCOM_REGISTRY_LINE_LEN 4096  // longer lines of the registry file are skipped

static std::mutex gSettingsLock;
static char gWorkDir[BVCOM_PATH_LEN];
static std::string gHostSettings[BVCOM_HOST_SETTINGS];
static bool gHostSettingSet[BVCOM_HOST_SETTINGS];
static char gRegistryFile[BVCOM_PATH_LEN];

const char *bvcom_WorkDirectory(void) {
    return gWorkDir;
}

extern "C" {

BVCOM_API void bvcom_SetWorkDir(const char *workDir) {
    {
        std::lock_guard<std::mutex> lock(gSettingsLock);
        com_strncpy(gWorkDir, workDir ? workDir : "", sizeof(gWorkDir) - 2);
        if (gWorkDir[0]) com_AppendSlash(gWorkDir, sizeof(gWorkDir));
        plat_TrackWrittenFiles(gWorkDir);  // part files: their digests come without reading them again
    }
    bvcom_ForgetDuplicateRegister();
}

BVCOM_API void bvcom_SetHostSetting(int number, const char *value) {
    if (number < 0 || number >= BVCOM_HOST_SETTINGS) return;
    std::lock_guard<std::mutex> lock(gSettingsLock);
    gHostSettingSet[number] = value != nullptr;
    gHostSettings[number] = value ? value : "";
}

BVCOM_API void bvcom_SetRegistryFile(const char *path) {
    std::lock_guard<std::mutex> lock(gSettingsLock);
    com_strncpy(gRegistryFile, path ? path : "", sizeof(gRegistryFile) - 1);
}

BVCOM_API void bvcom_SetMessageBoxAnswer(int answer) {
    plat_SetMessageBoxAnswer(answer);
}

BVCOM_API void bvcom_SetMessageBoxHandler(BvMessageBoxHandler handler) {
    plat_SetMessageBoxHandler(handler);
}

BVCOM_API int com_GetHostSetting(int number, char *out, size_t outCap) {
    if (!out || outCap == 0) return 0;
    out[0] = 0;
    if (number < 0 || number >= BVCOM_HOST_SETTINGS) return 0;
    std::string value;
    {
        std::lock_guard<std::mutex> lock(gSettingsLock);
        if (gHostSettingSet[number]) value = gHostSettings[number];
        else if (number == BVCOM_SETTING_WORK_DIR) value = gWorkDir;
    }
    if (number == BVCOM_SETTING_WORK_DIR && value.empty()) {
        char temp[BVCOM_PATH_LEN];
        plat_GetTempDirectory(temp, sizeof(temp));
        value = temp;
    }
    com_strncpy(out, value.c_str(), outCap - 1);
    if (number == BVCOM_SETTING_WORK_DIR && out[0]) com_AppendSlash(out, outCap);
    if (!out[0]) return 0;
    const char *p = out;
    if (*p == '-' || *p == '+') ++p;
    if (isdigit((unsigned char)*p)) return atoi(out);
    return 1;
}

// A relative path is taken against host setting BVCOM_SETTING_SYSTEM_DIR,
// else against the work directory; an absolute path stays as it is.
BVCOM_API void com_AddSystemDir(char *path, size_t capacity) {
    if (!path || capacity == 0 || !path[0] || path[0] == BV_PATH_SEP) return;
    char base[BVCOM_PATH_LEN];
    if (!com_GetHostSetting(BVCOM_SETTING_SYSTEM_DIR, base, sizeof(base) - 1)) {
        com_strncpy(base, gWorkDir, sizeof(base) - 1);
    }
    if (!base[0]) return;
    com_AppendSlash(base, sizeof(base));
    char joined[BVCOM_PATH_LEN * 2];
    int n = snprintf(joined, sizeof(joined), "%s%s", base, path);
    if (n < 0 || (size_t)n >= capacity) return;  // would not fit: left unchanged
    memcpy(path, joined, (size_t)n + 1);
}

}  // extern "C"

// ---- registry stand-in ------------------------------------------------------

static const char *RootKeyName(int rootKey, int alias) {
    switch (rootKey) {
        case BV_HKEY_USERS: return alias ? "HKU" : "HKEY_USERS";
        case BV_HKEY_LOCAL_MACHINE: return alias ? "HKLM" : "HKEY_LOCAL_MACHINE";
        case BV_HKEY_CURRENT_USER: return alias ? "HKCU" : "HKEY_CURRENT_USER";
        default: return nullptr;
    }
}

static void TrimInPlace(std::string &text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    size_t end = text.find_last_not_of(" \t\r\n");
    text = start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

static void Unquote(std::string &text) {
    TrimInPlace(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
}

static bool KeyMatches(const std::string &section, int rootKey, const char *keyPath) {
    for (int alias = 0; alias < 2; ++alias) {
        const char *root = RootKeyName(rootKey, alias);
        if (!root) return false;
        std::string wanted = std::string(root) + "\\" + keyPath;
        if (strcasecmp(section.c_str(), wanted.c_str()) == 0) return true;
    }
    return false;
}

extern "C" BVCOM_API int com_RegistryRead(int rootKey, const char *keyPath, const char *valueName, char *out,
                                          size_t outCap) {
    if (out && outCap) out[0] = 0;
    if (!keyPath || !valueName || !out || outCap == 0) return 0;
    char file[BVCOM_PATH_LEN];
    {
        std::lock_guard<std::mutex> lock(gSettingsLock);
        com_strncpy(file, gRegistryFile, sizeof(file) - 1);
    }
    if (!file[0]) return 0;
    FILE *in = plat_fopen(file, "r");
    if (!in) return 0;
    char line[BVCOM_REGISTRY_LINE_LEN];
    bool inKey = false;
    int found = 0;
    while (fgets(line, sizeof(line), in)) {
        std::string text(line);
        if (!text.empty() && text.back() != '\n' && !feof(in)) {  // overlong: skip its rest
            int c;
            while ((c = fgetc(in)) != EOF && c != '\n') {
            }
            continue;
        }
        TrimInPlace(text);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        if (text.front() == '[' && text.back() == ']') {
            inKey = KeyMatches(text.substr(1, text.size() - 2), rootKey, keyPath);
            continue;
        }
        if (!inKey) continue;
        size_t eq = text[0] == '"' ? text.find("\"=") : text.find('=');
        if (eq == std::string::npos) continue;
        if (text[0] == '"') ++eq;
        std::string name = text.substr(0, eq), value = text.substr(eq + 1);
        Unquote(name);
        Unquote(value);
        if (strcasecmp(name.c_str(), valueName) != 0) continue;
        com_strncpy(out, value.c_str(), outCap - 1);
        found = 1;
        break;
    }
    fclose(in);
    return found;
}
