// Outlook nickname (NK2) files: rows of MAPI properties, of which the display
// name, address type and address make an entry when the type is SMTP or EX.
#include <stdlib.h>
#include <string.h>
#include "contacts/contacts.h"
#include "platform/platform.h"

namespace {

const long kNK2HeaderLen = 12;
const int kPauseMs = 20;
const int kContactDataType = 1;

// Property identifiers kept from a row.
const uint32_t kPropDisplayName = 0x3001;
const uint32_t kPropAddrType = 0x3002;
const uint32_t kPropEmailAddress = 0x3003;

// Property types and the variable data that follows their 16 bytes.
enum Nk2Type : uint32_t {
    PT_I2 = 0x0002,
    PT_LONG = 0x0003,
    PT_R4 = 0x0004,
    PT_DOUBLE = 0x0005,
    PT_ERROR = 0x000A,
    PT_BOOLEAN = 0x000B,
    PT_I8 = 0x0014,
    PT_SYSTIME = 0x0040,
    PT_STRING8 = 0x001E,
    PT_UNICODE = 0x001F,
    PT_BINARY = 0x0102,
    PT_CLSID = 0x0048,
    PT_MV_BINARY = 0x1102,
    PT_MV_STRING8 = 0x101E,
    PT_MV_UNICODE = 0x101F,
};
const long kGuidLen = 16;

bool ReadU32(FILE *file, uint32_t *value) {
    unsigned char bytes[4];
    if (fread(bytes, 1, 4, file) != 4) return false;
    *value = (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) | ((uint32_t)bytes[3] << 24);
    return true;
}

// Skips count bytes; false when the file ends first.
bool SkipBytes(FILE *file, uint32_t count) {
    char scratch[4096];
    while (count > 0) {
        size_t chunk = count < sizeof(scratch) ? count : sizeof(scratch);
        if (fread(scratch, 1, chunk, file) != chunk) return false;
        count -= (uint32_t)chunk;
    }
    return true;
}

// Reads a length-prefixed value: its first bytes (up to cap) into raw, the
// rest skipped. Returns the bytes kept, -1 when the file ends.
long ReadLengthPrefixed(FILE *file, char *raw, size_t cap) {
    uint32_t length;
    if (!ReadU32(file, &length)) return -1;
    size_t kept = length < cap ? length : cap;
    if (fread(raw, 1, kept, file) != kept) return -1;
    if (!SkipBytes(file, length - (uint32_t)kept)) return -1;
    return (long)kept;
}

// An 8-bit string value: up to its NUL.
bool ReadString8(FILE *file, char *text) {
    char raw[BV_NK2_RAW_LEN];
    long kept = ReadLengthPrefixed(file, raw, sizeof(raw) - 1);
    if (kept < 0) return false;
    raw[kept] = '\0';
    com_strncpy(text, raw, BV_NK2_TEXT_LEN - 1);
    return true;
}

// A UTF-16LE string value, up to its NUL unit, as UTF-8.
bool ReadUnicode(FILE *file, char *text) {
    char raw[BV_NK2_RAW_LEN];
    long kept = ReadLengthPrefixed(file, raw, sizeof(raw));
    if (kept < 0) return false;
    WCHAR units[BV_NK2_RAW_LEN / 2 + 1];
    int count = 0;
    for (long i = 0; i + 1 < kept; i += 2) {
        WCHAR unit = (WCHAR)((unsigned char)raw[i] | ((unsigned char)raw[i + 1] << 8));
        if (unit == 0) break;
        units[count++] = unit;
    }
    // Every unit can take three bytes; the text keeps what fits in 510, cut
    // at a character boundary.
    char utf8[3 * (BV_NK2_RAW_LEN / 2) + 1];
    int written = count ? plat_WideCharToMultiByte(65001, units, count, utf8, (int)sizeof(utf8) - 1) : 0;
    size_t length = written > 0 ? (size_t)written : 0;
    if (length > BV_NK2_UTF8_LEN) {
        length = BV_NK2_UTF8_LEN;
        while (length > 0 && ((unsigned char)utf8[length] & 0xC0) == 0x80) length--;
    }
    utf8[length] = '\0';
    com_strncpy(text, utf8, BV_NK2_TEXT_LEN - 1);
    return true;
}

// Multi-valued: a count, then each value length-prefixed; all skipped.
bool SkipMultiValued(FILE *file) {
    uint32_t count;
    if (!ReadU32(file, &count)) return false;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t length;
        if (!ReadU32(file, &length) || !SkipBytes(file, length)) return false;
    }
    return true;
}

char *KeptText(uint32_t id, char *displayName, char *addrType, char *address) {
    switch (id) {
        case kPropDisplayName: return displayName;
        case kPropAddrType: return addrType;
        case kPropEmailAddress: return address;
        default: return nullptr;
    }
}

// The row's entry ("name;address") when its type is SMTP or EX.
bool RowEntry(char *displayName, char *address, const char *addrType, char *entry) {
    if (strcmp(addrType, "SMTP") != 0 && strcmp(addrType, "EX") != 0) return false;
    com_Remove_Quotes(displayName);
    com_Remove_Quotes(address);
    bv_snprintf(entry, BV_NK2_ENTRY_LEN, "%s;%s", displayName, address);
    return true;
}

void FreeEntries(void) {
    for (int i = 0; i < gNK2EntryCount; i++) {
        free(gNK2Entries[i]);
        gNK2Entries[i] = nullptr;
    }
    gNK2EntryCount = 0;
}

// Names of an entry: cut at '@', split at the first space (else '.'), and
// "Last, First" turned round.
void SplitDisplayName(char *name, mdat *record) {
    char *at = strchr(name, '@');
    if (at) *at = '\0';
    char *split = strchr(name, ' ');
    if (!split) split = strchr(name, '.');
    if (split) {
        *split = '\0';
        bvcom_CopyField(record->firstName, name, sizeof(record->firstName) - 1, "firstName");
        bvcom_CopyField(record->lastName, split + 1, sizeof(record->lastName) - 1, "lastName");
    } else {
        bvcom_CopyField(record->lastName, name, sizeof(record->lastName) - 1, "lastName");
    }
    char *comma = strchr(record->firstName, ',');
    if (comma) {
        *comma = '\0';
        char swap[sizeof(record->firstName)];
        com_strncpy(swap, record->firstName, sizeof(swap) - 1);
        com_strncpy(record->firstName, record->lastName, sizeof(record->firstName) - 1);
        com_strncpy(record->lastName, swap, sizeof(record->lastName) - 1);
    }
}

}  // namespace

extern "C" {

int ReadNK2Property(FILE *file, char *displayName, char *addrType, char *address, int *endOfFile) {
    unsigned char head[16];
    if (fread(head, 1, sizeof(head), file) != sizeof(head)) {
        *endOfFile = 1;
        return 0;
    }
    uint32_t tag = (uint32_t)head[0] | ((uint32_t)head[1] << 8) | ((uint32_t)head[2] << 16) | ((uint32_t)head[3] << 24);
    uint32_t type = tag & 0xFFFF;
    char *kept = KeptText(tag >> 16, displayName, addrType, address);
    char scratch[BV_NK2_TEXT_LEN];
    bool ok = true;
    switch (type) {
        case PT_I2: case PT_LONG: case PT_R4: case PT_DOUBLE: case PT_ERROR: case PT_BOOLEAN: case PT_I8:
        case PT_SYSTIME:
            return 1;
        case PT_STRING8: ok = ReadString8(file, kept ? kept : scratch); break;
        case PT_UNICODE: ok = ReadUnicode(file, kept ? kept : scratch); break;
        case PT_BINARY: {
            uint32_t length;
            ok = ReadU32(file, &length) && SkipBytes(file, length);
            break;
        }
        case PT_CLSID: ok = SkipBytes(file, kGuidLen); break;
        case PT_MV_BINARY: case PT_MV_STRING8: case PT_MV_UNICODE: ok = SkipMultiValued(file); break;
        default: return 0;  // unreadable: ends the row
    }
    if (!ok) *endOfFile = 1;
    return ok ? 1 : 0;
}

int ReadNK2Rows(FILE *file, int collect) {
    if (fseek(file, kNK2HeaderLen, SEEK_SET) != 0) return 0;
    uint32_t rawRows;
    if (!ReadU32(file, &rawRows)) return 0;
    int32_t rows = (int32_t)rawRows;
    int found = 0;
    char displayName[BV_NK2_TEXT_LEN], addrType[BV_NK2_TEXT_LEN], address[BV_NK2_TEXT_LEN];
    char entry[BV_NK2_ENTRY_LEN];
    int endOfFile = 0;
    for (int32_t row = 0; row < rows && !endOfFile; row++) {
        displayName[0] = addrType[0] = address[0] = '\0';
        uint32_t properties;
        if (!ReadU32(file, &properties)) break;
        for (uint32_t i = 0; i < properties; i++)
            if (!ReadNK2Property(file, displayName, addrType, address, &endOfFile)) break;
        if (endOfFile) break;  // a row cut short by the end of the file is no entry
        if (!RowEntry(displayName, address, addrType, entry)) continue;
        found++;
        if (collect && gNK2EntryCount < BV_NK2_MAX_ENTRIES) {
            char *block = static_cast<char *>(malloc(BV_NK2_ENTRY_LEN));
            if (!block) continue;
            com_strncpy(block, entry, BV_NK2_ENTRY_LEN - 1);
            gNK2Entries[gNK2EntryCount++] = block;
        }
    }
    return found;
}

int CountNK2Contacts(const char *path) {
    FILE *file = plat_fopen(path, "rb");
    if (!file) return 0;
    int found = ReadNK2Rows(file, 0);
    fclose(file);
    return found;
}

void ParseNK2File(mdat *record, BvItemCallback itemCallback, const char *workDir, int *countOut,
                  BvStatusCallback statusCallback) {
    *countOut = 0;
    FILE *file = plat_fopen(gCurrentFile, "rb");
    if (!file) return;
    FreeEntries();
    *countOut = ReadNK2Rows(file, 1);
    fclose(file);

    int recordIndex = 0;
    for (int i = 0; i < gNK2EntryCount; i++) {
        com_ResetObject(record);
        record->dataType = kContactDataType;
        char *entry = gNK2Entries[i];
        char *semicolon = strchr(entry, ';');
        if (!semicolon) continue;
        *semicolon = '\0';
        bvcom_CopyField(record->emailAddr, semicolon + 1, sizeof(record->emailAddr) - 1, "emailAddr");
        SplitDisplayName(entry, record);
        com_AddrCharConvert(record);
        com_AttachSize(record, workDir, 0, gMaxAttachSize);
        com_AddressTranslate(record);
        char item[BV_NK2_ENTRY_LEN + 64];
        bv_snprintf(item, sizeof item, "NK2 entry %d (%s)", recordIndex + 1, record->emailAddr);
        bvcom_WarnCutFields(item);
        itemCallback(record, "", workDir, recordIndex);
        recordIndex++;
        com_Deallocate_All(record, workDir);
        com_Deallocate(record, workDir);
        int a = 0, b = 0, stop = 0;
        statusCallback(record, "", BV_STATUS_HANDED_OVER, &a, &b, &stop);
        com_Pause(kPauseMs);
        if (stop || recordIndex >= gMaxRead) break;
    }
    *countOut = recordIndex;
    FreeEntries();
}

}  // extern "C"

extern "C" int IsNk2Path(const char *path) {
    char ext[16];
    com_ExtractFileExt(path, ext, sizeof ext);
    return strcasecmp(ext, "nk2") == 0 || strcasecmp(ext, "dat") == 0;
}
