// Calendar listing pages into the list of their .ics files.
#include "calread/listing_page.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include "module/session.h"
#include "platform/platform.h"

#define LISTING_FIRST_BLOCK 4096
#define LISTING_PAGE_MAX (64 * 1024 * 1024)  // larger pages are not listing pages

extern "C" int IsListingPage(const char *path) {
    FILE *file = plat_fopen(path, "rb");
    if (!file) return 0;
    char block[LISTING_FIRST_BLOCK + 1];
    size_t n = fread(block, 1, LISTING_FIRST_BLOCK, file);
    fclose(file);
    block[n] = 0;
    // A NUL inside the block ends the text search early; binary files are no pages.
    const char *doctype = com_stristr(block, "doctype html", 0);
    if (!doctype) return 0;
    // Calendars whose descriptions carry HTML (X-ALT-DESC) hold the text too,
    // after their BEGIN:VCALENDAR line; a listing page has none before it.
    const char *calendar = com_stristr(block, "BEGIN:VCALENDAR", 0);
    return !calendar || calendar > doctype;
}

static const char *FindText(const char *from, const char *end, const char *text) {
    size_t n = strlen(text);
    for (const char *p = from; p + n <= end; p++) {
        p = (const char *)memchr(p, text[0], (size_t)(end - p));
        if (!p || p + n > end) return NULL;
        if (memcmp(p, text, n) == 0) return p;
    }
    return NULL;
}

extern "C" int WriteIcsList(const char *page, size_t length, FILE *list) {
    const char *end = page + length;
    int written = 0;
    for (const char *link = FindText(page, end, LISTING_LINK); link; link = FindText(link + 1, end, LISTING_LINK)) {
        const char *ics = FindText(link, end, ".ics?");
        if (!ics) break;
        const char *nameStart = ics;
        while (nameStart > link && nameStart[-1] != '/') nameStart--;
        size_t nameLength = (size_t)(ics + 4 - nameStart);
        if (nameLength > LISTING_FILE_NAME_MAX || memchr(nameStart, '\n', nameLength)) continue;
        if (fwrite(nameStart, 1, nameLength, list) != nameLength || fputc('\n', list) == EOF) return -1;
        written++;
        link = ics;
    }
    return written;
}

extern "C" void IcsListPath(char *out, size_t outCap) {
    char dir[BV_PATH_LEN];
    com_GetHostSetting(6, dir, sizeof dir);
    bv_snprintf(out, outCap, "%sicsfiles.tmp", dir);
}

extern "C" void ListingBaseSpec(char *out, size_t outCap) {
    size_t addressLength = strcspn(gCalSourceSpec, "|");
    size_t trimmed = addressLength;
    while (trimmed > 0 && gCalSourceSpec[trimmed - 1] == '/') trimmed--;
    bv_snprintf(out, outCap, "%.*s%s", (int)trimmed, gCalSourceSpec, gCalSourceSpec + addressLength);
}

static char *ReadWholeFile(const char *path, size_t *length) {
    int64_t size = plat_GetFileSize(path);
    if (size < 0 || size > LISTING_PAGE_MAX) return NULL;
    FILE *file = plat_fopen(path, "rb");
    if (!file) return NULL;
    char *text = (char *)malloc((size_t)size + 1);
    size_t n = text ? fread(text, 1, (size_t)size, file) : 0;
    fclose(file);
    if (text) text[n] = 0;
    *length = n;
    return text;
}

extern "C" int MakeIcsList(const char *pagePath) {
    size_t length = 0;
    char *page = ReadWholeFile(pagePath, &length);
    if (!page) {
        com_Log("BV Warning: listing page %s cannot be read", pagePath);
        return -1;
    }
    char listPath[BV_PATH_LEN * 2];
    IcsListPath(listPath, sizeof listPath);
    FILE *list = plat_fopen(listPath, "w");
    if (!list) {
        com_Log("BV Warning: fopen on file %s, error %d", listPath, errno);
        free(page);
        return -1;
    }
    int written = WriteIcsList(page, length, list);
    if (fclose(list) != 0) written = -1;
    free(page);
    if (written < 0) {
        com_Log("BV Warning: error writing %s", listPath);
        return -1;
    }
    if (written == 0) com_Log("BV Warning: listing page %s links to no calendar file", pagePath);
    gIcsListMade = 1;
    return written;
}
