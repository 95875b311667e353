// The mail hand-over, driven by a small reader of test records inside the
// test: HandOverMailRecord from bv_session with the real common library.
#include <vector>

#include "module/handover.h"
#include "module_fixture.h"
#include "platform/platform.h"

namespace bvtest {
namespace {

struct HostCalls {
    std::vector<std::string> events;  // "item:<subject>:<number>" and "status:<subject>:<status>"
    std::string refuseSubject;       // the item callback answers 1234 for it
    std::string stopAtSubject;       // the status callback sets the stop flag for it
    int itemHostValueSeen = 0;
};
HostCalls *gCalls;

int BV_CALL OnItem(mdat *rec, const char *hostValue, const char *, int itemNumber) {
    if (hostValue && strcmp(hostValue, "host-value") == 0) gCalls->itemHostValueSeen++;
    gCalls->events.push_back(std::string("item:") + rec->subject + ":" + std::to_string(itemNumber));
    EXPECT_EQ(rec->dataType, 0);
    return gCalls->refuseSubject == rec->subject ? BV_HOST_DID_NOT_TAKE : 0;
}

int BV_CALL OnStatus(mdat *rec, const char *text, int status, int *, int *, int *stop) {
    EXPECT_STREQ(text, "");
    gCalls->events.push_back(std::string("status:") + rec->subject + ":" + std::to_string(status));
    if (gCalls->stopAtSubject == rec->subject) *stop = 1;
    return 0;
}

class HandOverTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        gCalls = &calls_;
        rec_ = std::make_unique<mdat>();
        gMaxRead = 1000;
    }
    void TearDown() override {
        gCalls = nullptr;
        ModuleTest::TearDown();
    }

    // Fills the record as a reader would (with one part file) and hands it over.
    int Offer(MailHandOver &h, const std::string &subject, int number, int dataType = 0) {
        com_ResetObject(rec_.get());
        snprintf(rec_->subject, sizeof rec_->subject, "%s", subject.c_str());
        snprintf(rec_->messageId, sizeof rec_->messageId, "<%s@test>", subject.c_str());
        snprintf(rec_->fromAddr, sizeof rec_->fromAddr, "sender@example.org");
        SYSTEMTIME parts{};
        parts.wYear = 2020;
        parts.wMonth = 3;
        parts.wDay = (uint16_t)(1 + number);
        plat_SystemTimeToFileTime(&parts, &rec_->date);
        rec_->dataType = dataType;
        rec_->msgNumber = number;
        EXPECT_TRUE(com_AllocPart(rec_.get()));
        rec_->partCount = 1;
        char partFile[1024];
        com_PartFileName(work_.c_str(), rec_.get(), 0, partFile, sizeof partFile);
        WriteFileText(partFile, "body of " + subject + "\n");
        rec_->parts[0]->size = (int32_t)fs::file_size(partFile);
        lastPartFile_ = partFile;
        int header = 0;
        com_CalcMdatSize(rec_.get(), &header, &lastItemSize_);
        return HandOverMailRecord(&h);
    }

    MailHandOver NewHandOver() {
        MailHandOver h;
        memset(&h, 0, sizeof h);
        h.record = rec_.get();
        h.itemCallback = OnItem;
        h.itemHostValue = "host-value";
        h.workDir = work_.c_str();
        h.statusCallback = OnStatus;
        h.folderName = "Inbox";
        return h;
    }

    // Reads the subjects in order until the hand-over says stop.
    void ReadFolder(MailHandOver &h, const std::vector<std::string> &subjects) {
        for (size_t i = 0; i < subjects.size(); i++) {
            int stop = Offer(h, subjects[i], (int)i);
            EXPECT_FALSE(fs::exists(lastPartFile_)) << "parts are freed after every message";
            EXPECT_EQ(rec_->partCount, 0);
            if (stop) break;
        }
    }

    HostCalls calls_;
    std::unique_ptr<mdat> rec_;
    std::string lastPartFile_;
    int lastItemSize_ = 0;
};

TEST_F(HandOverTest, RefusedItemIsCountedButNotRegistered) {
    calls_.refuseSubject = "two";
    MailHandOver first = NewHandOver();
    ReadFolder(first, {"one", "two", "three"});
    EXPECT_EQ(calls_.events, (std::vector<std::string>{"item:one:0", "status:one:0", "item:two:1", "status:two:6",
                                                         "item:three:2", "status:three:0"}));
    EXPECT_EQ(first.itemNumber, 3) << "a refused item is still counted";
    EXPECT_EQ(calls_.itemHostValueSeen, 3);
    EXPECT_GT(first.sizeTotal, 0);

    // A second run over the same folder and work directory: what was taken is
    // a duplicate and is not counted; the refused item is offered again.
    calls_.events.clear();
    calls_.refuseSubject.clear();
    MailHandOver second = NewHandOver();
    ReadFolder(second, {"one", "two", "three"});
    EXPECT_EQ(calls_.events,
              (std::vector<std::string>{"status:one:1", "item:two:0", "status:two:0", "status:three:1"}));
    EXPECT_EQ(second.itemNumber, 1);

    // The register is per folder.
    calls_.events.clear();
    MailHandOver other = NewHandOver();
    other.folderName = "Sent";
    ReadFolder(other, {"one"});
    EXPECT_EQ(calls_.events, (std::vector<std::string>{"item:one:0", "status:one:0"}));
}

TEST_F(HandOverTest, SizeTotalSumsTheItemsHandedOver) {
    calls_.refuseSubject = "bb";
    MailHandOver h = NewHandOver();
    int expected = 0;
    const char *subjects[] = {"a", "bb", "a longer subject"};
    for (int i = 0; i < 3; i++) {
        Offer(h, subjects[i], i);
        expected += lastItemSize_;
    }
    EXPECT_EQ(h.sizeTotal, expected) << "refused items are sized too: they were handed over";
    EXPECT_GT(expected, 0);

    MailHandOver again = NewHandOver();
    Offer(again, "a", 0);
    EXPECT_EQ(again.sizeTotal, 0) << "a duplicate adds nothing";
}

TEST_F(HandOverTest, StopFlagEndsTheFolderAtTheNextMessage) {
    calls_.stopAtSubject = "one";
    MailHandOver h = NewHandOver();
    ReadFolder(h, {"one", "two", "three"});
    // The next message is only reported (with its status), then the folder ends.
    EXPECT_EQ(calls_.events, (std::vector<std::string>{"item:one:0", "status:one:0", "status:two:0"}));
    EXPECT_EQ(h.itemNumber, 1);
    EXPECT_EQ(h.stop, 1);
}

TEST_F(HandOverTest, MaxReadLimitsTheItemsHandedOver) {
    gMaxRead = 0;
    MailHandOver zero = NewHandOver();
    ReadFolder(zero, {"a", "b", "c"});
    EXPECT_EQ(zero.itemNumber, 1) << "0 stops after the first message handed over";
    EXPECT_EQ(calls_.events, (std::vector<std::string>{"item:a:0", "status:a:0"}));

    calls_.events.clear();
    gMaxRead = 2;
    MailHandOver two = NewHandOver();
    ReadFolder(two, {"d", "e", "f", "g"});
    EXPECT_EQ(two.itemNumber, 2);
    EXPECT_EQ(calls_.events, (std::vector<std::string>{"item:d:0", "status:d:0", "item:e:1", "status:e:0"}));

    // Skipped duplicates do not count towards the limit.
    calls_.events.clear();
    gMaxRead = 1;
    MailHandOver dup = NewHandOver();
    ReadFolder(dup, {"d", "e", "h", "i"});
    EXPECT_EQ(calls_.events,
              (std::vector<std::string>{"status:d:1", "status:e:1", "item:h:0", "status:h:0"}));
}

BvHostValue gFilterArgs[3];

int RejectSubjectsWithX(mdat *rec, BvHostValue a, BvHostValue b, BvHostValue c) {
    gFilterArgs[0] = a;
    gFilterArgs[1] = b;
    gFilterArgs[2] = c;
    return strchr(rec->subject, 'x') == nullptr;
}

// Date limit first, then the host's filter, then the register; none of the
// skipped messages reaches the item callback or the count.
TEST_F(HandOverTest, DateLimitAndFilterStatuses) {
    SYSTEMTIME from{};
    from.wYear = 2020;
    from.wMonth = 3;
    from.wDay = 3;
    FILETIME fromTime{};
    plat_SystemTimeToFileTime(&from, &fromTime);
    bvcom_SetDateRange(&fromTime, nullptr);
    bvcom_SetSearchFilter(RejectSubjectsWithX);

    MailHandOver h = NewHandOver();
    h.search1 = 11;
    h.search2 = 22;
    h.search3 = 33;
    // Offer dates message i on March (1 + i): the first two fall before the limit.
    ReadFolder(h, {"old x", "old", "new x", "new", "newer"});
    bvcom_SetDateRange(nullptr, nullptr);
    bvcom_SetSearchFilter(nullptr);

    EXPECT_EQ(calls_.events, (std::vector<std::string>{"status:old x:2", "status:old:2", "status:new x:6",
                                                         "item:new:0", "status:new:0", "item:newer:1",
                                                         "status:newer:0"}));
    EXPECT_EQ(h.itemNumber, 2);
    EXPECT_EQ(gFilterArgs[0], 11);
    EXPECT_EQ(gFilterArgs[1], 22);
    EXPECT_EQ(gFilterArgs[2], 33);
}

TEST_F(HandOverTest, RecordIsMarkedAsMail) {
    MailHandOver h = NewHandOver();
    Offer(h, "typed", 0, 3);  // OnItem checks dataType 0
    EXPECT_EQ(h.itemNumber, 1);
}

}  // namespace
}  // namespace bvtest
