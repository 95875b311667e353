#include "mime_test_support.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <filesystem>
#include "module/session.h"
#include "platform/platform.h"
#include "record/com.h"

namespace fs = std::filesystem;

namespace mimetest {

static void ApplyOptions(const ParseOptions &o) {
    gLSub = o.lsub;
    gD81 = o.d81;
    gNhs = o.nhs;
    gDebug = 0;
    gMaxRecipients = o.maxRecipients > 0 ? o.maxRecipients : BV_MAX_RECIPIENT_LIMIT;
    com_strncpy(gAttachDir, o.attachDir.c_str(), sizeof(gAttachDir) - 1);
    com_strncpy(gMessageFileDir, o.messageFileDir.c_str(), sizeof(gMessageFileDir) - 1);
    bvcom_AddSubjectPattern(nullptr);
    if (!o.excludePattern.empty()) bvcom_AddSubjectPattern(o.excludePattern.c_str());
}

ParseRun ParseBytes(const std::string &bytes, const ParseOptions &options, bool fromMemory) {
    ParseRun run;
    char pattern[] = "/tmp/bv_mime_XXXXXX";
    run.workDir = std::string(mkdtemp(pattern)) + "/";
    ApplyOptions(options);
    std::string logPath = run.workDir + "parse.log";
    bvcom_SetLogFile(logPath.c_str());
    FILE *stream;
    std::string inputPath = run.workDir + "input.eml";
    if (fromMemory) {
        stream = fmemopen((void *)bytes.data(), bytes.size(), "rb");
        if (bytes.empty()) stream = fopen("/dev/null", "rb");
    } else {
        bvtest::WriteFileText(inputPath, bytes);
        stream = fopen(inputPath.c_str(), "rb");
    }
    run.record = (mdat *)calloc(1, sizeof(mdat));
    com_ResetObject(run.record);
    run.record->msgNumber = 7;
    run.result = Parse_RFC822_Msg(stream, run.record, run.workDir.c_str(), "", 1);
    fclose(stream);
    if (!fromMemory) fs::remove(inputPath);
    bvcom_SetLogFile(nullptr);
    run.log = bvtest::ReadFileText(logPath);
    fs::remove(logPath);
    ApplyOptions(ParseOptions());
    return run;
}

void FreeRun(ParseRun *run) {
    if (run->record) {
        com_Deallocate(run->record, run->workDir.c_str());
        free(run->record);
        run->record = nullptr;
    }
    std::error_code ec;
    fs::remove_all(run->workDir, ec);
}

std::string PartFile(const std::string &workDir, const mdat *record, int index) {
    char path[2048];
    com_PartFileName(workDir.c_str(), record, index, path, sizeof(path));
    return path;
}

std::string IsoDate(const FILETIME &ft) {
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&ft, &st) || st.wYear == 1601) return "1601";
    char buf[64];
    snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02dZ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
             st.wSecond);
    return buf;
}

static void Put(std::map<std::string, std::string> &out, const std::string &key, const std::string &value) {
    if (!value.empty() && value != "0") out[key] = value;
}

static void DumpInto(const mdat *r, const std::string &workDir, const std::string &prefix,
                     std::map<std::string, std::string> &out, int depth) {
    Put(out, prefix + "subject", r->subject);
    Put(out, prefix + "fromName", r->fromName);
    Put(out, prefix + "fromAddr", r->fromAddr);
    Put(out, prefix + "messageId", r->messageId);
    Put(out, prefix + "deliveredTo", r->deliveredTo);
    Put(out, prefix + "charset", r->charset);
    Put(out, prefix + "codepage", std::to_string(r->codepage));
    Put(out, prefix + "date", IsoDate(r->date));
    Put(out, prefix + "dateSubstituted", std::to_string(r->dateSubstituted));
    out[prefix + "priority"] = std::to_string(r->priority);
    out[prefix + "importance"] = std::to_string(r->importance);
    Put(out, prefix + "unread", std::to_string(r->unread));
    Put(out, prefix + "followUpFlag", std::to_string(r->followUpFlag));
    Put(out, prefix + "pmFlag20", std::to_string(r->pmFlag20));
    Put(out, prefix + "pmFlag21", std::to_string(r->pmFlag21));
    out[prefix + "partCount"] = std::to_string(r->partCount);
    out[prefix + "recipCount"] = std::to_string(r->recipCount);
    for (int i = 0; i < r->recipCount; i++) {
        const mrecip *rc = r->recips[i];
        out[prefix + "recip " + std::to_string(i)] = std::to_string(rc->type) + " | " + rc->name + " | " + rc->addr;
    }
    for (int i = 0; i < r->partCount; i++) {
        const mpart *p = r->parts[i];
        std::string k = prefix + "part " + std::to_string(i) + " ";
        out[k + "type"] = std::to_string(p->partType);
        out[k + "name"] = p->name;
        out[k + "size"] = std::to_string(p->size);
        Put(out, k + "charset", p->charset);
        Put(out, k + "contentId", p->contentId);
        std::string file = PartFile(workDir, r, i);
        if (fs::exists(file)) out[k + "bytes"] = bvtest::ReadFileText(file);
        if (p->subMsg && depth < 40) DumpInto(p->subMsg, workDir, k + "sub ", out, depth + 1);
    }
}

std::map<std::string, std::string> DumpRecord(const mdat *record, const std::string &workDir) {
    std::map<std::string, std::string> out;
    DumpInto(record, workDir, "", out, 0);
    return out;
}

}  // namespace mimetest
