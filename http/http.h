// Downloads of web sources over HTTP(S).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

extern int gHttpStatus;  // status code of the last response, 0 before a transfer

// 0 on success, 3 on any failure.
int DownloadSourceFile(const char *sourceSpec);
int DownloadEntry(const char *sourceSpec, const char *entryName, char *outPath);
void EncodeUrlSpaces(char *text);

#ifdef __cplusplus
}
#endif
