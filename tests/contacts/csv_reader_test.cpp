// The CSV reader through ParseContactFile, on exports in the styles that real
// address books write.
#include <algorithm>
#include <string>
#include "contact_test_support.h"

namespace contacts_test {
namespace {

using CsvReader = ContactTest;

TEST_F(CsvReader, OutlookExportFillsEveryLabelledField) {
    int count = -1;
    auto contacts = Read(DataPath("outlook_export.csv"), &count);
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(statuses_, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(CountCsvContacts(DataPath("outlook_export.csv").c_str()), 3);

    const Contact &anna = contacts[0];
    EXPECT_EQ(anna.index, 0);
    EXPECT_EQ(anna.dataType, 1);
    EXPECT_EQ(anna.itemFlag, 0);
    std::map<std::string, std::string> expected = {
        {"courtesyTitle", "Dr."},
        {"firstName", "Anna"},
        {"middleName", "Maria"},
        {"lastName", "Schmidt"},
        {"suffix", "Jr."},
        {"company", "Acme Widgets Ltd"},
        {"department", "Sales"},
        {"title", "Account Manager"},
        {"businessStreet", "12 Main St"},
        {"businessCity", "Springfield"},
        {"businessState", "IL"},
        {"businessPostalCode", "62701"},
        {"businessCountry", "United States of America"},
        {"homeStreet", "7 Elm Rd"},
        {"homeCity", "Shelbyville"},
        {"homeState", "IL"},
        {"homePostalCode", "62565"},
        {"homeCountry", "USA"},
        {"businessFax", "+1 217 555 0100"},
        {"businessPhone", "+1 217 555 0101"},
        {"homePhone", "+1 217 555 0102"},
        {"mobilePhone", "+1 217 555 0103"},
        {"birthday", "3/9/1970"},
        {"emailAddr", "anna.schmidt@acme.example"},
        {"email2Addr", "anna@home.example"},
        {"email3Addr", "a.schmidt@old.example"},
    };
    EXPECT_EQ(anna.fields, expected);
    EXPECT_EQ(anna.notes, "Prefers e-mail.");

    // Courtesy titles keep 7 bytes; an unset Outlook birthday stays as it is.
    EXPECT_EQ(contacts[1]["courtesyTitle"], "Profess");
    EXPECT_EQ(contacts[1]["birthday"], "0/0/00");
    EXPECT_EQ(contacts[1].index, 1);

    // The export is ANSI (ISO-8859-1); the record holds UTF-8.
    EXPECT_EQ(contacts[2]["firstName"], "Chlo\xC3\xA9");
    EXPECT_EQ(contacts[2]["company"], "Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale");
    EXPECT_EQ(contacts[2]["birthday"], "11/2/1988");
    EXPECT_EQ(contacts[2].notes, "Met in Lyon; speaks French, English");
}

TEST_F(CsvReader, LabelFileColumnsReadAHeaderlessFile) {
    gDebug = 1;
    std::string csv = DataPath("labelled/contacts.csv");
    auto contacts = Read(csv);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(CountCsvContacts(csv.c_str()), 2);
    EXPECT_EQ(contacts[0]["firstName"], "Anna");
    EXPECT_EQ(contacts[0]["lastName"], "Schmidt");
    EXPECT_EQ(contacts[0]["emailAddr"], "anna@acme.example");
    EXPECT_EQ(contacts[0]["businessPhone"], "+1 555 0100");
    EXPECT_EQ(contacts[0]["company"], "Acme");
    EXPECT_EQ(contacts[1]["emailAddr"], "bob@globex.example");
    EXPECT_EQ(contacts[1]["businessPhone"], "");
    std::string log = LogText();
    EXPECT_NE(log.find("debug: attempting to open alternate label file: " + DataPath("labelled/fieldlab.dat")),
              std::string::npos);
    EXPECT_NE(log.find("debug: parsing field labels"), std::string::npos);

    // "/D223" names the label file instead of the one beside the source.
    std::string copy = WriteFile("elsewhere/contacts.csv", bvtest::ReadFileText(csv));
    FreshWorkDir();
    com_strncpy(gD223Text, DataPath("labelled/fieldlab.dat").c_str(), sizeof(gD223Text) - 1);
    contacts = Read(copy);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[1]["lastName"], "Jones");

    // ... and replaces it: a missing alternate file leaves the defaults, which
    // find no header in this file.
    com_strncpy(gD223Text, (dir_ + "/missing.dat").c_str(), sizeof(gD223Text) - 1);
    contacts = Read(csv);
    EXPECT_TRUE(contacts.empty());
    EXPECT_NE(LogText().find("BV Warning: unable to locate valid field labels"), std::string::npos);
}

TEST_F(CsvReader, ThunderbirdExportWithAndWithoutLabels) {
    auto contacts = Read(DataPath("thunderbird.csv"));
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0]["firstName"], "Frank");
    EXPECT_EQ(contacts[0]["lastName"], "Olsen");
    EXPECT_EQ(contacts[0]["homePhone"], "+47 22 33 44 55");
    EXPECT_EQ(contacts[0]["homeCity"], "Oslo");
    EXPECT_EQ(contacts[0]["homeCountry"], "Norway");
    EXPECT_EQ(contacts[0]["title"], "Pilot");
    EXPECT_EQ(contacts[0]["department"], "Flight Ops");
    EXPECT_EQ(contacts[0].notes, "Likes, commas");
    // "Primary Email" and "Organization" are no default labels.
    EXPECT_EQ(contacts[0]["emailAddr"], "");
    EXPECT_EQ(contacts[0]["company"], "");

    // A label file whose lines name Thunderbird's columns.
    contacts = Read(DataPath("tb_labels/contacts.csv"));
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0]["emailAddr"], "frank@olsen.example");
    EXPECT_EQ(contacts[0]["company"], "Fjord Air");
    EXPECT_EQ(contacts[1]["emailAddr"], "greta@lind.example");
    EXPECT_EQ(contacts[1]["company"], "Lind AB");
}

TEST_F(CsvReader, GmailExports) {
    auto contacts = Read(DataPath("gmail_outlook.csv"));
    ASSERT_EQ(contacts.size(), 2u);
    const Contact &dave = contacts[0];
    EXPECT_EQ(dave["firstName"], "Dave");
    EXPECT_EQ(dave["lastName"], "Miller");
    EXPECT_EQ(dave["emailAddr"], "dave@example.org");
    EXPECT_EQ(dave["email2Addr"], "dave.miller@work.example");
    EXPECT_EQ(dave["mobilePhone"], "+44 7700 900123");
    EXPECT_EQ(dave["homeCity"], "Leeds");
    EXPECT_EQ(dave["company"], "Northwind");
    EXPECT_EQ(dave["title"], "Buyer");
    EXPECT_EQ(dave["businessStreet"], "1 Quay St\nFloor 2");
    EXPECT_EQ(dave["businessPostalCode"], "LS1 4AP");
    EXPECT_EQ(dave["birthday"], "12/12/1975");
    EXPECT_EQ(dave.notes, "Climbing buddy\nCall on weekends");
    EXPECT_EQ(contacts[1]["firstName"], "Eve");
    EXPECT_EQ(contacts[1]["emailAddr"], "eve@example.net");

    // Google's own format has no column the reader can place.
    int count = -1;
    contacts = Read(DataPath("google_csv.csv"), &count);
    EXPECT_TRUE(contacts.empty());
    EXPECT_EQ(count, 0);
    EXPECT_NE(LogText().find("BV Warning: unable to locate valid field labels"), std::string::npos);
}

TEST_F(CsvReader, SemicolonFileWithByteOrderMarkSwitchesTheSession) {
    ASSERT_EQ(gCsvSeparator, ',');
    auto contacts = Read(DataPath("semicolon_bom.csv"));
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(gCsvSeparator, ';');
    EXPECT_EQ(gUtf8, 1);
    EXPECT_EQ(contacts[0]["firstName"], "J\xC3\xBCrgen");
    EXPECT_EQ(contacts[0]["lastName"], "M\xC3\xBCller");
    EXPECT_EQ(contacts[0]["company"], "M\xC3\xBCller, Schmidt & Co");
    EXPECT_EQ(contacts[0]["businessCity"], "K\xC3\xB6ln");
    EXPECT_EQ(contacts[0].notes, "Gr\xC3\xB6\xC3\x9F" "e: 1,80 m");
    EXPECT_EQ(contacts[1]["lastName"], "\xC3\x85ngstr\xC3\xB6m");

    // Both stay for later files: a comma-separated file now splits only at
    // ';', so its lines are single columns and give nothing.
    contacts = Read(DataPath("latin1.csv"));
    EXPECT_TRUE(contacts.empty());
    gCsvSeparator = ',';
    contacts = Read(DataPath("latin1.csv"));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["firstName"], "Ren\xE9" "e");  // taken as UTF-8, not converted
}

TEST_F(CsvReader, OtherByteOrderMarks) {
    // FE/FF marks go too and make the session UTF-8.
    auto contacts = Read(WriteFile("ff.csv", "\xFF\xFE" "First Name,Last Name,E-mail Address\r\nR\xC3\xA9mi,Roux,r@x.fr\r\n"));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["firstName"], "R\xC3\xA9mi");
    EXPECT_EQ(gUtf8, 1);

    // A header-less file read through label-file columns starts after its mark.
    gUtf8 = 0;
    WriteFile("bom/fieldlab.dat", bvtest::ReadFileText(DataPath("labelled/fieldlab.dat")));
    std::string csv = WriteFile("bom/contacts.csv", "\xEF\xBB\xBF" + bvtest::ReadFileText(DataPath("labelled/contacts.csv")));
    contacts = Read(csv);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0]["firstName"], "Anna");
    EXPECT_EQ(gUtf8, 1);
}

TEST_F(CsvReader, Latin1FieldsBecomeUtf8) {
    auto contacts = Read(DataPath("latin1.csv"));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["firstName"], "Ren\xC3\xA9" "e");
    EXPECT_EQ(contacts[0]["lastName"], "B\xC3\xA4" "cker");
    EXPECT_EQ(contacts[0]["businessCity"], "Besan\xC3\xA7on");
    EXPECT_EQ(gUtf8, 0);
}

TEST_F(CsvReader, QuotedMultiLineNotesAndBlankLines) {
    int count = -1;
    auto contacts = Read(DataPath("notes_multiline.csv"), &count);
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(CountCsvContacts(DataPath("notes_multiline.csv").c_str()), 3);
    EXPECT_EQ(contacts[0].notes, "Line one\nLine two, with a comma\nLine three; with \"quotes\" inside");
    EXPECT_EQ(contacts[1]["firstName"], "Ida");
    EXPECT_EQ(contacts[1].notes, "Short");
    EXPECT_EQ(contacts[2]["emailAddr"], "jan@kowalski.example");
    EXPECT_EQ(contacts[2].notes, "");

    // Notes are kept up to the notes buffer, longer ones cut with a warning;
    // a field beyond the field buffer is cut and the fields after it still
    // land in their columns.
    std::string longNotes(3000, 'n');
    std::string hugeStreet(70000, 's');
    std::string text = "First Name,Notes,Business Street,Last Name\r\nKim," + longNotes + "," + hugeStreet + ",Lee\r\n";
    contacts = Read(WriteFile("long.csv", text));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].notes, longNotes);
    EXPECT_EQ(contacts[0]["businessStreet"], std::string(63, 's'));
    EXPECT_EQ(contacts[0]["lastName"], "Lee");
    EXPECT_EQ(LogText().find("notes of"), std::string::npos);
    text = "First Name,Last Name,Notes\r\nMax,Roe," + std::string(20000, 'n') + "\r\n";
    contacts = Read(WriteFile("longer.csv", text));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].notes, std::string(BV_NOTES_LEN - 1, 'n'));
    EXPECT_NE(LogText().find("BV Warning: contact Max Roe <>: notes of 20000 bytes cut to 18431"), std::string::npos)
        << LogText();
}

TEST_F(CsvReader, RecordReaderEdges) {
    // CRs vanish everywhere, a quote ends where a single quote is followed by
    // anything, one-column lines give nothing, and the end of the file ends
    // the last record wherever it comes.
    std::string text =
        "First Name,Last Name,E-mail Address\r\n"
        "Al\rma,Ro\r\rss,alma@example.com\r\n"
        "lonely-single-column\r\n"
        "\"Q,uoted\";\"Two\nLines\",q@example.com\n"
        ",,\n"
        "Last,Row,\"last@example.com";
    int count = -1;
    std::string edges = WriteFile("edges.csv", text);
    auto contacts = Read(edges, &count);
    ASSERT_EQ(contacts.size(), 4u);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(CountCsvContacts(edges.c_str()), 4);
    EXPECT_EQ(contacts[0]["firstName"], "Alma");
    EXPECT_EQ(contacts[0]["lastName"], "Ross");
    EXPECT_EQ(contacts[1]["firstName"], "Q,uoted");
    EXPECT_EQ(contacts[1]["lastName"], "Two\nLines");
    EXPECT_EQ(contacts[1]["emailAddr"], "q@example.com");
    EXPECT_TRUE(contacts[2].fields.empty());
    EXPECT_EQ(contacts[3]["emailAddr"], "last@example.com");

    // A first line under 20 bytes, an empty file, a missing file.
    EXPECT_TRUE(Read(WriteFile("short.csv", "First Name,E-mail\r\nA,b@c.d,x\r\n")).empty());
    EXPECT_TRUE(Read(WriteFile("empty.csv", "")).empty());
    std::string missing = dir_ + "/nowhere.csv";
    EXPECT_TRUE(Read(missing, &count).empty());
    EXPECT_EQ(count, 0);
    EXPECT_NE(LogText().find("BV Error: fopen failure 2 on file: " + missing), std::string::npos);
}

TEST_F(CsvReader, HeaderMatching) {
    // Quoted and padded tokens, any letter case, further names, and the last
    // of two matching tokens wins.
    std::string text =
        "\"First Name\" , LAST NAME ,email,Company,EmailAddress,\"fullName\",Type\r\n"
        "Ann,Lee,first@example.com,Acme,second@example.com,Ignored Name,X\r\n";
    auto contacts = Read(WriteFile("header.csv", text));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["firstName"], "Ann");
    EXPECT_EQ(contacts[0]["lastName"], "Lee");
    EXPECT_EQ(contacts[0]["emailAddr"], "second@example.com");
    EXPECT_EQ(contacts[0]["company"], "Acme");

    // Empty header names do not count as tokens (split as strtok does).
    text = "First Name,,Last Name,E-mail Address\r\nAnn,Lee,x@example.com,unused\r\n";
    contacts = Read(WriteFile("gaps.csv", text));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["lastName"], "Lee");
    EXPECT_EQ(contacts[0]["emailAddr"], "x@example.com");
}

TEST_F(CsvReader, FullNameIsSplitWhenNoNamesAreGiven) {
    gLSub = 1;
    std::string text =
        "Name,E-mail Address,First Name\r\n"
        "John Smith,john@smith.example,\r\n"
        "Mary Major,mary@example.com,Maria\r\n";
    auto contacts = Read(WriteFile("fullname.csv", text));
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0]["firstName"], "John");
    EXPECT_EQ(contacts[0]["lastName"], "Smith");
    EXPECT_EQ(contacts[1]["firstName"], "Maria");
    EXPECT_EQ(contacts[1]["lastName"], "");
    std::string log = LogText();
    EXPECT_NE(log.find("CSV Contact: John Smith <john@smith.example>"), std::string::npos);
    EXPECT_NE(log.find("CSV Contact: Maria  <mary@example.com>"), std::string::npos);
}

TEST_F(CsvReader, DistributionListsInBothColumnOrders) {
    auto lists = Read(DataPath("dlist_nickname_after.csv"));
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0].itemFlag, 1);
    EXPECT_EQ(lists[0]["title"], "Project Team");
    ASSERT_EQ(lists[0].members.size(), 2u);
    EXPECT_EQ(lists[0].members[0].name, "John Doe");
    EXPECT_EQ(lists[0].members[0].addr, "john@doe.example");
    EXPECT_EQ(lists[0].members[0].type, 3);
    EXPECT_EQ(lists[0].members[1].name, "Smith, Jane");
    EXPECT_EQ(lists[0].members[1].addr, "jane@smith.example");
    EXPECT_EQ(lists[0].members[1].type, 3);
    ASSERT_EQ(lists[1].members.size(), 2u);
    EXPECT_EQ(lists[1]["title"], "Mixed");
    EXPECT_EQ(lists[1].members[0].name, "bare@member.example");
    EXPECT_EQ(lists[1].members[0].addr, "bare@member.example");
    EXPECT_EQ(lists[1].members[1].name, "Second");
    EXPECT_EQ(lists[1].members[1].addr, "second@member.example");

    // With the name column first, the list has no name yet when it is read.
    lists = Read(DataPath("dlist_nickname_before.csv"));
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].itemFlag, 1);
    EXPECT_EQ(lists[0]["title"], "");
    EXPECT_EQ(lists[0].members.size(), 2u);
}

TEST_F(CsvReader, BirthdaysWrittenYearFirstAreRewritten) {
    auto contacts = Read(DataPath("birthdays.csv"));
    ASSERT_EQ(contacts.size(), 8u);
    std::vector<std::string> birthdays;
    for (const Contact &contact : contacts) birthdays.push_back(contact["birthday"]);
    EXPECT_EQ(birthdays, (std::vector<std::string>{"3/9/1970", "03/09/1970", "12/24/1985", "7/4/2001", "1999",
                                                    "12.05.1980", "1960-05", ""}));
}

TEST_F(CsvReader, MaxReadStopFlagAndHostAnswers) {
    gMaxRead = 2;
    int count = -1;
    auto contacts = Read(DataPath("ten_rows.csv"), &count);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(contacts[1]["firstName"], "P1");

    // The stop flag ends the folder after the contact it was set for.
    gMaxRead = 1000;
    stopAfter_ = 3;
    FreshWorkDir();
    std::string copy = WriteFile("again.csv", bvtest::ReadFileText(DataPath("ten_rows.csv")));
    contacts = Read(copy, &count);
    EXPECT_EQ(contacts.size(), 3u);
    EXPECT_EQ(count, 3);
    stopAfter_ = -1;

    // Handed-over contacts are registered: a second pass reports those three
    // as duplicates and hands over the other seven.
    contacts = Read(copy, &count);
    EXPECT_EQ(contacts.size(), 7u);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(statuses_, (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(contacts[0].index, 0);
    EXPECT_EQ(contacts[0]["firstName"], "P3");
    // The register keeps contacts under the folder name "AddressBook".
    std::string reg = bvtest::ReadFileText(workDir_ + "bvdupreg.txt");
    EXPECT_EQ(std::count(reg.begin(), reg.end(), '\n'), 10);
    EXPECT_NE(reg.find("\tAddressBook\n"), std::string::npos);

    // A host that does not take the contact (1234) leaves it unregistered.
    std::string third = WriteFile("third.csv", "First Name,Last Name,E-mail Address\r\nNew,One,new@example.com\r\n");
    answer_ = 1234;
    EXPECT_EQ(Read(third, &count).size(), 1u);
    EXPECT_EQ(count, 1);
    answer_ = 0;
    EXPECT_EQ(Read(third, &count).size(), 1u);
    EXPECT_EQ(statuses_, (std::vector<int>{0}));
    EXPECT_TRUE(Read(third, &count).empty());
    EXPECT_EQ(statuses_, (std::vector<int>{1}));
}

TEST_F(CsvReader, FolderIndexOutsideTheTableReadsNothing) {
    int count = -1;
    ParseContactFile(5, record_, nullptr, workDir_.c_str(), &count, nullptr);
    EXPECT_EQ(count, 0);
    ParseContactFile(-1, record_, nullptr, workDir_.c_str(), &count, nullptr);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace contacts_test
