// Entry counts of calendar and task sources for the folder list.
#include <errno.h>
#include <string.h>
#include "calread/calread.h"
#include "calread/listing_page.h"
#include "calread/vcs_parser.h"
#include "platform/platform.h"

#define COUNT_LINE_MAX 256  // only the start of a line matters

static int CountListedFiles(void) {
    char listPath[BV_PATH_LEN * 2];
    IcsListPath(listPath, sizeof listPath);
    FILE *list = plat_fopen(listPath, "r");
    if (!list) return 0;
    int lines = 0;
    char line[LISTING_FILE_NAME_MAX + 8];
    while (fgets(line, sizeof line, list))
        if (line[0] != '\n') lines++;
    fclose(list);
    return lines;
}

// "NAME:  value" counts as "NAME:value".
static int BeginsEntry(char *line, const char *begin, size_t beginLength) {
    char *colon = strchr(line, ':');
    if (colon && colon[1] == ' ') {
        char *value = colon + 1;
        while (*value == ' ') value++;
        memmove(colon + 1, value, strlen(value) + 1);
    }
    return strncasecmp(line, begin, beginLength) == 0;
}

static int CountFileEntries(const char *path, const char *kind) {
    FILE *file = plat_fopen(path, "rb");
    if (!file) {
        com_Log("Unable to open %s, error=%d", path, errno);
        return 0;
    }
    fclose(file);
    if (IsListingPage(path)) {
        MakeIcsList(path);
        return CountListedFiles();
    }
    file = plat_fopen(path, "rb");
    VcsFile vf;
    if (!file || !VcsOpen(&vf, file)) {
        if (file) fclose(file);
        return 0;
    }
    char begin[64];
    bv_snprintf(begin, sizeof begin, "BEGIN:%s", kind);
    size_t beginLength = strlen(begin);
    char line[COUNT_LINE_MAX + 1];
    int count = 0;
    // Counting goes past END:VCALENDAR: files that hold several calendars
    // one after the other are read whole, and the count says what is read.
    while (VcsReadPhysical(&vf, line, COUNT_LINE_MAX, NULL) == 0)
        if (BeginsEntry(line, begin, beginLength)) count++;
    VcsClose(&vf);
    fclose(file);
    return count;
}

extern "C" int CountCalEntries(const char *path, const char *kind) {
    if (!path || !path[0]) return 0;
    if (!plat_DirectoryExists(path) && !strpbrk(path, "*?")) return CountFileEntries(path, kind);
    char pattern[BV_SEARCH_PATH_LEN];
    char dir[BV_SEARCH_PATH_LEN];
    CalendarSearchPattern(path, "*.*", pattern, dir);
    PlatFindData found;
    PlatFind *find = plat_FindFirstFile(pattern, &found);
    if (!find) {
        com_Log("BV Info: no files found for (count) %s, error=%ld", path, (long)errno);
        return 0;
    }
    int total = 0;
    do {
        if (found.name[0] == '.' || found.isDirectory) continue;
        char file[BV_SEARCH_PATH_LEN];
        bv_snprintf(file, sizeof file, "%s%s", dir, found.name);
        total += CountFileEntries(file, kind);
    } while (plat_FindNextFile(find, &found));
    plat_FindClose(find);
    return total;
}
