// The target side through the loaded library: InitWrite, WriteMsg and
// CloseWrite by data type, the task CSV rows, the mail group folder; and the
// read-side exports that need no store reader.
#include "module_fixture.h"

namespace bvtest {
namespace {

class WriteCycleTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        rec_ = std::make_unique<mdat>();
    }
    void TearDown() override {
        com_Deallocate_All(rec_.get(), work_.c_str());
        com_Deallocate(rec_.get(), work_.c_str());
        ModuleTest::TearDown();
    }
    void Event(const char *title, int itemFlag, int importance, const char *notes, bool dated = true) {
        com_Deallocate_All(rec_.get(), work_.c_str());
        com_Deallocate(rec_.get(), work_.c_str());
        com_ResetObject(rec_.get());
        rec_->dataType = 2;
        snprintf(rec_->title, sizeof rec_->title, "%s", title);
        rec_->itemFlag = itemFlag;
        rec_->importance = importance;
        if (dated) {
            rec_->startTime = Utc(2024, 1, 15, 9, 0);
            rec_->endTime = Utc(2024, 11, 2, 9, 0);
        }
        if (notes) com_WriteNotes(rec_.get(), notes, work_.c_str());
        EXPECT_EQ(module_->WriteMsg(rec_.get(), "Calendar", work_.c_str(), 0), 0);
    }
    std::unique_ptr<mdat> rec_;
};

// "/CSVTASK" writes the events as task rows beside the calendar too.
TEST_F(WriteCycleTest, CsvTaskRows) {
    for (const char *switches : {"/CSVTASK", ""}) {
        fs::path calendar = dir_ / (switches[0] ? "rows" : "none") / "cal.vcs";
        Load();
        bvcom_SetSwitches(switches);
        ASSERT_EQ(Logon(calendar.string(), 99, 0), 0);
        ASSERT_EQ(module_->InitWrite(rec_.get(), "Calendar", 0, 2), 0);
        Event("Call \"Bob\"", 1, 0, "Line one\r\nsays \"hi\"");
        Event("Review", 0, 2, nullptr);
        Event("Plain", 1, 1, "");
        Event("Undated", 1, 1, nullptr, false);
        ASSERT_EQ(module_->CloseWrite(2), 0);
        std::string vcs = ReadFileText(calendar);
        EXPECT_EQ(vcs.rfind("BEGIN:VCALENDAR\nVERSION:1.0\n", 0), 0u) << vcs;
        EXPECT_EQ(vcs.substr(vcs.size() - 14), "END:VCALENDAR\n");
    }
    EXPECT_FALSE(fs::exists(dir_ / "none" / "cal.CSV"));
    EXPECT_EQ(ReadFileText(dir_ / "rows" / "cal.CSV"),
              "\"Subject\",\"Start Date\",\"Due Date\",\"Date Completed\",\"Notes\",\"Priority\"\n"
              "\"Call \"\"Bob\"\"\",\"1/15/2024\",\"11/2/2024\",\"\",\"Line onesays 'hi'\",\"Low\"\n"
              "\"Review\",\"1/15/2024\",\"11/2/2024\",\"\",\"\",\"High\"\n"
              "\"Plain\",\"1/15/2024\",\"11/2/2024\",\"\",\"\",\"\"\n"
              "\"Undated\",\"1/1/1601\",\"1/1/1601\",\"\",\"\",\"\"\n");
}

TEST_F(WriteCycleTest, TaskFileFrame) {
    fs::path tasks = dir_ / "tasks.vcs";
    WriteFileText(tasks, "from an earlier run\n");
    Load();
    ASSERT_EQ(Logon(tasks.string(), 100, 0), 0);
    EXPECT_EQ(module_->CloseWrite(3), 0);
    EXPECT_FALSE(fs::exists(tasks)) << "closing with no open file writes nothing";

    ASSERT_EQ(module_->InitWrite(rec_.get(), "Tasks", 0, 3), 0);
    EXPECT_EQ(module_->CloseWrite(3), 0);
    EXPECT_EQ(module_->CloseWrite(3), 0);
    EXPECT_EQ(ReadFileText(tasks), "BEGIN:VCALENDAR\nVERSION:1.0\nEND:VCALENDAR\n");
}

// The group folder "root", in any letter case, is no folder to create
// (creating a named one once: tests/compose).
TEST_F(WriteCycleTest, RootIsNoGroupFolder) {
    bvtest::ScopedEnv noStore("BV_OE_STORE", nullptr);
    for (const char *noGroup : {"ROOT", "root", "Root"}) {
        Load();
        bvcom_SetSwitches("/DEBUG");
        Logon("Default user only", 0, 0);
        fs::remove(logPath_);
        bvcom_SetLogFile(logPath_.c_str());
        snprintf(rec_->groupFolder, sizeof rec_->groupFolder, "%s", noGroup);
        module_->InitWrite(rec_.get(), "Inbox", 0, 0);
        module_->InitWrite(rec_.get(), "Sent", 0, 0);
        EXPECT_EQ(CountOf(Log(), "gRootFolderCreated=0"), 2) << noGroup << "\n" << Log();
    }
}

TEST_F(WriteCycleTest, ReadSideWithoutFolders) {
    Load();
    ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0);
    char name[BV_HOST_TEXT_LEN] = "stale";
    EXPECT_EQ(module_->GetTrueFolder(3, name), 0);
    EXPECT_STREQ(name, "");
    int count = 7, size = 7;
    EXPECT_EQ(module_->ConvertFolder(rec_.get(), nullptr, 3, nullptr, 0, 0, 0, 0, 100, 0, work_.c_str(), &count,
                                     &size, nullptr),
              0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(module_->CloseRead(0), 0);
    EXPECT_EQ(module_->Logoff(0), 0);
    EXPECT_EQ(module_->Logoff(0), 0) << "a second Logoff finds nothing to free";
}

}  // namespace
}  // namespace bvtest
