// DownloadSourceFile, DownloadEntry and EncodeUrl against real servers
// on 127.0.0.1.
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <random>
#include <thread>

#include "http/http.h"
#include "support/case_table.h"
#include "loopback.h"
#include "module/session.h"

namespace {

using bvtest::Base64;
using bvtest::CountOf;
using bvtest::LoopbackServer;
using bvtest::ReadFileText;
using bvtest::ScratchDir;

const char kCalendar[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:Team meeting\r\n"
    "DTSTART:20240115T140000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

// Answers GET requests for the pattern with the calendar.
void ServeCalendar(LoopbackServer &server, const char *pattern) {
    server.Routes().Get(pattern, [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kCalendar, "text/calendar");
    });
}

class Download : public ::testing::Test {
  protected:
    void SetUp() override {
        gCurlDebug = 0;
        gInsecureTls = 0;
        gDebug = 0;
        gIcsListMade = 0;
        strcpy(gOutputPath, "unchanged");
        strcpy(gSourcePath, "unchanged");
    }
    void TearDown() override { gCurlDebug = 0; }
    ScratchDir scratch_;
};

TEST_F(Download, EncodeUrlEscapesWhatAnAddressCannotHold) {
    char text[BV_HTTP_URL_LEN + 1];
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_HTTP_DATA "/encode_url.tsv")) {
        strcpy(text, row[0].c_str());
        EncodeUrl(text, sizeof text);
        EXPECT_EQ(text, row[1]) << row.Where();
    }
    EXPECT_NE(scratch_.Log().find("BV Warning: not an address is not a valid address"), std::string::npos);
    // Encoded past the buffer: left whole as given, with a warning.
    std::string spaces = "http://host/" + std::string(500, ' ');
    strcpy(text, spaces.c_str());
    EncodeUrl(text, sizeof text);
    EXPECT_EQ(std::string(text), spaces);
    EXPECT_NE(scratch_.Log().find("BV Warning: address too long once encoded"), std::string::npos);
}

// Every route of the download table.
void ServeDownloads(LoopbackServer &server, const std::string &binary) {
    for (const char *path : {"/calendar.ics", "/new.ics", R"(/user/.*)", "/only-user"}) ServeCalendar(server, path);
    server.Routes().Get(R"(/cal/.*)", [](const httplib::Request &req, httplib::Response &res) {
        if (req.path == "/cal/gone.ics") res.status = 404;
        else res.set_content("entry " + req.path, "text/calendar");
    });
    server.Routes().Get("/old.ics", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/new.ics", 302);
    });
    server.Routes().Get("/loop", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/loop", 302);
    });
    server.Routes().Get("/private.ics", [](const httplib::Request &, httplib::Response &res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"calendar\"");
        res.set_content("<html>unauthorized</html>", "text/html");
    });
    server.Routes().Get("/truncated.ics", [](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(1 << 20, "text/calendar", [](size_t offset, size_t, httplib::DataSink &sink) {
            return offset == 0 && sink.write(kCalendar, strlen(kCalendar));
        });
    });
    server.Routes().Get("/big.bin", [&binary](const httplib::Request &, httplib::Response &res) {
        res.set_content(binary, "application/octet-stream");
    });
    // Servers that would keep a download busy without end; each stops on its
    // own after a few seconds, so a download that does not end on its side
    // cannot hang the test either.
    server.Routes().Get("/silent", [](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::seconds(3));  // connects, answers too late
        res.set_content(kCalendar, "text/calendar");
    });
    server.Routes().Get("/trickle", [](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("text/calendar", [](size_t, httplib::DataSink &sink) {
            for (int i = 0; i < 14 && sink.is_writable(); i++) {  // four bytes a second
                if (!sink.write("B", 1)) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
            sink.done();
            return true;
        });
    });
    server.Routes().Get("/endless", [](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("text/calendar", [](size_t, httplib::DataSink &sink) {
            static const std::string block(65536, 'x');
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
            while (std::chrono::steady_clock::now() < until && sink.is_writable())
                if (!sink.write(block.data(), block.size())) return false;
            sink.done();
            return true;
        });
    });
}

TEST_F(Download, SourcesOfTheTableArriveOrFailCleanly) {
    std::string binary(5 * 1024 * 1024 + 17, '\0');
    std::mt19937 rng(1234);
    for (char &c : binary) c = (char)(rng() & 0xFF);
    LoopbackServer server;
    ServeDownloads(server, binary);
    server.Start();
    bvcom_SetHostSetting(BVCOM_SETTING_DOWNLOAD_STALL_SECONDS, "2");
    bvcom_SetHostSetting(BVCOM_SETTING_DOWNLOAD_MAX_BYTES, "6000000");
    for (const bvtest::CaseRow &row : bvtest::ReadCaseTable(BV_HTTP_DATA "/downloads.tsv")) {
        std::string source = row[0];
        source.replace(0, 5, server.Url(""));
        ASSERT_EQ(DownloadSourceFile(server.Url("/calendar.ics").c_str()), 0);  // an earlier download
        strcpy(gOutputPath, "unchanged");
        strcpy(gSourcePath, "unchanged");
        size_t seenBefore = server.Seen().size(), logBefore = scratch_.Log().size();
        gIcsListMade = 1;
        gCurlDebug = row[7] == "debug";
        std::thread stopper;  // the host asks to stop while the transfer runs
        if (row[7] == "stop") stopper = std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            bvcom_SetStopRequest(1);
        });
        auto started = std::chrono::steady_clock::now();
        bool entry = row[7].rfind("entry:", 0) == 0;  // an entry of the listing at the source
        char entryPath[BV_PATH_LEN] = "";
        int result = entry ? DownloadEntry(source.c_str(), row[7].substr(6).c_str(), entryPath)
                           : DownloadSourceFile(source.c_str());
        EXPECT_EQ(result, row.Int(1)) << row.Where();
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (stopper.joinable()) stopper.join();
        bvcom_SetStopRequest(0);
        gCurlDebug = 0;
        EXPECT_LT(took, row[8].empty() ? 4.5 : atof(row[8].c_str())) << row.Where();
        EXPECT_EQ(std::to_string(gHttpStatus), row[2]) << row.Where();
        auto seen = server.Seen();
        ASSERT_GT(seen.size(), seenBefore) << row.Where();
        EXPECT_EQ(seen[seenBefore].target, row[3]) << row.Where();
        EXPECT_EQ(seen[seenBefore].authorization, "Basic " + Base64(row[4])) << row.Where();
        EXPECT_EQ(seen[seenBefore].userAgent, "vexalin-agent/1.0");
        std::string log = scratch_.Log().substr(logBefore);
        EXPECT_EQ(log.find(row[5].empty() ? "BV Warning" : row[5]) != std::string::npos, !row[5].empty()) << row.Where() << log;
        EXPECT_EQ(log.find("curl debug: infotype=2: GET " + row[3] + " HTTP/1.1") != std::string::npos, row[7] == "debug")
            << row.Where() << log;
        EXPECT_EQ(gDownloadFile, nullptr);
        EXPECT_EQ(gCurl, nullptr);
        if (row[6] == "none") {
            EXPECT_FALSE(std::filesystem::exists(scratch_.DownloadPath())) << row.Where();
            EXPECT_STREQ(gOutputPath, "unchanged");
            EXPECT_STREQ(gSourcePath, "unchanged");
            continue;
        }
        std::string body = row[6] == "binary" ? binary : row[6] == "calendar" ? kCalendar : row[6];
        EXPECT_TRUE(ReadFileText(scratch_.DownloadPath()) == body) << row.Where();
        if (entry) {  // an entry download keeps the session's source and listing
            EXPECT_EQ(entryPath, scratch_.DownloadPath());
            EXPECT_STREQ(gOutputPath, "unchanged");
            EXPECT_EQ(gIcsListMade, 1);
            continue;
        }
        EXPECT_STREQ(gOutputPath, scratch_.DownloadPath().c_str());
        EXPECT_STREQ(gSourcePath, scratch_.DownloadPath().c_str());
        EXPECT_EQ(gIcsListMade, 0) << "a new source needs a new listing";
    }
    bvcom_SetHostSetting(BVCOM_SETTING_DOWNLOAD_STALL_SECONDS, nullptr);
    bvcom_SetHostSetting(BVCOM_SETTING_DOWNLOAD_MAX_BYTES, nullptr);
    size_t loopRequests = 0;
    for (const auto &r : server.Seen()) loopRequests += r.target == "/loop";
    EXPECT_EQ(loopRequests, 51u);
}

TEST_F(Download, RefusedConnectionIsTriedFiveTimesWithPauses) {
    int port = bvtest::UnusedPort();
    ASSERT_GT(port, 0);
    gCurlDebug = 1;
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/calendar.ics";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadSourceFile(url.c_str()), 3);
    auto elapsed = std::chrono::steady_clock::now() - start;

    std::string log = scratch_.Log();
    // One connection attempt is traced per try.
    EXPECT_EQ(CountOf(log, "Trying 127.0.0.1:" + std::to_string(port)), 5) << log;
    EXPECT_EQ(CountOf(log, "BV Warning: Max HTTP retries reached, res=7"), 1);
    EXPECT_NE(log.find("BV Warning: CURL error=7, HTTP Response=0"), std::string::npos);
    // A 100 ms pause follows each refused attempt (a lower bound only).
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 500);
    EXPECT_EQ(gCurlResult, 7);
    EXPECT_FALSE(std::filesystem::exists(scratch_.DownloadPath()));
}

TEST_F(Download, SelfSignedHttpsIsRefusedUnlessInsecure) {
    std::string cert, key;
    ASSERT_TRUE(bvtest::MakeSelfSignedCertificate(scratch_.Root(), &cert, &key)) << "openssl tool failed";
    auto ssl = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    ASSERT_TRUE(ssl->is_valid());
    LoopbackServer server(std::move(ssl), "https");
    ServeCalendar(server, "/secure.ics");
    server.Start();
    std::string sourceText = server.Url("/secure.ics") + "|admin|secret";

    // Verified by default: the credentials never reach an unproven server.
    EXPECT_EQ(DownloadSourceFile(sourceText.c_str()), 3);
    EXPECT_NE(scratch_.Log().find("could not be verified"), std::string::npos) << scratch_.Log();
    EXPECT_NE(scratch_.Log().find("bvhost --insecure"), std::string::npos);
    EXPECT_TRUE(server.Seen().empty());
    EXPECT_FALSE(std::filesystem::exists(scratch_.DownloadPath()));

    gInsecureTls = 1;
    EXPECT_EQ(DownloadSourceFile(sourceText.c_str()), 0) << scratch_.Log();
    gInsecureTls = 0;
    EXPECT_EQ(ReadFileText(scratch_.DownloadPath()), kCalendar);
    auto seen = server.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].authorization, "Basic " + Base64("admin:secret"));
}

TEST_F(Download, UnwritableDownloadDirectoryEndsWithoutTransfer) {
    LoopbackServer server;
    ServeCalendar(server, "/calendar.ics");
    server.Start();
    std::string missing = (scratch_.Root() / "no-such-dir").string() + "/";
    bvcom_SetHostSetting(6, missing.c_str());
    EXPECT_EQ(DownloadSourceFile(server.Url("/calendar.ics").c_str()), 3);
    EXPECT_TRUE(server.Seen().empty());
    EXPECT_STREQ(gOutputPath, "unchanged");
    EXPECT_EQ(gDownloadFile, nullptr);
}

}  // namespace
