// GetLogonParameters and Logon through the loaded library (the switch
// string and the zone values through bvhost: tests/host/data/scenarios).
#include <fnmatch.h>

#include <sstream>

#include "module_fixture.h"
#include "support/case_table.h"

namespace bvtest {
namespace {

using LogonTest = ModuleTest;

TEST_F(LogonTest, RefusedParameterReturnsOneAfterTheTwoLogLines) {
    Load();
    EXPECT_EQ(Logon("/some/where", 1, 1, "CSVZ", 1, 0), 1);
    std::string log = Log();
    EXPECT_NE(log.find("Running bvole.dll, compile time "), std::string::npos) << log;
    EXPECT_NE(log.find("Outlook Express logon, Param=0, AdrType=1, DB=/some/where, Checkvalue=1, Tag=CSVZ\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("BV Error"), std::string::npos) << "nothing after the refusal";
}

TEST_F(LogonTest, StoreSourceAndTargetPaths) {
    for (const CaseRow &row : ReadCaseTable(BV_MODULE_DATA "/logon_paths.tsv")) {
        auto inDir = [&](std::string text) {
            for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir_.string());
            return text;
        };
        std::istringstream files(inDir(row[0]));
        for (std::string file; std::getline(files, file, ';');)
            file.back() == '/' ? (void)fs::create_directories(file) : WriteFileText(file, "x");
        Load();
        bvcom_SetSwitches(row[1].c_str());
        std::string pathAfter;
        EXPECT_EQ(Logon(inDir(row[2]), row.Int(3), row.Int(4), "", 0, 1, &pathAfter), row.Int(5)) << row.Where();
        EXPECT_EQ(pathAfter, row[6] == "-" ? inDir(row[2]) : inDir(row[6])) << row.Where();
        EXPECT_NE(Log().find(inDir(row[7])), std::string::npos) << row.Where() << "\n" << Log();
    }
    EXPECT_TRUE(fs::is_directory(dir_ / "new" / "deeper"));
}

TEST_F(LogonTest, LogonFieldsByAddressTypeAndTag) {
    bvtest::ScopedEnv docs("BV_SHARED_DOCUMENTS", "/shared/docs");
    for (const CaseRow &row : ReadCaseTable(BV_MODULE_DATA "/logon_fields.tsv")) {
        Load();
        bvcom_SetSwitches(row[4].c_str());
        LogonFields fields = LogonParameters(row.Int(0), row.Int(1), row[2].c_str(), row[3]);
        EXPECT_EQ(fields.pathLabel + "|" + fields.checkLabel + "|" + fields.chooser + "|" + fields.switchText,
                  row[5] + "|" + row[6] + "|" + row[7] + "|" + row[9]) << row.Where();
        EXPECT_EQ(fnmatch(row[8].c_str(), fields.pathValue.c_str(), FNM_NOESCAPE), 0) << row.Where() << " " << fields.pathValue;
        EXPECT_EQ(fields.out4 + fields.out5 + fields.out7, "") << row.Where();
        EXPECT_NE(Log().find("GetLogonParameters BVOLE: DataType=" + row[0] + ", AdrType=" + row[1] + ", Tag=" + row[2] +
                             "\n"), std::string::npos) << row.Where();
    }
}

TEST_F(LogonTest, StoreRootFromTheRegistry) {
    WriteFileText(dir_ / "registry.ini",
              "[HKEY_USERS\\.DEFAULT\\Identities]\n"
              "\"Default User ID\"=\"{ABC-123}\"\n"
              "[HKEY_USERS\\.DEFAULT\\Identities\\{ABC-123}\\Software\\Microsoft\\Outlook Express\\5.0]\n"
              "\"Store Root\"=\"/stores/oe\"\n");
    bvcom_SetRegistryFile((dir_ / "registry.ini").c_str());
    Load();
    bvcom_SetSwitches("/OED");
    EXPECT_EQ(LogonParameters(0, 0, "", "").pathValue, "/stores/oe");
    EXPECT_EQ(LogonParameters(0, 0, "", "Default user only").pathValue, "/stores/oe");
    EXPECT_EQ(LogonParameters(0, 0, "", "/given").pathValue, "/given");

    // Without the identity the default directory is offered.
    WriteFileText(dir_ / "registry.ini", "[HKEY_USERS\\.DEFAULT\\Identities\\{ABC-123}\\Software\\Microsoft\\Outlook "
                                     "Express\\5.0]\n\"Store Root\"=\"/stores/oe\"\n");
    EXPECT_EQ(LogonParameters(0, 0, "", "").pathValue,
              "c:\\Windows\\Application Data\\Microsoft\\Outlook Express\\Mail");
}

}  // namespace
}  // namespace bvtest
