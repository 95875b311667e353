// The mail hand-over, driven by a small reader of test records inside the
// test: HandOverMailRecord from bv_session with the real common library, over
// the folder runs of data/handover.tsv.
#include <sstream>
#include <vector>

#include "module/handover.h"
#include "module_fixture.h"
#include "platform/platform.h"
#include "support/case_table.h"

namespace bvtest {
namespace {

struct HostCalls {
    std::string events, refuse, stopAt;  // events: "item:<subject>:<number> status:<subject>:<status> ..."
    int hostValueSeen = 0, sizeTaken = 0, lastSize = 0;
    BvHostValue filterArgs[3] = {0, 0, 0};
};
HostCalls *gCalls;

int BV_CALL OnItem(mdat *rec, const char *hostValue, const char *, int itemNumber) {
    gCalls->hostValueSeen += hostValue && strcmp(hostValue, "host-value") == 0;
    gCalls->events += std::string(" item:") + rec->subject + ":" + std::to_string(itemNumber);
    gCalls->sizeTaken += gCalls->lastSize;
    EXPECT_EQ(rec->dataType, 0) << "the record is marked as mail";
    return gCalls->refuse == rec->subject ? BV_HOST_DID_NOT_TAKE : 0;
}

int BV_CALL OnStatus(mdat *rec, const char *text, int status, int *, int *, int *stop) {
    EXPECT_STREQ(text, "");
    gCalls->events += std::string(" status:") + rec->subject + ":" + std::to_string(status);
    if (gCalls->stopAt == rec->subject) *stop = 1;
    return 0;
}

int RejectSubjectsWithX(mdat *rec, BvHostValue a, BvHostValue b, BvHostValue c) {
    gCalls->filterArgs[0] = a, gCalls->filterArgs[1] = b, gCalls->filterArgs[2] = c;
    return strchr(rec->subject, 'x') == nullptr;
}

class HandOverTest : public ModuleTest {
protected:
    // Fills the record as a reader would, with one part file, and hands it over.
    int Offer(MailHandOver &h, const std::string &subject, int number, const std::string &work, int dataType) {
        com_ResetObject(rec_.get());
        snprintf(rec_->subject, sizeof rec_->subject, "%s", subject.c_str());
        snprintf(rec_->messageId, sizeof rec_->messageId, "<%s@test>", subject.c_str());
        snprintf(rec_->fromAddr, sizeof rec_->fromAddr, "sender@example.org");
        SYSTEMTIME day{};
        day.wYear = 2020, day.wMonth = 3, day.wDay = (uint16_t)(1 + number);
        plat_SystemTimeToFileTime(&day, &rec_->date);
        rec_->dataType = dataType;
        rec_->msgNumber = number;
        EXPECT_TRUE(com_AllocPart(rec_.get()));
        rec_->partCount = 1;
        char partFile[1024];
        com_PartFileName(work.c_str(), rec_.get(), 0, partFile, sizeof partFile);
        WriteFileText(partFile, "body of " + subject + "\n");
        rec_->parts[0]->size = (int32_t)fs::file_size(partFile);
        int header = 0;
        com_CalcMdatSize(rec_.get(), &header, &calls_.lastSize);
        int stop = HandOverMailRecord(&h);
        EXPECT_FALSE(fs::exists(partFile)) << "parts are freed after every message";
        EXPECT_EQ(rec_->partCount, 0);
        return stop;
    }
    std::unique_ptr<mdat> rec_ = std::make_unique<mdat>();
    HostCalls calls_;
};

TEST_F(HandOverTest, FolderRunsCallTheHostAsExpected) {
    gCalls = &calls_;
    std::string work;
    int runs = 0;
    for (const CaseRow &row : ReadCaseTable(BV_MODULE_DATA "/handover.tsv")) {
        std::istringstream settings(row[0]);
        calls_ = HostCalls();
        gMaxRead = 1000;
        std::string folder = "Inbox";
        bool filter = false;
        int dataType = 0;
        for (std::string s; settings >> s;) {
            std::string value = s.substr(s.find('=') + 1);
            if (s == "fresh") work = scratch_.SubDir("run" + std::to_string(runs));
            if (s == "fresh" || s == "reload") bvcom_SetWorkDir(work.c_str());  // the register from its file only
            if (s.rfind("refuse=", 0) == 0) calls_.refuse = value;
            if (s.rfind("stop=", 0) == 0) calls_.stopAt = value;
            if (s.rfind("maxread=", 0) == 0) gMaxRead = std::stoi(value);
            if (s.rfind("folder=", 0) == 0) folder = value;
            if (s.rfind("from=", 0) == 0) {
                FILETIME from = com_Create_FileTime(3, std::stoi(value), 2020, 0, 0, 0);
                bvcom_SetDateRange(&from, nullptr);
            }
            filter |= s == "filter";
            if (s == "typed") dataType = 3;
        }
        bvcom_SetSearchFilter(filter ? RejectSubjectsWithX : nullptr);
        MailHandOver h{};
        h.record = rec_.get(), h.itemCallback = OnItem, h.itemHostValue = "host-value", h.workDir = work.c_str();
        h.statusCallback = OnStatus, h.folderName = folder.c_str(), h.search1 = 11, h.search2 = 22, h.search3 = 33;
        std::istringstream subjects(row[1]);
        int number = 0;
        for (std::string subject; std::getline(subjects, subject, ',');)
            if (Offer(h, subject, number++, work, dataType)) break;
        bvcom_SetDateRange(nullptr, nullptr);
        bvcom_SetSearchFilter(nullptr);

        EXPECT_EQ(calls_.events.substr(1), row[2]) << row.Where();
        EXPECT_EQ(h.itemNumber, row.Int(3)) << row.Where();
        EXPECT_EQ(calls_.hostValueSeen, CountOf(row[2], "item:")) << row.Where();
        EXPECT_EQ(h.sizeTotal, calls_.sizeTaken) << row.Where() << ": what reached the host, refused or not";
        EXPECT_EQ(h.stop, calls_.stopAt.empty() ? 0 : 1) << row.Where();
        if (filter) {
            EXPECT_EQ(std::vector<BvHostValue>(calls_.filterArgs, calls_.filterArgs + 3),
                      (std::vector<BvHostValue>{11, 22, 33})) << "the host's three search values";
        }
        runs++;
    }
    gCalls = nullptr;
}

}  // namespace
}  // namespace bvtest
