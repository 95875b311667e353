// Contact files read and written back in the address-book layout, equal to
// the files in data/written/ (through bvhost: tests/host/data/scenarios).
// Also the public corpus, whose contacts are counted independently (Python's
// csv module).
#include <dirent.h>
#include <stdio.h>

#include <filesystem>

#include "contact_test_support.h"

namespace contacts_test {
namespace {

class ContactRoundTrip : public ContactTest {
protected:
    // Reads source and writes every contact into out as the target side does.
    std::string ReadAndWriteBack(const std::string &source) {
        std::string out = dir_ + "/written.csv";
        std::filesystem::remove(out);
        com_strncpy(gContactOutPath, out.c_str(), sizeof(gContactOutPath) - 1);
        EXPECT_EQ(InitContactFile(), 0);
        writeBack_ = true;
        Read(source);
        writeBack_ = false;
        fclose(gOutFile);
        gOutFile = nullptr;
        return bvtest::ReadFileText(out);
    }
    // The written text must equal data/written/NAME.
    void ExpectWritten(const std::string &text, const std::string &name) {
        std::string expected = DataPath("written/" + name);
        EXPECT_EQ(text, bvtest::ReadFileText(expected)) << name;
    }
};

// Each column of a written file holds what the source's column of that name
// held (street and notes on one line, quotes made single, titles of seven
// bytes, year-first birthdays as month/day/year).
TEST_F(ContactRoundTrip, ExportsThroughTheAddressBookLayout) {
    for (const char *name : {"gmail_outlook.csv", "semicolon_bom.csv"})
        ExpectWritten(ReadAndWriteBack(DataPath(name)), name);
    // The written file is read again as a contact source with the same values.
    gCsvSeparator = ',';
    FreshWorkDir();
    auto again = Read(dir_ + "/written.csv");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0]["company"], "M\xC3\xBCller, Schmidt & Co");
    EXPECT_EQ(again[1]["lastName"], "\xC3\x85ngstr\xC3\xB6m");
}

// Contacts of every file of dir by the independent count, by path.
std::map<std::string, int> PythonCounts(const std::string &dir) {
    std::map<std::string, int> counts;
    std::string command = "python3 '" BV_SOURCE_DIR "/tests/contacts/count_csv_contacts.py' '" + dir + "'/*";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return counts;
    char path[4096];
    int count;
    while (fscanf(pipe, "%d %4095[^\n]", &count, path) == 2) counts[path] = count;
    pclose(pipe);
    return counts;
}

using ContactCorpus = ContactTest;

TEST_F(ContactCorpus, CsvFilesGiveEveryContact) {
    std::string dir = std::string(BV_CORPUS_DIR) + "/csv";
    DIR *listing = opendir(dir.c_str());
    if (!listing) GTEST_SKIP() << "no corpus at " << dir;
    if (system("python3 -c 'import csv' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    std::map<std::string, int> counts = PythonCounts(dir);
    int files = 0, total = 0;
    while (dirent *entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name[0] == '.') continue;
        std::string path = dir + "/" + name;
        ASSERT_TRUE(counts.count(path)) << name;
        int expected = counts[path];
        // Every file as the first of its session.
        FreshWorkDir();
        gCsvSeparator = ',';
        gUtf8 = 0;
        int count = -1;
        auto contacts = Read(path, &count);
        EXPECT_EQ((int)contacts.size(), expected) << name;
        EXPECT_EQ(count, expected) << name;
        gCsvSeparator = ',';
        EXPECT_EQ(CountCsvContacts(path.c_str()), expected) << name;
        for (const Contact &contact : contacts) EXPECT_EQ(contact.dataType, 1) << name;
        files++;
        total += expected;
    }
    closedir(listing);
    EXPECT_GT(files, 0);
    EXPECT_GT(total, 0);
}

}  // namespace
}  // namespace contacts_test
