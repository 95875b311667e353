// The common library's and the platform's text, code-page and time functions
// driven by the tables in data/: each row names an operation, the result it
// must give, and its arguments.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "support/case_table.h"
#include "support/scoped_env.h"
#include "tests/foundation/foundation_support.h"

namespace {

using bvtest::CaseRow;
using Op = std::function<std::string(const CaseRow &)>;

std::u16string Utf16(const std::string &utf8) {
    UErrorCode err = U_ZERO_ERROR;
    std::u16string out(utf8.size() + 1, u'\0');
    int32_t n = 0;
    u_strFromUTF8((UChar *)out.data(), (int32_t)out.size(), &n, utf8.data(), (int32_t)utf8.size(), &err);
    out.resize((size_t)n);
    return out;
}
std::string Utf8(const std::u16string &wide) {
    UErrorCode err = U_ZERO_ERROR;
    std::string out(wide.size() * 4 + 1, '\0');
    int32_t n = 0;
    u_strToUTF8(out.data(), (int32_t)out.size(), &n, (const UChar *)wide.data(), (int32_t)wide.size(), &err);
    out.resize((size_t)n);
    return out;
}

// "2024-03-31 01:00:00" (UTC or local, as the row says).
FILETIME Time(const std::string &text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    return com_Create_FileTime(mo, d, y, h, mi, s);
}
std::string Text(const FILETIME &time) {
    char out[32];
    com_FileTimeText(&time, out, sizeof(out));
    return out;
}

std::string Edit(void (*edit)(char *), const std::string &text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back(0);
    edit(buf.data());
    return buf.data();
}
std::string Piece(void (*piece)(const char *, char *, size_t), const CaseRow &r) {
    std::vector<char> out((size_t)(r.Int(3) ? r.Int(3) : 64));
    piece(r[2].c_str(), out.data(), out.size());
    return out.data();
}
std::string Tokens(const std::string &switches) {
    bvcom_SetSwitches(switches.c_str());
    std::string out;
    char token[BV_TOKEN_LEN + 64];
    for (int i = 0; com_GetParm(i, token); ++i) out += (i ? "|" : "") + std::string(token);
    bvcom_SetSwitches(nullptr);
    return out;
}
std::string ToWide(int codepage, const std::string &bytes) {
    int need = plat_MultiByteToWideChar(codepage, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::u16string out((size_t)need, u'\0');
    if (plat_MultiByteToWideChar(codepage, bytes.data(), (int)bytes.size(), (WCHAR *)out.data(), need) != need)
        return "count differs";
    return Utf8(out);
}
std::string FromWide(int codepage, const std::string &utf8) {
    std::u16string wide = Utf16(utf8);
    int need = plat_WideCharToMultiByte(codepage, (const WCHAR *)wide.data(), (int)wide.size(), nullptr, 0);
    std::string out((size_t)need, '\0');
    if (plat_WideCharToMultiByte(codepage, (const WCHAR *)wide.data(), (int)wide.size(), out.data(), need) != need)
        return "count differs";
    return out;
}
int CodepageOf(const std::string &name) {
    char buf[BV_CHARSET_LEN * 2];
    com_strncpy(buf, name.c_str(), sizeof(buf) - 1);
    return com_iso_codepage(0, buf);
}
std::string Zone(const SYSTEMTIME &t) {
    return std::to_string(t.wMonth) + "." + std::to_string(t.wDay) + "." + std::to_string(t.wDayOfWeek) + "." +
           std::to_string(t.wHour);
}
std::string ZoneInformation() {
    TIME_ZONE_INFORMATION z;
    uint32_t id = plat_GetTimeZoneInformation(&z);
    return std::string(id == TIME_ZONE_ID_UNKNOWN ? "fixed" : "changing") + " bias=" + std::to_string(z.Bias) +
           " std=" + std::to_string(z.StandardBias) + " dst=" + std::to_string(z.DaylightBias) + " " +
           Zone(z.StandardDate) + "/" + Zone(z.DaylightDate) + " " +
           Utf8((const char16_t *)z.StandardName) + "/" + Utf8((const char16_t *)z.DaylightName);
}
std::string SystemTimeRoundTrip(const CaseRow &r) {
    SYSTEMTIME st{}, back;
    if (r[2].find('-') == std::string::npos) {  // a raw FILETIME value
        FILETIME raw = plat_U64ToFileTime(strtoull(r[2].c_str(), nullptr, 10));
        return plat_FileTimeToSystemTime(&raw, &back) ? "converted" : "refused";
    }
    sscanf(r[2].c_str(), "%hu-%hu-%hu %hu:%hu:%hu.%hu", &st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute,
           &st.wSecond, &st.wMilliseconds);
    FILETIME ft;
    if (!plat_SystemTimeToFileTime(&st, &ft)) return "refused";
    plat_FileTimeToSystemTime(&ft, &back);
    char out[96];
    snprintf(out, sizeof(out), "%llu %04u-%02u-%02u %02u:%02u:%02u.%03u dow=%u",
             (unsigned long long)plat_FileTimeToU64(&ft), back.wYear, back.wMonth, back.wDay, back.wHour,
             back.wMinute, back.wSecond, back.wMilliseconds, back.wDayOfWeek);
    return out;
}
// A recurrence block from "type interval week mask month dom endType count [end]".
void FillRecurrence(mdat *rec, const std::string &fields) {
    char end[32] = "";
    char endTime[16] = "";
    unsigned v[8] = {0};
    sscanf(fields.c_str(), "%u %u %u %u %u %u %u %u %31s %15s", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
           &v[7], end, endTime);
    rec->recurType = (uint16_t)v[0];
    rec->recurInterval = v[1];
    rec->recurWeekOfMonth = v[2];
    rec->recurDayMask = v[3];
    rec->recurMonth = v[4];
    rec->recurDayOfMonth = v[5];
    rec->recurEndType = v[6];
    rec->recurCount = v[7];
    if (end[0]) rec->recurEnd = Time(std::string(end) + " " + endTime);
}

const std::map<std::string, Op> &Operations() {
    static const std::map<std::string, Op> ops = {
        {"ltrim", [](const CaseRow &r) { return Edit(com_ltrim, r[2]); }},
        {"rtrim", [](const CaseRow &r) { return Edit(com_rtrim, r[2]); }},
        {"delspaces", [](const CaseRow &r) { return Edit(com_delspaces, r[2]); }},
        {"unquote", [](const CaseRow &r) { return Edit(com_Remove_Quotes, r[2]); }},
        {"stripcr", [](const CaseRow &r) { return Edit(com_StripCR, r[2]); }},
        {"stripend", [](const CaseRow &r) { return Edit(com_StripLineEnd, r[2]); }},
        {"unescape", [](const CaseRow &r) { return Edit(com_Unescape, r[2]); }},
        {"deslash", [](const CaseRow &r) { return Edit(com_DeSlash, r[2]); }},
        {"dir", [](const CaseRow &r) { return Piece(com_ExtractFileDir, r); }},
        {"ext", [](const CaseRow &r) { return Piece(com_ExtractFileExt, r); }},
        {"name", [](const CaseRow &r) { return Piece(com_ExtractFileName, r); }},
        {"copy", [](const CaseRow &r) {  // bounded copy of r[3] bytes into 8, '#' beyond
             char buf[9];
             memset(buf, '#', sizeof(buf) - 1);
             buf[8] = 0;
             com_strncpy(buf, r[2] == "null" ? nullptr : r[2].c_str(), (size_t)r.Int(3));
             return std::string(buf, 8);
         }},
        {"appendslash", [](const CaseRow &r) {
             std::vector<char> buf((size_t)r.Int(3));
             com_strncpy(buf.data(), r[2].c_str(), buf.size() - 1);
             com_AppendSlash(buf.data(), buf.size());
             return std::string(buf.data());
         }},
        {"stristr", [](const CaseRow &r) {
             const char *hit = com_stristr(r[2].c_str(), r[3].c_str(), r.Int(4));
             return hit ? std::to_string(hit - r[2].c_str()) : "none";
         }},
        {"tokens", [](const CaseRow &r) { return Tokens(r[2]); }},
        {"towide", [](const CaseRow &r) { return ToWide(r.Int(2), r[3]); }},
        {"fromwide", [](const CaseRow &r) { return FromWide(r.Int(2), r[3]); }},
        {"terminated", [](const CaseRow &r) {  // a terminated text into r[4] units
             WCHAR out[64];
             return std::to_string(plat_MultiByteToWideChar(r.Int(2), r[3].c_str(), r.Int(5), out, r.Int(4)));
         }},
        {"validcp", [](const CaseRow &r) {
             std::string refused;
             for (size_t at = 0; at < r[2].size(); at = r[2].find(' ', at + 1)) {
                 int cp = atoi(r[2].c_str() + at);
                 if (!plat_IsValidCodePage(cp)) refused += std::to_string(cp) + " ";
             }
             return refused;
         }},
        {"inplace", [](const CaseRow &r) {  // from to capacity text
             std::vector<char> buf((size_t)r.Int(4) + 16, '#');
             memcpy(buf.data(), r[5].c_str(), r[5].size() + 1);
             int len = com_CodepageToWindows(buf.data(), r.Int(2), r.Int(3), (size_t)r.Int(4));
             for (size_t i = std::max((size_t)r.Int(4), r[5].size() + 1); i < buf.size(); ++i)
                 if (buf[i] != '#') return std::string("wrote past the capacity");
             return std::to_string(len) + " " + buf.data();
         }},
        {"cpname", [](const CaseRow &r) { return std::to_string(CodepageOf(r[2])); }},
        {"cpvalid", [](const CaseRow &r) { return std::to_string(plat_IsValidCodePage(CodepageOf(r[2]))); }},
        {"charset", [](const CaseRow &r) {
             char buf[BV_CHARSET_LEN];
             com_iso_codepage(r.Int(2), buf);
             return std::string(buf);
         }},
        {"local", [](const CaseRow &r) {
             FILETIME local, platLocal, utc = Time(r[3]);
             com_FileTimeToLocalFileTime(&utc, &local);
             plat_FileTimeToLocalFileTime(&utc, &platLocal);
             return plat_CompareFileTime(&local, &platLocal) ? "the two conversions differ" : Text(local);
         }},
        {"toutc", [](const CaseRow &r) {
             FILETIME utc, local = Time(r[3]);
             return plat_LocalFileTimeToFileTime(&local, &utc) ? Text(utc) : "refused";
         }},
        {"isdst", [](const CaseRow &r) {
             FILETIME t = Time(r[3]);
             BvVTimeZone empty{};
             return std::to_string(com_DateIsDST(&t, nullptr)) + std::to_string(com_DateIsDST(&t, &empty));
         }},
        {"zoneinfo", [](const CaseRow &) { return ZoneInformation(); }},
        {"tzinfo", [](const CaseRow &r) {
             int bias = 0, dst = 0, std = 0;
             int ok = com_GetTZInfo(r[2] == "null" ? nullptr : r[2].c_str(), &bias, &dst, &std, 0);
             return std::to_string(ok) + " " + std::to_string(bias) + " " + std::to_string(dst) + " " +
                    std::to_string(std);
         }},
        {"tzdst", [](const CaseRow &r) {
             FILETIME t = Time(r[3]);
             int bias = 0, flag = 0;
             int dst = com_TZDateIsDST(&t, r[2].c_str(), &bias, &flag);
             return std::to_string(dst) + " flag=" + std::to_string(flag) + " bias=" + std::to_string(bias);
         }},
        {"vtzdst", [](const CaseRow &r) {  // std offset, std start, dst offset, dst start, name, time
             BvVTimeZone zone{};
             zone.stdOffset = r.Int(2);
             zone.dstOffset = r.Int(4);
             if (!r[3].empty()) zone.stdStart = Time(r[3]);
             if (!r[5].empty()) zone.dstStart = Time(r[5]);
             com_strncpy(zone.name, r[6].c_str(), sizeof(zone.name) - 1);
             FILETIME t = Time(r[7]);
             return std::to_string(com_DateIsDST(&t, &zone));
         }},
        {"vtimezone", [](const CaseRow &r) {  // the TZID, then whether the text holds r[3]
             char text[2048], tzid[256];
             int ok = com_GetVTimeZone(r[2].c_str(), text, tzid);
             return std::to_string(ok) + " " + tzid + " " + std::to_string(strstr(text, r[3].c_str()) != nullptr);
         }},
        {"systime", SystemTimeRoundTrip},
        {"compare", [](const CaseRow &r) {
             FILETIME a = Time(r[2]), b = Time(r[3]);
             return std::to_string(plat_CompareFileTime(&a, &b));
         }},
        {"textfit", [](const CaseRow &r) {
             FILETIME t = Time(r[2]);
             char out[64];
             com_FileTimeText(&t, out, (size_t)r.Int(3));
             return std::string(out);
         }},
        {"create", [](const CaseRow &r) {
             FILETIME t = Time(r[2]);
             return std::to_string(plat_FileTimeToU64(&t)) + " null=" + std::to_string(com_DateIsNull(&t));
         }},
        {"offset", [](const CaseRow &r) {  // days hours minutes, or minutes alone
             FILETIME t = Time(r[2]);
             if (r[5].empty()) com_OffsetFileTimeVal(&t, r.Int(3));
             else com_OffsetFileTime(&t, r.Int(3), r.Int(4), r.Int(5));
             return Text(t);
         }},
        {"dateformat", [](const CaseRow &r) {
             SYSTEMTIME st{};
             sscanf(r[2].c_str(), "%hu-%hu-%hu", &st.wYear, &st.wMonth, &st.wDay);
             char out[64] = "x";
             int n = plat_GetDateFormat(&st, out, (size_t)r.Int(3));
             return std::to_string(n) + " " + (n ? out : "");
         }},
        {"rrule", [](const CaseRow &r) {
             HeapRecord rec;
             FillRecurrence(rec, r[2]);
             char out[512];
             com_Genrrule(rec, out);
             return std::string(out);
         }},
        {"occurrences", [](const CaseRow &r) {  // block, start; counted up to its end
             HeapRecord rec;
             FillRecurrence(rec, r[2]);
             rec->startTime = Time(r[3]);
             int n = com_ExpandRecur(rec, "");
             return std::to_string(n) + " interval=" + std::to_string(rec->recurInterval) +
                    " end=" + std::to_string(rec->recurEndType) + " recurring=" + std::to_string(rec->isRecurring);
         }},
    };
    return ops;
}

// Runs every row of a table; a row's TZ column (when the operation takes one)
// sets the machine's zone for that row only.
void RunTable(const std::string &file) {
    bvtest::ScopedEnv tz("TZ", getenv("TZ"));
    for (const CaseRow &row : bvtest::ReadCaseTable(BV_FOUNDATION_DATA "/" + file)) {
        auto op = Operations().find(row[0]);
        ASSERT_NE(op, Operations().end()) << row.Where();
        bool zoned = row[0] == "local" || row[0] == "toutc" || row[0] == "isdst" || row[0] == "zoneinfo" ||
                     row[0] == "occurrences";
        if (zoned) {
            std::string zone = row[0] == "occurrences" ? "UTC0" : row[2];
            if (zone.find('/') != std::string::npos && !plat_FileExists(("/usr/share/zoneinfo/" + zone).c_str()))
                continue;  // no zone database on this machine
            tz.Set(zone.c_str());
        }
        EXPECT_EQ(op->second(row), row[1]) << file << " " << row.Where();
    }
}

TEST(FoundationTables, TextEditsPathsAndSwitches) { RunTable("text.tsv"); }
TEST(FoundationTables, CodePagesAndCharsetNames) { RunTable("codepages.tsv"); }
TEST(FoundationTables, TimesZonesAndRecurrence) { RunTable("time.tsv"); }

TEST(FoundationTables, AnsiCodePageKeepsEveryByte) {
    EXPECT_EQ(plat_GetACP(), 28591);
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back((char)b);
    std::u16string latin1(all.begin(), all.end());
    for (char16_t &c : latin1) c &= 0xFF;
    EXPECT_EQ(ToWide(28591, all), Utf8(latin1));
    EXPECT_EQ(FromWide(28591, Utf8(latin1)), all);
    std::vector<char> buf(600, 0);
    memcpy(buf.data(), all.data(), all.size());
    EXPECT_EQ(com_CodepageToWindows(buf.data(), 28591, 65001, buf.size()), 127 + 128 * 2);
    EXPECT_EQ(com_CodepageToWindows(buf.data(), 65001, 28591, buf.size()), 255);
    EXPECT_EQ(std::string(buf.data()), all);
}

}  // namespace
