// Downloads of web sources over HTTP(S).
//
// A source specification is "address[|user[|password]]": the address (at
// most BV_HTTP_ADDRESS_LEN characters) and, optionally, the user name and
// password for basic authentication (at most BV_HTTP_CREDENTIAL_LEN each).
#pragma once

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BV_HTTP_ADDRESS_LEN 511
#define BV_HTTP_CREDENTIAL_LEN 255
#define BV_HTTP_URL_LEN 1023  // an address after EncodeUrl

// Transfer state of the last download.
extern void *gCurl;            // libcurl's easy handle (CURL *) during a transfer, else NULL
extern int gHttpStatus;        // status code of the last response, 0 before a transfer
extern int gCurlResult;        // libcurl result of the last transfer
extern FILE *gDownloadFile;    // the open output file during a transfer

// Downloads the whole source into "temp.vcs" in the host's download
// directory (host setting 6) and makes that file gOutputPath and
// gSourcePath. Clears gIcsListMade. 0 on success, 3 on any failure.
int DownloadSourceFile(const char *sourceSpec);
// Downloads the source's address joined with "/" to entryName into
// "temp.vcs" of the download directory; outPath (BV_PATH_LEN bytes) receives
// that file's path. 0 on success, 3 on any failure.
int DownloadEntry(const char *sourceSpec, const char *entryName, char *outPath);
// Encodes the address in place through libcurl's URL parser: spaces and
// bytes outside ASCII become %XX (a space in the query '+'), what is already
// encoded stays. Left as given, with a warning, when it is no valid address
// or the encoded text would not fit in textCap bytes.
void EncodeUrl(char *text, size_t textCap);

#ifdef __cplusplus
}
#endif
