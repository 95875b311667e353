// The contact writers: address-book, list and directory-import layouts.
#include <string.h>
#include <algorithm>
#include <sstream>
#include <vector>
#include "support/program_run.h"
#include "contact_test_support.h"

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
        com_strncpy(gDomainDN, "mydomain", sizeof(gDomainDN) - 1);
        com_strncpy(gDeptOU, "department", sizeof(gDeptOU) - 1);
        com_strncpy(gOrgName, "olddept", sizeof(gOrgName) - 1);
    }
    // Closes the file as CloseWrite does for contacts.
    void Close() {
        if (gOutFile) fclose(gOutFile);
        gOutFile = nullptr;
        free(gNotesBuf);
        gNotesBuf = nullptr;
    }
    void Fill(const char *first, const char *last, const char *email) {
        com_ResetObject(record_);
        record_->dataType = 1;
        com_strncpy(record_->firstName, first, 100);
        com_strncpy(record_->lastName, last, 100);
        com_strncpy(record_->emailAddr, email, 100);
    }
    std::string Output() { return bvtest::ReadFileText(out_); }
    // The output file's rows as Python's csv module reads them.
    std::vector<std::vector<std::string>> CsvRows() {
        bvtest::ProgramRun run = bvtest::RunProgram(
            "python3 " + bvtest::ShellQuote(BV_SOURCE_DIR "/tests/contacts/csv_rows.py") + " " + bvtest::ShellQuote(out_),
            dir_);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<std::vector<std::string>> rows;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            rows.emplace_back();
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '\x1f');) rows.back().push_back(field);
            if (!line.empty() && line.back() == '\x1f') rows.back().push_back("");
        }
        return rows;
    }
    std::string out_;
};

const std::string kHeader =
    "\"First Name\",\"Last Name\",\"Middle Name\",\"E-mail Address\",\"Business Phone\",\"Business Fax\","
    "\"Direct Phone\",\"Direct Fax\",\"Business Street\",\"Business Street 2\",\"Business City\",\"Business State\","
    "\"Business Postal Code\",\"Business Country\",\"Mobile Phone\",\"Pager\",\"Home Phone\",\"Web Page\","
    "\"Job Title\",\"Company\",\"Title\",\"Categories\",\"Home Street\",\"Home Street 2\",\"Home City\","
    "\"Home State\",\"Home Postal Code\",\"Home Country\",\"Department\",\"Location\",\"Spouse\","
    "\"Manager's Name\",\"Assistant's Name\",\"Home Fax\",\"Suffix\",\"Birthday\",\"Children\","
    "\"E-mail Display Name\",\"Notes\"\n";

TEST_F(ContactWriter, AddressBookLayout) {
    ASSERT_EQ(InitContactFile(), 0);
    Fill("Anna", "Schmidt", "anna@acme.example");
    // One distinct value per column, so a column out of place shows.
    const char *values[] = {"bp", "bf", "dp", "df", "bs\"1\r\n", "bs2\x01", "bc", "bst", "bpc", "bco", "mp", "pg",
                            "hp", "wp", "jt", "Acme \"Widgets\"", "Dr.", "cat", "hs\n", "hs2", "hc", "hst",
                            "hpc", "hco", "dep", "loc", "sp", "mgr", "asst", "hf", "Jr.", "3/9/1970", "kids",
                            "Anna (anna@acme.example)"};
    char *fields[] = {record_->businessPhone, record_->businessFax, record_->directPhone, record_->directFax,
                      record_->businessStreet, record_->businessStreet2, record_->businessCity,
                      record_->businessState, record_->businessPostalCode, record_->businessCountry,
                      record_->mobilePhone, record_->pager, record_->homePhone, record_->webPage, record_->title,
                      record_->company, record_->courtesyTitle, record_->categories, record_->homeStreet,
                      record_->homeStreet2, record_->homeCity, record_->homeState, record_->homePostalCode,
                      record_->homeCountry, record_->department, record_->location, record_->spouse,
                      record_->managerName, record_->assistantName, record_->homeFax, record_->suffix,
                      record_->birthday, record_->children, record_->emailDisplayName};
    static_assert(sizeof(values) / sizeof(values[0]) == sizeof(fields) / sizeof(fields[0]));
    for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); i++) com_strncpy(fields[i], values[i], 200);
    com_WriteNotes(record_, "Said \"hi\"\r\nTwice", workDir_.c_str());
    EXPECT_EQ(WriteContact(record_, workDir_.c_str()), 0);

    // A distribution list writes nothing.
    Fill("List", "", "");
    record_->itemFlag = 1;
    EXPECT_EQ(WriteContact(record_, workDir_.c_str()), 0);
    Close();

    std::string row =
        "\"Anna\",\"Schmidt\",\"\",\"anna@acme.example\",\"bp\",\"bf\",\"dp\",\"df\",\"bs'1  \",\"bs2 \",\"bc\","
        "\"bst\",\"bpc\",\"bco\",\"mp\",\"pg\",\"hp\",\"wp\",\"jt\",\"Acme \"\"Widgets\"\"\",\"Dr.\",\"cat\",\"hs \","
        "\"hs2\",\"hc\",\"hst\",\"hpc\",\"hco\",\"dep\",\"loc\",\"sp\",\"mgr\",\"asst\",\"hf\",\"Jr.\","
        "\"3/9/1970\",\"kids\",\"Anna (anna@acme.example)\",\"Said 'hi'  Twice\"\n";
    EXPECT_EQ(Output(), kHeader + row);
    // Python's csv module finds the header's 38 columns and the quoted company whole.
    std::vector<std::vector<std::string>> rows = CsvRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size(), rows[0].size());
    EXPECT_EQ(rows[1][19], "Acme \"Widgets\"");

    // Every folder appends its own header to the same file.
    ASSERT_EQ(InitContactFile(), 0);
    Fill("Bob", "Jones", "bob@globex.example");
    WriteContact(record_, workDir_.c_str());
    Close();
    std::string bob = "\"Bob\",\"Jones\",\"\",\"bob@globex.example\",";
    std::string text = Output();
    EXPECT_EQ(text.substr(0, kHeader.size() + row.size()), kHeader + row);
    std::string second = text.substr(kHeader.size() + row.size());
    EXPECT_EQ(second.substr(0, kHeader.size()), kHeader);
    EXPECT_EQ(second.substr(kHeader.size(), bob.size()), bob);
}

TEST_F(ContactWriter, FileAsAndUnidColumns) {
    gFas = gUnid = 1;
    ASSERT_EQ(InitContactFile(), 0);
    Fill("Anna", "Schmidt", "anna@acme.example");
    com_strncpy(record_->uid, "UID-42", 100);
    WriteContact(record_, workDir_.c_str());
    Close();
    std::string text = Output();
    std::string header = text.substr(0, text.find('\n') + 1);
    EXPECT_EQ(header.rfind("\"First Name\",\"Last Name\",\"Middle Name\",\"E-mail Address\",\"FileAs\",\"Business Phone\"", 0),
              0u);
    EXPECT_EQ(header.size() - header.rfind("\"Notes\",\"UNID\"\n"), 15u);
    std::string row = text.substr(header.size());
    EXPECT_EQ(row.rfind("\"Anna\",\"Schmidt\",\"\",\"anna@acme.example\",\"Anna Schmidt\",\"\",", 0), 0u);
    EXPECT_EQ(row.size() - row.rfind(",\"\",\"UID-42\"\n"), 13u);
    // The row has as many columns as the header.
    auto columns = [](const std::string &line) {
        size_t n = 1;
        for (size_t i = 0; i + 2 < line.size(); i++)
            if (line.compare(i, 3, "\",\"") == 0) n++;
        return n;
    };
    EXPECT_EQ(columns(header), 41u);
    EXPECT_EQ(columns(row), 41u);
}

TEST_F(ContactWriter, ListLayout) {
    gD153 = 1;
    ASSERT_EQ(InitContactFile(), 0);
    Fill("Anna", "Schmidt", "anna@acme.example");
    WriteContact(record_, workDir_.c_str());
    Fill("", "Jones", "bob@globex.example");
    WriteContact(record_, workDir_.c_str());
    Fill("Chloe", "Durand", "chloe@sg.example");
    com_strncpy(record_->displayName, "Chloe D. (SG)", 100);
    WriteContact(record_, workDir_.c_str());
    Fill("List", "", "");
    record_->itemFlag = 1;
    WriteContact(record_, workDir_.c_str());
    Close();
    EXPECT_EQ(Output(), "Anna Schmidt;anna@acme.example\nJones;bob@globex.example\nChloe D. (SG);chloe@sg.example\n");

    gD153One = 1;
    ASSERT_EQ(InitContactFile(), 0);
    Fill("Dan", "Brown", "dan@example.com");
    WriteContact(record_, workDir_.c_str());
    Close();
    std::string text = Output();
    EXPECT_EQ(text.substr(text.size() - 26), "dan@example.com;Dan Brown\n");
}

TEST_F(ContactWriter, DirectoryImportLayout) {
    gActDir = 1;
    gD153 = 1;  // the directory layout takes precedence
    WriteFile("out/uadomain.dat", "a.b\nhr\nacme\n");
    ASSERT_EQ(InitContactFile(), 0);
    EXPECT_STREQ(gDomainDN, "DC=a,DC=b");
    EXPECT_STREQ(gDeptOU, "OU=hr");
    EXPECT_STREQ(gOrgName, "acme");

    Fill("John", "Smith", "john@smith.example");
    com_strncpy(record_->middleName, "Q", 10);
    com_strncpy(record_->company, "Acme \"Co\"", 100);
    com_strncpy(record_->businessStreet, "12 Main St", 100);
    com_strncpy(record_->businessCity, "Springfield", 100);
    com_strncpy(record_->businessState, "IL", 100);
    com_strncpy(record_->businessPostalCode, "62701", 100);
    com_strncpy(record_->businessCountry, "Canada", 100);
    com_strncpy(record_->businessPhone, "555-0101", 100);
    com_strncpy(record_->mobilePhone, "<555>", 100);
    com_strncpy(record_->title, "Engineer", 100);
    WriteContact(record_, workDir_.c_str());

    Fill("Ann", "Lee", "ann@lee.example");
    com_strncpy(record_->businessCountry, "united states of america", 100);
    WriteContact(record_, workDir_.c_str());
    Fill("List", "", "");
    record_->itemFlag = 1;
    WriteContact(record_, workDir_.c_str());
    Close();

    std::string header =
        "DN,instanceType,distinguishedName,objectCategory,objectClass,name,cn,displayName,mail,givenName,"
        "legacyExchangeDN,middleName,proxyAddresses,showInAddressBook,sn,textEncodedORAddress,internetEncoding,"
        "mailNickname,mAPIRecipient,targetAddress,streetAddress,company,c,co,department,l,homePhone,mobile,pager,"
        "postalCode,st,telephoneNumber,title\n";
    std::string john =
        "\"CN=John Smith,OU=hr,DC=a,DC=b\",4,\"CN=John Smith,OU=hr,DC=a,DC=b\","
        "\"CN=Person,CN=Schema,CN=Configuration,DC=a,DC=b\",contact,"
        "John Smith,John Smith,John Smith,john@smith.example,John,"
        "/o=acme/ou=first administrative group/cn=Recipients/cn=John Smith,Q,"
        "SMTP:john@smith.example;X400:cs=us\\;a=\\;p=acme\\;o=Exchange\\;s=Smith\\;g=John\\;,"
        "\"CN=Default Global Address List,CN=All Global Address Lists,CN=Address Lists Container,CN=acme,"
        "CN=Microsoft Exchange,CN=Services,CN=Configuration,DC=a,DC=b\",Smith,"
        "c=us\\;a=\\;p=acme\\;o=Exchange\\;s=Smith\\;g=John\\;,1310720,John Smith,FALSE,SMTP:john@smith.example,"
        "X'3132204d61696e205374',\"Acme \"\"Co\"\"\",\"\",,\"\",\"Springfield\","
        "\"\",<555>,\"\","
        "\"62701\",\"IL\",\"555-0101\",\"Engineer\"\n";
    std::string text = Output();
    ASSERT_EQ(text.substr(0, header.size() + john.size()), header + john);
    std::string ann = text.substr(header.size() + john.size());
    EXPECT_NE(ann.find(",,\"\",\"US\",UNITED STATES,\"\",\"\","), std::string::npos) << ann;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    std::vector<std::vector<std::string>> rows = CsvRows();
    ASSERT_EQ(rows.size(), 3u);
    for (const auto &r : rows) EXPECT_EQ(r.size(), 33u);
    EXPECT_EQ(rows[1][21], "Acme \"Co\"");
}

TEST_F(ContactWriter, DomainFileDefaultsAndDots) {
    char out[256];
    DotsToDN("a.b.c", "DC=", out, sizeof(out));
    EXPECT_STREQ(out, "DC=a,DC=b,DC=c");
    DotsToDN("single", "OU=", out, sizeof(out));
    EXPECT_STREQ(out, "OU=single");
    DotsToDN("x.y", "", out, sizeof(out));
    EXPECT_STREQ(out, "x,y");
    DotsToDN("long.name.here", "DC=", out, 12);
    EXPECT_LT(strlen(out), 12u);

    // A short uadomain.dat replaces only the lines it has.
    gActDir = 1;
    WriteFile("out/uadomain.dat", "corp.example\r\n");
    ASSERT_EQ(InitContactFile(), 0);
    Close();
    EXPECT_STREQ(gDomainDN, "DC=corp,DC=example");
    EXPECT_STREQ(gDeptOU, "department");
    EXPECT_STREQ(gOrgName, "olddept");
}

TEST_F(ContactWriter, UnopenableOutput) {
    std::string bad = dir_ + "/no/such/dir/out.csv";
    com_strncpy(gContactOutPath, bad.c_str(), sizeof(gContactOutPath) - 1);
    EXPECT_EQ(InitContactFile(), 1);
    EXPECT_NE(LogText().find("BV Error: Unable to open output file " + bad), std::string::npos);
    Fill("A", "B", "c@d.e");
    EXPECT_EQ(WriteContact(record_, workDir_.c_str()), 0);
}

}  // namespace
}  // namespace contacts_test
