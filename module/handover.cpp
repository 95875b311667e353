// The hand-over of one parsed mail record to the host. Every mail reader calls
// HandOverMailRecord once per message it parsed; the order of the checks and
// callbacks below is what the host relies on.
#include "module/handover.h"

namespace {

// Status of a message before it is offered to the host: the date limit, the
// host's filter, then the duplicate register.
int PreCheckStatus(MailHandOver *h) {
    if (com_Check_MaxMsgDate(h->record, h->dateHostValue) == 0) return BV_STATUS_DATE_LIMIT;
    if (com_SearchMsg(h->record, h->workDir, h->search1, h->search2, h->search3) == 0) return BV_STATUS_EXCLUDED;
    if (com_MsgIsDuplicate(h->record, h->workDir, BV_DUP_CHECK, h->folderName) != 0) return BV_STATUS_DUPLICATE;
    return BV_STATUS_HANDED_OVER;
}

void ReportStatus(MailHandOver *h, int status) {
    if (h->statusCallback) h->statusCallback(h->record, "", status, &h->statusA, &h->statusB, &h->stop);
}

}  // namespace

extern "C" void FreeRecordParts(mdat *rec, const char *workDir) {
    com_Deallocate_All(rec, workDir);
    com_Deallocate(rec, workDir);
}

extern "C" int ReportFailedMailItem(MailHandOver *h) {
    ReportStatus(h, BV_STATUS_FAILED);
    FreeRecordParts(h->record, h->workDir);
    return h->stop ? 1 : 0;
}

extern "C" int HandOverMailRecord(MailHandOver *h) {
    mdat *rec = h->record;
    int status = PreCheckStatus(h);

    // A skipped message, or any message once the host asked to stop, is only
    // reported; it is not counted.
    if (status != BV_STATUS_HANDED_OVER || h->stop) {
        ReportStatus(h, status);
        FreeRecordParts(rec, h->workDir);
        return h->stop ? 1 : 0;
    }

    int headerSize = 0;
    int itemSize = 0;
    com_CalcMdatSize(rec, &headerSize, &itemSize);
    h->sizeTotal += itemSize;
    rec->dataType = BV_DATA_MAIL;
    com_AttachSize(rec, h->workDir, h->itemNumber, h->attachHostValue);
    com_AddressTranslate(rec);

    int answer = h->itemCallback ? h->itemCallback(rec, h->itemHostValue, h->workDir, h->itemNumber) : 0;
    if (answer == BV_HOST_DID_NOT_TAKE) {
        status = BV_STATUS_EXCLUDED;
    } else {
        com_MsgIsDuplicate(rec, h->workDir, BV_DUP_REGISTER, h->folderName);
    }

    ReportStatus(h, status);
    FreeRecordParts(rec, h->workDir);
    h->itemNumber++;
    // gMaxRead counts from the first message handed over: 0 and 1 both stop
    // after one.
    return h->itemNumber >= gMaxRead ? 1 : 0;
}
