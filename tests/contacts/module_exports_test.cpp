// Contacts through the exports of the loaded module, as a host drives them:
// Logon, GetFolderNames (address types 2 and 10 list the file, others none),
// InitRead/ConvertFolder, and InitWrite/WriteMsg/CloseWrite on the target side.
#ifdef BV_MODULE_PATH
#include <string.h>
#include <algorithm>
#include <memory>
#include "contact_test_support.h"
#include "support/host_callbacks.h"
#include "support/module_loader.h"

namespace contacts_test {
namespace {

std::vector<mdat *> gKept;  // copies of the records handed over (no sub-records)
std::vector<std::string> gKeptNotes;

int BV_CALL KeepRecord(mdat *record, const char *, const char *workDir, int) {
    mdat *copy = static_cast<mdat *>(malloc(sizeof(mdat)));
    memcpy(copy, record, sizeof(mdat));
    memset(copy->parts, 0, sizeof(copy->parts));
    memset(copy->recips, 0, sizeof(copy->recips));
    memset(copy->exceptions, 0, sizeof(copy->exceptions));
    copy->partCount = copy->recipCount = copy->exceptionCount = 0;
    char notes[BV_NOTES_LEN];
    com_ReadNotes(record, notes, workDir);
    gKept.push_back(copy);
    gKeptNotes.push_back(notes);
    return 0;
}

class ContactModule : public ContactTest {
protected:
    void SetUp() override {
        ContactTest::SetUp();
        std::string error;
        module_ = bvtest::LoadModuleCopy(BV_MODULE_PATH, &error);
        ASSERT_NE(module_, nullptr) << error;
    }
    void TearDown() override {
        for (mdat *kept : gKept) free(kept);
        gKept.clear();
        gKeptNotes.clear();
        module_.reset();
        ContactTest::TearDown();
    }
    int LogOn(const std::string &path, int readFlag, int adrType) {
        char pathText[BV_PATH_LEN];
        com_strncpy(pathText, path.c_str(), sizeof(pathText) - 1);
        char outText[BV_HOST_TEXT_LEN] = "x";
        return module_->Logon(0, 0, pathText, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, readFlag, adrType, "", 0);
    }
    std::vector<std::string> Folders() {
        bvtest::gCollectedFolderTexts.clear();
        char store[BV_PATH_LEN] = "";
        module_->GetFolderNames(store, bvtest::CollectFolderText);
        return bvtest::gCollectedFolderTexts;
    }

    std::unique_ptr<bvhost::ModuleInstance> module_;
};

TEST_F(ContactModule, AddressTypesListTheContactFile) {
    std::string csv = WriteFile("src/outlook.csv", bvtest::ReadFileText(DataPath("outlook_export.csv")));
    // Other contact address types than 2 and 10 have no folder.
    for (auto [adrType, listed] : {std::pair{2, true}, {10, true}, {1, false}, {5, false}}) {
        ASSERT_EQ(LogOn(csv, 1, adrType), 0);
        EXPECT_EQ(Folders(), listed ? std::vector<std::string>{"Contacts {BV:3:FCLASS:1}"} : std::vector<std::string>{})
            << adrType;
        module_->Logoff(0);
    }
    std::string nk2 = BuildNK2("nk2_rows.txt", "src/Outlook.nk2");
    ASSERT_EQ(LogOn(nk2, 1, 10), 0);
    EXPECT_EQ(Folders(), (std::vector<std::string>{"Contacts {BV:5:FCLASS:1}"}));
    module_->Logoff(0);
}

TEST_F(ContactModule, ConvertFolderThenWriteMsgGivesTheAddressBook) {
    std::string csv = WriteFile("src/outlook.csv", bvtest::ReadFileText(DataPath("outlook_export.csv")));
    ASSERT_EQ(LogOn(csv, 1, 2), 0);
    ASSERT_EQ(Folders().size(), 1u);
    module_->InitRead(record_, 0, 0, 0, 0, 1000);
    int count = -1, size = -1;
    EXPECT_EQ(module_->ConvertFolder(record_, KeepRecord, 0, "", 0, 0, 0, 0, 5000, 0, workDir_.c_str(), &count, &size, bvtest::NeverStop), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(record_->folderTotal, 3);
    ASSERT_EQ(gKept.size(), 3u);
    module_->Logoff(0);

    std::string target = dir_ + "/target/contacts.csv";
    WriteFile("target/contacts.csv", "stale text from an earlier run\n");
    ASSERT_EQ(LogOn(target, 0, 2), 0);
    for (int folder = 0; folder < 2; folder++) {
        module_->InitWrite(gKept[0], "Contacts", 0, 1);
        for (size_t i = 0; i < gKept.size(); i++) {
            com_WriteNotes(gKept[i], gKeptNotes[i].c_str(), workDir_.c_str());
            module_->WriteMsg(gKept[i], "Contacts", workDir_.c_str(), 0);
            com_WriteNotes(gKept[i], "", workDir_.c_str());
        }
        module_->CloseWrite(1);
    }
    module_->Logoff(0);
    std::string written = bvtest::ReadFileText(target);
    EXPECT_EQ(written.find("stale"), std::string::npos);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 8);
    EXPECT_NE(written.find("\n\"Anna\",\"Schmidt\",\"Maria\",\"anna.schmidt@acme.example\",\"+1 217 555 0101\","),
              std::string::npos);
    EXPECT_NE(written.find(",\"3/9/1970\",\"\",\"\",\"Prefers e-mail.\"\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Chlo\xC3\xA9\",\"Durand\""), std::string::npos);
}

}  // namespace
}  // namespace contacts_test
#endif
