// Session state of the contact reader and writers.
#include "contacts/contacts.h"

extern "C" {
char gCurrentFile[BV_PATH_LEN];
char gCsvSeparator = ',';
char *gNotes;
char gFieldBuf[BV_CSV_FIELD_LEN];
char *gNK2Entries[BV_NK2_MAX_ENTRIES];
int gNK2EntryCount;
char gDomainDN[BV_DN_TEXT_LEN] = "mydomain";
char gDeptOU[BV_DN_TEXT_LEN] = "department";
char gOrgName[BV_DN_TEXT_LEN] = "olddept";
}
