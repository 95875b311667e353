// Contact sources as the host meets them: web addresses that are downloaded
// first, and the folder list, the read and the write of whole sessions
// through bvhost (contacts from a file, an NK2 file, and "/ZFOLDERS" folders
// on a server).
#include <httplib.h>
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include "contact_test_support.h"
#include "support/program_run.h"

namespace contacts_test {
namespace {

// A server on 127.0.0.1 answering from its own thread while it lives.
class Server {
public:
    Server() {
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Server() {
        server_.stop();
        thread_.join();
    }
    void Serve(const std::string &path, const std::string &body) {
        server_.Get(path, [body](const httplib::Request &, httplib::Response &res) {
            res.set_content(body, "text/csv");
        });
    }
    std::string Url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
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
    Server server;
    server.Serve("/user/u/Contacts", kWorkCsv);
    int count = -1;
    auto contacts = Read(server.Url("/user/u/Contacts?fmt=csv"), &count);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(contacts[0]["emailAddr"], "wanda@work.example");
    EXPECT_EQ(std::string(gCurrentFile), downloads_ + "temp.vcs");

    // The label file is looked for in the download's directory.
    server.Serve("/plain", "Hans,Plain,hans@plain.example,Firma\r\n");
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

TEST_F(ContactHost, FolderListOfContactFiles) {
    // The CSVZ tag makes the session one of address type 2.
    std::string csv = WriteFile("src/outlook.csv", bvtest::ReadFileText(DataPath("outlook_export.csv")));
    EXPECT_EQ(Run("folders --tag CSVZ --source 'contacts:" + csv + "'"), "Contacts {BV:3:FCLASS:1}\n");
    std::string nk2 = BuildNK2("nk2_rows.txt", "src/Outlook.NK2");
    EXPECT_EQ(Run("folders --tag CSVZ --source 'contacts:" + nk2 + "'"), "Contacts {BV:5:FCLASS:1}\n");

    // Migrated into the address-book layout, NK2 entries keep their names.
    std::string target = dir_ + "/target/nk2.csv";
    Run("migrate --tag CSVZ --source 'contacts:" + nk2 + "' --target 'contacts:" + target + "'");
    std::string written = bvtest::ReadFileText(target);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 6);
    EXPECT_NE(written.find("\n\"Jane\",\"Doe\",\"\",\"/o=Org/ou=Admin/cn=Recipients/cn=jdoe\","), std::string::npos);
}

TEST_F(ContactHost, FoldersListedInZFoldersAreDownloadedOneByOne) {
    Server server;
    server.Serve("/user/u/Contacts", kWorkCsv);
    server.Serve("/user/u/Work", kWorkCsv);
    server.Serve("/user/u/Home", kHomeCsv);
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

}  // namespace
}  // namespace contacts_test
