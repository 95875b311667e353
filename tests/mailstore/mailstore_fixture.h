// Shared set-up of the mail store tests: a scratch store directory and work
// directory per test, the project's fixture writers, the session switches
// reset, and host callbacks that keep what they receive.
#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <string>
#include <vector>
#include "mailstore/mailstore.h"

namespace fs = std::filesystem;

// What the host received for one message.
struct ReceivedItem {
    std::string subject;
    int unread = 0;
    std::string json;        // the record in the host's JSON form
    std::string bodyPart;    // part 1 when there is one
    std::string laterParts;  // parts 2 and on, one after the other
};

struct HostSide {
    std::vector<ReceivedItem> items;
    std::vector<int> statuses;
    int stopAfter = -1;  // status callback sets the stop flag after this many calls
};

class MailStoreTest : public ::testing::Test {
   protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a tool of the build's bin directory with the arguments; 0 on success.
    int Tool(const std::string &name, const std::string &args);
    static std::string Quote(const fs::path &p);
    // Writes a message file; CR LF line ends unless the text brings its own.
    fs::path WriteEml(const fs::path &dir, const std::string &name, const std::string &text);
    // Writes the message texts, in order, as the file `file` of the store with
    // a writer of tools/ and its options; the message files stay in root_/in-<file>.
    void WriteDbx(const std::string &file, const std::vector<std::string> &texts, const std::string &options = "",
                  const std::string &writer = "dbx_writer");
    static std::string Data(const std::string &name);  // a file of tests/mailstore/data
    // "m<number>.eml", a message file name the writers sort by number.
    static std::string NumberedEml(size_t number);
    std::string LogText() const;
    int CountInLog(const std::string &text) const;

    // GetFolderNames as the host calls it; returns the texts the callback got.
    std::vector<std::string> ListFolders(const fs::path &storeDir);
    // ConvertFolder's mail branch for folder `index`; returns its result.
    int ReadFolder(int index, HostSide *host);
    // The contacts branch for the directory store folder `index`; returns the count read.
    int ReadContacts(int index, HostSide *host);
    // An empty work directory: no duplicate register from an earlier read.
    void FreshWorkDir();

    fs::path root_;   // scratch directory of the test
    fs::path store_;  // a store directory inside it
    std::string work_;  // work directory with a trailing separator
    fs::path log_;
    int itemsHandedOver_ = 0;
};
