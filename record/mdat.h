// The item record shared by the host, the module and the common library.
//
// The layout is fixed: fields follow each other in the order below with no
// alignment gaps (every field sits at a multiple of its own alignment, and
// -Wpadded is an error inside this header). Host-only stretches are named
// reserved fields. Because the struct is not packed, taking the address of
// any field is safe and clean under UndefinedBehaviorSanitizer.
#pragma once

#include <stdint.h>
#include "platform/wintypes.h"

#define BV_MAX_PARTS 500
#define BV_MAX_RECIPS 5000
#define BV_MAX_EXCEPTIONS 512

// Text widths, named once.
#define BV_NAME_LEN 512
#define BV_ADDR_LEN 256
#define BV_SUBJECT_LEN 528
#define BV_ORIGSENDER_LEN 768
#define BV_MSGID_LEN 128
#define BV_UID_LEN 336
#define BV_CHARSET_LEN 32
#define BV_DELIVEREDTO_LEN 260
#define BV_RRULE_LEN 128
#define BV_TZNAME_LEN 100
#define BV_CONTENTID_LEN 1024
#define BV_EXC_TEXT_LEN 256

#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wpadded"
#endif

struct mdat;

// One body part, attachment or header block; its bytes live in a part file.
typedef struct mpart {
    char name[BV_NAME_LEN];
    int32_t size;
    int32_t partType;  // see BvPartType
    char contentId[BV_CONTENTID_LEN];
    struct mdat *subMsg;  // embedded message (partType 14)
    char charset[BV_CHARSET_LEN];
} mpart;

typedef struct mrecip {
    char name[BV_NAME_LEN];
    char addr[BV_ADDR_LEN];
    int32_t type;    // 3 To/required, 11 Cc/optional, 12 Bcc, 31 organizer
    int32_t status;  // 0 none, 1 accepted, 2 declined, 3 tentative
} mrecip;

typedef struct mexception {
    int32_t kind;  // 1 deleted, 0 changed
    FILETIME originalStart;
    FILETIME newStart;
    FILETIME newEnd;
    char title[BV_EXC_TEXT_LEN];
    char location[BV_EXC_TEXT_LEN];
    char notesFile[BV_EXC_TEXT_LEN];
    char attendeeFile[BV_EXC_TEXT_LEN];
    int32_t reminderSet;      // the occurrence has an alarm of its own
    int32_t reminderMinutes;  // minutes before its start
} mexception;

typedef struct mdat {
    mpart *parts[BV_MAX_PARTS];
    mrecip *recips[BV_MAX_RECIPS];
    mexception *exceptions[BV_MAX_EXCEPTIONS];
    int32_t partCount;
    int32_t recipCount;
    int32_t exceptionCount;
    int32_t dataType;  // 0 mail, 1 contact, 2 event, 3 task
    char groupFolder[BV_NAME_LEN];
    char fromName[BV_NAME_LEN];
    char fromAddr[BV_ADDR_LEN];
    char originalSender[BV_ORIGSENDER_LEN];
    char subject[BV_SUBJECT_LEN];
    FILETIME date;
    int32_t priority;  // 0 low, 1 normal, 2 high
    int32_t unread;
    uint8_t digest[16];
    int32_t msgNumber;
    char messageId[BV_MSGID_LEN];
    int32_t followUpFlag;
    int32_t pmFlag21;
    int32_t pmFlag20;
    int32_t codepage;
    char uid[BV_UID_LEN];
    char charset[BV_CHARSET_LEN];
    int32_t dateSubstituted;
    char firstName[BV_NAME_LEN];
    char lastName[BV_NAME_LEN];
    char middleName[BV_NAME_LEN];
    char title[BV_NAME_LEN];
    char location[BV_NAME_LEN];
    char department[BV_NAME_LEN];
    char managerName[BV_NAME_LEN];
    char assistantName[BV_NAME_LEN];
    char businessPhone[BV_NAME_LEN];
    char homePhone[BV_NAME_LEN];
    char reservedHostContact1[3][BV_NAME_LEN];
    char directPhone[BV_NAME_LEN];
    char businessFax[BV_NAME_LEN];
    char homeFax[BV_NAME_LEN];
    char directFax[BV_NAME_LEN];
    char mobilePhone[BV_NAME_LEN];
    char spouse[BV_NAME_LEN];
    char children[BV_NAME_LEN];
    char company[BV_NAME_LEN];
    char businessStreet[BV_NAME_LEN];
    char businessStreet2[BV_NAME_LEN];
    char businessCity[BV_NAME_LEN];
    char businessState[BV_NAME_LEN];
    char businessPostalCode[BV_NAME_LEN];
    char businessCountry[BV_NAME_LEN];
    char emailAddr[BV_ADDR_LEN];
    char emailDisplayName[BV_ADDR_LEN];
    char email2Addr[BV_NAME_LEN];
    char email3Addr[BV_NAME_LEN];
    int32_t itemFlag;  // contact: 1 distribution list; event/task: 2 completed
    char pager[BV_NAME_LEN];
    char webPage[BV_ADDR_LEN];
    char birthday[BV_NAME_LEN];
    char homeStreet[BV_NAME_LEN];
    char homeStreet2[BV_NAME_LEN];
    char homeCity[BV_NAME_LEN];
    char homeState[BV_NAME_LEN];
    char homePostalCode[BV_NAME_LEN];
    char homeCountry[BV_NAME_LEN];
    char courtesyTitle[BV_NAME_LEN];
    char suffix[BV_NAME_LEN];
    char categories[BV_NAME_LEN];
    char reservedHostContact2[4][BV_NAME_LEN];
    char displayName[BV_NAME_LEN];
    int16_t allDayKind;
    int16_t reservedHost1;
    FILETIME startTime;
    FILETIME endTime;
    FILETIME completedTime;
    int16_t sensitivity;
    int16_t busyStatus;
    // Recurrence block.
    uint16_t isRecurring;
    uint16_t recurType;  // BvRecurType
    uint32_t recurInterval;
    uint32_t recurWeekOfMonth;
    uint32_t recurDayMask;
    uint32_t recurMonth;
    uint32_t recurDayOfMonth;
    uint32_t recurEndType;  // BvRecurEnd
    uint32_t recurCount;
    FILETIME recurEnd;
    int32_t rsvp;
    int32_t percentComplete;
    char organizerName[BV_NAME_LEN];
    int32_t reminderSet;
    int32_t reminderMinutes;
    int32_t isOwner;
    char deliveredTo[BV_DELIVEREDTO_LEN];
    FILETIME reminderTime;
    char organizerAddr[BV_ADDR_LEN];
    int32_t allDay;
    char rrule[BV_RRULE_LEN];
    int32_t taskStatus;
    int32_t importance;  // 0 low, 1 normal, 2 high
    char tzName[BV_TZNAME_LEN];
    int32_t tzBias;
    int32_t tzStdBias;
    int32_t tzDstBias;
    FILETIME tzStdStart;
    FILETIME tzDstStart;
    int32_t folderTotal;
    int32_t reservedHost2;
} mdat;

#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif

// How an event or task recurs (`recurType`).
enum BvRecurType {
    BV_RECUR_NONE = 0,
    BV_RECUR_YEARLY_BY_DATE = 1,
    BV_RECUR_YEARLY_BY_POSITION = 2,  // the nth weekday of a month
    BV_RECUR_MONTHLY_BY_DATE = 3,
    BV_RECUR_MONTHLY_BY_POSITION = 4,
    BV_RECUR_WEEKLY = 5,
    BV_RECUR_DAILY = 6,
    BV_RECUR_EVERY_WEEKDAY = 7,  // daily, Monday to Friday
};
// How a series ends (`recurEndType`).
enum BvRecurEnd { BV_RECUR_END_COUNT = 0, BV_RECUR_END_DATE = 1, BV_RECUR_END_NEVER = 2 };

// What a record holds (`dataType`).
enum BvDataType { BV_DATA_MAIL = 0, BV_DATA_CONTACT = 1, BV_DATA_EVENT = 2, BV_DATA_TASK = 3 };

// Content classes of a part.
enum BvPartType {
    BV_PART_ATTACHMENT = 0,
    BV_PART_TEXT = 1,
    BV_PART_HTML = 9,
    BV_PART_HEADER = 11,
    BV_PART_INLINE_TEXT = 12,
    BV_PART_EMPTY_BODY = 13,
    BV_PART_EMBEDDED = 14,
};

// An attachment keeps the content type it came with in `charset` when the
// type fits there; a longer one (up to BV_LONG_TYPE_LEN characters), or the
// type of a text attachment (whose `charset` names its charset), opens its
// `contentId` instead: this marker, the type, one space, then the
// Content-ID (often empty). Neither a type nor a Content-ID holds a space.
#define BV_LONG_TYPE_MARKER "type:"
#define BV_LONG_TYPE_LEN 127

#ifdef __cplusplus
static_assert(sizeof(((mdat *)0)->subject) == 528, "subject width");
static_assert(sizeof(((mdat *)0)->originalSender) == 768, "originalSender width");
static_assert(sizeof(((mdat *)0)->uid) == 336, "uid width");
static_assert(sizeof(((mdat *)0)->deliveredTo) >= 257, "deliveredTo width");
static_assert(sizeof(((mdat *)0)->tzName) == 100, "tzName width");
static_assert(sizeof(((mdat *)0)->parts) / sizeof(mpart *) == 500, "500 parts");
static_assert(sizeof(((mdat *)0)->recips) / sizeof(mrecip *) >= 5000, "5000 recipients");
static_assert(sizeof(((mdat *)0)->exceptions) / sizeof(mexception *) == 512, "512 exceptions");
static_assert(sizeof(((mpart *)0)->contentId) == 1024, "contentId width");
static_assert(sizeof(FILETIME) == 8, "FILETIME is two 32-bit halves");
#endif
