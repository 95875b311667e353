// Item digests and the register that lets a second run skip converted items.
#include <gtest/gtest.h>
#include <string.h>

#include "tests/foundation/foundation_test_util.h"

static void MakeMail(mdat *rec, const char *subject) {
    rec->dataType = 0;
    strcpy(rec->messageId, "<1@example.com>");
    strcpy(rec->fromAddr, "ann@example.com");
    com_strncpy(rec->subject, subject, sizeof(rec->subject) - 1);
    rec->date = com_Create_FileTime(3, 1, 2023, 8, 30, 0);
}

TEST(DuplicateRegister, SecondRunSkipsWhatTheFirstRegistered) {
    ScratchDir work;
    {
        bvcom_SetWorkDir(work.path.c_str());  // first run
        HeapRecord rec;
        MakeMail(rec, "Hello");
        EXPECT_EQ(com_MsgIsDuplicate(rec, work.path.c_str(), BV_DUP_CHECK, "Inbox"), 0);
        EXPECT_EQ(com_MsgIsDuplicate(rec, work.path.c_str(), BV_DUP_REGISTER, "Inbox"), 0);
        EXPECT_NE(com_MsgIsDuplicate(rec, work.path.c_str(), BV_DUP_CHECK, "Inbox"), 0);
        EXPECT_EQ(com_MsgIsDuplicate(rec, work.path.c_str(), BV_DUP_CHECK, "Sent"), 0)
            << "the register is per folder";
    }
    {
        bvcom_SetWorkDir(work.path.c_str());  // a new process: state comes from the file only
        HeapRecord rec;
        MakeMail(rec, "Hello");
        EXPECT_NE(com_MsgIsDuplicate(rec, work.path.c_str(), BV_DUP_CHECK, "Inbox"), 0);
        MakeMail(rec, "Hello again");
        EXPECT_EQ(com_MsgIsDuplicate(rec, work.path.c_str(), BV_DUP_CHECK, "Inbox"), 0);
    }
    // Another work directory is another migration.
    ScratchDir other;
    bvcom_SetWorkDir(other.path.c_str());
    HeapRecord rec;
    MakeMail(rec, "Hello");
    EXPECT_EQ(com_MsgIsDuplicate(rec, other.path.c_str(), BV_DUP_CHECK, "Inbox"), 0);
    bvcom_SetWorkDir(nullptr);
}

TEST(DuplicateRegister, DigestFollowsTheIdentifyingFieldsOfEachKind) {
    HeapRecord a, b;
    MakeMail(a, "Same");
    MakeMail(b, "Same");
    strcpy(b->fromName, "a display name is not identifying");
    com_MsgIsDuplicate(a, nullptr, BV_DUP_DIGEST, "");
    com_MsgIsDuplicate(b, nullptr, BV_DUP_DIGEST, "");
    EXPECT_EQ(memcmp(a->digest, b->digest, 16), 0);
    static const uint8_t zero[16] = {0};
    EXPECT_NE(memcmp(a->digest, zero, 16), 0);
    // A mail item is known by its content, never by its date (which the
    // parser may have made up, and the target shifts to local time).
    b->date = com_Create_FileTime(3, 1, 2023, 8, 31, 0);
    com_MsgIsDuplicate(b, nullptr, BV_DUP_DIGEST, "");
    EXPECT_EQ(memcmp(a->digest, b->digest, 16), 0);
    ScratchDir work;
    for (mdat *rec : {a.rec, b.rec}) {
        ASSERT_TRUE(com_AllocPart(rec));
        rec->partCount = 1;
        rec->msgNumber = rec == a.rec ? 1 : 2;
    }
    char path[1024];
    com_PartFileName(work.path.c_str(), a, 0, path, sizeof(path));
    WriteFile(path, "The body.\r\n");
    com_PartFileName(work.path.c_str(), b, 0, path, sizeof(path));
    WriteFile(path, "Another body.\r\n");
    com_MsgIsDuplicate(a, work.path.c_str(), BV_DUP_DIGEST, "");
    com_MsgIsDuplicate(b, work.path.c_str(), BV_DUP_DIGEST, "");
    EXPECT_NE(memcmp(a->digest, b->digest, 16), 0) << "the part files differ";
    com_Deallocate(a, work.path.c_str());
    com_Deallocate(b, work.path.c_str());

    // Field boundaries count: "ab"+"c" differs from "a"+"bc".
    HeapRecord c1, c2;
    c1->dataType = c2->dataType = 1;
    strcpy(c1->firstName, "ab");
    strcpy(c1->lastName, "c");
    strcpy(c2->firstName, "a");
    strcpy(c2->lastName, "bc");
    com_MsgIsDuplicate(c1, nullptr, BV_DUP_DIGEST, "");
    com_MsgIsDuplicate(c2, nullptr, BV_DUP_DIGEST, "");
    EXPECT_NE(memcmp(c1->digest, c2->digest, 16), 0);

    // An event's digest does not depend on its UID (a UID may be made from it).
    HeapRecord e1, e2;
    e1->dataType = e2->dataType = 2;
    strcpy(e1->title, "Standup");
    strcpy(e2->title, "Standup");
    strcpy(e2->uid, "given-uid");
    com_MsgIsDuplicate(e1, nullptr, BV_DUP_DIGEST, "");
    com_MsgIsDuplicate(e2, nullptr, BV_DUP_DIGEST, "");
    EXPECT_EQ(memcmp(e1->digest, e2->digest, 16), 0);
}
