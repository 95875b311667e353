#include "mailstore_fixture.h"

#include "host/record_json.h"
#include "mailstore/store_dir.h"
#include "support/file_text.h"
#include "support/host_callbacks.h"
#include "support/program_run.h"

namespace {

HostSide *gHost;
int gStatusCalls;

int BV_CALL CollectItem(mdat *rec, const char *, const char *workDir, int) {
    ReceivedItem item;
    item.subject = rec->subject;
    item.unread = rec->unread;
    item.json = bvhost::RecordToJson(rec, workDir).dump();
    item.bodyPart = bvtest::PartFileText(rec, workDir, 1);
    for (int i = 2; i < rec->partCount; i++) item.laterParts += bvtest::PartFileText(rec, workDir, i);
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

std::string MailStoreTest::Quote(const fs::path &p) { return bvtest::ShellQuote(p.string()); }

int MailStoreTest::Tool(const std::string &name, const std::string &args) {
    std::string cmd = Quote(fs::path(BV_TOOLS_DIR) / name) + " " + args;
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
    bvtest::WriteFileText(p, out);
    return p;
}

void MailStoreTest::WriteDbx(const std::string &file, const std::vector<std::string> &texts, const std::string &options,
                             const std::string &writer) {
    fs::path in = root_ / ("in-" + file);
    fs::remove_all(in);
    for (size_t i = 0; i < texts.size(); i++) WriteEml(in, NumberedEml(1000 + i), texts[i]);
    ASSERT_EQ(Tool(writer, options + " " + Quote(store_ / file) + " " + Quote(in)), 0);
}

std::string MailStoreTest::Data(const std::string &name) {
    return bvtest::ReadFileText(fs::path(BV_MAILSTORE_DATA) / name);
}

std::string MailStoreTest::NumberedEml(size_t number) { return "m" + std::to_string(number) + ".eml"; }

std::string MailStoreTest::LogText() const { return bvtest::ReadFileText(log_); }

int MailStoreTest::CountInLog(const std::string &text) const { return bvtest::CountOf(LogText(), text); }

std::vector<std::string> MailStoreTest::ListFolders(const fs::path &storeDir) {
    bvtest::gCollectedFolderTexts.clear();
    DiscoverFolders(storeDir.c_str(), bvtest::CollectFolderText);
    return bvtest::gCollectedFolderTexts;
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

int MailStoreTest::ReadContacts(int index, HostSide *host) {
    static mdat record;
    gHost = host;
    int count = 0;
    ReadStoreDirContacts(index, &record, CollectItem, work_.c_str(), &count, CollectStatus);
    gHost = nullptr;
    return count;
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
