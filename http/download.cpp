// HTTP(S) downloads through libcurl's easy interface: a web source of
// contacts, calendar or tasks, or one entry of a calendar listing, goes into
// "temp.vcs" in the host's download directory, from where the readers take it
// as a file.
//
// The status that decides success is that of the last response (redirects
// are followed). Certificates and host names are verified against the
// system's CA store unless "/INSECURE" turns that off: the requests carry the
// user's credentials, so a server must prove who it is before it gets them.
// A refused connection is tried again a few times; any other failure ends
// the transfer. A failed download leaves no output file behind.
//
// No download may keep the migration busy without end: a server that does
// not connect, a transfer that stalls below a small rate, and a body larger
// than the size limit all end the transfer with a warning, and the host's
// stop request is polled through libcurl's progress callback (so progress
// reporting is on, where the original switched it off).
#include <curl/curl.h>
#include <stdlib.h>
#include <string.h>
#include <mutex>

#include "http/http.h"
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

extern "C" {
void *gCurl;
int gHttpStatus;
int gCurlResult;
FILE *gDownloadFile;
}

namespace {

constexpr int kMaxAttempts = 5;          // attempts on a refused connection
constexpr uint32_t kRetryDelayMs = 100;  // wait after each refused attempt
constexpr long kConnectTimeoutSec = 30;
constexpr long kLowSpeedBytesPerSec = 64;     // a transfer slower than this ...
constexpr long kLowSpeedSeconds = 60;         // ... for this long is abandoned (host setting 7)
constexpr int64_t kMaxDownloadBytes = (int64_t)1 << 30;  // largest body taken (host setting 8)
constexpr long kMaxRedirects = 50;
constexpr size_t kTraceLen = 2048;       // one traced piece of the transfer
constexpr size_t kJoinedUrlLen = 2 * BV_HTTP_URL_LEN + 2;
const char kUserAgent[] = "vexalin-agent/1.0";
const char kDownloadName[] = "temp.vcs";
constexpr int kDownloadFailed = 3;

struct SourceSpec {
    char address[BV_HTTP_URL_LEN + 1];  // room for the encoded spaces
    char user[BV_HTTP_CREDENTIAL_LEN + 1];
    char password[BV_HTTP_CREDENTIAL_LEN + 1];
};

// "address|user|password": the address ends at the first '|', the user name
// at the next; the password is the rest.
void SplitSourceSpec(const char *text, SourceSpec *out) {
    out->address[0] = out->user[0] = out->password[0] = 0;
    const char *bar = strchr(text, '|');
    size_t addressLen = bar ? (size_t)(bar - text) : strlen(text);
    com_strncpy(out->address, text, addressLen < BV_HTTP_ADDRESS_LEN ? addressLen : BV_HTTP_ADDRESS_LEN);
    if (!bar) return;
    const char *user = bar + 1;
    const char *bar2 = strchr(user, '|');
    size_t userLen = bar2 ? (size_t)(bar2 - user) : strlen(user);
    com_strncpy(out->user, user, userLen < BV_HTTP_CREDENTIAL_LEN ? userLen : BV_HTTP_CREDENTIAL_LEN);
    if (bar2) com_strncpy(out->password, bar2 + 1, BV_HTTP_CREDENTIAL_LEN);
}

int DebugCallback(CURL *, curl_infotype type, char *data, size_t size, void *) {
    if (type < CURLINFO_DATA_IN) {  // text, incoming header, outgoing header
        char text[kTraceLen];
        size_t n = size < kTraceLen - 1 ? size : kTraceLen - 1;
        memcpy(text, data, n);
        text[n] = 0;
        if (n && text[n - 1] == '\n') {
            text[--n] = 0;
            if (n && text[n - 1] == '\r') text[--n] = 0;
        }
        com_Log("curl debug: infotype=%d: %s", (int)type, text);
    } else {
        com_Log("curl debug: infotype=%d: size=%d", (int)type, (int)size);
    }
    return 0;
}

struct TransferLimits {
    int64_t maxBytes;
    int64_t received;
    bool tooLarge;
};
TransferLimits gLimits;

// A host setting that is a positive number, else the default.
int64_t SettingOr(int number, int64_t fallback) {
    char text[64] = "";
    com_GetHostSetting(number, text, sizeof text);
    long long value = atoll(text);
    return value > 0 ? (int64_t)value : fallback;
}

size_t WriteCallback(char *data, size_t size, size_t count, void *) {
    size_t bytes = size * count;
    gLimits.received += (int64_t)bytes;
    if (gLimits.received > gLimits.maxBytes) {
        gLimits.tooLarge = true;
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    // The full count is reported; a failed write shows in the file's error
    // state when the download is closed.
    if (gDownloadFile) fwrite(data, size, count, gDownloadFile);
    return bytes;
}

int ProgressCallback(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return com_StopRequested() ? 1 : 0;  // non-zero aborts the transfer
}

void SetTransferOptions(CURL *curl, const char *url, const SourceSpec *parts) {
    char credentials[2 * BV_HTTP_CREDENTIAL_LEN + 2];
    bv_snprintf(credentials, sizeof credentials, "%s:%s", parts->user, parts->password);
    if (gCurlDebug) {
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, DebugCallback);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    }
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSec);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSec);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (long)SettingOr(BVCOM_SETTING_DOWNLOAD_STALL_SECONDS, kLowSpeedSeconds));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, (curl_off_t)gLimits.maxBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // cookie engine on, no file
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, gInsecureTls ? 0L : 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, gInsecureTls ? 0L : 2L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_USERPWD, credentials);  // libcurl keeps its own copy
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, (long)CURLAUTH_BASIC);
}

// Runs the transfer, trying again after a refused connection.
CURLcode PerformWithRetries(CURL *curl) {
    gHttpStatus = 0;
    CURLcode res = CURLE_OK;
    int attempt = 0;
    while (attempt < kMaxAttempts && !com_StopRequested()) {
        res = curl_easy_perform(curl);
        ++attempt;
        long status = 0;
        if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) gHttpStatus = (int)status;
        if (res != CURLE_COULDNT_CONNECT) break;
        plat_Sleep(kRetryDelayMs);
    }
    if (res == CURLE_COULDNT_CONNECT) com_Log("BV Warning: Max HTTP retries reached, res=%d", (int)res);
    return res;
}

bool IsCertificateError(CURLcode res) {
    return res == CURLE_PEER_FAILED_VERIFICATION || res == CURLE_SSL_CACERT_BADFILE ||
           res == CURLE_SSL_CERTPROBLEM || res == CURLE_SSL_ISSUER_ERROR;
}

// Closes the output file; false when a write to it failed.
bool CloseDownloadFile() {
    bool ok = !ferror(gDownloadFile);
    if (fclose(gDownloadFile) != 0) ok = false;
    gDownloadFile = nullptr;
    return ok;
}

// Downloads url into the download directory's file; outPath receives its
// path (BV_PATH_LEN bytes) whatever the result.
int Download(const char *url, const SourceSpec *parts, char *outPath) {
    outPath[0] = 0;
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_ALL); });
    CURL *curl = curl_easy_init();
    if (!curl) {
        com_Log("BV Warning: Error in curl init");
        return kDownloadFailed;
    }
    gCurl = curl;
    gLimits = {SettingOr(BVCOM_SETTING_DOWNLOAD_MAX_BYTES, kMaxDownloadBytes), 0, false};
    SetTransferOptions(curl, url, parts);

    char dir[BV_PATH_LEN] = "";
    com_GetHostSetting(6, dir, sizeof dir);
    bv_snprintf(outPath, BV_PATH_LEN, "%s%s", dir, kDownloadName);
    if (gDebug) com_Log("debug: downloading %s into %s", url, outPath);
    gDownloadFile = plat_fopen(outPath, "wb");
    if (!gDownloadFile) {
        com_Log("BV Warning: unable to create download file %s", outPath);
        curl_easy_cleanup(curl);
        gCurl = nullptr;
        return kDownloadFailed;
    }

    CURLcode res = PerformWithRetries(curl);
    gCurlResult = (int)res;
    bool written = CloseDownloadFile();
    int result = 0;
    if (gLimits.tooLarge || res == CURLE_FILESIZE_EXCEEDED) {
        com_Log("BV Warning: download of %s stopped: larger than the limit of %lld bytes", url,
                (long long)gLimits.maxBytes);
    } else if (res == CURLE_OPERATION_TIMEDOUT) {
        com_Log("BV Warning: download of %s stopped: no answer, or slower than %ld bytes/s for too long", url,
                kLowSpeedBytesPerSec);
    } else if (res == CURLE_ABORTED_BY_CALLBACK) {
        com_Log("BV Warning: download of %s stopped at the host's request", url);
    }
    if (res != CURLE_OK || gHttpStatus != 200) {
        com_Log("BV Warning: CURL error=%d, HTTP Response=%d", (int)res, gHttpStatus);
        if (IsCertificateError(res))
            com_Log("BV Warning: the server's certificate could not be verified (%s); for a server with a "
                    "self-signed certificate, run with /INSECURE (bvhost --insecure)",
                    curl_easy_strerror(res));
        result = kDownloadFailed;
    } else if (!written) {
        com_Log("BV Warning: error writing download file %s", outPath);
        result = kDownloadFailed;
    }
    // A partial body must not be read as a source.
    if (result != 0) plat_DeleteFile(outPath);
    curl_easy_cleanup(curl);
    gCurl = nullptr;
    return result;
}

}  // namespace

extern "C" void EncodeUrl(char *text, size_t textCap) {
    CURLU *url = curl_url();
    char *encoded = nullptr;
    if (url && curl_url_set(url, CURLUPART_URL, text, CURLU_URLENCODE | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &encoded, 0) == CURLUE_OK) {
        if (strlen(encoded) < textCap)
            com_strncpy(text, encoded, textCap - 1);
        else
            com_Log("BV Warning: address too long once encoded (%d characters), left as given", (int)strlen(encoded));
    } else {
        com_Log("BV Warning: %s is not a valid address", text);
    }
    curl_free(encoded);
    curl_url_cleanup(url);
}

extern "C" int DownloadSourceFile(const char *sourceSpec) {
    gIcsListMade = 0;
    SourceSpec parts;
    SplitSourceSpec(sourceSpec ? sourceSpec : "", &parts);
    EncodeUrl(parts.address, sizeof parts.address);
    char path[BV_PATH_LEN];
    int result = Download(parts.address, &parts, path);
    if (result == 0) {
        com_strncpy(gOutputPath, path, sizeof gOutputPath - 1);
        com_strncpy(gSourcePath, path, sizeof gSourcePath - 1);
    }
    return result;
}

extern "C" int DownloadEntry(const char *sourceSpec, const char *entryName, char *outPath) {
    SourceSpec parts;
    SplitSourceSpec(sourceSpec ? sourceSpec : "", &parts);
    char url[kJoinedUrlLen];
    bv_snprintf(url, sizeof url, "%s/%s", parts.address, entryName ? entryName : "");
    EncodeUrl(url, sizeof url);
    char path[BV_PATH_LEN];
    int result = Download(url, &parts, path);
    if (outPath) com_strncpy(outPath, path, BV_PATH_LEN - 1);
    return result;
}
