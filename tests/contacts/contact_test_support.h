// Shared set-up of the contact tests: a fresh session and work directory per
// test, a one-folder table pointing at the source, and host callbacks that
// keep what the reader hands over.
#pragma once

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>
#include "contacts/contacts.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace contacts_test {

struct Member {
    std::string name, addr;
    int type;
};

// What the host saw of one contact.
struct Contact {
    std::map<std::string, std::string> fields;  // every non-empty text field by record name
    std::vector<Member> members;
    std::string notes;
    int itemFlag = 0;
    int dataType = 0;
    int index = -1;
    std::string operator[](const std::string &name) const {
        auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    }
};

// The record's contact text fields by name, with their capacities.
struct TextField {
    const char *name;
    char *text;
    size_t capacity;
};
std::vector<TextField> ContactTextFields(mdat *record);

class ContactTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs ParseContactFile on path as folder 0; returns what the host got.
    std::vector<Contact> Read(const std::string &path, int *countOut = nullptr);
    // Writes text into a file of the work area and returns its path.
    std::string WriteFile(const std::string &name, const std::string &text);
    std::string DataPath(const std::string &name) const;
    // Builds an NK2 file from a description (a data-folder name or a path).
    std::string BuildNK2(const std::string &description, const std::string &name);
    std::string LogText() const;
    // A new, empty work directory: the duplicate register starts afresh.
    void FreshWorkDir();

    bvtest::TempDir scratch_{"bv_contacts"};
    std::string dir_;      // scratch area of this test
    std::string workDir_;  // the host's work directory (trailing separator)
    std::string logPath_;
    mdat *record_ = nullptr;

public:
    // Host side of the callbacks.
    static ContactTest *current_;
    std::vector<Contact> handed_;
    std::vector<int> statuses_;
    int answer_ = 0;       // what the item callback answers
    int stopAfter_ = -1;   // set the stop flag after this many status calls
    bool writeBack_ = false;  // also write each contact through WriteContact
    int *countPtr_ = nullptr;  // the count the reader is filling
    int countAtFirstItem_ = -1;
};

}  // namespace contacts_test
