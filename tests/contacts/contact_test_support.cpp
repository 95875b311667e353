#include "contact_test_support.h"

#include <stdlib.h>
#include <filesystem>

#include "support/file_text.h"
#include "support/program_run.h"

namespace contacts_test {

ContactTest *ContactTest::current_;

namespace {

FolderRecord gTestFolder;
FolderRecord *gTestTable[1] = {&gTestFolder};

int BV_CALL KeepItem(mdat *record, const char *hostValue, const char *workDir, int itemNumber) {
    ContactTest *test = ContactTest::current_;
    EXPECT_STREQ(hostValue, "");
    if (test->handed_.empty() && test->countPtr_) test->countAtFirstItem_ = *test->countPtr_;
    Contact contact;
    for (const TextField &field : ContactTextFields(record))
        if (field.text[0]) contact.fields[field.name] = field.text;
    for (int i = 0; i < record->recipCount; i++)
        contact.members.push_back({record->recips[i]->name, record->recips[i]->addr, record->recips[i]->type});
    char notes[BV_NOTES_LEN];
    com_ReadNotes(record, notes, workDir);
    contact.notes = notes;
    contact.itemFlag = record->itemFlag;
    contact.dataType = record->dataType;
    contact.index = itemNumber;
    test->handed_.push_back(contact);
    if (test->writeBack_) WriteContact(record, workDir);
    return test->answer_;
}

int BV_CALL KeepStatus(mdat *, const char *text, int status, int *a, int *b, int *stop) {
    ContactTest *test = ContactTest::current_;
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(a && b && stop);
    test->statuses_.push_back(status);
    if (test->stopAfter_ >= 0 && (int)test->statuses_.size() >= test->stopAfter_) *stop = 1;
    return 0;
}

}  // namespace

#define TEXT(field) {#field, record->field, sizeof(record->field)}
std::vector<TextField> ContactTextFields(mdat *record) {
    return {TEXT(firstName),      TEXT(lastName),        TEXT(middleName),     TEXT(emailAddr),
            TEXT(email2Addr),     TEXT(email3Addr),      TEXT(title),          TEXT(company),
            TEXT(department),     TEXT(businessPhone),   TEXT(businessFax),    TEXT(mobilePhone),
            TEXT(homePhone),      TEXT(businessStreet),  TEXT(businessCity),   TEXT(businessState),
            TEXT(businessPostalCode), TEXT(businessCountry), TEXT(homeStreet), TEXT(homeCity),
            TEXT(homeState),      TEXT(homePostalCode),  TEXT(homeCountry),    TEXT(courtesyTitle),
            TEXT(suffix),         TEXT(birthday),        TEXT(displayName),    TEXT(directPhone),
            TEXT(directFax),      TEXT(businessStreet2), TEXT(pager),          TEXT(webPage),
            TEXT(categories),     TEXT(homeStreet2),     TEXT(location),       TEXT(spouse),
            TEXT(managerName),    TEXT(assistantName),   TEXT(homeFax),        TEXT(children),
            TEXT(emailDisplayName), TEXT(uid)};
}
#undef TEXT

void ContactTest::SetUp() {
    current_ = this;
    ASSERT_FALSE(scratch_.Path().empty());
    dir_ = scratch_.Path().string();
    workDir_ = dir_ + "/work/";
    std::filesystem::create_directories(workDir_);
    logPath_ = dir_ + "/bv.log";
    bvcom_SetWorkDir(workDir_.c_str());
    bvcom_SetLogFile(logPath_.c_str());

    gUtf8 = 0;
    gCsvSeparator = ',';
    gD223Text[0] = '\0';
    gMaxRead = 1000000;
    gDebug = gLSub = 0;
    gActDir = gD153 = gD153One = gFas = gUnid = 0;
    gOutFile = nullptr;
    gContactOutPath[0] = gOutputPath[0] = '\0';
    gFolderTable = gTestTable;
    gFolderCount = 1;
    record_ = static_cast<mdat *>(calloc(1, sizeof(mdat)));
}

void ContactTest::TearDown() {
    if (gOutFile) fclose(gOutFile);
    gOutFile = nullptr;
    free(gNotesBuf);
    gNotesBuf = nullptr;
    com_ResetObject(record_);
    com_Deallocate_All(record_, workDir_.c_str());
    com_Deallocate(record_, workDir_.c_str());
    free(record_);
    gFolderTable = nullptr;
    gFolderCount = 0;
    bvcom_SetLogFile(nullptr);
    current_ = nullptr;
}

std::vector<Contact> ContactTest::Read(const std::string &path, int *countOut) {
    handed_.clear();
    statuses_.clear();
    com_strncpy(gTestFolder.fileName, path.c_str(), sizeof(gTestFolder.fileName) - 1);
    com_strncpy(gTestFolder.trueName, "Contacts", sizeof(gTestFolder.trueName) - 1);
    gTestFolder.folderClass = BV_CLASS_CONTACTS;
    int count = -1;
    countPtr_ = &count;
    countAtFirstItem_ = -1;
    ParseContactFile(0, record_, KeepItem, workDir_.c_str(), &count, KeepStatus);
    countPtr_ = nullptr;
    if (countOut) *countOut = count;
    return handed_;
}

std::string ContactTest::WriteFile(const std::string &name, const std::string &text) {
    std::string path = dir_ + "/" + name;
    bvtest::WriteFileText(path, text);
    return path;
}

std::string ContactTest::DataPath(const std::string &name) const { return std::string(BV_CONTACTS_DATA) + "/" + name; }

std::string ContactTest::BuildNK2(const std::string &description, const std::string &name) {
    std::string out = dir_ + "/" + name;
    std::string source = description[0] == '/' ? description : DataPath(description);
    std::string command = bvtest::ShellQuote(BV_NK2_WRITER) + " " + bvtest::ShellQuote(source) + " " +
                          bvtest::ShellQuote(out);
    EXPECT_EQ(system(command.c_str()), 0) << command;
    return out;
}

void ContactTest::FreshWorkDir() {
    static int serial;
    workDir_ = dir_ + "/work" + std::to_string(++serial) + "/";
    std::filesystem::create_directories(workDir_);
    bvcom_SetWorkDir(workDir_.c_str());
}

std::string ContactTest::LogText() const { return bvtest::ReadFileText(logPath_); }

}  // namespace contacts_test
