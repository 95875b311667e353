// Contact sources as the host meets them: web addresses that are downloaded
// first, the folder list of the loaded module by address type, and the read
// and write of whole sessions through bvhost ("/ZFOLDERS" folders on a server).
#include <algorithm>

#include "contact_test_support.h"
#include "http/loopback.h"
#include "support/host_callbacks.h"
#include "support/module_loader.h"
#include "support/program_run.h"

namespace contacts_test {
namespace {

// A loopback server answering each path with its CSV text.
struct Server {
    explicit Server(const std::vector<std::pair<std::string, std::string>> &bodies) {
        for (const auto &[path, body] : bodies)
            server.Routes().Get(path, [body](const httplib::Request &, httplib::Response &res) {
                res.set_content(body, "text/csv");
            });
        server.Start();
    }
    std::string Url(const std::string &path) const { return server.Url(path); }
    bvtest::LoopbackServer server;
};

class ContactSources : public ContactTest {
protected:
    void SetUp() override {
        ContactTest::SetUp();
        downloads_ = dir_ + "/downloads/";
        WriteFile("downloads/.keep", "");
        bvcom_SetHostSetting(6, downloads_.c_str());
    }
    std::string downloads_;
};

const char kWorkCsv[] =
    "\"First Name\",\"Last Name\",\"E-mail Address\",\"Company\"\r\n"
    "\"Wanda\",\"Work\",\"wanda@work.example\",\"Acme\"\r\n"
    "\"Walt\",\"Work\",\"walt@work.example\",\"Acme\"\r\n";
const char kHomeCsv[] =
    "\"First Name\",\"Last Name\",\"E-mail Address\",\"Company\"\r\n"
    "\"Hilde\",\"Home\",\"hilde@home.example\",\"\"\r\n";

TEST_F(ContactSources, WebAddressIsDownloadedAndReadWithTheLabelsBesideIt) {
    Server server({{"/user/u/Contacts", kWorkCsv}, {"/plain", "Hans,Plain,hans@plain.example,Firma\r\n"}});
    int count = -1;
    auto contacts = Read(server.Url("/user/u/Contacts?fmt=csv"), &count);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(contacts[0]["emailAddr"], "wanda@work.example");
    EXPECT_EQ(std::string(gCurrentFile), downloads_ + "temp.vcs");

    // The label file is looked for in the download's directory.
    WriteFile("downloads/fieldlab.dat", "3\n1\n2\n");
    contacts = Read(server.Url("/plain"));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]["firstName"], "Hans");
    EXPECT_EQ(contacts[0]["emailAddr"], "hans@plain.example");

    // A failed download reads nothing.
    EXPECT_TRUE(Read(server.Url("/missing"), &count).empty());
    EXPECT_EQ(count, 0);
}

#ifdef BV_HOST_PATH
class ContactHost : public ContactSources {
protected:
    // Runs bvhost with the arguments; returns its standard output.
    std::string Run(const std::string &arguments) {
        std::string command = bvtest::ShellQuote(BV_HOST_PATH) + " " + arguments + " --work-dir " +
                              bvtest::ShellQuote(workDir_);
        bvtest::ProgramRun run = bvtest::RunProgram(command, dir_);
        EXPECT_EQ(run.status, 0) << command << "\n" << run.err;
        return run.out;
    }
};

TEST_F(ContactHost, FoldersListedInZFoldersAreDownloadedOneByOne) {
    Server server({{"/user/u/Contacts", kWorkCsv}, {"/user/u/Work", kWorkCsv}, {"/user/u/Home", kHomeCsv}});
    std::string list = WriteFile("zfolders.txt",
                                 "Zimbra folder list\r\nFolders:\r\nWork^/Work=2=1\r\nHome^/Home=1=1\r\n"
                                 "Calendar^/Calendar=4=2\r\n");
    std::string source = server.Url("/user/u/Contacts?fmt=csv");
    std::string switches = " --switches '/ZFOLDERS " + list + "'";
    EXPECT_EQ(Run("folders --tag CSVZ --source 'contacts:" + source + "'" + switches),
              "Work {BV:2:FCLASS:1}\nHome {BV:1:FCLASS:1}\n");

    std::string target = dir_ + "/target/zimbra.csv";
    Run("migrate --tag CSVZ --source 'contacts:" + source + "' --target 'contacts:" + target + "'" + switches);
    std::string written = bvtest::ReadFileText(target);
    // Each folder appends its header and its rows.
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 5);
    EXPECT_NE(written.find("\"Walt\",\"Work\",\"\",\"walt@work.example\""), std::string::npos);
    EXPECT_NE(written.find("\"Hilde\",\"Home\",\"\",\"hilde@home.example\""), std::string::npos);
}
#endif

#ifdef BV_MODULE_PATH
// Logon, then GetFolderNames: address types 2 and 10 list the file, others none.
TEST_F(ContactTest, AddressTypesListTheContactFile) {
    std::string error;
    std::unique_ptr<bvhost::ModuleInstance> module = bvtest::LoadModuleCopy(BV_MODULE_PATH, &error);
    ASSERT_NE(module, nullptr) << error;
    auto folders = [&](const std::string &path, int adrType) {
        char pathText[BV_PATH_LEN], outText[BV_HOST_TEXT_LEN] = "x", store[BV_PATH_LEN] = "";
        com_strncpy(pathText, path.c_str(), sizeof(pathText) - 1);
        EXPECT_EQ(module->Logon(0, 0, pathText, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, 1, adrType, "", 0), 0);
        bvtest::gCollectedFolderTexts.clear();
        module->GetFolderNames(store, bvtest::CollectFolderText);
        module->Logoff(0);
        return bvtest::gCollectedFolderTexts;
    };
    std::string csv = WriteFile("src/outlook.csv", bvtest::ReadFileText(DataPath("outlook_export.csv")));
    for (auto [adrType, listed] : {std::pair{2, true}, {10, true}, {1, false}, {5, false}})
        EXPECT_EQ(folders(csv, adrType),
                  listed ? std::vector<std::string>{"Contacts {BV:3:FCLASS:1}"} : std::vector<std::string>{})
            << adrType;
    EXPECT_EQ(folders(BuildNK2("nk2_rows.txt", "src/Outlook.nk2"), 10),
              (std::vector<std::string>{"Contacts {BV:5:FCLASS:1}"}));
}

#endif

}  // namespace
}  // namespace contacts_test
