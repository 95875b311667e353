// GetLogonParameters and Logon through the loaded library.
#include "module_fixture.h"

namespace bvtest {
namespace {

using LogonTest = ModuleTest;

TEST_F(LogonTest, RefusedParameterReturnsOneAfterTheTwoLogLines) {
    Load();
    EXPECT_EQ(Logon("/some/where", 1, 1, "CSVZ", 1, 0), 1);
    std::string log = Log();
    EXPECT_NE(log.find("Running bvole.dll, compile time "), std::string::npos) << log;
    EXPECT_NE(log.find("Outlook Express logon, Param=0, AdrType=1, DB=/some/where, Checkvalue=1, Tag=CSVZ\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("BV Error"), std::string::npos) << "nothing after the refusal";
}

struct ZoneCase {
    const char *tz;
    const char *gmtText;
};

TEST_F(LogonTest, GmtOffsetTextFollowsTheZone) {
    const ZoneCase cases[] = {
        {"UTC0", "+0000"},     {"EST5", "-0500"},      {"XXX-1", "+0100"}, {"IST-5:30", "+0530"},
        {"NPT-5:45", "+0545"}, {"XXX3:30", "-0330"}, {"XXX0:30", "-0030"}, {"XXX-0:30", "+0030"},
    };
    for (const ZoneCase &zone : cases) {
        ScopedEnv tz("TZ", zone.tz);
        Load();
        bvcom_SetSwitches("/DEBUG /DSTOFFSET 45");
        ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0);
        std::string expected = std::string("DST Offset=45, GMT Offset=") + zone.gmtText + "\n";
        EXPECT_NE(Log().find(expected), std::string::npos) << zone.tz << "\n" << Log();
        fs::remove(logPath_);
        bvcom_SetLogFile(logPath_.c_str());
    }
}

TEST_F(LogonTest, ZoneValuesWithoutDebugAreNotLogged) {
    ScopedEnv tz("TZ", "UTC0");
    Load();
    ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0);
    EXPECT_EQ(Log().find("GMT Offset"), std::string::npos);
}

TEST_F(LogonTest, StoreDirectoryNeedsADbxOrMbxFile) {
    fs::path store = dir_ / "store";
    WriteFileText(store / "notes.txt", "x");
    WriteFileText(store / "inbox.DBX.bak", "x");
    Load();
    bvcom_SetSwitches("/OED");
    EXPECT_EQ(Logon(store.string(), 0, 1), 3);

    WriteFileText(store / "inbox.DBX", "x");
    Load();
    std::string pathAfter;
    EXPECT_EQ(Logon(store.string(), 0, 1, "", 0, 1, &pathAfter), 0) << "the extension test ignores case";
    EXPECT_EQ(pathAfter, store.string() + "/") << "a separator is appended to the path";

    fs::path mbxOnly = dir_ / "mbx";
    WriteFileText(mbxOnly / "Sent.mbx", "x");
    Load();
    EXPECT_EQ(Logon(mbxOnly.string(), 0, 1), 0);

    Load();
    EXPECT_EQ(Logon((dir_ / "missing").string(), 0, 1), 3);
    fs::create_directories(dir_ / "empty");
    Load();
    EXPECT_EQ(Logon((dir_ / "empty").string(), 0, 1), 3);
}

TEST_F(LogonTest, StoreObjectMissingGivesFourWithThreeLines) {
    ScopedEnv store("BV_OE_STORE", nullptr);
    Load();
    EXPECT_EQ(Logon("Default user only", 0, 1), 4);
    std::string log = Log();
    size_t create = log.find("BV Error: Error CoCreateInstance\n");
    size_t missing = log.find("BV Error: OEAPI libraries are not present\n");
    ASSERT_NE(create, std::string::npos) << log;
    ASSERT_NE(missing, std::string::npos) << log;
    EXPECT_LT(create, missing);
    EXPECT_EQ(module_->Logoff(0), 0);
}

TEST_F(LogonTest, StoreObjectFromTheConfiguredRoot) {
    if (!fs::exists(std::string(BV_BINARY_DIR) + "/lib/libbvoeapi.so")) GTEST_SKIP() << "no store object built";
    fs::path root = dir_ / "maildir";
    fs::create_directories(root);
    ScopedEnv store("BV_OE_STORE", root.c_str());
    Load();
    EXPECT_EQ(Logon("Default user only", 0, 0), 0) << Log();
    EXPECT_EQ(module_->Logoff(0), 0);
}

TEST_F(LogonTest, SourcePaths) {
    Load();
    fs::path missingDir = dir_ / "nowhere";
    EXPECT_EQ(Logon((missingDir / "list.csv").string(), 1, 1), 3);
    EXPECT_NE(Log().find("BV Error: invalid source specification: " + missingDir.string() + "\n"), std::string::npos)
        << Log();

    WriteFileText(dir_ / "src" / "list.csv", "a,b\n");
    Load();
    EXPECT_EQ(Logon((dir_ / "src" / "list.csv").string(), 1, 1), 0);

    // On POSIX the file functions take UTF-8 paths: the host's text is kept.
    Load();
    EXPECT_EQ(Logon((dir_ / "src" / "K\xC3\xA4lender.vcs").string(), 99, 1), 0);

    // An address is downloaded; port 9 on the loopback refuses at once.
    Load();
    EXPECT_NE(Logon("http://127.0.0.1:9/contacts.csv", 1, 1), 0);
}

TEST_F(LogonTest, TargetPaths) {
    fs::path existing = dir_ / "out" / "contacts.csv";
    WriteFileText(existing, "old contents\n");
    Load();
    EXPECT_EQ(Logon(existing.string(), 1, 0), 0);
    EXPECT_FALSE(fs::exists(existing)) << "each run writes a fresh file";
    auto rec = std::make_unique<mdat>();
    ASSERT_EQ(module_->InitWrite(rec.get(), "Contacts", 0, 1), 0);
    EXPECT_EQ(module_->CloseWrite(1), 0);
    EXPECT_EQ(ReadFileText(existing).rfind("\"First Name\",", 0), 0u) << "the file named at logon is written";

    fs::path nested = dir_ / "new" / "deeper" / "cal.vcs";
    Load();
    EXPECT_EQ(Logon(nested.string(), 99, 0), 0);
    EXPECT_TRUE(fs::is_directory(nested.parent_path())) << "the missing directory is created";

    WriteFileText(dir_ / "blocker", "a file where a directory should be");
    Load();
    EXPECT_EQ(Logon((dir_ / "blocker" / "cal.vcs").string(), 99, 0), 3);
}

struct FieldCase {
    int dataType, adrType;
    const char *tag, *pathIn, *switches;
    const char *label, *check, *chooser, *pathOut, *switchText;
};

const char kContactFilter[] = "F,Comma Seperated Values (*.csv)|*.csv|Outlook Nickname (*.nk2)|*.nk2";
const char kCalendarFilter[] = "F,vCalendar (*.vcs)|*.vcs|vCalendar (*.vcal)|*.vcal|iCalendar (*.ics)|*.ics";
const char kKerio[] = "c:\\program files\\kerio\\mailserver\\store\\mail\\servername\\username";

TEST_F(LogonTest, LogonFieldsByAddressTypeAndTag) {
    ScopedEnv docs("BV_SHARED_DOCUMENTS", "/shared/docs");
    const FieldCase cases[] = {
        {0, 0, "", "", "/OED", "OE Mail Directory:", "", "D",
         "c:\\Windows\\Application Data\\Microsoft\\Outlook Express\\Mail", ""},
        {0, 0, "", "Default user only", "/OED", "OE Mail Directory:", "", "D",
         "c:\\Windows\\Application Data\\Microsoft\\Outlook Express\\Mail", ""},
        {0, 0, "", "/my/store", "/OED", "OE Mail Directory:", "", "D", "/my/store", ""},
        {0, 0, "", "/my/store", "", "User Name", "", "", "Default user only", ""},
        {2, 0, "", "/my/store", "/OED", "User Name", "", "", "Default user only", "/UTF8"},
        {0, 5, "", "", "", "CSV file:", "", kContactFilter, "/shared/docs/addrlist.csv", ""},
        {2, 5, "", "", "", "CSV or NK2 file:", "", kContactFilter, "/shared/docs/addrlist.csv", "/UTF8"},
        {2, 5, "CSVZ", "", "", "Zimbra URL:", "", kContactFilter,
         "https://<host:port>/user/<user>/contacts?fmt=csv|admin|password", "/UTF8"},
        {2, 98, "", "/kept.csv", "", "CSV or NK2 file:", "", kContactFilter, "/kept.csv", "/UTF8"},
        {0, 99, "", "", "", "VCS/ICS File:", "", kCalendarFilter, "/shared/docs/calendar.vcs", ""},
        {4, 99, "", "", "", "VCS File:", "Upcoming events only", kCalendarFilter, "/shared/docs/calendar.vcs", ""},
        {4, 99, "VCSZ", "", "", "Zimbra URL:", "Upcoming events only", kCalendarFilter,
         "https://<host:port>/user/<user>/calendar?fmt=ics|admin|password", ""},
        {4, 99, "VCSG", "", "", "GoDaddy URL:", "Upcoming events only", kCalendarFilter, nullptr, ""},
        {4, 99, "VCSK", "", "", "Kerio User Dir:", "Upcoming events only", kCalendarFilter, kKerio, ""},
        {4, 99, "vcsk", "/cal.ics", "", "VCS File:", "Upcoming events only", kCalendarFilter, "/cal.ics", ""},
        {4, 100, "", "", "", "VCS/ICS File:", "", kCalendarFilter, "/shared/docs/tasks.vcs", ""},
        {4, 100, "VCSZ", "", "", "Zimbra URL:", "", kCalendarFilter,
         "https://<host:port>/user/<user>/tasks?fmt=ics|admin|password", ""},
        {0, 100, "VCSK", "", "", "Kerio User Dir:", "", kCalendarFilter, kKerio, ""},
        {0, 101, "", "/any", "", "x", "x", "x", "/any", ""},
    };
    for (const FieldCase &c : cases) {
        Load();
        bvcom_SetSwitches(c.switches);
        LogonFields fields = LogonParameters(c.dataType, c.adrType, c.tag, c.pathIn);
        std::string what = std::to_string(c.dataType) + "/" + std::to_string(c.adrType) + "/" + c.tag;
        EXPECT_EQ(fields.pathLabel, c.label) << what;
        EXPECT_EQ(fields.checkLabel, c.check) << what;
        EXPECT_EQ(fields.chooser, c.chooser) << what;
        if (c.pathOut) {
            EXPECT_EQ(fields.pathValue, c.pathOut) << what;
        }
        EXPECT_EQ(fields.switchText, c.switchText) << what;
        EXPECT_EQ(fields.out4, "") << what;
        EXPECT_EQ(fields.out5, "") << what;
        EXPECT_EQ(fields.out7, "") << what;
        EXPECT_NE(Log().find("GetLogonParameters BVOLE: DataType=" + std::to_string(c.dataType) +
                             ", AdrType=" + std::to_string(c.adrType) + ", Tag=" + c.tag + "\n"),
                  std::string::npos)
            << what;
    }
}

TEST_F(LogonTest, GoDaddyTemplateNamesTheCalendarPath) {
    Load();
    LogonFields fields = LogonParameters(4, 99, "VCSG", "");
    EXPECT_EQ(fields.pathValue.rfind("https://", 0), 0u) << fields.pathValue;
    EXPECT_NE(fields.pathValue.find("/pub/"), std::string::npos);
    EXPECT_EQ(fields.pathValue.substr(fields.pathValue.size() - 13), "/calendar.ics");
}

TEST_F(LogonTest, StoreRootFromTheRegistry) {
    WriteFileText(dir_ / "registry.ini",
              "[HKEY_USERS\\.DEFAULT\\Identities]\n"
              "\"Default User ID\"=\"{ABC-123}\"\n"
              "[HKEY_USERS\\.DEFAULT\\Identities\\{ABC-123}\\Software\\Microsoft\\Outlook Express\\5.0]\n"
              "\"Store Root\"=\"/stores/oe\"\n");
    bvcom_SetRegistryFile((dir_ / "registry.ini").c_str());
    Load();
    bvcom_SetSwitches("/OED");
    EXPECT_EQ(LogonParameters(0, 0, "", "").pathValue, "/stores/oe");
    EXPECT_EQ(LogonParameters(0, 0, "", "Default user only").pathValue, "/stores/oe");
    EXPECT_EQ(LogonParameters(0, 0, "", "/given").pathValue, "/given");

    // Without the identity the default directory is offered.
    WriteFileText(dir_ / "registry.ini", "[HKEY_USERS\\.DEFAULT\\Identities\\{ABC-123}\\Software\\Microsoft\\Outlook "
                                     "Express\\5.0]\n\"Store Root\"=\"/stores/oe\"\n");
    EXPECT_EQ(LogonParameters(0, 0, "", "").pathValue,
              "c:\\Windows\\Application Data\\Microsoft\\Outlook Express\\Mail");
}

}  // namespace
}  // namespace bvtest
