// The directory-import layout: one row of 33 directory attributes per
// contact, with names built from the domain, department and organisation of
// uadomain.dat.
#include <string.h>
#include <strings.h>
#include "contacts/contacts.h"
#include "platform/platform.h"

namespace {

const char kDomainFileName[] = "uadomain.dat";
const char kUnitedStates[] = "United States of America";
const size_t kDnLen = 2048;  // one distinguished name or address text

// "X'<hex bytes>'" of the street, or nothing for an empty street.
void HexStreet(const char *street, char *out, size_t outCap) {
    out[0] = '\0';
    if (!street[0]) return;
    static const char kHex[] = "0123456789abcdef";
    size_t length = 0;
    auto put = [&](char c) {
        if (length + 1 < outCap) out[length++] = c;
    };
    put('X');
    put('\'');
    for (const unsigned char *byte = reinterpret_cast<const unsigned char *>(street); *byte; byte++) {
        put(kHex[*byte >> 4]);
        put(kHex[*byte & 0xF]);
    }
    put('\'');
    out[length] = '\0';
}

// One line of uadomain.dat without its line end; false when missing.
bool ReadDomainLine(FILE *file, char *line, size_t cap) {
    if (!fgets(line, (int)cap, file)) return false;
    size_t length = strlen(line);
    if (length && line[length - 1] == '\n') line[--length] = '\0';
    if (length && line[length - 1] == '\r') line[--length] = '\0';
    return true;
}

}  // namespace

extern "C" {

void DotsToDN(const char *text, const char *prefix, char *out, size_t outCap) {
    if (!outCap) return;
    out[0] = '\0';
    size_t used = 0;
    const char *component = text;
    for (bool first = true;; first = false) {
        const char *dot = strchr(component, '.');
        int length = dot ? (int)(dot - component) : (int)strlen(component);
        int written = bv_snprintf(out + used, outCap - used, "%s%s%.*s", first ? "" : ",", prefix, length, component);
        if (written < 0 || (size_t)written >= outCap - used) break;
        used += (size_t)written;
        if (!dot) break;
        component = dot + 1;
    }
}

void ReadDomainFile(const char *outputPath) {
    char dir[BV_PATH_LEN], path[BV_PATH_LEN];
    com_ExtractFileDir(outputPath, dir, sizeof(dir));
    if (dir[0])
        bv_snprintf(path, sizeof(path), "%s%c%s", dir, BV_PATH_SEP, kDomainFileName);
    else
        bv_snprintf(path, sizeof(path), "%s", kDomainFileName);
    FILE *file = plat_fopen(path, "r");
    if (!file) return;
    char line[BV_DN_TEXT_LEN - 1];  // fgets limit of 250 bytes
    if (ReadDomainLine(file, line, sizeof(line))) {
        DotsToDN(line, "DC=", gDomainDN, sizeof(gDomainDN));
        if (ReadDomainLine(file, line, sizeof(line))) {
            DotsToDN(line, "OU=", gDeptOU, sizeof(gDeptOU));
            if (ReadDomainLine(file, line, sizeof(line))) DotsToDN(line, "", gOrgName, sizeof(gOrgName));
        }
    }
    fclose(file);
}

void WriteDirectoryContact(mdat *r) {
    if (!gOutFile) return;
    const char *co = "";
    if (strcasecmp(r->businessCountry, kUnitedStates) == 0) {
        com_strncpy(r->businessCountry, "US", sizeof(r->businessCountry) - 1);
        co = "UNITED STATES";
    } else {
        r->businessCountry[0] = '\0';
    }
    const char *first = r->firstName;
    const char *last = r->lastName;
    char fullName[2 * BV_NAME_LEN + 2];
    bv_snprintf(fullName, sizeof(fullName), "%s %s", first, last);

    char dn[kDnLen], category[kDnLen], legacyDn[kDnLen], proxies[kDnLen], addressList[kDnLen], orAddress[kDnLen];
    bv_snprintf(dn, sizeof(dn), "CN=%s %s,%s,%s", first, last, gDeptOU, gDomainDN);
    bv_snprintf(category, sizeof(category), "CN=Person,CN=Schema,CN=Configuration,%s", gDomainDN);
    bv_snprintf(legacyDn, sizeof(legacyDn), "/o=%s/ou=first administrative group/cn=Recipients/cn=%s", gOrgName,
                fullName);
    bv_snprintf(proxies, sizeof(proxies), "SMTP:%s;X400:cs=us\\;a=\\;p=%s\\;o=Exchange\\;s=%s\\;g=%s\\;",
                r->emailAddr, gOrgName, last, first);
    bv_snprintf(addressList, sizeof(addressList),
                "CN=Default Global Address List,CN=All Global Address Lists,CN=Address Lists Container,CN=%s,"
                "CN=Microsoft Exchange,CN=Services,CN=Configuration,%s",
                gOrgName, gDomainDN);
    bv_snprintf(orAddress, sizeof(orAddress), "c=us\\;a=\\;p=%s\\;o=Exchange\\;s=%s\\;g=%s\\;", gOrgName,
                last, first);
    char smtp[BV_NAME_LEN + 8];
    bv_snprintf(smtp, sizeof(smtp), "SMTP:%s", r->emailAddr);
    char street[2 * BV_NAME_LEN + 4];
    HexStreet(r->businessStreet, street, sizeof(street));

    // Distinguished names and the address fields are always quoted (an empty
    // one as two quote characters), an address in angle brackets is not; any
    // other column is quoted only where its text needs it. A quote inside a
    // field is doubled: csvde and every other CSV reader then find the 33
    // columns whatever a name holds.
    enum Quoting { kAsNeeded, kQuoted, kQuotedUnlessAddress };
    struct Column {
        const char *text;
        Quoting quoting;
    };
    const Column columns[] = {
        {dn, kQuoted},           {"4", kAsNeeded},          {dn, kQuoted},
        {category, kQuoted},     {"contact", kAsNeeded},    {fullName, kAsNeeded},
        {fullName, kAsNeeded},   {fullName, kAsNeeded},     {r->emailAddr, kAsNeeded},
        {first, kAsNeeded},      {legacyDn, kAsNeeded},     {r->middleName, kAsNeeded},
        {proxies, kAsNeeded},    {addressList, kQuoted},    {last, kAsNeeded},
        {orAddress, kAsNeeded},  {"1310720", kAsNeeded},    {fullName, kAsNeeded},
        {"FALSE", kAsNeeded},    {smtp, kAsNeeded},         {street, kAsNeeded},
        {r->company, kQuotedUnlessAddress},            {r->businessCountry, kQuotedUnlessAddress},
        {co, kAsNeeded},                               {r->department, kQuotedUnlessAddress},
        {r->businessCity, kQuotedUnlessAddress},       {r->homePhone, kQuotedUnlessAddress},
        {r->mobilePhone, kQuotedUnlessAddress},        {r->pager, kQuotedUnlessAddress},
        {r->businessPostalCode, kQuotedUnlessAddress}, {r->businessState, kQuotedUnlessAddress},
        {r->businessPhone, kQuotedUnlessAddress},      {r->title, kQuotedUnlessAddress}};
    for (size_t i = 0; i < sizeof(columns) / sizeof(columns[0]); i++) {
        const Column &column = columns[i];
        if (i) fputc(',', gOutFile);
        bool quoted = column.quoting == kQuoted || (column.quoting == kQuotedUnlessAddress && column.text[0] != '<');
        bv_fputcsv(gOutFile, column.text, quoted);
    }
    fputc('\n', gOutFile);
}

}  // extern "C"
