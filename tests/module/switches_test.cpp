// Option switches as a host sees them: the switch string of a session, then
// what the loaded module does with it (the record's group folder, the debug
// lines of the log, the order of a list-layout contact line).
#include "module_fixture.h"
#include "support/case_table.h"

namespace bvtest {
namespace {

using SwitchTest = ModuleTest;

TEST_F(SwitchTest, SwitchStringReachesTheSession) {
    WriteFileText(dir_ / "in.csv", "First Name,E-mail Address\nAnna,anna@example.org\n");
    for (const CaseRow &row : ReadCaseTable(BV_MODULE_DATA "/switches.tsv")) {
        Load();
        fs::remove(logPath_);
        bvcom_SetLogFile(logPath_.c_str());
        bvcom_SetSwitches(row[0].c_str());
        ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0) << row.Where();
        auto rec = std::make_unique<mdat>();
        EXPECT_EQ(module_->InitRead(rec.get(), 0, 0, 0, 0, 10), 0);
        EXPECT_EQ(rec->groupFolder, row[1]) << row.Where() << ": " << row[3];
        EXPECT_EQ(Log().find("DST Offset=") != std::string::npos, row[2] == "1") << row.Where() << ": " << row[3];
    }
}

TEST_F(SwitchTest, ListLayoutOrderFollowsTheD153Value) {
    for (const CaseRow &row : ReadCaseTable(BV_MODULE_DATA "/list_order.tsv")) {
        fs::path out = dir_ / "list.csv";
        Load();
        bvcom_SetSwitches(row[0].c_str());
        ASSERT_EQ(Logon(out.string(), 1, 0), 0);
        auto rec = std::make_unique<mdat>();
        ASSERT_EQ(module_->InitWrite(rec.get(), "Contacts", 0, 1), 0);
        rec->dataType = 1;
        snprintf(rec->firstName, sizeof rec->firstName, "Anna");
        snprintf(rec->lastName, sizeof rec->lastName, "Berg");
        snprintf(rec->emailAddr, sizeof rec->emailAddr, "anna@example.org");
        EXPECT_EQ(module_->WriteMsg(rec.get(), "Contacts", work_.c_str(), 0), 0);
        EXPECT_EQ(module_->CloseWrite(1), 0);
        EXPECT_EQ(ReadFileText(out), row[1]) << row.Where();
    }
}

}  // namespace
}  // namespace bvtest
