// Option switches, through GetLogonParameters and Logon of the probe build.
#include "module_fixture.h"

namespace bvtest {
namespace {

class SwitchTest : public ModuleTest {
protected:
    // Runs the switch parser once (GetLogonParameters parses the switches).
    void Parse(const char *switches) {
        bvcom_SetSwitches(switches);
        LogonParameters(0, 1, "", "x");
    }
};

TEST_F(SwitchTest, DefaultsBeforeAnySwitch) {
    Load(true);
    Parse("");
    EXPECT_EQ(ProbeInt("gD84"), 1);
    EXPECT_EQ(ProbeInt("gD133"), 1);
    EXPECT_EQ(ProbeInt("gD242"), 1);
    EXPECT_EQ(ProbeInt("gMaxAttachSize"), 9999999);
    EXPECT_EQ(ProbeText("gRootFolderName"), "root");
    EXPECT_EQ(ProbeInt("gDebug"), 0);
    EXPECT_EQ(ProbeInt("gEvcs"), 0);
    EXPECT_EQ(ProbeInt("gEvcsLevel"), 0);
}

TEST_F(SwitchTest, EveryFlagSwitchSetsItsFlag) {
    Load(true);
    Parse("/LOGUUID /CURLDEBUG /D179 /D301 /D288 /D149 /UTF8 /CP850 /BVGUI /DEBUG /NOINVENTORY /SSTORE /FAS "
          "/ACTDIR /CSVTASK /XIMIAN /OED /DEDUP /LSUB /EIH /D68 /D74 /D77 /D81 /UNID /NHS /D220 /D226 /D230 "
          "/D161 /D84 /D133 /D242");
    for (const char *flag : {"gLogUuid", "gCurlDebug", "gD179", "gD301", "gD288", "gD149", "gUtf8", "gCp850",
                             "gBvGui", "gDebug", "gNoInventory", "gSStore", "gFas", "gActDir", "gCsvTask", "gXimian",
                             "gOeDirect", "gDedup", "gLSub", "gEih", "gD68", "gD74", "gD77", "gD81", "gUnid", "gNhs",
                             "gD220", "gD226", "gD230", "gD161"})
        EXPECT_EQ(ProbeInt(flag), 1) << flag;
    for (const char *flag : {"gD84", "gD133", "gD242"}) EXPECT_EQ(ProbeInt(flag), 0) << flag;
    EXPECT_EQ(ProbeInt("gD153"), 0);
    EXPECT_EQ(ProbeInt("gEvcs"), 0);
}

TEST_F(SwitchTest, ValueSwitchesCopyTheirValues) {
    Load(true);
    Parse("/D223 alpha /D160 \"be ta\" /D159 gamma /D55 delta /ATTACHDIR /tmp/att /ZFOLDERS /abs/zf.txt "
          "/D47 12 /DSTOFFSET -45 /MAXATTACHSIZE 2048x");
    EXPECT_EQ(ProbeText("gD223Text"), "alpha");
    EXPECT_EQ(ProbeText("gD160Text"), "be ta");
    EXPECT_EQ(ProbeText("gD159Text"), "gamma");
    EXPECT_EQ(ProbeText("gD55Text"), "delta");
    EXPECT_EQ(ProbeText("gAttachDir"), "/tmp/att/") << "a separator is appended";
    EXPECT_EQ(ProbeText("gZFoldersFile"), "/abs/zf.txt");
    EXPECT_EQ(ProbeInt("gD47"), 12);
    EXPECT_EQ(ProbeInt("gDstOffset"), -45);
    EXPECT_EQ(ProbeInt("gMaxAttachSize"), 2048) << "leading digits";
}

TEST_F(SwitchTest, RelativeFolderListIsMadeAbsolute) {
    Load(true);
    Parse("/ZFOLDERS zf.txt");
    std::string value = ProbeText("gZFoldersFile");
    EXPECT_EQ(value.front(), '/') << value;
    EXPECT_EQ(value.substr(value.size() - 7), "/zf.txt");
}

TEST_F(SwitchTest, ValueTokenIsExaminedAgainAsASwitch) {
    Load(true);
    Parse("/GN /DEBUG");
    EXPECT_EQ(ProbeText("gRootFolderName"), "/DEBUG");
    EXPECT_EQ(ProbeInt("gDebug"), 1);

    Load(true);
    Parse("/GN /OED /D47 9");
    EXPECT_EQ(ProbeText("gRootFolderName"), "/OED");
    EXPECT_EQ(ProbeInt("gOeDirect"), 1);
    EXPECT_EQ(ProbeInt("gD47"), 9);

    // "/ZFOLDERS" comes after "/GN" in the table, so within the same pass the
    // value "/ZFOLDERS" matches it and reads the same token as its value.
    Load(true);
    Parse("/GN /ZFOLDERS /abs/list.txt");
    EXPECT_EQ(ProbeText("gRootFolderName"), "/ZFOLDERS");
    EXPECT_EQ(ProbeText("gZFoldersFile"), "/abs/list.txt");
}

TEST_F(SwitchTest, EvcsLevel) {
    struct Case {
        const char *switches;
        int level;
        const char *why;
    };
    for (const Case &c : {Case{"/EVCS", 3, "last token: level stays 3"}, Case{"/EVCS 7", 7, "digits"},
                          Case{"/EVCS abc", 0, "no leading digits"}, Case{"/EVCS /DEBUG", 0, "next switch"},
                          Case{"/EVCS \"\"", 3, "an empty value leaves the level"}}) {
        Load(true);
        Parse(c.switches);
        EXPECT_EQ(ProbeInt("gEvcs"), 1) << c.switches;
        EXPECT_EQ(ProbeInt("gEvcsLevel"), c.level) << c.switches << ": " << c.why;
    }
    Load(true);
    Parse("/EVCS /DEBUG");
    EXPECT_EQ(ProbeInt("gDebug"), 1) << "a switch after /EVCS is still parsed";
}

TEST_F(SwitchTest, D153AndItsOneValue) {
    struct Case {
        const char *switches;
        int one;
        const char *why;
    };
    for (const Case &c : {Case{"/D153 1", 1, "1"}, Case{"/D153 10x", 1, "begins with 1"}, Case{"/D153 21", 0, "21"},
                          Case{"/D153", 0, "last token"}}) {
        Load(true);
        Parse(c.switches);
        EXPECT_EQ(ProbeInt("gD153"), 1) << c.switches;
        EXPECT_EQ(ProbeInt("gD153One"), c.one) << c.switches << ": " << c.why;
    }
}

TEST_F(SwitchTest, MatchingIsExactAndCaseSensitive) {
    Load(true);
    Parse("/debug /oed /Debug /DEBUGX DEBUG /DEBUG, /gn x /evcs /maxattachsize 5");
    for (const char *flag : {"gDebug", "gOeDirect", "gEvcs"}) EXPECT_EQ(ProbeInt(flag), 0) << flag;
    EXPECT_EQ(ProbeText("gRootFolderName"), "root");
    EXPECT_EQ(ProbeInt("gMaxAttachSize"), 9999999);
}

TEST_F(SwitchTest, ValueSwitchAsLastTokenChangesOnlyItsFlag) {
    Load(true);
    Parse("/MAXATTACHSIZE");
    EXPECT_EQ(ProbeInt("gMaxAttachSize"), 9999999);
    Parse("/MAXATTACHSIZE abc");
    EXPECT_EQ(ProbeInt("gMaxAttachSize"), 0) << "non-numeric value";
    Parse("/GN");
    EXPECT_EQ(ProbeText("gRootFolderName"), "root");
    Parse("/ATTACHDIR");
    EXPECT_EQ(ProbeText("gAttachDir"), "");
}

TEST_F(SwitchTest, SecondRunOnlyAdds) {
    Load(true);
    Parse("/DEBUG /GN Archive");
    Parse("/UTF8");
    EXPECT_EQ(ProbeInt("gDebug"), 1) << "nothing is reset between runs";
    EXPECT_EQ(ProbeInt("gUtf8"), 1);
    EXPECT_EQ(ProbeText("gRootFolderName"), "Archive");
}

// A group folder name set by "/GN" reaches the record through InitRead of
// the shipped library; "/SSTORE" empties it.
TEST_F(SwitchTest, GroupFolderReachesTheRecordThroughInitRead) {
    auto rec = std::make_unique<mdat>();
    Load();
    bvcom_SetSwitches("");
    ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0);
    EXPECT_EQ(module_->InitRead(rec.get(), 0, 0, 0, 0, 10), 0);
    EXPECT_STREQ(rec->groupFolder, "root");

    Load();
    bvcom_SetSwitches("/GN Archive");
    ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0);
    module_->InitRead(rec.get(), 0, 0, 0, 0, 10);
    EXPECT_STREQ(rec->groupFolder, "Archive");

    Load();
    bvcom_SetSwitches("/GN Archive /SSTORE");
    ASSERT_EQ(Logon((dir_ / "in.csv").string(), 1, 1), 0);
    module_->InitRead(rec.get(), 0, 0, 0, 0, 10);
    EXPECT_STREQ(rec->groupFolder, "");
}

}  // namespace
}  // namespace bvtest
