// vCard 2.1 and 3.0 contacts into contact records, with the fields the CSV
// reader fills. A value the record has no free field for (a fourth e-mail
// address, a second work phone) goes into the notes with its label, so
// nothing of a card is dropped that the writers could show.
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "contacts/contacts.h"
#include "record/com.h"

namespace {

const size_t kPlainLimit = 63;   // names, phones, addresses: as the CSV reader
const size_t kEmailLimit = 128;
const size_t kShortLimit = 7;    // suffix, courtesy title
const size_t kWebLimit = BV_ADDR_LEN - 1;

// One content line: "group.NAME;PARAM=a,b;BARE:value".
struct VCardProperty {
    std::string name;             // upper case, group dropped
    std::set<std::string> types;  // upper case: WORK, HOME, CELL, FAX, ...
    std::string charset;
    bool quotedPrintable = false;
    std::string value;
};

// The contact being filled, with what the record cannot hold yet.
struct VCardContact {
    explicit VCardContact(ContactRun *forRun) : run(forRun) {}
    ContactRun *run;
    int emails = 0;
    std::string overflow;  // "label: value" lines appended to the notes
};

std::string Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = (char)(c - 32);
    return text;
}

std::string DecodeQuotedPrintable(const std::string &in) {
    std::string out = in;
    out.resize(bvcom_DecodeHexEscapes(&out[0], out.size(), '='));
    return out;
}

bool IsUtf8(const std::string &text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t extra;
        if (c < 0x80) extra = 0;
        else if ((c & 0xE0) == 0xC0) extra = 1;
        else if ((c & 0xF0) == 0xE0) extra = 2;
        else if ((c & 0xF8) == 0xF0) extra = 3;
        else return false;
        if (i + extra >= text.size() && extra > 0) return false;
        for (size_t k = 1; k <= extra; k++)
            if (((unsigned char)text[i + k] & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// Record texts are UTF-8: a named charset is converted, and text that is not
// UTF-8 without one is read as ISO-8859-1.
std::string ToUtf8(const std::string &text, const std::string &charset) {
    int codepage = 0;
    if (!charset.empty()) {
        char name[BV_CHARSET_LEN];
        com_strncpy(name, charset.c_str(), sizeof name - 1);
        codepage = com_iso_codepage(0, name);
    }
    if (codepage == 0 || codepage == CP_UTF8) {
        if (IsUtf8(text)) return text;
        codepage = CP_ACP_ISO;
    }
    std::vector<char> buffer(text.size() * 4 + 1);
    memcpy(buffer.data(), text.c_str(), text.size() + 1);
    if (com_CodepageToWindows(buffer.data(), codepage, CP_UTF8, buffer.size()) < 0) return text;
    return buffer.data();
}

// vCard 3.0 escapes; 2.1 has none but "\;" in structured values.
std::string Unescape(const std::string &in) {
    std::string out;
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out.push_back(in[i]);
            continue;
        }
        char next = in[++i];
        out.push_back(next == 'n' || next == 'N' ? '\n' : next);
    }
    return out;
}

// The components of a structured value (N, ADR, ORG), split at unescaped ';'.
std::vector<std::string> Components(const std::string &value) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); i++) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value.substr(i, 2);
            i++;
        } else if (value[i] == ';') {
            parts.emplace_back();
        } else {
            parts.back().push_back(value[i]);
        }
    }
    for (std::string &part : parts) part = Unescape(part);
    return parts;
}

void AddParameter(VCardProperty *property, const std::string &parameter) {
    size_t equals = parameter.find('=');
    std::string key = Upper(parameter.substr(0, equals));
    std::string value = equals == std::string::npos ? key : parameter.substr(equals + 1);
    if (key == "CHARSET") {
        property->charset = value;
    } else if (key == "ENCODING" || equals == std::string::npos) {
        if (Upper(value) == "QUOTED-PRINTABLE") property->quotedPrintable = true;
        else if (key != "ENCODING") property->types.insert(Upper(value));  // 2.1: a bare type
    } else if (key == "TYPE") {
        size_t start = 0;
        for (size_t comma; (comma = value.find(',', start)) != std::string::npos; start = comma + 1)
            property->types.insert(Upper(value.substr(start, comma - start)));
        property->types.insert(Upper(value.substr(start)));
    }
}

bool ParseProperty(const std::string &line, VCardProperty *property) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    std::string head = line.substr(0, colon);
    size_t semicolon = head.find(';');
    std::string name = head.substr(0, semicolon);
    size_t dot = name.rfind('.');
    property->name = Upper(dot == std::string::npos ? name : name.substr(dot + 1));
    while (semicolon != std::string::npos) {
        size_t next = head.find(';', semicolon + 1);
        AddParameter(property, head.substr(semicolon + 1, next == std::string::npos ? std::string::npos
                                                                                    : next - semicolon - 1));
        semicolon = next;
    }
    std::string value = line.substr(colon + 1);
    if (property->quotedPrintable) value = DecodeQuotedPrintable(value);
    property->value = ToUtf8(value, property->charset);
    return true;
}

bool Has(const VCardProperty &p, const char *type) { return p.types.count(type) != 0; }

void Note(VCardContact *contact, const char *label, const std::string &value) {
    if (value.empty()) return;
    contact->overflow += std::string(label) + ": " + value + "\n";
}

// Copies into an empty record field; a taken field sends the value to the notes.
void Put(VCardContact *contact, char *field, size_t limit, const std::string &value, const char *label) {
    if (value.empty()) return;
    if (field[0]) {
        Note(contact, label, value);
        return;
    }
    com_strncpy(field, value.c_str(), limit);
}

void ReadName(mdat *r, const std::string &value) {
    std::vector<std::string> n = Components(value);
    n.resize(5);
    com_strncpy(r->lastName, n[0].c_str(), kPlainLimit);
    com_strncpy(r->firstName, n[1].c_str(), kPlainLimit);
    com_strncpy(r->middleName, n[2].c_str(), kPlainLimit);
    com_strncpy(r->courtesyTitle, n[3].c_str(), kShortLimit);
    com_strncpy(r->suffix, n[4].c_str(), kShortLimit);
}

void ReadEmail(VCardContact *contact, const std::string &value) {
    mdat *r = contact->run->record;
    char *slots[] = {r->emailAddr, r->email2Addr, r->email3Addr};
    if (contact->emails < 3) Put(contact, slots[contact->emails], kEmailLimit, value, "E-mail");
    else Note(contact, "E-mail", value);
    contact->emails++;
}

void ReadPhone(VCardContact *contact, const VCardProperty &p) {
    mdat *r = contact->run->record;
    std::string number = Unescape(p.value);
    if (Has(p, "CELL")) Put(contact, r->mobilePhone, kPlainLimit, number, "Mobile phone");
    else if (Has(p, "PAGER")) Put(contact, r->pager, kPlainLimit, number, "Pager");
    else if (Has(p, "FAX") && Has(p, "HOME")) Put(contact, r->homeFax, kPlainLimit, number, "Home fax");
    else if (Has(p, "FAX")) Put(contact, r->businessFax, kPlainLimit, number, "Business fax");
    else if (Has(p, "HOME")) Put(contact, r->homePhone, kPlainLimit, number, "Home phone");
    else Put(contact, r->businessPhone, kPlainLimit, number, "Business phone");
}

// ADR: post office box; extended; street; city; region; postal code; country.
void ReadAddress(VCardContact *contact, const VCardProperty &p) {
    mdat *r = contact->run->record;
    std::vector<std::string> a = Components(p.value);
    a.resize(7);
    bool home = Has(p, "HOME");
    char *street = home ? r->homeStreet : r->businessStreet;
    if (street[0]) {
        std::string whole;
        for (const std::string &part : a)
            if (!part.empty()) whole += (whole.empty() ? "" : ", ") + part;
        Note(contact, home ? "Home address" : "Business address", whole);
        return;
    }
    std::string streetText = a[2].empty() ? a[0] : a[2];
    if (!a[1].empty()) streetText = a[1] + ", " + streetText;
    for (char &c : streetText)
        if (c == '\n' || c == '\r') c = ' ';
    com_strncpy(street, streetText.c_str(), kPlainLimit);
    com_strncpy(home ? r->homeCity : r->businessCity, a[3].c_str(), kPlainLimit);
    com_strncpy(home ? r->homeState : r->businessState, a[4].c_str(), kPlainLimit);
    com_strncpy(home ? r->homePostalCode : r->businessPostalCode, a[5].c_str(), kPlainLimit);
    com_strncpy(home ? r->homeCountry : r->businessCountry, a[6].c_str(), kPlainLimit);
}

// "1970-03-09", "19700309", "1970-03-09T00:00:00Z" -> "3/9/1970".
void ReadBirthday(mdat *r, std::string value) {
    value = value.substr(0, value.find('T'));
    if (value.size() == 8 && value.find_first_not_of("0123456789") == std::string::npos)
        value = value.substr(0, 4) + "-" + value.substr(4, 2) + "-" + value.substr(6, 2);
    com_strncpy(r->birthday, value.c_str(), kPlainLimit);
    RewriteBirthday(r->birthday, sizeof r->birthday);
}

// The first NOTE is the notes; a second one is kept after it.
void ReadNote(VCardContact *contact, const std::string &text) {
    if (!gNotes) return;
    if (gNotes[0]) Note(contact, "Note", text);
    else com_strncpy(gNotes, text.c_str(), BV_NOTES_LEN - 1);
}

void ApplyProperty(VCardContact *contact, const VCardProperty &p) {
    ContactRun *run = contact->run;
    mdat *r = run->record;
    if (p.name == "FN") com_strncpy(run->fullName, Unescape(p.value).c_str(), BV_CSV_FULLNAME_LEN - 1);
    else if (p.name == "N") ReadName(r, p.value);
    else if (p.name == "EMAIL") ReadEmail(contact, Unescape(p.value));
    else if (p.name == "TEL") ReadPhone(contact, p);
    else if (p.name == "ADR") ReadAddress(contact, p);
    else if (p.name == "ORG") {
        std::vector<std::string> org = Components(p.value);
        com_strncpy(r->company, org[0].c_str(), kPlainLimit);
        if (org.size() > 1) com_strncpy(r->department, org[1].c_str(), kPlainLimit);
    } else if (p.name == "TITLE") Put(contact, r->title, kPlainLimit, Unescape(p.value), "Title");
    else if (p.name == "NOTE") ReadNote(contact, Unescape(p.value));
    else if (p.name == "BDAY") ReadBirthday(r, p.value);
    else if (p.name == "URL") Put(contact, r->webPage, kWebLimit, Unescape(p.value), "Web page");
}

// The notes get what the record had no room for, after the card's NOTE.
void AppendOverflow(VCardContact *contact) {
    if (contact->overflow.empty() || !gNotes) return;
    size_t used = strlen(gNotes);
    std::string extra = (used ? "\n" : "") + contact->overflow;
    if (!extra.empty() && extra.back() == '\n') extra.pop_back();
    com_strncpy(gNotes + used, extra.c_str(), BV_NOTES_LEN - 1 - used);
}

// Physical lines joined: a leading blank continues the line (both versions),
// and in 2.1 a quoted-printable value ending in '=' goes on in the next line.
std::vector<std::string> ContentLines(const char *text, size_t length) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && text[end] != '\n') end++;
        std::string line(text + start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        bool softBreak = !lines.empty() && !lines.back().empty() && lines.back().back() == '=' &&
                         Upper(lines.back()).find("QUOTED-PRINTABLE") != std::string::npos;
        if (!lines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            lines.back() += line.substr(1);
        } else if (softBreak) {
            lines.back().pop_back();
            lines.back() += line;
        } else {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace

extern "C" int ReadVCardText(ContactRun *run, const char *text, size_t length, bool *stop) {
    *stop = false;
    int found = 0;
    int depth = 0;  // an embedded card (AGENT) belongs to the outer one
    VCardContact contact(run);
    for (const std::string &line : ContentLines(text, length)) {
        std::string upper = Upper(line);
        if (upper.rfind("BEGIN:VCARD", 0) == 0) {
            if (depth++ == 0) {
                ClearContact(run);
                contact = VCardContact(run);
            }
            continue;
        }
        if (depth == 0) continue;
        if (upper.rfind("END:VCARD", 0) == 0) {
            if (--depth > 0) continue;
            found++;
            AppendOverflow(&contact);
            *stop = HandOverContact(run) || MaxReadReached(run->recordIndex);
            ClearContact(run);
            if (*stop) break;
            continue;
        }
        VCardProperty property;
        if (depth == 1 && ParseProperty(line, &property)) ApplyProperty(&contact, property);
    }
    return found;
}
