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

// The field as "\"text\"" unless it holds a quote or is an address in angle
// brackets already.
void QuoteInPlace(char *field, size_t fieldCap) {
    if (strchr(field, '"') || field[0] == '<') return;
    char quoted[BV_DIR_QUOTE_LEN];
    bv_snprintf(quoted, sizeof(quoted), "\"%s\"", field);
    com_strncpy(field, quoted, fieldCap - 1);
}

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

    char text[kDnLen];
    bv_snprintf(text, sizeof(text), "CN=%s %s,%s,%s", first, last, gDeptOU, gDomainDN);
    bv_fprintf(gOutFile, "\"%s\",4,\"%s\",", text, text);
    bv_snprintf(text, sizeof(text), "CN=Person,CN=Schema,CN=Configuration,%s", gDomainDN);
    bv_fprintf(gOutFile, "\"%s\",contact,", text);
    bv_fprintf(gOutFile, "%s,%s,%s,", fullName, fullName, fullName);
    bv_fprintf(gOutFile, "%s,%s,", r->emailAddr, first);
    bv_snprintf(text, sizeof(text), "/o=%s/ou=first administrative group/cn=Recipients/cn=%s", gOrgName, fullName);
    bv_fprintf(gOutFile, "%s,%s,", text, r->middleName);
    bv_snprintf(text, sizeof(text), "SMTP:%s;X400:cs=us\\;a=\\;p=%s\\;o=Exchange\\;s=%s\\;g=%s\\;", r->emailAddr,
                gOrgName, last, first);
    bv_fprintf(gOutFile, "%s,", text);
    bv_snprintf(text, sizeof(text),
                "\"CN=Default Global Address List,CN=All Global Address Lists,CN=Address Lists Container,CN=%s,"
                "CN=Microsoft Exchange,CN=Services,CN=Configuration,%s\"",
                gOrgName, gDomainDN);
    bv_fprintf(gOutFile, "%s,%s,", text, last);
    bv_snprintf(text, sizeof(text), "c=us\\;a=\\;p=%s\\;o=Exchange\\;s=%s\\;g=%s\\;", gOrgName, last, first);
    bv_fprintf(gOutFile, "%s,1310720,%s,FALSE,SMTP:%s,", text, fullName, r->emailAddr);

    char *quotedFields[] = {r->company,       r->businessStreet2, r->businessCity, r->businessState,
                            r->businessPostalCode, r->businessCountry, r->department, r->businessPhone,
                            r->homePhone,     r->mobilePhone,     r->pager,        r->title};
    static_assert(sizeof(r->company) == BV_NAME_LEN && sizeof(r->title) == BV_NAME_LEN, "quoted field width");
    for (char *field : quotedFields) QuoteInPlace(field, BV_NAME_LEN);

    char street[2 * BV_NAME_LEN + 4];
    HexStreet(r->businessStreet, street, sizeof(street));
    bv_fprintf(gOutFile, "%s,%s,%s,%s,%s,%s,", street, r->company, r->businessCountry, co, r->department,
               r->businessCity);
    bv_fprintf(gOutFile, "%s,%s,%s,", r->homePhone, r->mobilePhone, r->pager);
    bv_fprintf(gOutFile, "%s,%s,%s,%s\n", r->businessPostalCode, r->businessState, r->businessPhone, r->title);
}

}  // extern "C"
