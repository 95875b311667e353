// Contacts: the CSV/NK2 reader and the contact writers.
#pragma once

#include "module/session.h"

// ---- limits ---------------------------------------------------------------------
#define BV_CSV_FIELD_LEN 64000     // one CSV field, terminator included
#define BV_CSV_FIRST_LINE_LEN 3000 // the header (or first) line, terminator included
#define BV_CSV_MIN_FIRST_LINE 20   // a shorter first line means an empty file
#define BV_CSV_NOTES_CUT (BV_NOTES_LEN - 1)  // notes text kept per contact: the notes buffer
#define BV_CSV_FULLNAME_LEN 128
#define BV_LABEL_COUNT 30          // lines of the field-label file
#define BV_LABEL_LINE_LEN 62       // one label line, line end and terminator included
#define BV_NK2_MAX_ENTRIES 1000
#define BV_NK2_ENTRY_LEN 512       // "display name;address", terminator included
#define BV_NK2_TEXT_LEN 256        // a kept property text
#define BV_NK2_RAW_LEN 1024        // a raw 8-bit or UTF-16 string value
#define BV_NK2_UTF8_LEN 510        // a converted UTF-16 value at most
#define BV_LIST_NAME_LEN 120       // a list member's name
#define BV_LIST_ADDR_LEN 250       // a list member's address
#define BV_DN_TEXT_LEN 251         // directory names from uadomain.dat (250 bytes)

// Columns of a contact file: one per label line, then the three fixed names.
enum ContactColumn {
    CC_EMAIL = 0,
    CC_FIRST_NAME,
    CC_LAST_NAME,
    CC_FULL_NAME,
    CC_BUSINESS_PHONE,
    CC_BUSINESS_FAX,
    CC_COMPANY,
    CC_JOB_TITLE,
    CC_BUSINESS_STREET,
    CC_BUSINESS_STREET_2,
    CC_BUSINESS_STREET_3,
    CC_BUSINESS_CITY,
    CC_BUSINESS_STATE,
    CC_BUSINESS_POSTAL_CODE,
    CC_BUSINESS_COUNTRY,
    CC_MOBILE_PHONE,
    CC_NOTES,
    CC_HOME_PHONE,
    CC_HOME_STREET,
    CC_HOME_CITY,
    CC_HOME_POSTAL_CODE,
    CC_HOME_STATE,
    CC_HOME_COUNTRY,
    CC_DEPARTMENT,
    CC_SUFFIX,
    CC_COURTESY_TITLE,
    CC_MIDDLE_NAME,
    CC_BIRTHDAY,
    CC_EMAIL_2,
    CC_EMAIL_3,
    CC_TYPE,      // recognised, selects nothing
    CC_DLIST,     // distribution-list members
    CC_NICKNAME,  // distribution-list name
    CC_COUNT
};

// Label texts and the column (from 0, -1 none) of every contact field.
typedef struct ContactLabels {
    char label[BV_LABEL_COUNT][BV_LABEL_LINE_LEN];
    int column[CC_COUNT];
} ContactLabels;

#ifdef __cplusplus
extern "C" {
#endif

// ---- session state of the contact reader and writers ---------------------------
extern char gCurrentFile[BV_PATH_LEN];  // the file being read
extern char gCsvSeparator;              // ',' until a header line holds ';'
extern char *gNotes;                    // BV_NOTES_LEN bytes while a CSV file is read
extern char gFieldBuf[BV_CSV_FIELD_LEN];
extern char *gNK2Entries[BV_NK2_MAX_ENTRIES];  // BV_NK2_ENTRY_LEN bytes each
extern int gNK2EntryCount;
extern char gDomainDN[BV_DN_TEXT_LEN];  // "mydomain" until uadomain.dat says otherwise
extern char gDeptOU[BV_DN_TEXT_LEN];    // "department"
extern char gOrgName[BV_DN_TEXT_LEN];   // "olddept"

// ---- reader ----------------------------------------------------------------------
// One contact source being read: the callbacks, the contact being filled
// and the number handed over.
typedef struct ContactRun {
    mdat *record;
    BvItemCallback itemCallback;
    BvStatusCallback statusCallback;
    const char *workDir;
    ContactLabels *labels;  // CSV sources only
    char fullName[BV_CSV_FULLNAME_LEN];
    int recordIndex;
} ContactRun;
// Empties the record (a contact) and the notes and full name for the next one.
void ClearContact(ContactRun *run);
// The completed contact goes to the host (names from the full name when
// missing, notes, duplicate register, callbacks). true when the folder ends.
bool HandOverContact(ContactRun *run);
// gMaxRead 0 still lets one contact through, as for mail.
bool MaxReadReached(int recordIndex);
// Every vCard (2.1, 3.0) of a text, handed over one by one; gNotes must be
// allocated. Returns the number of vCards found; *stop is set when the
// folder must end.
int ReadVCardText(ContactRun *run, const char *text, size_t length, bool *stop);

void ParseContactFile(int folderIndex, mdat *record, BvItemCallback itemCallback, const char *workDir, int *countOut,
                      BvStatusCallback statusCallback);
// Counters for folder discovery: contacts of a CSV file, entries of an NK2 file.
int CountCsvContacts(const char *path);
int CountNK2Contacts(const char *path);

// Field labels: defaults, then the label file beside csvPath (or gD223Text).
void InitFieldLabels(ContactLabels *labels);
void ReadFieldLabelFile(ContactLabels *labels, const char *csvPath);
// 1 when the label file gave a column for e-mail, first or last name.
int LabelsGiveColumns(const ContactLabels *labels);
// Applies the header line (already stripped of its line end and BOM).
void MatchHeaderLine(ContactLabels *labels, const char *headerLine);
// 1 when e-mail, company, dlist, first or last name has a column.
int LabelsUsable(const ContactLabels *labels);

// Gives one CSV field of the given column to every contact field it feeds;
// fullName holds BV_CSV_FULLNAME_LEN bytes.
void AssignCsvField(const ContactLabels *labels, int column, const char *field, mdat *record, char *fullName);
// One distribution-list member ("Name <addr>", "\"Name\" <addr>", "addr").
void AddListMember(mdat *record, const char *member);
// Splits a dlist field into members and adds each; sets itemFlag.
void AddListMembers(mdat *record, const char *field);
// Rewrites a year-first birthday ("1970-03-09") as month/day/year in place.
void RewriteBirthday(char *text, size_t capacity);

// An open CSV file positioned at its first record, with what its first line
// told about it.
typedef struct CsvSource {
    FILE *file;
    ContactLabels labels;
    int utf8;       // the first line began with a byte-order mark
    int semicolon;  // the first line holds a ';'
    char convertedPath[BV_PATH_LEN];  // the UTF-8 copy of a UTF-16 file, deleted on close
} CsvSource;
// Opens path and reads its first line and the label file. 0 when the file
// gives no records (closed again); logs the failures unless quiet.
int OpenCsvSource(const char *path, CsvSource *source, int quiet);
void CloseCsvSource(CsvSource *source);
// A nickname file by its extension (".nk2", ".dat"), whatever the rest of the
// path holds ("x.dates.csv" is a CSV file).
int IsNk2Path(const char *path);
enum CsvFieldEnd { CSV_FIELD_ENDS = 0, CSV_RECORD_ENDS = 1, CSV_FILE_ENDS = 2 };
// Reads one field into out (cap bytes; longer fields are cut).
enum CsvFieldEnd ReadCsvField(FILE *file, char separator, char *out, size_t cap);

// NK2: reads the file's entries into gNK2Entries and hands them over; the
// number found (also beyond the limit) goes to *countOut before.
void ParseNK2File(mdat *record, BvItemCallback itemCallback, const char *workDir, int *countOut,
                  BvStatusCallback statusCallback);
// Reads every row of an open NK2 file (at its row count); collects entries
// when collect is set. Returns the number of SMTP/EX rows.
int ReadNK2Rows(FILE *file, int collect);
// Reads one property; fills the kept texts for 0x3001-0x3003. Returns 0 when
// the property type is unreadable or the file ended.
int ReadNK2Property(FILE *file, char *displayName, char *addrType, char *address, int *endOfFile);

// ---- writers ---------------------------------------------------------------------
int InitContactFile(void);
int WriteContact(mdat *record, const char *workDir);
void WriteDirectoryContact(mdat *record);
// prefix + first component, then "," + prefix + component for the rest.
void DotsToDN(const char *text, const char *prefix, char *out, size_t outCap);
// Reads uadomain.dat beside outputPath into gDomainDN, gDeptOU, gOrgName.
void ReadDomainFile(const char *outputPath);

#ifdef __cplusplus
}
#endif
