// Shared helpers of the module tests: a scratch directory, the module loaded
// through the host's loader (a fresh private copy per test, so every test
// starts from the globals' load-time values), the common library's log
// captured into a file, and thin wrappers for the 15- and 17-argument
// exports.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/module_instance.h"
#include "module/exports.h"
#include "platform/platform.h"
#include "support/file_text.h"
#include "support/module_loader.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/utc_time.h"

namespace bvtest {

namespace fs = std::filesystem;

// A UTC time of day as the records hold it.
inline FILETIME Utc(int year, int month, int day, int hour, int minute) {
    return bvtest::UtcTime(year, month, day, hour, minute);
}

// A scratch directory with the common library's log and work directory in
// it; the switch string is cleared.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        dir_ = scratch_.Path();
        work_ = (dir_ / "work").string() + "/";
        fs::create_directories(work_);
        logPath_ = dir_ / "module.log";
        bvcom_SetLogFile(logPath_.c_str());
        bvcom_SetWorkDir(work_.c_str());
        bvcom_SetHostSetting(6, work_.c_str());
        bvcom_SetSwitches("");
        bvcom_SetRegistryFile("");
    }
    void TearDown() override {
        Unload();
        bvcom_SetLogFile(nullptr);
        bvcom_SetSwitches("");
    }

    // Logoff frees what the session holds, as a host does before unloading.
    void Unload() {
        if (module_) module_->Logoff(0);
        module_.reset();
    }

    bvhost::ModuleInstance &Load() {
        Unload();
        std::string error;
        module_ = LoadModuleCopy(BuildLibrary("libbvole.so"), &error);
        if (!module_) ADD_FAILURE() << error;
        return *module_;
    }

    std::string Log() const { return ReadFileText(logPath_); }

    int Logon(const std::string &path, int adrType, int readFlag, const char *tag = "", int checkValue = 0,
              int param = 1, std::string *pathAfter = nullptr) {
        char pathBuf[BV_HOST_TEXT_LEN] = "";
        snprintf(pathBuf, sizeof pathBuf, "%s", path.c_str());
        char outText[BV_HOST_TEXT_LEN] = "untouched";
        int result = module_->Logon(0, 0, pathBuf, 0, 0, 0, 0, 0, 0, 0, outText, checkValue, param, readFlag,
                                    adrType, tag, 0);
        if (param != 0) {
            EXPECT_STREQ(outText, "") << "Logon clears its 11th argument";
        }
        if (pathAfter) *pathAfter = pathBuf;
        return result;
    }

    struct LogonFields {
        std::string out4, out5, pathLabel, out7, checkLabel, pathValue, chooser, switchText;
    };
    LogonFields LogonParameters(int dataType, int adrType, const char *tag, const std::string &pathValue) {
        char out4[BV_HOST_TEXT_LEN] = "x", out5[BV_HOST_TEXT_LEN] = "x", label[BV_HOST_TEXT_LEN] = "x";
        char out7[BV_HOST_TEXT_LEN] = "x", check[BV_HOST_TEXT_LEN] = "x", path[BV_HOST_TEXT_LEN] = "";
        char chooser[BV_HOST_TEXT_LEN] = "x", switches[BV_HOST_TEXT_LEN] = "x";
        snprintf(path, sizeof path, "%s", pathValue.c_str());
        EXPECT_EQ(module_->GetLogonParameters(dataType, adrType, tag, out4, out5, label, out7, check, 0, 0, path, 0,
                                              chooser, 0, switches),
                  0);
        return {out4, out5, label, out7, check, path, chooser, switches};
    }

    TempDir scratch_{"bvmodtest"};
    fs::path dir_;
    std::string work_;
    fs::path logPath_;
    std::unique_ptr<bvhost::ModuleInstance> module_;
};

}  // namespace bvtest
