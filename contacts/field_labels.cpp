// The field-label file and the header line: which column of a contact file
// feeds which contact field.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include "contacts/contacts.h"
#include "platform/platform.h"

namespace {

const char kLabelFileName[] = "fieldlab.dat";
const int kMaxFurtherNames = 3;

// One line of the label file, in file order.
struct LabelLine {
    const char *defaultLabel;
    bool isNumber;  // the line may hold a 1-based column number
    const char *furtherNames[kMaxFurtherNames];
};

const LabelLine kLabelLines[BV_LABEL_COUNT] = {
    {"e-mail address", true, {"E-mail", "email", "EmailAddress"}},
    {"first name", true, {"firstName"}},
    {"last name", true, {"lastName"}},
    {"name", false, {"fullName"}},
    {"business phone", true, {"companyPhone", "workPhone", "BusinessPhone"}},
    {"business fax", true, {"BusinessFax"}},
    {"company", true, {}},
    {"job title", true, {"jobTitle"}},
    {"business street", true, {"workStreet", "BusinessStreet"}},
    {"business street 2", false, {}},
    {"business street 3", false, {}},
    {"business city", true, {"workCity", "BusinessCity"}},
    {"business state", true, {"workState", "BusinessState"}},
    {"business postal code", true, {"workPostalCode", "BusinessPostalCode"}},
    {"business country", true, {"workCountry", "BusinessCountry"}},
    {"mobile phone", true, {"mobilePhone"}},
    {"notes", false, {}},
    {"home phone", false, {"homePhone"}},
    {"Home Street", false, {"homeStreet"}},
    {"Home City", false, {"homeCity"}},
    {"Home Postal Code", false, {"homePostalCode"}},
    {"Home State", false, {"homeState"}},
    {"Home Country", false, {"homeCountry"}},
    {"Department", true, {}},
    {"Suffix", false, {}},
    {"Title", false, {}},
    {"Middle Name", false, {"middleName"}},
    {"Birthday", true, {}},
    {"e-mail 2 address", false, {"Email2Address"}},
    {"e-mail 3 address", false, {"Email3Address"}},
};

// Header names without a label line.
const struct {
    const char *name;
    int column;
} kFixedNames[] = {{"type", CC_TYPE}, {"dlist", CC_DLIST}, {"nickname", CC_NICKNAME}};

bool TokenSelects(const ContactLabels *labels, int line, const char *token) {
    if (strcasecmp(labels->label[line], token) == 0) return true;
    for (const char *name : kLabelLines[line].furtherNames)
        if (name && strcasecmp(name, token) == 0) return true;
    return false;
}

// The header token as a name: an opening quote drops and cuts at the next
// quote; spaces on both sides go.
void CleanHeaderToken(char *token) {
    if (token[0] == '"') {
        memmove(token, token + 1, strlen(token));
        char *close = strchr(token, '"');
        if (close) *close = '\0';
    }
    com_ltrim(token);
    com_rtrim(token);
}

}  // namespace

extern "C" {

void InitFieldLabels(ContactLabels *labels) {
    for (int line = 0; line < BV_LABEL_COUNT; line++)
        com_strncpy(labels->label[line], kLabelLines[line].defaultLabel, BV_LABEL_LINE_LEN - 1);
    for (int field = 0; field < CC_COUNT; field++) labels->column[field] = -1;
}

void ReadFieldLabelFile(ContactLabels *labels, const char *csvPath) {
    char path[BV_PATH_LEN];
    if (gD223Text[0]) {
        com_strncpy(path, gD223Text, sizeof(path) - 1);
    } else {
        char dir[BV_PATH_LEN];
        com_ExtractFileDir(csvPath, dir, sizeof(dir));
        if (dir[0])
            bv_snprintf(path, sizeof(path), "%s%c%s", dir, BV_PATH_SEP, kLabelFileName);
        else
            bv_snprintf(path, sizeof(path), "%s", kLabelFileName);
    }
    if (gDebug) com_Log("debug: attempting to open alternate label file: %s", path);
    FILE *file = plat_fopen(path, "r");
    if (!file) return;
    if (gDebug) com_Log("debug: parsing field labels");
    char line[BV_LABEL_LINE_LEN];
    for (int index = 0; index < BV_LABEL_COUNT; index++) {
        if (!fgets(line, sizeof(line), file)) break;
        com_StripCR(line);
        com_strncpy(labels->label[index], line, BV_LABEL_LINE_LEN - 1);
        if (kLabelLines[index].isNumber) {
            int number = atoi(line);
            labels->column[index] = number > 0 ? number - 1 : -1;
        }
    }
    fclose(file);
}

int LabelsGiveColumns(const ContactLabels *labels) {
    return labels->column[CC_EMAIL] >= 0 || labels->column[CC_FIRST_NAME] >= 0 ||
           labels->column[CC_LAST_NAME] >= 0;
}

void MatchHeaderLine(ContactLabels *labels, const char *headerLine) {
    char line[BV_CSV_FIRST_LINE_LEN];
    com_strncpy(line, headerLine, sizeof(line) - 1);
    // Tokens as strtok gives them: runs of ',' and ';' separate, empty
    // tokens do not count.
    int number = 0;
    char *cursor = line;
    while (*cursor) {
        cursor += strspn(cursor, ",;");
        if (!*cursor) break;
        char *token = cursor;
        cursor += strcspn(cursor, ",;");
        if (*cursor) *cursor++ = '\0';
        CleanHeaderToken(token);
        for (int index = 0; index < BV_LABEL_COUNT; index++)
            if (TokenSelects(labels, index, token)) labels->column[index] = number;
        for (const auto &fixed : kFixedNames)
            if (strcasecmp(fixed.name, token) == 0) labels->column[fixed.column] = number;
        number++;
    }
}

int LabelsUsable(const ContactLabels *labels) {
    return labels->column[CC_EMAIL] >= 0 || labels->column[CC_COMPANY] >= 0 || labels->column[CC_DLIST] >= 0 ||
           labels->column[CC_FIRST_NAME] >= 0 || labels->column[CC_LAST_NAME] >= 0;
}

}  // extern "C"
