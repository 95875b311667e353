// libFuzzer harness: vCalendar 1.0 rule texts ("W2 MO WE #10") through
// ParseRecurRule, then the record back to an RRULE and its occurrence count.
#include "fuzz/cal_time_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < caltimefuzz::kHeader + 1) return 0;
    static mdat rec;
    caltimefuzz::Prepare(data, &rec);
    static const char kLetters[] = "DWMY";
    std::string text = caltimefuzz::Text(data, size);
    if (text.empty()) return 0;
    text[0] = kLetters[(uint8_t)text[0] % 4];
    ParseRecurRule(text.c_str(), &rec);
    CheckRecurEnd(&rec);
    char rule[512];
    com_Genrrule(&rec, rule);
    if (strnlen(rule, sizeof(rule)) >= sizeof(rule)) abort();
    com_ExpandRecur(&rec, "");
    com_Deallocate_All(&rec, "");
    return 0;
}
