// The twelve entry points of libbvole.so, as a host calls them. Argument
// counts and positions follow the host's interface tables: arguments the
// module does not use are kept (as pointer-sized host values) so that the
// host's calls line up. Text buffers that the module writes hold at least
// BV_HOST_TEXT_LEN bytes.
//
// A host resolves the entry points with dlsym and the Bv*Fn pointer types;
// the module defines them with exactly these prototypes.
#pragma once

#include "module/session.h"
#include "record/com.h"
#include "record/mdat.h"

#define BV_HOST_TEXT_LEN 1024

#if defined(__GNUC__)
#define BV_EXPORT BV_EXTERN_C __attribute__((visibility("default")))
#else
#define BV_EXPORT BV_EXTERN_C
#endif

// Logon dialog fields for a data type (0 mail, 2 contacts, 4 calendar) and an
// address type. Outputs: out4, out5, out7 always empty; pathLabel; checkLabel;
// pathValue (in/out, a default only where it is empty); chooser ("D", "F,..."
// or empty); switchText (the default switch string). Result always 0.
BV_EXPORT int BV_CALL GetLogonParameters(int dataType, int adrType, const char *tag, char *out4, char *out5,
                                         char *pathLabel, char *out7, char *checkLabel, BvHostValue unused9,
                                         BvHostValue unused10, char *pathValue, BvHostValue unused12, char *chooser,
                                         BvHostValue unused14, char *switchText);

// Opens the session. path is in/out (a separator may be appended); outText
// is cleared. Result 0, 1 (param was 0), 3 (bad source or target), 4 (store
// object not available) or the result of a download.
BV_EXPORT int BV_CALL Logon(BvHostValue unused1, BvHostValue unused2, char *path, BvHostValue unused4,
                            BvHostValue unused5, BvHostValue unused6, BvHostValue unused7, BvHostValue unused8,
                            BvHostValue unused9, BvHostValue unused10, char *outText, int checkValue, int param,
                            int readFlag, int adrType, const char *tag, BvHostValue unused17);

BV_EXPORT int BV_CALL Logoff(BvHostValue unused);

// Fills the folder table; callback receives "Name {BV:count:FCLASS:class}"
// for each folder. storePath is in/out (a separator may be appended).
BV_EXPORT int BV_CALL GetFolderNames(char *storePath, BvFolderCallback callback);

BV_EXPORT int BV_CALL GetTrueFolder(int folderNumber, char *out);

BV_EXPORT int BV_CALL ConvertFolder(mdat *record, BvItemCallback itemCallback, int folderNumber,
                                    const char *itemHostValue, BvHostValue search1, BvHostValue search2,
                                    BvHostValue search3, BvHostValue attachHostValue, int maxRecipients,
                                    BvHostValue dateHostValue, const char *workDir, int *countOut, int *sizeOut,
                                    BvStatusCallback statusCallback);

BV_EXPORT int BV_CALL InitRead(mdat *record, BvHostValue unused2, BvHostValue unused3, BvHostValue unused4,
                               BvHostValue unused5, int maxRead);
BV_EXPORT int BV_CALL CloseRead(BvHostValue unused);

BV_EXPORT int BV_CALL InitWrite(mdat *record, const char *folderName, BvHostValue unused3, int dataType);
BV_EXPORT int BV_CALL WriteMsg(mdat *record, const char *folderName, const char *workDir, BvHostValue unused4);
BV_EXPORT int BV_CALL CloseWrite(int dataType);

// 0 go on, 1 use the directory now in dirOut, 2 the user cancelled.
BV_EXPORT int BV_CALL TestFile(const char *path, char *dirOut);

// Pointer types for dlsym.
typedef int(BV_CALL *BvGetLogonParametersFn)(int, int, const char *, char *, char *, char *, char *, char *,
                                             BvHostValue, BvHostValue, char *, BvHostValue, char *, BvHostValue,
                                             char *);
typedef int(BV_CALL *BvLogonFn)(BvHostValue, BvHostValue, char *, BvHostValue, BvHostValue, BvHostValue,
                                BvHostValue, BvHostValue, BvHostValue, BvHostValue, char *, int, int, int, int,
                                const char *, BvHostValue);
typedef int(BV_CALL *BvLogoffFn)(BvHostValue);
typedef int(BV_CALL *BvGetFolderNamesFn)(char *, BvFolderCallback);
typedef int(BV_CALL *BvGetTrueFolderFn)(int, char *);
typedef int(BV_CALL *BvConvertFolderFn)(mdat *, BvItemCallback, int, const char *, BvHostValue, BvHostValue,
                                        BvHostValue, BvHostValue, int, BvHostValue, const char *, int *, int *,
                                        BvStatusCallback);
typedef int(BV_CALL *BvInitReadFn)(mdat *, BvHostValue, BvHostValue, BvHostValue, BvHostValue, int);
typedef int(BV_CALL *BvCloseReadFn)(BvHostValue);
typedef int(BV_CALL *BvInitWriteFn)(mdat *, const char *, BvHostValue, int);
typedef int(BV_CALL *BvWriteMsgFn)(mdat *, const char *, const char *, BvHostValue);
typedef int(BV_CALL *BvCloseWriteFn)(int);
typedef int(BV_CALL *BvTestFileFn)(const char *, char *);
