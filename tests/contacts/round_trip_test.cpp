// Contact files read and written back: the address-book columns hold the
// values of the source's columns. Also the public corpus, whose contacts are
// counted independently (Python's csv module).
#include <dirent.h>
#include <stdio.h>
#include <strings.h>

#include <filesystem>

#include "contact_test_support.h"
#include "support/program_run.h"

namespace contacts_test {
namespace {

using Table = std::vector<std::vector<std::string>>;

int Column(const std::vector<std::string> &header, const std::string &name) {
    for (size_t i = 0; i < header.size(); i++) {
        std::string h = header[i];
        if (h.rfind("\xEF\xBB\xBF", 0) == 0) h = h.substr(3);
        if (strcasecmp(h.c_str(), name.c_str()) == 0) return (int)i;
    }
    return -1;
}

// Columns whose name the reader knows and the address-book layout writes.
const char *const kSharedColumns[] = {
    "First Name",   "Last Name",     "Middle Name",      "E-mail Address",       "Business Phone",
    "Business Fax", "Business Street", "Business City",  "Business State",       "Business Postal Code",
    "Business Country", "Mobile Phone", "Home Phone",    "Job Title",            "Company",
    "Title",        "Home Street",   "Home City",        "Home State",           "Home Postal Code",
    "Home Country", "Department",    "Suffix",           "Birthday",             "Notes"};

// What the address-book writer makes of a source value.
std::string Expected(const std::string &column, std::string value) {
    std::string out;
    for (char c : value) {
        if (c == '\r') continue;
        bool cleaned = column == "Notes" || column.find("Street") != std::string::npos;
        if (cleaned && c == '\n') c = ' ';
        if (cleaned && c == '"') c = '\'';
        out += c;
    }
    if (column == "Title" || column == "Suffix") out = out.substr(0, 7);
    if (column == "Birthday" && out.size() == 10 && out[4] == '-')
        out = std::to_string(std::stoi(out.substr(5, 2))) + "/" + std::to_string(std::stoi(out.substr(8, 2))) + "/" +
              out.substr(0, 4);
    return out;
}

// Every shared column of every source row equals the written one.
void CompareColumns(const Table &source, const Table &written) {
    ASSERT_FALSE(source.empty());
    ASSERT_EQ(written.size(), source.size()) << "one header and one row per contact";
    int compared = 0;
    for (const char *name : kSharedColumns) {
        int from = Column(source[0], name);
        int to = Column(written[0], name);
        ASSERT_GE(to, 0) << name;
        if (from < 0) continue;
        for (size_t row = 1; row < source.size(); row++) {
            ASSERT_LT((size_t)to, written[row].size());
            std::string value = (size_t)from < source[row].size() ? source[row][from] : "";
            EXPECT_EQ(written[row][to], Expected(name, value)) << name << " row " << row;
            compared++;
        }
    }
    EXPECT_GT(compared, 10);
}

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
};

TEST_F(ContactRoundTrip, ExportsThroughTheAddressBookLayout) {
    for (auto [name, separator] : {std::pair<const char *, char>{"gmail_outlook.csv", ','}, {"semicolon_bom.csv", ';'}}) {
        std::string source = DataPath(name);
        ReadAndWriteBack(source);
        CompareColumns(CsvRows(source, separator), CsvRows(dir_ + "/written.csv"));
    }
    // The written file is read again as a contact source with the same values.
    gCsvSeparator = ',';
    FreshWorkDir();
    auto again = Read(dir_ + "/written.csv");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0]["company"], "M\xC3\xBCller, Schmidt & Co");
    EXPECT_EQ(again[1]["lastName"], "\xC3\x85ngstr\xC3\xB6m");
}

TEST_F(ContactRoundTrip, BvhostMigrate) {
#ifndef BV_HOST_PATH
    GTEST_SKIP() << "bvhost is not built";
#else
    for (const char *name : {"gmail_outlook.csv", "notes_multiline.csv"}) {
        std::string source = WriteFile(std::string("src/") + name, bvtest::ReadFileText(DataPath(name)));
        std::string target = dir_ + "/target/" + name;
        // The CSVZ tag makes it a contacts session of address type 2, the
        // type whose folder list holds the contact file.
        std::string command = bvtest::ShellQuote(BV_HOST_PATH) + " migrate --tag CSVZ --source " +
                              bvtest::ShellQuote("contacts:" + source) + " --target " +
                              bvtest::ShellQuote("contacts:" + target) + " --work-dir " + bvtest::ShellQuote(workDir_);
        bvtest::ProgramRun run = bvtest::RunProgram(command, dir_);
        ASSERT_EQ(run.status, 0) << command << "\n" << run.out << run.err;
        CompareColumns(CsvRows(source), CsvRows(target));
    }
    // NK2 entries keep their names in the address-book layout.
    std::string nk2 = BuildNK2("nk2_rows.txt", "src/Outlook.NK2"), target = dir_ + "/target/nk2.csv";
    bvtest::ProgramRun run = bvtest::RunProgram(bvtest::ShellQuote(BV_HOST_PATH) + " migrate --tag CSVZ --source " +
                                                    bvtest::ShellQuote("contacts:" + nk2) + " --target " +
                                                    bvtest::ShellQuote("contacts:" + target) + " --work-dir " +
                                                    bvtest::ShellQuote(workDir_), dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    Table rows = CsvRows(target);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[2][0] + " " + rows[2][1] + " " + rows[2][3], "Jane Doe /o=Org/ou=Admin/cn=Recipients/cn=jdoe");
#endif
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
