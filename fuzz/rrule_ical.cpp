// libFuzzer harness: iCalendar RRULE texts through ParseRRuleICal, then the
// record back to an RRULE (com_Genrrule) and its occurrence count.
#include "fuzz/cal_time_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < caltimefuzz::kHeader) return 0;
    static mdat rec;
    caltimefuzz::Prepare(data, &rec);
    std::string text = "FREQ=" + caltimefuzz::Text(data, size);
    ParseRRuleICal(text.c_str(), &rec);
    CheckRecurEnd(&rec);
    char rule[512];
    com_Genrrule(&rec, rule);
    if (strnlen(rule, sizeof(rule)) >= sizeof(rule)) abort();
    com_SetExDates(text.c_str(), "");
    com_ExpandRecur(&rec, "");
    com_Deallocate_All(&rec, "");
    return 0;
}
