// Placeholder until the contact reader and writers land; delete this file when they do.
#include "contacts/contacts.h"

extern "C" {
void ParseContactFile(int, mdat *, BvItemCallback, const char *, int *countOut, BvStatusCallback) {
    com_Log("BV Error: contact reading is not available yet");
    if (countOut) *countOut = 0;
}
int CountCsvContacts(const char *) { return 0; }
int CountNK2Contacts(const char *) { return 0; }
int InitContactFile(void) {
    com_Log("BV Error: contact writing is not available yet");
    return 1;
}
int WriteContact(mdat *, const char *) { return 0; }
void WriteDirectoryContact(mdat *) {}
}
