// The NK2 reader through ParseContactFile, on files built by nk2_writer.
#include <dirent.h>
#include <fstream>
#include "contact_test_support.h"

namespace contacts_test {
namespace {

using NK2Reader = ContactTest;
using NK2Corpus = ContactTest;

TEST_F(NK2Reader, RowsBecomeContacts) {
    std::string path = BuildNK2("nk2_rows.txt", "Outlook.NK2");
    EXPECT_EQ(CountNK2Contacts(path.c_str()), 5);
    int count = -1;
    auto contacts = Read(path, &count);
    ASSERT_EQ(contacts.size(), 5u);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(statuses_, (std::vector<int>{0, 0, 0, 0, 0}));

    EXPECT_EQ(contacts[0].dataType, 1);
    EXPECT_EQ(contacts[0].index, 0);
    EXPECT_EQ(contacts[0]["firstName"], "John");
    EXPECT_EQ(contacts[0]["lastName"], "Smith");
    EXPECT_EQ(contacts[0]["emailAddr"], "john.smith@example.com");

    EXPECT_EQ(contacts[1]["firstName"], "Jane");
    EXPECT_EQ(contacts[1]["lastName"], "Doe");
    EXPECT_EQ(contacts[1]["emailAddr"], "/o=Org/ou=Admin/cn=Recipients/cn=jdoe");

    EXPECT_EQ(contacts[2]["firstName"], "M\xC3\xBCller");
    EXPECT_EQ(contacts[2]["lastName"], "Hans");
    EXPECT_EQ(contacts[2]["emailAddr"], "hans.mueller@example.com");

    EXPECT_EQ(contacts[3]["firstName"], "");
    EXPECT_EQ(contacts[3]["lastName"], "Prince");
    EXPECT_EQ(contacts[3]["emailAddr"], "prince@example.com");

    EXPECT_EQ(contacts[4]["firstName"], "Zo\xC3\xAB");
    EXPECT_EQ(contacts[4]["lastName"], "\xC3\x85ngstr\xC3\xB6m");
    EXPECT_EQ(contacts[4].index, 4);

    // Any path containing ".dat" is read the same way.
    std::string dat = WriteFile("nicknames.dat", bvtest::ReadFileText(path));
    EXPECT_EQ(Read(dat).size(), 5u);
}

// A description of n SMTP rows.
std::string ManyRows(int n) {
    std::string text;
    for (int i = 0; i < n; i++)
        text += "ROW\n001F 3001 Person " + std::to_string(i) + "\n001E 3002 SMTP\n001E 3003 p" + std::to_string(i) +
                "@example.com\n";
    return text;
}

TEST_F(NK2Reader, ThousandEntriesAreHeldAndTheTrueCountIsReported) {
    std::string description = WriteFile("many.txt", ManyRows(1005));
    std::string path = BuildNK2(description, "many.nk2");
    EXPECT_EQ(CountNK2Contacts(path.c_str()), 1005);
    int count = -1;
    auto contacts = Read(path, &count);
    ASSERT_EQ(contacts.size(), 1000u);
    EXPECT_EQ(countAtFirstItem_, 1005);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(contacts[999]["lastName"], "999");
    EXPECT_EQ(gNK2EntryCount, 0);

    gMaxRead = 2;
    EXPECT_EQ(Read(path, &count).size(), 2u);
    EXPECT_EQ(count, 2);
    gMaxRead = 1000000;
    stopAfter_ = 4;
    EXPECT_EQ(Read(path, &count).size(), 4u);
    EXPECT_EQ(count, 4);
}

TEST_F(NK2Reader, DamagedFilesEndCleanly) {
    std::string whole = ManyRows(3);
    // Cut inside the third row: the two complete rows are entries.
    std::string cut = BuildNK2(WriteFile("cut.txt", whole + "TRUNCATE 300\n"), "cut.nk2");
    auto contacts = Read(cut);
    ASSERT_GE(contacts.size(), 1u);
    EXPECT_LE(contacts.size(), 2u);
    EXPECT_EQ(contacts[0]["emailAddr"], "p0@example.com");

    // A row count far beyond the rows present, and a negative one.
    std::string huge = BuildNK2(WriteFile("huge.txt", whole + "ROWS 2147483647\n"), "huge.nk2");
    EXPECT_EQ(Read(huge).size(), 3u);
    std::string negative = BuildNK2(WriteFile("neg.txt", whole + "ROWS 4294967295\n"), "neg.nk2");
    EXPECT_TRUE(Read(negative).empty());

    // A string length far beyond the file.
    std::string text = "ROW\n001F 3001 Name\n001E 3002 SMTP\n001E 3003 a@b.c\n";
    std::string bytes = bvtest::ReadFileText(BuildNK2(WriteFile("one.txt", text), "one.nk2"));
    bytes[16 + 4 + 16] = '\xFF';
    bytes[16 + 4 + 17] = '\xFF';
    bytes[16 + 4 + 18] = '\xFF';
    bytes[16 + 4 + 19] = '\x7F';
    EXPECT_TRUE(Read(WriteFile("long.nk2", bytes)).empty());

    // Files that cannot be opened, or hold less than a header.
    int count = -1;
    EXPECT_TRUE(Read(dir_ + "/absent.nk2", &count).empty());
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(Read(WriteFile("tiny.nk2", "\x0D\xF0")).empty());
    EXPECT_EQ(CountNK2Contacts((dir_ + "/absent.nk2").c_str()), 0);
}

TEST_F(NK2Reader, LongTextsAreCut) {
    std::string longName(2000, 'x');
    std::string text = "ROW\n001F 3001 " + longName + "\n001F 3002 SMTP\n001E 3003 " + std::string(1500, 'a') +
                       "@example.com\n";
    auto contacts = Read(BuildNK2(WriteFile("long.txt", text), "long.nk2"));
    ASSERT_EQ(contacts.size(), 1u);
    // Kept texts hold 255 bytes; the joined entry 511.
    EXPECT_EQ(contacts[0]["lastName"], std::string(255, 'x'));
    EXPECT_EQ(contacts[0]["emailAddr"], std::string(255, 'a'));
}

TEST_F(NK2Corpus, Fragments) {
    std::string dir = std::string(BV_CORPUS_DIR) + "/nk2";
    DIR *listing = opendir(dir.c_str());
    if (!listing) GTEST_SKIP() << "no corpus at " << dir;
    int files = 0;
    while (dirent *entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name[0] == '.') continue;
        files++;
        std::string path = dir + "/" + name;
        // Fragments hold no complete row: nothing comes out, nothing breaks.
        com_strncpy(gCurrentFile, path.c_str(), sizeof(gCurrentFile) - 1);
        handed_.clear();
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
