// Option switches as a host sees them: the switch string of a session, then
// what the loaded module does with it (the record's group folder, the debug
// lines of the log, the order of a list-layout contact line).
#include "module_fixture.h"

namespace bvtest {
namespace {

struct SwitchCase {
    const char *switches;
    const char *groupFolder;  // the record's group folder after InitRead
    bool debugLines;          // the debug lines of the log (the zone values of the logon)
    const char *why;
};

const SwitchCase kSwitchCases[] = {
    {"", "root", false, "defaults"},
    {"/GN Archive", "Archive", false, "a value switch takes the next token"},
    {"/GN /DEBUG", "/DEBUG", true, "the value token is examined again as a switch"},
    {"/GN Archive /SSTORE", "", false, "/SSTORE leaves the group folder empty"},
    {"/GN", "root", false, "a value switch as the last token changes nothing"},
    {"/debug /Debug /DEBUGX DEBUG /DEBUG, /gn x", "root", false, "matching is exact and case-sensitive"},
    {"/EVCS /DEBUG", "root", true, "a switch after an optional value is still parsed"},
    {"/D153 /GN Late", "Late", false, "an optional value is examined again too"},
};

class SwitchTest : public ModuleTest {};

TEST_F(SwitchTest, SwitchStringReachesTheSession) {
    WriteFileText(dir_ / "in.csv", "First Name,E-mail Address\nAnna,anna@example.org\n");
    for (const SwitchCase &c : kSwitchCases) {
        Load();
        fs::remove(logPath_);
        bvcom_SetLogFile(logPath_.c_str());
        bvcom_SetSwitches(c.switches);
        ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0) << c.switches;
        auto rec = std::make_unique<mdat>();
        EXPECT_EQ(module_->InitRead(rec.get(), 0, 0, 0, 0, 10), 0);
        EXPECT_STREQ(rec->groupFolder, c.groupFolder) << c.switches << ": " << c.why;
        EXPECT_EQ(Log().find("DST Offset=") != std::string::npos, c.debugLines) << c.switches << ": " << c.why;
    }
}

// "/D153" writes the list layout; a value that begins with '1' puts the
// address first.
TEST_F(SwitchTest, ListLayoutOrderFollowsTheD153Value) {
    struct Case {
        const char *switches, *line;
    };
    const Case cases[] = {
        {"/D153", "Anna Berg;anna@example.org\n"},
        {"/D153 21", "Anna Berg;anna@example.org\n"},
        {"/D153 1", "anna@example.org;Anna Berg\n"},
        {"/D153 10x", "anna@example.org;Anna Berg\n"},
    };
    for (const Case &c : cases) {
        fs::path out = dir_ / "list.csv";
        Load();
        bvcom_SetSwitches(c.switches);
        ASSERT_EQ(Logon(out.string(), 1, 0), 0);
        auto rec = std::make_unique<mdat>();
        ASSERT_EQ(module_->InitWrite(rec.get(), "Contacts", 0, 1), 0);
        rec->dataType = 1;
        snprintf(rec->firstName, sizeof rec->firstName, "Anna");
        snprintf(rec->lastName, sizeof rec->lastName, "Berg");
        snprintf(rec->emailAddr, sizeof rec->emailAddr, "anna@example.org");
        EXPECT_EQ(module_->WriteMsg(rec.get(), "Contacts", work_.c_str(), 0), 0);
        EXPECT_EQ(module_->CloseWrite(1), 0);
        EXPECT_EQ(ReadFileText(out), c.line) << c.switches;
    }
}

}  // namespace
}  // namespace bvtest
