// The contact target: one output file per session, appended to per folder,
// in the address-book, list or directory-import layout.
#include <stdlib.h>
#include <string.h>
#include "contacts/contacts.h"
#include "platform/platform.h"

namespace {

const char kAddressBookHeadStart[] = "\"First Name\",\"Last Name\",\"Middle Name\",\"E-mail Address\",";
const char kAddressBookHeadFileAs[] = "\"FileAs\",";
const char kAddressBookHeadRest[] =
    "\"Business Phone\",\"Business Fax\",\"Direct Phone\",\"Direct Fax\",\"Business Street\","
    "\"Business Street 2\",\"Business City\",\"Business State\",\"Business Postal Code\",\"Business Country\","
    "\"Mobile Phone\",\"Pager\",\"Home Phone\",\"Web Page\",\"Job Title\",\"Company\",\"Title\","
    "\"Categories\","
    "\"Home Street\",\"Home Street 2\",\"Home City\",\"Home State\",\"Home Postal Code\",\"Home Country\","
    "\"Department\",\"Location\",\"Spouse\",\"Manager's Name\",\"Assistant's Name\",\"Home Fax\",\"Suffix\","
    "\"Birthday\",\"Children\",\"E-mail Display Name\",\"Notes\"";
const char kAddressBookHeadUnid[] = ",\"UNID\"";

const char kDirectoryHeader[] =
    "DN,instanceType,distinguishedName,objectCategory,objectClass,name,cn,displayName,mail,givenName,"
    "legacyExchangeDN,middleName,proxyAddresses,showInAddressBook,sn,textEncodedORAddress,internetEncoding,"
    "mailNickname,mAPIRecipient,targetAddress,streetAddress,company,c,co,department,l,homePhone,mobile,pager,"
    "postalCode,st,telephoneNumber,title\n";

const char *OutputPath(void) { return gContactOutPath[0] ? gContactOutPath : gOutputPath; }

// Quotes would end the quoted column early and line ends would split the row.
void CleanQuotedText(char *text) {
    for (char *c = text; *c; c++) {
        if (*c == '"') *c = '\'';
        else if (*c == '\x01' || *c == '\r' || *c == '\n') *c = ' ';
    }
}

void WriteListLine(const mdat *record) {
    char name[2 * BV_NAME_LEN + 2];
    if (record->displayName[0])
        bv_snprintf(name, sizeof(name), "%s", record->displayName);
    else
        bv_snprintf(name, sizeof(name), "%s%s%s", record->firstName, record->firstName[0] ? " " : "",
                    record->lastName);
    if (gD153One)
        bv_fprintf(gOutFile, "%s;%s\n", record->emailAddr, name);
    else
        bv_fprintf(gOutFile, "%s;%s\n", name, record->emailAddr);
}

void WriteAddressBookRow(mdat *r, const char *workDir) {
    gNotesBuf[0] = '\0';
    com_ReadNotes(r, gNotesBuf, workDir);
    gNotesBuf[BV_NOTES_LEN - 1] = '\0';
    CleanQuotedText(gNotesBuf);
    CleanQuotedText(r->businessStreet);
    CleanQuotedText(r->businessStreet2);
    CleanQuotedText(r->homeStreet);
    CleanQuotedText(r->homeStreet2);

    char fileAs[2 * BV_NAME_LEN + 2];
    bv_snprintf(fileAs, sizeof(fileAs), "%s %s", r->firstName, r->lastName);
    // The columns of the header, in its order; every field quoted, a quote
    // inside one doubled, so that any CSV reader finds the row's columns.
    const char *columns[] = {
        r->firstName,      r->lastName,         r->middleName,       r->emailAddr,      gFas ? fileAs : NULL,
        r->businessPhone,  r->businessFax,      r->directPhone,      r->directFax,      r->businessStreet,
        r->businessStreet2, r->businessCity,    r->businessState,    r->businessPostalCode, r->businessCountry,
        r->mobilePhone,    r->pager,            r->homePhone,        r->webPage,        r->title,
        r->company,        r->courtesyTitle,    r->categories,       r->homeStreet,     r->homeStreet2,
        r->homeCity,       r->homeState,        r->homePostalCode,   r->homeCountry,    r->department,
        r->location,       r->spouse,           r->managerName,      r->assistantName,  r->homeFax,
        r->suffix,         r->birthday,         r->children,         r->emailDisplayName, gNotesBuf,
        gUnid ? r->uid : NULL};
    bool first = true;
    for (const char *column : columns) {
        if (!column) continue;
        if (!first) fputc(',', gOutFile);
        bv_fputcsv(gOutFile, column, 1);
        first = false;
    }
    bv_fprintf(gOutFile, "\n");
}

}  // namespace

extern "C" {

int InitContactFile(void) {
    const char *path = OutputPath();
    gOutFile = plat_fopen(path, "a");
    if (!gOutFile) {
        com_Log("BV Error: Unable to open output file %s", path);
        return 1;
    }
    // The notes scratch of the target side; CloseWrite frees it.
    if (!gNotesBuf) gNotesBuf = static_cast<char *>(malloc(BV_NOTES_LEN));
    if (gActDir) {
        bv_fprintf(gOutFile, "%s", kDirectoryHeader);
        ReadDomainFile(path);
    } else if (!gD153) {
        bv_fprintf(gOutFile, "%s", kAddressBookHeadStart);
        if (gFas) bv_fprintf(gOutFile, "%s", kAddressBookHeadFileAs);
        bv_fprintf(gOutFile, "%s", kAddressBookHeadRest);
        if (gUnid) bv_fprintf(gOutFile, "%s", kAddressBookHeadUnid);
        bv_fprintf(gOutFile, "\n");
    }
    return 0;
}

int WriteContact(mdat *record, const char *workDir) {
    if (!gOutFile || record->itemFlag) return 0;
    if (gActDir)
        WriteDirectoryContact(record);
    else if (gD153)
        WriteListLine(record);
    else if (gNotesBuf)
        WriteAddressBookRow(record, workDir);
    return 0;
}

}  // extern "C"
