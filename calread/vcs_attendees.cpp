// Attendee lines of a calendar entry: reading one from gTextLine and adding
// it to the record as a recipient.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include "calread/vcs_parser.h"
#include "platform/platform.h"

#define ATTENDEE_NAME_MAX 500
#define ATTENDEE_S1CS_MAX 501
#define ATTENDEE_FIELD_MAX 250
#define RECIP_TEXT_MAX 120

enum { ROLE_REQUIRED = 3, ROLE_OPTIONAL = 11, ROLE_ORGANIZER = 31 };

// Copies at most max characters of text up to the first byte of `stops`.
static void CopyUntil(char *out, const char *text, const char *stops, size_t max) {
    size_t n = strcspn(text, stops);
    if (n > max) n = max;
    memcpy(out, text, n);
    out[n] = 0;
}

static void CutAt(char *text, const char *stops) { text[strcspn(text, stops)] = 0; }

// Step 1: the CN parameter.
static void AttendeeName(const char *line, char *name) {
    name[0] = 0;
    const char *cn = strstr(line, "CN=");
    if (!cn) return;
    cn += 3;
    size_t n = 0;
    if (*cn == '"') {
        for (const char *p = cn + 1; *p && *p != '"' && n < ATTENDEE_NAME_MAX; p++)
            if (*p != '\\') name[n++] = *p;
    } else {
        for (const char *p = cn; *p && *p != ';' && *p != ':' && n < ATTENDEE_NAME_MAX; p++)
            if (*p != '\\') name[n++] = *p;
    }
    name[n] = 0;
    com_Remove_Quotes(name);
    com_rtrim(name);
    if (name[0] == '\'') {
        memmove(name, name + 1, strlen(name));
        CutAt(name, "'");
    }
}

// Step 2: X-S1CS-EMAIL, else mailto:, else email=.
static void AttendeeAddress(const char *line, char *address) {
    address[0] = 0;
    const char *s1cs = strstr(line, "X-S1CS-EMAIL=");
    if (s1cs) CopyUntil(address, s1cs + 13, ";:", ATTENDEE_S1CS_MAX);
    const char *mailto = address[0] ? NULL : com_stristr(line, "mailto:", 0);
    if (mailto) {
        CopyUntil(address, mailto + 7, ":;", ATTENDEE_FIELD_MAX);
        com_Remove_Quotes(address);
    }
    const char *email = address[0] ? NULL : com_stristr(line, "email=", 0);
    if (email) {
        CopyUntil(address, email + 6, ";", ATTENDEE_FIELD_MAX);
        com_Remove_Quotes(address);
    }
}

extern "C" int ParseVcsAttendee(char *name, char *address, char *room, int *role, int *status) {
    const char *line = gTextLine;
    AttendeeName(line, name);
    AttendeeAddress(line, address);
    *role = strstr(line, "ROLE=OPT-PARTICIPANT") ? ROLE_OPTIONAL : ROLE_REQUIRED;
    if (strstr(line, "PARTSTAT=TENTATIVE"))
        *status = 3;
    else if (strstr(line, "PARTSTAT=DECLINED"))
        *status = 2;
    else if (strstr(line, "PARTSTAT=ACCEPTED"))
        *status = 1;
    else
        *status = 0;
    if (gD149 && !strstr(line, "CUTYPE=INDIVIDUAL")) return 0;
    if (strstr(line, "CUTYPE=ROOM")) {
        com_strncpy(room, name, BV_NAME_LEN - 1);
        return 0;
    }
    if (!name[0]) com_strncpy(name, address, ATTENDEE_NAME_MAX);
    return 1;
}

// The "X-MIRA" user id "!uuid!ID!rest" inside a name: taken out, rest kept.
static void TakeMiraUserId(char *name, char *userId, size_t idCap) {
    userId[0] = 0;
    char *marker = strstr(name, "!uuid!");
    if (!marker) return;
    char *id = marker + 6;
    char *close = strchr(id, '!');
    size_t idLength = close ? (size_t)(close - id) : strlen(id);
    if (idLength >= idCap) idLength = idCap - 1;
    memcpy(userId, id, idLength);
    userId[idLength] = 0;
    CutAt(userId, ">");
    const char *rest = close ? close + 1 : "";
    memmove(marker, rest, strlen(rest) + 1);
}

// "Display Name <addr@host>": the address comes from between the brackets.
static void SplitDisplayAddress(char *name, char *address) {
    char *open = strchr(name, '<');
    if (!open || open == name) return;
    char *close = strchr(open, '>');
    if (!close) return;
    if (!address[0]) {
        size_t n = (size_t)(close - open - 1);
        if (n > BV_ADDR_LEN - 1) n = BV_ADDR_LEN - 1;
        memcpy(address, open + 1, n);
        address[n] = 0;
    }
    open[-1] = 0;
}

extern "C" void AddVcsAttendee(mdat *rec, const char *nameIn, const char *addressIn, int owner, int status, int role) {
    char name[BV_NAME_LEN * 2];
    char address[BV_ADDR_LEN * 2];
    char userId[VCS_ID_LEN];
    com_strncpy(name, nameIn ? nameIn : "", sizeof name - 64);
    com_strncpy(address, addressIn ? addressIn : "", BV_ADDR_LEN - 1);
    TakeMiraUserId(name, userId, sizeof userId);
    if (userId[0]) {
        rec->isOwner = owner && strcasecmp(userId, gCalFileBase) == 0;
        if (!strchr(name, '@') && gD55Text[0]) {
            CutAt(name, ">");
            size_t n = strlen(name);
            bv_snprintf(name + n, sizeof name - n, "@%s>", gD55Text);
            bv_snprintf(address, BV_ADDR_LEN, "%s@%s", userId, gD55Text);
        }
    }
    if (name[0] == '<') {
        memmove(name, name + 1, strlen(name));
        CutAt(name, "@>");
    } else {
        SplitDisplayAddress(name, address);
    }
    if (!com_AllocRecip(rec)) return;
    if (!address[0] && strchr(name, '@')) com_strncpy(address, name, BV_ADDR_LEN - 1);
    mrecip *recip = rec->recips[rec->recipCount];
    recip->type = owner ? ROLE_ORGANIZER : role;
    recip->status = status;
    com_strncpy(recip->name, name, RECIP_TEXT_MAX);
    com_strncpy(recip->addr, address, RECIP_TEXT_MAX);
    rec->recipCount++;
}
