// Calendar listing pages: an HTML page of a calendar server that links to
// one .ics file per entry. The list of those files ("icsfiles.tmp" in the
// download directory) is made once and read by the source loop.
#pragma once

#include <stddef.h>
#include <stdio.h>

#define LISTING_LINK "a href=\"/sabre/caldav.php/calendars/"
#define LISTING_FILE_NAME_MAX 1000

#ifdef __cplusplus
extern "C" {
#endif

// The first block of the file contains "doctype html" (any case).
int IsListingPage(const char *path);
// Writes one .ics file name per line for every calendar link of the page
// text; returns the number of names written, -1 when a write failed.
int WriteIcsList(const char *page, size_t length, FILE *list);
// Reads the page and writes the list; sets gIcsListMade. Returns the number
// of files listed, -1 when the page or the list could not be handled.
int MakeIcsList(const char *pagePath);
// "%sicsfiles.tmp" in the download directory.
void IcsListPath(char *out, size_t outCap);
// The session's source specification with the address's trailing '/'
// removed, for joining entry names.
void ListingBaseSpec(char *out, size_t outCap);

#ifdef __cplusplus
}
#endif
