// One CSV field into the contact record: plain copies with their limits,
// distribution-list members, the list name, birthdays and notes.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include "contacts/contacts.h"

namespace {

const int kListMemberType = 3;       // recipient type of a list member
const int kBirthdayYearFirst = 1000;  // a leading number this large is a year
const size_t kMemberLen = 1024;       // one member of a dlist field

// A plain copy of a column into a record text, with its limit.
struct PlainField {
    int column;
    size_t offset;
    size_t limit;
    const char *name;  // for the warning when a value is cut
};

#define FIELD(column, member, limit) {column, offsetof(mdat, member), limit, #member}
// In the order the fields are filled; the full name, birthday, notes and the
// list columns are handled around this table.
const PlainField kEmailFields[] = {
    FIELD(CC_EMAIL, emailAddr, 128),
    FIELD(CC_EMAIL_2, email2Addr, 128),
    FIELD(CC_EMAIL_3, email3Addr, 128),
    FIELD(CC_FIRST_NAME, firstName, 63),
    FIELD(CC_LAST_NAME, lastName, 63),
};
const PlainField kNameAndPhoneFields[] = {
    FIELD(CC_BUSINESS_PHONE, businessPhone, 63), FIELD(CC_BUSINESS_FAX, businessFax, 63),
    FIELD(CC_SUFFIX, suffix, 7),                 FIELD(CC_COURTESY_TITLE, courtesyTitle, 7),
    FIELD(CC_MIDDLE_NAME, middleName, 63),
};
const PlainField kCompanyAndAddressFields[] = {
    FIELD(CC_COMPANY, company, 63),
    FIELD(CC_JOB_TITLE, title, 63),
    FIELD(CC_BUSINESS_STREET, businessStreet, 63),
    FIELD(CC_BUSINESS_CITY, businessCity, 63),
    FIELD(CC_BUSINESS_STATE, businessState, 63),
    FIELD(CC_BUSINESS_POSTAL_CODE, businessPostalCode, 63),
    FIELD(CC_BUSINESS_COUNTRY, businessCountry, 63),
    FIELD(CC_MOBILE_PHONE, mobilePhone, 63),
    FIELD(CC_HOME_PHONE, homePhone, 63),
    FIELD(CC_HOME_STREET, homeStreet, 63),
    FIELD(CC_HOME_CITY, homeCity, 63),
    FIELD(CC_HOME_POSTAL_CODE, homePostalCode, 63),
    FIELD(CC_HOME_STATE, homeState, 63),
    FIELD(CC_HOME_COUNTRY, homeCountry, 63),
    FIELD(CC_DEPARTMENT, department, 63),
};
#undef FIELD

template <size_t N>
void CopyPlainFields(const PlainField (&table)[N], const ContactLabels *labels, int column, const char *field,
                     mdat *record) {
    for (const PlainField &plain : table)
        if (labels->column[plain.column] == column)
            bvcom_CopyField(reinterpret_cast<char *>(record) + plain.offset, field, plain.limit, plain.name);
}

}  // namespace

extern "C" {

void AddListMember(mdat *record, const char *member) {
    char addr[BV_LIST_ADDR_LEN + 1];
    const char *open = strchr(member, '<');
    if (open) {
        const char *close = strchr(open + 1, '>');
        size_t length = close ? (size_t)(close - open - 1) : strlen(open + 1);
        if (length > BV_LIST_ADDR_LEN) length = BV_LIST_ADDR_LEN;
        memcpy(addr, open + 1, length);
        addr[length] = '\0';
    } else {
        com_strncpy(addr, member, BV_LIST_ADDR_LEN);
    }

    char name[kMemberLen];
    com_strncpy(name, member[0] == '"' ? member + 1 : member, sizeof(name) - 1);
    if (member[0] == '"') {
        char *quote = strchr(name, '"');
        if (quote) *quote = '\0';
    }
    char *angle = strchr(name, '<');
    if (angle) *angle = '\0';
    com_rtrim(addr);
    com_rtrim(name);
    if (!name[0]) com_strncpy(name, addr, sizeof(name) - 1);

    if (record->recipCount >= BV_MAX_RECIPS || !com_AllocRecip(record)) return;
    mrecip *recip = record->recips[record->recipCount];
    if (!recip) return;
    recip->type = kListMemberType;
    com_strncpy(recip->name, name, BV_LIST_NAME_LEN);
    com_strncpy(recip->addr, addr, BV_LIST_ADDR_LEN);
    record->recipCount++;
}

void AddListMembers(mdat *record, const char *field) {
    char member[kMemberLen];
    size_t length = 0;
    bool inQuotes = false;
    const char *cursor = field;
    for (;; cursor++) {
        char c = *cursor;
        if (c == '"') inQuotes = !inQuotes;
        if (c == '\0' || (c == ',' && !inQuotes)) {
            member[length] = '\0';
            if (member[0]) AddListMember(record, member);
            length = 0;
            if (c == '\0') break;
            if (cursor[1] == ' ') cursor++;
            continue;
        }
        if (length < sizeof(member) - 1) member[length++] = c;
    }
    record->itemFlag = 1;
}

void RewriteBirthday(char *text, size_t capacity) {
    int year = atoi(text);
    if (year < kBirthdayYearFirst) return;
    char separator = '-';
    const char *afterYear = strchr(text, separator);
    if (!afterYear) {
        separator = '/';
        afterYear = strchr(text, separator);
    }
    if (!afterYear) return;
    const char *afterMonth = strchr(afterYear + 1, separator);
    if (!afterMonth) return;
    int month = atoi(afterYear + 1);
    int day = atoi(afterMonth + 1);
    bv_snprintf(text, capacity, "%d/%d/%d", month, day, year);
}

// Notes are kept up to the notes buffer (the original cut them at 1023
// bytes, which lost text without a word); what is longer is cut, warned.
static void TakeNotes(const char *field, const mdat *record) {
    size_t len = strlen(field);
    com_strncpy(gNotes, field, BV_CSV_NOTES_CUT);
    if (len > BV_CSV_NOTES_CUT)
        com_Log("BV Warning: contact %s %s <%s>: notes of %d bytes cut to %d", record->firstName, record->lastName,
                record->emailAddr, (int)len, BV_CSV_NOTES_CUT);
}

void AssignCsvField(const ContactLabels *labels, int column, const char *field, mdat *record, char *fullName) {
    if (labels->column[CC_DLIST] == column && field[0]) AddListMembers(record, field);
    if (labels->column[CC_NICKNAME] == column && record->itemFlag == 1)
        com_strncpy(record->title, field, sizeof(record->title) - 1);
    CopyPlainFields(kEmailFields, labels, column, field, record);
    if (labels->column[CC_FULL_NAME] == column) com_strncpy(fullName, field, BV_CSV_FULLNAME_LEN - 1);
    CopyPlainFields(kNameAndPhoneFields, labels, column, field, record);
    if (labels->column[CC_BIRTHDAY] == column) {
        com_strncpy(record->birthday, field, 63);
        RewriteBirthday(record->birthday, sizeof(record->birthday));
    }
    CopyPlainFields(kCompanyAndAddressFields, labels, column, field, record);
    if (labels->column[CC_NOTES] == column && gNotes) TakeNotes(field, record);
}

}  // extern "C"
