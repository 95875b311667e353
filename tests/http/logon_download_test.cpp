// Logon with a web source: the built module downloads the address and logs
// on to the local copy. The module is loaded as a host loads it, so it has
// its own session, separate from the downloader linked into this test.
#include <gtest/gtest.h>

#include <memory>

#include "loopback.h"
#include "support/module_loader.h"

namespace {

using bvtest::LoopbackServer;
using bvtest::ReadFileText;
using bvtest::ScratchDir;

const char kContacts[] = "First Name,Last Name,E-mail Address\r\nAnna,Berg,anna@example.org\r\n";

int CallLogon(bvhost::ModuleInstance &m, std::string path, int adrType, const char *tag) {
    char pathBuf[BV_HOST_TEXT_LEN] = "";
    snprintf(pathBuf, sizeof pathBuf, "%s", path.c_str());
    char outText[BV_HOST_TEXT_LEN] = "x";
    int result = m.Logon(0, 0, pathBuf, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, 1, adrType, tag, 0);
    EXPECT_STREQ(outText, "");
    return result;
}

TEST(LogonDownload, WebSourceIsDownloadedAtLogon) {
#ifndef BV_MODULE_PATH
    GTEST_SKIP() << "the module is not part of this build";
#endif
    std::string error;
    std::unique_ptr<bvhost::ModuleInstance> module = bvtest::LoadModuleCopy(bvtest::BuildLibrary(), &error);
    ASSERT_NE(module, nullptr) << error;
    bvhost::ModuleInstance &m = *module;
    ScratchDir scratch;
    bvcom_SetSwitches("/CURLDEBUG");
    LoopbackServer server;
    server.Routes().Get("/user/admin/contacts", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kContacts, "text/csv");
    });
    server.Routes().Get("/user/admin/calendar", [](const httplib::Request &, httplib::Response &res) {
        res.status = 401;
    });
    server.Start();

    // The Zimbra form: address, administrator and password joined by '|'.
    std::string sourceText = server.Url("/user/admin/contacts?fmt=csv") + "|admin|secret";
    EXPECT_EQ(CallLogon(m, sourceText, 2, "CSVZ"), 0);
    EXPECT_EQ(ReadFileText(scratch.DownloadPath()), kContacts);
    m.Logoff(0);

    // A scheme in capitals is a web address too; the failed download is the
    // result of Logon and leaves no file.
    sourceText = "HTTP" + server.Url("/user/admin/calendar?fmt=ics").substr(4);
    EXPECT_EQ(CallLogon(m, sourceText, 99, "VCSZ"), 3);
    EXPECT_FALSE(std::filesystem::exists(scratch.DownloadPath()));
    m.Logoff(0);

    std::string log = scratch.Log();
    EXPECT_NE(log.find("curl debug: infotype=1: HTTP/1.1 200 OK"), std::string::npos);
    EXPECT_NE(log.find("BV Warning: CURL error=0, HTTP Response=401"), std::string::npos);
    auto seen = server.Seen();
    ASSERT_EQ(seen.size(), 2u) << log;
    EXPECT_EQ(seen[0].target, "/user/admin/contacts?fmt=csv");
    bvcom_SetSwitches("");
}

}  // namespace
