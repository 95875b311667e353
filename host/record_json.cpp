#include "host/record_json.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "record/com.h"

namespace bvhost {

namespace {

using nlohmann::json;

const int kMaxEmbeddingDepth = 32;  // embedded messages inside embedded messages: the parser makes at most 30
const uint64_t kTicksPerSecond = 10000000ULL;
const int64_t kUnixEpochSeconds = 11644473600LL;  // 1601-01-01 to 1970-01-01

template <size_t N>
void AddText(json &out, const char *name, const char (&field)[N]) {
    size_t length = strnlen(field, N);
    if (length) out[name] = std::string(field, length);
}

// Lower-case hex digits of a digest.
std::string HexText(const unsigned char *bytes, size_t count) {
    std::string hex(2 * count + 1, '0');
    hex.resize(bvcom_HexEncode(bytes, count, &hex[0], hex.size()));
    return hex;
}

void AddInt(json &out, const char *name, long long value) {
    if (value) out[name] = value;
}

void AddTime(json &out, const char *name, const FILETIME &time) {
    std::string text = FileTimeToIso(time);
    if (!text.empty()) out[name] = text;
}

#define TEXT(field) AddText(out, #field, rec->field)
#define NUMBER(field) AddInt(out, #field, rec->field)
#define TIME(field) AddTime(out, #field, rec->field)

void AddScalarFields(json &out, const mdat *rec) {
    NUMBER(dataType);
    TEXT(groupFolder);
    TEXT(fromName);
    TEXT(fromAddr);
    TEXT(originalSender);
    TEXT(subject);
    TIME(date);
    NUMBER(priority);
    NUMBER(unread);
    NUMBER(msgNumber);
    TEXT(messageId);
    NUMBER(followUpFlag);
    NUMBER(pmFlag21);
    NUMBER(pmFlag20);
    NUMBER(codepage);
    TEXT(uid);
    TEXT(charset);
    NUMBER(dateSubstituted);
    TEXT(firstName);
    TEXT(lastName);
    TEXT(middleName);
    TEXT(title);
    TEXT(location);
    TEXT(department);
    TEXT(managerName);
    TEXT(assistantName);
    TEXT(businessPhone);
    TEXT(homePhone);
    TEXT(directPhone);
    TEXT(businessFax);
    TEXT(homeFax);
    TEXT(directFax);
    TEXT(mobilePhone);
    TEXT(spouse);
    TEXT(children);
    TEXT(company);
    TEXT(businessStreet);
    TEXT(businessStreet2);
    TEXT(businessCity);
    TEXT(businessState);
    TEXT(businessPostalCode);
    TEXT(businessCountry);
    TEXT(emailAddr);
    TEXT(emailDisplayName);
    TEXT(email2Addr);
    TEXT(email3Addr);
    NUMBER(itemFlag);
    TEXT(pager);
    TEXT(webPage);
    TEXT(birthday);
    TEXT(homeStreet);
    TEXT(homeStreet2);
    TEXT(homeCity);
    TEXT(homeState);
    TEXT(homePostalCode);
    TEXT(homeCountry);
    TEXT(courtesyTitle);
    TEXT(suffix);
    TEXT(categories);
    TEXT(displayName);
    NUMBER(allDayKind);
    TIME(startTime);
    TIME(endTime);
    TIME(completedTime);
    NUMBER(sensitivity);
    NUMBER(busyStatus);
    NUMBER(isRecurring);
    NUMBER(recurType);
    NUMBER(recurInterval);
    NUMBER(recurWeekOfMonth);
    NUMBER(recurDayMask);
    NUMBER(recurMonth);
    NUMBER(recurDayOfMonth);
    NUMBER(recurEndType);
    NUMBER(recurCount);
    TIME(recurEnd);
    NUMBER(rsvp);
    NUMBER(percentComplete);
    TEXT(organizerName);
    NUMBER(reminderSet);
    NUMBER(reminderMinutes);
    NUMBER(isOwner);
    TEXT(deliveredTo);
    TIME(reminderTime);
    TEXT(organizerAddr);
    NUMBER(allDay);
    TEXT(rrule);
    NUMBER(taskStatus);
    NUMBER(importance);
    TEXT(tzName);
    NUMBER(tzBias);
    NUMBER(tzStdBias);
    NUMBER(tzDstBias);
    TIME(tzStdStart);
    TIME(tzDstStart);
    NUMBER(folderTotal);
}

#undef TEXT
#undef NUMBER
#undef TIME

std::string BaseName(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

json RecordJson(mdat *rec, const std::string &workDir, int depth);

json PartJson(mdat *rec, int index, const std::string &workDir, int depth) {
    const mpart *part = rec->parts[index];
    json out = json::object();
    out["name"] = std::string(part->name, strnlen(part->name, sizeof part->name));
    out["partType"] = part->partType;
    out["size"] = part->size;
    AddText(out, "charset", part->charset);
    AddText(out, "contentId", part->contentId);
    char file[2048];
    com_PartFileName(workDir.c_str(), rec, index, file, sizeof file);
    std::string sha = FileSha256(file);
    if (!sha.empty()) out["sha256"] = sha;
    if (part->subMsg && depth < kMaxEmbeddingDepth) out["subMsg"] = RecordJson(part->subMsg, workDir, depth + 1);
    return out;
}

json RecipJson(const mrecip *recip) {
    json out = json::object();
    out["name"] = std::string(recip->name, strnlen(recip->name, sizeof recip->name));
    out["addr"] = std::string(recip->addr, strnlen(recip->addr, sizeof recip->addr));
    out["type"] = recip->type;
    out["status"] = recip->status;
    return out;
}

// The reminders the library keeps beside the record for the item (-1) or one
// of its changed occurrences.
void AddExtraReminders(json &out, const mdat *rec, int occurrence) {
    int minutes[BV_MAX_EXTRA_REMINDERS];
    int count = bvcom_GetExtraReminders(rec, occurrence, minutes, BV_MAX_EXTRA_REMINDERS);
    if (count > 0) out["extraReminders"] = std::vector<int>(minutes, minutes + count);
}

json ExceptionJson(const mdat *rec, int index) {
    const mexception *exception = rec->exceptions[index];
    json out = json::object();
    out["kind"] = exception->kind;
    AddTime(out, "originalStart", exception->originalStart);
    AddTime(out, "newStart", exception->newStart);
    AddTime(out, "newEnd", exception->newEnd);
    AddText(out, "title", exception->title);
    AddText(out, "location", exception->location);
    // The files live in the work directory; their names are stable, the directory is not.
    if (exception->notesFile[0]) out["notesFile"] = BaseName(exception->notesFile);
    if (exception->attendeeFile[0]) out["attendeeFile"] = BaseName(exception->attendeeFile);
    if (exception->reminderSet) {
        out["reminderSet"] = exception->reminderSet;
        out["reminderMinutes"] = exception->reminderMinutes;
    }
    AddExtraReminders(out, rec, index);
    return out;
}

json RecordJson(mdat *rec, const std::string &workDir, int depth) {
    json out = json::object();
    AddScalarFields(out, rec);
    bool digestSet = false;
    for (uint8_t byte : rec->digest) digestSet = digestSet || byte != 0;
    if (digestSet) out["digest"] = HexText(rec->digest, sizeof rec->digest);
    int parts = rec->partCount < BV_MAX_PARTS ? rec->partCount : BV_MAX_PARTS;
    if (parts > 0) {
        json list = json::array();
        for (int i = 0; i < parts; i++)
            if (rec->parts[i]) list.push_back(PartJson(rec, i, workDir, depth));
        out["parts"] = list;
    }
    int recips = rec->recipCount < BV_MAX_RECIPS ? rec->recipCount : BV_MAX_RECIPS;
    if (recips > 0) {
        json list = json::array();
        for (int i = 0; i < recips; i++)
            if (rec->recips[i]) list.push_back(RecipJson(rec->recips[i]));
        out["recips"] = list;
    }
    int exceptions = rec->exceptionCount < BV_MAX_EXCEPTIONS ? rec->exceptionCount : BV_MAX_EXCEPTIONS;
    if (exceptions > 0) {
        json list = json::array();
        for (int i = 0; i < exceptions; i++)
            if (rec->exceptions[i]) list.push_back(ExceptionJson(rec, i));
        out["exceptions"] = list;
    }
    AddExtraReminders(out, rec, -1);
    if (depth == 0) {
        std::vector<char> notes(BV_NOTES_LEN, '\0');
        int length = com_ReadNotes(rec, notes.data(), workDir.c_str());
        notes[BV_NOTES_LEN - 1] = '\0';
        if (length > 0 && notes[0]) out["notes"] = std::string(notes.data());
    }
    return out;
}

}  // namespace

std::string FileTimeToIso(const FILETIME &time) {
    uint64_t ticks = ((uint64_t)time.dwHighDateTime << 32) | time.dwLowDateTime;
    if (ticks == 0) return "";
    time_t seconds = (time_t)((int64_t)(ticks / kTicksPerSecond) - kUnixEpochSeconds);
    struct tm parts;
    if (!gmtime_r(&seconds, &parts)) return "";
    if (parts.tm_year + 1900 == 1601) return "";
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
             parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::string FileSha256(const std::string &path) {
    unsigned char kept[32];
    if (plat_WrittenFileSha256(path.c_str(), kept)) return HexText(kept, sizeof kept);
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) return "";
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr)) {
        fclose(file);
        return "";
    }
    std::vector<unsigned char> block(1 << 16);
    size_t got;
    while ((got = fread(block.data(), 1, block.size(), file)) > 0) EVP_DigestUpdate(ctx.get(), block.data(), got);
    fclose(file);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    EVP_DigestFinal_ex(ctx.get(), md, &mdLength);
    return HexText(md, mdLength);
}

json RecordToJson(mdat *rec, const std::string &workDir) { return RecordJson(rec, workDir, 0); }

}  // namespace bvhost
