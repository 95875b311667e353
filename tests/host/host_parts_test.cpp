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

TEST(EndpointTest, KindsOfTheTable) {
    bvtest::TempDir dir;
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

// Records as JSON through bvhost: data/scenarios (fields, parts and their
// digests, recipients, notes).
FILETIME At(int year, int month, int day, int hour, int minute) { return bvtest::UtcTime(year, month, day, hour, minute); }

TEST(RecordJsonTest, DigestInHexNothingForZeroOr1601) {
    auto rec = std::make_unique<mdat>();
    rec->startTime = At(1601, 6, 1, 0, 0);
    rec->recurType = 2;
    for (int i = 0; i < 16; i++) rec->digest[i] = (uint8_t)(i * 17);
    EXPECT_EQ(RecordToJson(rec.get(), "/nonexistent/").dump(), R"({"digest":"00112233445566778899aabbccddeeff","recurType":2})");
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
