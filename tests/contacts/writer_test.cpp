// The contact writers: address-book, list and directory-import layouts. One
// case a file data/write/NAME.contacts, whose output must equal NAME.expect:
//   set fas|unid|d153|d153one|actdir   a session switch
//   file NAME TEXT     a file beside the output (uadomain.dat)
//   folder             a folder starts (InitContactFile), the last one closes
//   contact            a new contact; then "FIELD VALUE", "notes VALUE", "itemFlag N"
#include <string.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "contact_test_support.h"
#include "support/case_table.h"

namespace contacts_test {
namespace {

class ContactWriter : public ContactTest {
protected:
    void SetUp() override {
        ContactTest::SetUp();
        out_ = dir_ + "/out/contacts.csv";
        WriteFile("out/.keep", "");
        com_strncpy(gContactOutPath, out_.c_str(), sizeof(gContactOutPath) - 1);
        com_strncpy(gOutputPath, out_.c_str(), sizeof(gOutputPath) - 1);
    }
    // Closes the file as CloseWrite does for contacts.
    void Close() {
        if (gOutFile) fclose(gOutFile);
        gOutFile = nullptr;
        free(gNotesBuf);
        gNotesBuf = nullptr;
    }
    void WritePending() {
        if (pending_) {
            EXPECT_EQ(WriteContact(record_, workDir_.c_str()), 0);
        }
        pending_ = false;
    }
    void SetField(const std::string &name, const std::string &value) {
        if (name == "notes") com_WriteNotes(record_, value.c_str(), workDir_.c_str());
        else if (name == "itemFlag") record_->itemFlag = atoi(value.c_str());
        for (const TextField &field : ContactTextFields(record_))
            if (name == field.name) com_strncpy(field.text, value.c_str(), field.capacity - 1);
    }
    void RunCase(const std::string &path) {
        gFas = gUnid = gD153 = gD153One = gActDir = 0;
        com_strncpy(gDomainDN, "mydomain", sizeof(gDomainDN) - 1);
        com_strncpy(gDeptOU, "department", sizeof(gDeptOU) - 1);
        com_strncpy(gOrgName, "olddept", sizeof(gOrgName) - 1);
        std::filesystem::remove(out_);
        std::filesystem::remove(dir_ + "/out/uadomain.dat");
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            std::string word = line.substr(0, line.find(' '));
            std::string value = bvtest::DecodeEscapes(line.size() > word.size() ? line.substr(word.size() + 1) : "");
            if (line.empty() || line[0] == '#') continue;
            if (word == "set") (value == "fas" ? gFas : value == "unid" ? gUnid : value == "d153" ? gD153
                                 : value == "d153one" ? gD153One : gActDir) = 1;
            else if (word == "file") WriteFile("out/" + value.substr(0, value.find(' ')), value.substr(value.find(' ') + 1));
            else if (word == "folder") {
                WritePending();
                Close();
                EXPECT_EQ(InitContactFile(), 0);
            } else if (word == "contact") {
                WritePending();
                com_ResetObject(record_);
                record_->dataType = 1;
                pending_ = true;
            } else {
                SetField(word, value);
            }
        }
        WritePending();
        Close();
    }
    std::string out_;
    bool pending_ = false;
};

TEST_F(ContactWriter, EveryCaseFileWritesAsExpected) {
    int cases = 0;
    for (const auto &entry : std::filesystem::directory_iterator(DataPath("write"))) {
        if (entry.path().extension() != ".contacts") continue;
        SCOPED_TRACE(entry.path().filename().string());
        RunCase(entry.path().string());
        std::string expected = entry.path().parent_path() / (entry.path().stem().string() + ".expect");
        EXPECT_EQ(bvtest::ReadFileText(out_), bvtest::ReadFileText(expected));
        cases++;
    }
    EXPECT_GE(cases, 5);
}

TEST_F(ContactWriter, DistinguishedNamesAndUnopenableOutput) {
    char out[256];
    DotsToDN("x.y", "", out, sizeof(out));
    EXPECT_STREQ(out, "x,y");
    DotsToDN("long.name.here", "DC=", out, 12);
    EXPECT_LT(strlen(out), 12u);

    std::string bad = dir_ + "/no/such/dir/out.csv";
    com_strncpy(gContactOutPath, bad.c_str(), sizeof(gContactOutPath) - 1);
    EXPECT_EQ(InitContactFile(), 1);
    EXPECT_NE(LogText().find("BV Error: Unable to open output file " + bad), std::string::npos);
    record_->dataType = 1;
    EXPECT_EQ(WriteContact(record_, workDir_.c_str()), 0);
}

}  // namespace
}  // namespace contacts_test
