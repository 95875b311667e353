#include "mailstore_fixture.h"

#include <fstream>
#include <sstream>
#include "mime/mime.h"
#include "platform/platform.h"

namespace {

std::vector<std::string> *gFolderTexts;
HostSide *gHost;
int gStatusCalls;

int BV_CALL CollectFolder(const char *text) {
    gFolderTexts->push_back(text);
    return 0;
}

std::string PartText(mdat *rec, const char *workDir, int index) {
    if (index >= rec->partCount) return "";
    char path[1024];
    com_PartFileName(workDir, rec, index, path, sizeof(path));
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int BV_CALL CollectItem(mdat *rec, const char *, const char *workDir, int) {
    ReceivedItem item;
    item.subject = rec->subject;
    item.fromAddr = rec->fromAddr;
    item.unread = rec->unread;
    item.partCount = rec->partCount;
    item.headerPart = PartText(rec, workDir, 0);
    item.bodyPart = PartText(rec, workDir, 1);
    gHost->items.push_back(item);
    return 0;
}

int BV_CALL CollectStatus(mdat *, const char *, int status, int *, int *, int *stop) {
    gHost->statuses.push_back(status);
    gStatusCalls++;
    if (gHost->stopAfter >= 0 && gStatusCalls >= gHost->stopAfter) *stop = 1;
    return 0;
}

}  // namespace

void MailStoreTest::SetUp() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::path(BV_BINARY_DIR) / "test-scratch" / "mailstore" /
            (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(root_);
    store_ = root_ / "store";
    fs::create_directories(store_);
    fs::create_directories(root_ / "work");
    work_ = (root_ / "work").string() + "/";
    log_ = root_ / "test.log";
    bvcom_SetLogFile(log_.c_str());
    bvcom_SetWorkDir(work_.c_str());
    gAdrType = 0;
    gOeDirect = 1;
    gBvGui = gNoInventory = gLogUuid = gDebug = 0;
    gMaxRead = 1000000;
    gKerioDir[0] = 0;
    gFileFolderCount = 0;
    gOeApi = nullptr;
    gIcsListMade = 0;
}

void MailStoreTest::TearDown() {
    FreeFolderTable();
    FreeSegmentTable();
    FreeFileFolderTable();
    bvcom_SetLogFile(nullptr);
    if (!HasFailure()) fs::remove_all(root_);
}

std::string MailStoreTest::Quote(const fs::path &p) { return "'" + p.string() + "'"; }

int MailStoreTest::Tool(const std::string &name, const std::string &args) {
    std::string cmd = std::string(BV_TOOLS_DIR) + "/" + name + " " + args;
    return std::system(cmd.c_str());
}

fs::path MailStoreTest::WriteEml(const fs::path &dir, const std::string &name, const std::string &text) {
    fs::create_directories(dir);
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    fs::path p = dir / name;
    std::ofstream(p, std::ios::binary) << out;
    return p;
}

std::string MailStoreTest::Data(const std::string &name) { return ReadAll(fs::path(BV_MAILSTORE_DATA) / name); }

std::string MailStoreTest::ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string MailStoreTest::LogText() const { return ReadAll(log_); }

int MailStoreTest::CountInLog(const std::string &text) const {
    std::string log = LogText();
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) n++;
    return n;
}

std::vector<std::string> MailStoreTest::ListFolders(const fs::path &storeDir) {
    std::vector<std::string> texts;
    gFolderTexts = &texts;
    DiscoverFolders(storeDir.c_str(), CollectFolder);
    gFolderTexts = nullptr;
    return texts;
}

int MailStoreTest::ReadFolder(int index, HostSide *host) {
    static mdat record;
    memset(&record, 0, sizeof(record));
    gHost = host;
    gStatusCalls = 0;
    MailHandOver h;
    memset(&h, 0, sizeof(h));
    h.record = &record;
    h.itemCallback = CollectItem;
    h.itemHostValue = "";
    h.workDir = work_.c_str();
    h.statusCallback = CollectStatus;
    h.folderName = index < gFolderCount ? gFolderTable[index]->displayName : "";
    int result = ReadMailFolder(&h, index);
    itemsHandedOver_ = h.itemNumber;
    gHost = nullptr;
    return result;
}

void MailStoreTest::FreshWorkDir() {
    // The library keeps the register of a work directory it has read, so a
    // fresh register needs a directory of another name.
    static int serial;
    fs::path dir = root_ / ("work" + std::to_string(++serial));
    fs::create_directories(dir);
    work_ = dir.string() + "/";
    bvcom_SetWorkDir(work_.c_str());
}
