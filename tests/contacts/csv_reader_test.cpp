// Contact sources read through ParseContactFile. One case a file NAME.expect
// in data/: what the host got, as Describe() writes it, after these lines
// ("#" lines are comments):
//   source PATH           the source in data/ (default NAME.csv)
//   nk2 DESCRIPTION FILE  the source is an NK2 file built from DESCRIPTION
//   set debug | set lsub | set d223 PATH    session switches before the read
//   log TEXT              the log holds TEXT
#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "contact_test_support.h"

namespace contacts_test {
namespace {

using CsvReader = ContactTest;

std::string Escaped(const std::string &text) {
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x80) snprintf(hex, sizeof(hex), "\\x%02X", c), out += hex;
        else out += (char)c;
    }
    return out;
}

// Every contact the host got, one field a line, after the number handed over
// and the number the folder list counts.
std::string Describe(const std::vector<Contact> &contacts, int count, int counted, const std::vector<int> &statuses) {
    std::ostringstream out;
    out << "count " << count << " counted " << counted << " utf8 " << gUtf8 << " separator " << gCsvSeparator << "\nstatuses";
    for (int s : statuses) out << " " << s;
    out << "\n";
    for (const Contact &c : contacts) {
        out << "contact " << c.index << " type " << c.dataType << " flag " << c.itemFlag << "\n";
        for (const auto &[name, value] : c.fields) out << name << " " << Escaped(value) << "\n";
        if (!c.notes.empty()) out << "notes " << Escaped(c.notes) << "\n";
        for (const Member &m : c.members) out << "member " << Escaped(m.name + "|" + m.addr) << "|" << m.type << "\n";
    }
    return out.str();
}

TEST_F(CsvReader, EveryCaseFileReadsAsExpected) {
    int cases = 0;
    for (const auto &entry : std::filesystem::directory_iterator(BV_CONTACTS_DATA)) {
        if (entry.path().extension() != ".expect") continue;
        SCOPED_TRACE(entry.path().filename().string());
        FreshWorkDir();
        gCsvSeparator = ',';
        gUtf8 = gDebug = gLSub = 0;
        gD223Text[0] = '\0';
        std::string source = DataPath(entry.path().stem().string() + ".csv"), expected, line;
        std::vector<std::string> logLines;
        std::ifstream in(entry.path());
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string word, arg, arg2;
            words >> word >> arg >> arg2;
            if (line.empty() || line[0] == '#') continue;
            if (word == "source") source = DataPath(arg);
            else if (word == "nk2") source = BuildNK2(arg, arg2);
            else if (line == "set debug") gDebug = 1;
            else if (line == "set lsub") gLSub = 1;
            else if (word == "set") com_strncpy(gD223Text, DataPath(arg2).c_str(), sizeof(gD223Text) - 1);
            else if (word == "log") logLines.push_back(line.substr(4));
            else expected += line + "\n";
        }
        bool nk2 = IsNk2Path(source.c_str());
        int counted = nk2 ? CountNK2Contacts(source.c_str()) : CountCsvContacts(source.c_str());
        int count = -1;
        std::vector<Contact> contacts = Read(source, &count);
        EXPECT_EQ(Describe(contacts, count, counted, statuses_), expected);
        for (const std::string &text : logLines) {
            EXPECT_NE(LogText().find(text), std::string::npos) << text;
        }
        cases++;
    }
    EXPECT_GE(cases, 20);
}

TEST_F(CsvReader, SemicolonAndMarkStayForLaterFilesOfTheSession) {
    ASSERT_EQ(Read(DataPath("semicolon_bom.csv")).size(), 2u);
    EXPECT_EQ(gCsvSeparator, ';');
    EXPECT_EQ(gUtf8, 1);
    // A comma-separated file now splits only at ';': single columns, nothing read.
    EXPECT_TRUE(Read(DataPath("latin1.csv")).empty());
    gCsvSeparator = ',';
    auto contacts = Read(DataPath("latin1.csv"));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["firstName"], "Ren\xE9" "e") << "taken as UTF-8, not converted";
}

TEST_F(CsvReader, LongNotesAndFieldsAreCut) {
    // Notes up to the notes buffer are kept; a field beyond the field buffer
    // is cut and the fields after it still land in their columns.
    std::string longNotes(3000, 'n');
    std::string text = "First Name,Notes,Business Street,Last Name\r\nKim," + longNotes + "," +
                       std::string(70000, 's') + ",Lee\r\n";
    auto contacts = Read(WriteFile("long.csv", text));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].notes, longNotes);
    EXPECT_EQ(contacts[0]["businessStreet"], std::string(63, 's'));
    EXPECT_EQ(contacts[0]["lastName"], "Lee");
    EXPECT_EQ(LogText().find("notes of"), std::string::npos);
    contacts = Read(WriteFile("longer.csv", "First Name,Last Name,Notes\r\nMax,Roe," + std::string(20000, 'n') + "\r\n"));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].notes, std::string(BV_NOTES_LEN - 1, 'n'));
    EXPECT_NE(LogText().find("BV Warning: contact Max Roe <>: notes of 20000 bytes cut to 18431"), std::string::npos);
}

// The read limit and the register through bvhost: tests/host/data/scenarios.
TEST_F(CsvReader, StopFlagAndHostAnswers) {
    // The stop flag ends the folder after the contact it was set for; the
    // second pass reports those three as duplicates and hands over the rest.
    int count = -1;
    stopAfter_ = 3;
    EXPECT_EQ(Read(DataPath("ten_rows.csv"), &count).size(), 3u);
    EXPECT_EQ(count, 3);
    stopAfter_ = -1;
    auto contacts = Read(DataPath("ten_rows.csv"), &count);
    EXPECT_EQ(contacts.size(), 7u);
    EXPECT_EQ(statuses_, (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(contacts[0]["firstName"], "P3");

    // A host that does not take the contact (1234) leaves it unregistered.
    std::string third = WriteFile("third.csv", "First Name,Last Name,E-mail Address\r\nNew,One,new@example.com\r\n");
    answer_ = 1234;
    EXPECT_EQ(Read(third, &count).size(), 1u);
    answer_ = 0;
    EXPECT_EQ(Read(third, &count).size(), 1u);
    EXPECT_EQ(statuses_, (std::vector<int>{0}));
    EXPECT_TRUE(Read(third, &count).empty());
    EXPECT_EQ(statuses_, (std::vector<int>{1}));

    ParseContactFile(5, record_, nullptr, workDir_.c_str(), &count, nullptr);
    EXPECT_EQ(count, 0) << "a folder index outside the table reads nothing";
}

TEST_F(CsvReader, Nk2ThousandEntriesAndAStringBeyondTheFile) {
    std::string rows;
    for (int i = 0; i < 1005; i++)
        rows += "ROW\n001F 3001 Person " + std::to_string(i) + "\n001E 3002 SMTP\n001E 3003 p" + std::to_string(i) +
                "@example.com\n";
    std::string path = BuildNK2(WriteFile("many.txt", rows), "many.nk2");
    EXPECT_EQ(CountNK2Contacts(path.c_str()), 1005);
    int count = -1;
    auto contacts = Read(path, &count);
    ASSERT_EQ(contacts.size(), 1000u);
    EXPECT_EQ(countAtFirstItem_, 1005) << "the true count is reported first";
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(contacts[999]["lastName"], "999");
    EXPECT_EQ(gNK2EntryCount, 0);
    stopAfter_ = 4;
    EXPECT_EQ(Read(path, &count).size(), 4u);

    std::string one = WriteFile("one.txt", "ROW\n001F 3001 Name\n001E 3002 SMTP\n001E 3003 a@b.c\n");
    std::string bytes = bvtest::ReadFileText(BuildNK2(one, "one.nk2"));
    bytes.replace(36, 4, "\xFF\xFF\xFF\x7F");  // the first string's length
    EXPECT_TRUE(Read(WriteFile("long.nk2", bytes)).empty());
}

TEST_F(CsvReader, Nk2CorpusFragmentsGiveNothingAndBreakNothing) {
    std::string dir = std::string(BV_CORPUS_DIR) + "/nk2";
    DIR *listing = opendir(dir.c_str());
    if (!listing) GTEST_SKIP() << "no corpus at " << dir;
    int files = 0;
    while (dirent *entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name[0] == '.') continue;
        files++;
        std::string path = dir + "/" + name;
        com_strncpy(gCurrentFile, path.c_str(), sizeof(gCurrentFile) - 1);
        int count = -1;
        ParseNK2File(record_, nullptr, workDir_.c_str(), &count, nullptr);
        EXPECT_EQ(count, 0) << name;
        EXPECT_EQ(CountNK2Contacts(path.c_str()), 0) << name;
    }
    closedir(listing);
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace contacts_test
