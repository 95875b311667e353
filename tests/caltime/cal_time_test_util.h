// Table files, ISO texts and the machine's zone for the calendar time tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "calread/cal_time.h"
#include "platform/platform.h"
#include "support/case_table.h"

typedef bvtest::CaseRow Row;

// The rows of a table in data/.
inline std::vector<Row> ReadTable(const std::string &name) {
    return bvtest::ReadCaseTable(std::string(BV_CALTIME_DATA) + "/" + name);
}

// "2024-01-15T14:00" (minutes; no zone) of a FILETIME.
inline std::string IsoOf(const FILETIME &time) {
    SYSTEMTIME st;
    if (!plat_FileTimeToSystemTime(&time, &st)) return "?";
    char text[32];
    snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
    return text;
}

inline FILETIME At(const std::string &iso) {
    return com_Create_FileTime(atoi(iso.substr(5, 2).c_str()), atoi(iso.substr(8, 2).c_str()),
                               atoi(iso.substr(0, 4).c_str()), atoi(iso.substr(11, 2).c_str()),
                               atoi(iso.substr(14, 2).c_str()), 0);
}

// Sets the machine's zone (TZ) and the session biases as logon computes them;
// the previous TZ comes back after the test.
class MachineZone : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (tz) savedTz_ = tz;
    }
    void TearDown() override {
        if (hadTz_) setenv("TZ", savedTz_.c_str(), 1);
        else unsetenv("TZ");
    }
    static void UseMachineZone(const char *tz) {
        setenv("TZ", tz, 1);
        TIME_ZONE_INFORMATION zone;
        plat_GetTimeZoneInformation(&zone);
        gUtcBias = zone.Bias;
        gDstOffset = zone.DaylightBias;
    }

  private:
    bool hadTz_ = false;
    std::string savedTz_;
};
