// The host's own parts: KIND:PATH parsing, the folder text, switch strings,
// and the JSON form of a record.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "host/endpoints.h"
#include "host/host_session.h"
#include "host/record_json.h"
#include "platform/platform.h"
#include "record/com.h"
#include "support/case_table.h"
#include "support/utc_time.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace bvhost;

namespace {

using ScratchDir = bvtest::TempDir;

TEST(EndpointTest, KindsOfTheTable) {
    ScratchDir dir;
    bvtest::WriteFileText(dir.Path() / "list.csv", "a\n");
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_SOURCE_DIR "/tests/host/data/endpoints.tsv")) {
        std::string text = row[0];
        for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir.Path().string());
        Endpoint e;
        std::string error;
        bool parsed = ParseEndpoint(text, row.Int(1), row[2], &e, &error);
        EXPECT_EQ(parsed, row[3] != "error") << row.Where() << " " << error;
        if (!parsed) {
            EXPECT_NE(error.find(row[4]), std::string::npos) << row.Where() << " " << error;
            continue;
        }
        std::string values = std::to_string(e.adrType) + "|" + std::to_string(e.dataType) + "|" +
                             std::to_string(e.folderClass) + "|" + e.impliedSwitch + "|" + e.tag + "|" +
                             std::to_string(e.isAddress);
        EXPECT_EQ(values, row[3] + "|" + row[4] + "|" + row[5] + "|" + row[6] + "|" + row[7] + "|" + row[8])
            << row.Where();
    }
    // Relative paths become absolute.
    fs::path old = fs::current_path();
    fs::current_path(dir.Path());
    Endpoint e;
    std::string error;
    ASSERT_TRUE(ParseEndpoint("contacts:list.csv", false, "", &e, &error)) << error;
    EXPECT_EQ(e.path, (fs::canonical(dir.Path()) / "list.csv").string());
    fs::current_path(old);
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

FILETIME At(int year, int month, int day, int hour, int minute) { return bvtest::UtcTime(year, month, day, hour, minute); }

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
    bvtest::WriteFileText(partFile, "abc");
    ASSERT_TRUE(com_AllocRecip(rec.get()));
    rec->recipCount = 1;
    snprintf(rec->recips[0]->addr, sizeof rec->recips[0]->addr, "b@example.org");
    rec->recips[0]->type = 3;

    // Zero, empty and 1601 values are left out; the digest in hex, parts with
    // the sha256 of their file.
    EXPECT_EQ(RecordToJson(rec.get(), work), nlohmann::json::parse(R"({"subject": "Hello", "fromAddr": "a@example.org",
        "date": "2024-01-15T14:00:00Z", "recurType": 2, "msgNumber": 4, "digest": "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf",
        "parts": [{"name": "note.txt", "partType": 1, "size": 3,
                   "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}],
        "recips": [{"addr": "b@example.org", "name": "", "type": 3, "status": 0}]})"));
    com_WriteNotes(rec.get(), "Call back\r\nsoon", work.c_str());
    EXPECT_EQ(RecordToJson(rec.get(), work)["notes"], "Call back\r\nsoon");

    com_Deallocate_All(rec.get(), work.c_str());
    com_Deallocate(rec.get(), work.c_str());
}

TEST(RecordJsonTest, TextThatIsNotUtf8StillDumpsAndIsoTimes) {
    auto rec = std::make_unique<mdat>();
    snprintf(rec->subject, sizeof rec->subject, "Gr\xFC\xDF");
    std::string line = RecordToJson(rec.get(), "/nonexistent/").dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    EXPECT_NE(line.find("\"subject\":\"Gr"), std::string::npos) << line;
    EXPECT_EQ(FileTimeToIso(At(2024, 2, 29, 23, 59)), "2024-02-29T23:59:00Z");
    EXPECT_EQ(FileTimeToIso(At(1969, 12, 31, 0, 0)), "1969-12-31T00:00:00Z");
    EXPECT_EQ(FileTimeToIso(FILETIME{0, 0}), "");
    EXPECT_EQ(FileTimeToIso(At(1601, 12, 31, 23, 0)), "");
}

}  // namespace
