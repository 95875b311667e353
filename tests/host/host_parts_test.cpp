// The host's own parts: KIND:PATH parsing, the folder text, switch strings,
// and the JSON form of a record.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "host/endpoints.h"
#include "host/host_session.h"
#include "host/record_json.h"
#include "platform/platform.h"
#include "record/com.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace bvhost;

namespace {

using ScratchDir = bvtest::TempDir;

TEST(EndpointTest, KindsMapToTheModulesValues) {
    ScratchDir dir;
    std::ofstream(dir.Path() / "list.csv") << "a\n";
    Endpoint e;
    std::string error;
    ASSERT_TRUE(ParseEndpoint("oe-dir:" + dir.Path().string(), false, "", &e, &error)) << error;
    EXPECT_EQ(e.adrType, 0);
    EXPECT_EQ(e.dataType, 0);
    EXPECT_EQ(e.impliedSwitch, "/OED");

    ASSERT_TRUE(ParseEndpoint("contacts:" + (dir.Path() / "list.csv").string(), false, "", &e, &error)) << error;
    EXPECT_EQ(e.adrType, 2) << "the address type that lists a contacts folder";
    EXPECT_EQ(e.dataType, 2);
    EXPECT_EQ(e.folderClass, 1);

    ASSERT_TRUE(ParseEndpoint("contacts:https://host/user/u/contacts?fmt=csv|admin|pw", false, "CSVZ", &e, &error));
    EXPECT_TRUE(e.isAddress);
    EXPECT_EQ(e.tag, "CSVZ");

    ASSERT_TRUE(ParseEndpoint("kerio:" + dir.Path().string(), false, "", &e, &error)) << error;
    EXPECT_EQ(e.tag, "VCSK");
    EXPECT_EQ(e.adrType, 99);

    ASSERT_TRUE(ParseEndpoint("calendar:" + (dir.Path() / "*.ics").string(), false, "", &e, &error)) << error;
    EXPECT_EQ(e.adrType, 99);
    ASSERT_TRUE(ParseEndpoint("tasks:" + (dir.Path() / "new" / "t.vcs").string(), true, "", &e, &error)) << error;
    EXPECT_EQ(e.adrType, 100);
    EXPECT_EQ(e.folderClass, 3);

    // Relative paths become absolute.
    fs::path old = fs::current_path();
    fs::current_path(dir.Path());
    ASSERT_TRUE(ParseEndpoint("contacts:list.csv", false, "", &e, &error)) << error;
    EXPECT_EQ(e.path, (fs::canonical(dir.Path()) / "list.csv").string());
    fs::current_path(old);
}

TEST(EndpointTest, ErrorsNameTheValidChoices) {
    ScratchDir dir;
    Endpoint e;
    std::string error;
    EXPECT_FALSE(ParseEndpoint("pst:/x", false, "", &e, &error));
    EXPECT_EQ(error, "unknown source kind 'pst'; valid source kinds: oe-dir, oe, contacts, calendar, tasks, kerio "
                     "(as KIND:PATH)");
    EXPECT_FALSE(ParseEndpoint("kerio:/x", true, "", &e, &error));
    EXPECT_EQ(error, "unknown target kind 'kerio'; valid target kinds: oe, contacts, calendar, tasks (as KIND:PATH)");
    EXPECT_FALSE(ParseEndpoint("oe-dir", false, "", &e, &error));
    EXPECT_NE(error.find("missing ':PATH'"), std::string::npos) << error;
    EXPECT_FALSE(ParseEndpoint("oe-dir:" + (dir.Path() / "none").string(), false, "", &e, &error));
    EXPECT_NE(error.find("no such directory (oe-dir expects a directory of DBX/MBX files)"), std::string::npos)
        << error;
    EXPECT_FALSE(ParseEndpoint("contacts:" + dir.Path().string(), false, "", &e, &error));
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;
    EXPECT_FALSE(ParseEndpoint("calendar:" + dir.Path().string(), true, "", &e, &error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    EXPECT_FALSE(ParseEndpoint("oe-dir:http://x/y", false, "", &e, &error));
    EXPECT_FALSE(ParseEndpoint("calendar:" + dir.Path().string(), false, "XXXX", &e, &error));
    EXPECT_EQ(error, "unknown tag 'XXXX'; valid tags: CSVZ, VCSZ, VCSG, VCSK");
}

TEST(FolderTextTest, TagIsParsedFromTheEnd) {
    FolderInfo info;
    ASSERT_TRUE(ParseFolderText("Inbox^Old {x} {BV:12:FCLASS:0}", &info));
    EXPECT_EQ(info.name, "Inbox^Old {x}");
    EXPECT_EQ(info.count, 12);
    EXPECT_EQ(info.folderClass, 0);
    EXPECT_FALSE(ParseFolderText("No tag here", &info));
    EXPECT_FALSE(ParseFolderText("Broken {BV:x:FCLASS:1}", &info));
}

TEST(SwitchStringTest, DefaultOnlyWithoutUserSwitches) {
    HostOptions options;
    Endpoint oeDir;
    oeDir.impliedSwitch = "/OED";
    EXPECT_EQ(SwitchStringFor(options, oeDir, "/UTF8"), "/UTF8 /OED");
    options.switchesGiven = true;
    options.switches = "/DEBUG";
    EXPECT_EQ(SwitchStringFor(options, oeDir, "/UTF8"), "/DEBUG /OED");
    options.switches = "";
    EXPECT_EQ(SwitchStringFor(options, Endpoint(), "/UTF8"), "") << "an empty switch string given on purpose";
}

FILETIME At(int year, int month, int day, int hour, int minute) {
    SYSTEMTIME parts{};
    parts.wYear = (uint16_t)year;
    parts.wMonth = (uint16_t)month;
    parts.wDay = (uint16_t)day;
    parts.wHour = (uint16_t)hour;
    parts.wMinute = (uint16_t)minute;
    FILETIME time{};
    plat_SystemTimeToFileTime(&parts, &time);
    return time;
}

TEST(RecordJsonTest, FieldsTimesDigestAndLists) {
    ScratchDir dir;
    std::string work = dir.Path().string() + "/";
    auto rec = std::make_unique<mdat>();
    snprintf(rec->subject, sizeof rec->subject, "Hello");
    snprintf(rec->fromAddr, sizeof rec->fromAddr, "a@example.org");
    rec->date = At(2024, 1, 15, 14, 0);
    rec->startTime = At(1601, 1, 1, 0, 0);
    rec->endTime = At(1601, 6, 1, 0, 0);
    rec->recurType = 2;
    rec->priority = 0;
    rec->msgNumber = 4;
    for (int i = 0; i < 16; i++) rec->digest[i] = (uint8_t)(0xa0 + i);

    ASSERT_TRUE(com_AllocPart(rec.get()));
    rec->partCount = 1;
    snprintf(rec->parts[0]->name, sizeof rec->parts[0]->name, "note.txt");
    rec->parts[0]->partType = 1;
    rec->parts[0]->size = 3;
    char partFile[1024];
    com_PartFileName(work.c_str(), rec.get(), 0, partFile, sizeof partFile);
    std::ofstream(partFile, std::ios::binary) << "abc";
    ASSERT_TRUE(com_AllocRecip(rec.get()));
    rec->recipCount = 1;
    snprintf(rec->recips[0]->addr, sizeof rec->recips[0]->addr, "b@example.org");
    rec->recips[0]->type = 3;

    nlohmann::json json = RecordToJson(rec.get(), work);
    EXPECT_EQ(json["subject"], "Hello");
    EXPECT_EQ(json["fromAddr"], "a@example.org");
    EXPECT_EQ(json["date"], "2024-01-15T14:00:00Z");
    EXPECT_FALSE(json.contains("startTime")) << "a 1601 date is left out";
    EXPECT_FALSE(json.contains("endTime"));
    EXPECT_FALSE(json.contains("priority")) << "zero is left out";
    EXPECT_FALSE(json.contains("fromName")) << "empty is left out";
    EXPECT_FALSE(json.contains("dataType"));
    EXPECT_EQ(json["recurType"], 2);
    EXPECT_EQ(json["msgNumber"], 4);
    EXPECT_EQ(json["digest"], "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
    ASSERT_EQ(json["parts"].size(), 1u);
    EXPECT_EQ(json["parts"][0]["name"], "note.txt");
    EXPECT_EQ(json["parts"][0]["partType"], 1);
    EXPECT_EQ(json["parts"][0]["size"], 3);
    EXPECT_EQ(json["parts"][0]["sha256"], "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(json["parts"][0].contains("charset"));
    ASSERT_EQ(json["recips"].size(), 1u);
    EXPECT_EQ(json["recips"][0]["addr"], "b@example.org");
    EXPECT_EQ(json["recips"][0]["name"], "");
    EXPECT_EQ(json["recips"][0]["type"], 3);
    EXPECT_EQ(json["recips"][0]["status"], 0);
    EXPECT_FALSE(json.contains("notes"));

    com_WriteNotes(rec.get(), "Call back\r\nsoon", work.c_str());
    EXPECT_EQ(RecordToJson(rec.get(), work)["notes"], "Call back\r\nsoon");

    com_Deallocate_All(rec.get(), work.c_str());
    com_Deallocate(rec.get(), work.c_str());
}

TEST(RecordJsonTest, TextThatIsNotUtf8StillDumps) {
    auto rec = std::make_unique<mdat>();
    snprintf(rec->subject, sizeof rec->subject, "Gr\xFC\xDF");
    nlohmann::json json = RecordToJson(rec.get(), "/nonexistent/");
    std::string line = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    EXPECT_NE(line.find("\"subject\":\"Gr"), std::string::npos) << line;
}

TEST(RecordJsonTest, IsoTimes) {
    EXPECT_EQ(FileTimeToIso(At(2024, 2, 29, 23, 59)), "2024-02-29T23:59:00Z");
    EXPECT_EQ(FileTimeToIso(At(1969, 12, 31, 0, 0)), "1969-12-31T00:00:00Z");
    EXPECT_EQ(FileTimeToIso(FILETIME{0, 0}), "");
    EXPECT_EQ(FileTimeToIso(At(1601, 12, 31, 23, 0)), "");
}

}  // namespace
