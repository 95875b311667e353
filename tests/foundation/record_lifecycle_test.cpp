// Sub-record limits, freeing with part files, embedded records, clearing
// between items, size totals and the attachment size limit.
#include <gtest/gtest.h>
#include <stddef.h>
#include <string.h>

#include <algorithm>

#include "tests/foundation/foundation_support.h"

// Adds a part with a real part file of `size` bytes, as a reader does.
static int AddPartWithFile(mdat *rec, const std::string &workDir, int partType, int size, const char *name) {
    if (!com_AllocPart(rec)) return -1;
    int index = rec->partCount;
    mpart *part = rec->parts[index];
    part->partType = partType;
    part->size = size;
    com_strncpy(part->name, name, sizeof(part->name) - 1);
    char path[1024];
    com_PartFileName(workDir.c_str(), rec, index, path, sizeof(path));
    bvtest::WriteFileText(path, std::string((size_t)size, 'x'));
    rec->partCount++;
    return index;
}

static std::string PartPath(const std::string &workDir, const mdat *rec, int index) {
    char path[1024];
    com_PartFileName(workDir.c_str(), rec, index, path, sizeof(path));
    return path;
}

TEST(RecordLimits, PartsRecipientsAndExceptionsStopAtTheirLimits) {
    HeapRecord rec;
    // A slot the caller never counted is handed out again, cleared.
    ASSERT_TRUE(com_AllocPart(rec));
    strcpy(rec->parts[0]->name, "left over");
    ASSERT_TRUE(com_AllocPart(rec));
    EXPECT_STREQ(rec->parts[0]->name, "");
    // Each array takes exactly its limit.
    auto fill = [&](int (*alloc)(mdat *), int32_t &count, int limit) {
        for (int i = 0; i < limit; ++i, ++count) ASSERT_NE(alloc(rec), 0) << i << " of " << limit;
        EXPECT_EQ(alloc(rec), 0) << "one more than " << limit;
    };
    fill(com_AllocPart, rec->partCount, BV_MAX_PARTS);
    fill(com_AllocRecip, rec->recipCount, BV_MAX_RECIPS);
    fill(com_AllocBreakout, rec->exceptionCount, BV_MAX_EXCEPTIONS);

    // A corrupt count (negative or past the array) is refused, not written through.
    rec->partCount = -3;
    EXPECT_EQ(com_AllocPart(rec), 0);
    rec->partCount = BV_MAX_PARTS + 7;
    EXPECT_EQ(com_AllocPart(rec), 0);
    rec->partCount = BV_MAX_PARTS;
    EXPECT_EQ(com_AllocSubMsg(rec, BV_MAX_PARTS), 0);
    EXPECT_EQ(com_AllocSubMsg(rec, -1), 0);
    com_Deallocate_All(rec, nullptr);
    com_Deallocate(rec, nullptr);
    EXPECT_EQ(rec->partCount, 0);
    EXPECT_EQ(rec->recipCount, 0);
    EXPECT_EQ(rec->exceptionCount, 0);
    EXPECT_EQ(rec->parts[0], nullptr);
    EXPECT_EQ(rec->recips[BV_MAX_RECIPS - 1], nullptr);
}

TEST(RecordFreeing, DeallocateDeletesPartFilesOfEmbeddedRecordsToo) {
    ScratchDir dir;
    HeapRecord rec;
    rec->msgNumber = 7;
    AddPartWithFile(rec, dir.path, BV_PART_HEADER, 10, "header");
    AddPartWithFile(rec, dir.path, BV_PART_TEXT, 20, "body.txt");
    int embeddedAt = AddPartWithFile(rec, dir.path, BV_PART_EMBEDDED, 5, "forwarded.eml");
    ASSERT_TRUE(com_AllocSubMsg(rec, embeddedAt));
    mdat *sub = rec->parts[embeddedAt]->subMsg;
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->msgNumber, 7);
    EXPECT_EQ(sub->priority, 1);
    AddPartWithFile(sub, dir.path, BV_PART_HEADER, 3, "inner header");
    AddPartWithFile(sub, dir.path, BV_PART_ATTACHMENT, 4, "inner.bin");
    ASSERT_TRUE(com_AllocRecip(sub));
    sub->recipCount++;
    // A second level of nesting.
    int innerAt = AddPartWithFile(sub, dir.path, BV_PART_EMBEDDED, 2, "deeper.eml");
    ASSERT_TRUE(com_AllocSubMsg(sub, innerAt));
    mdat *deeper = sub->parts[innerAt]->subMsg;
    AddPartWithFile(deeper, dir.path, BV_PART_TEXT, 1, "deep.txt");

    // Names are distinct across levels and follow the documented scheme.
    EXPECT_EQ(PartPath(dir.path, rec, 1), dir / "PRT00701.TMP");
    EXPECT_EQ(PartPath(dir.path, sub, 0), dir / "PRT00702E00.TMP");
    EXPECT_EQ(PartPath(dir.path, deeper, 0), dir / "PRT00702E02E00.TMP");
    int files = 0;
    PlatFindData found;
    PlatFind *find = plat_FindFirstFile((dir.path + "PRT*.TMP").c_str(), &found);
    for (int more = find != nullptr; more; more = plat_FindNextFile(find, &found)) ++files;
    plat_FindClose(find);
    EXPECT_EQ(files, 7);

    int header = 0, total = 0;
    com_CalcMdatSize(rec, &header, &total);
    EXPECT_EQ(header, 10);
    EXPECT_EQ(total, 10 + 20 + 5 + 3 + 4 + 2 + 1);

    com_Deallocate_All(rec, dir.path.c_str());
    com_Deallocate(rec, dir.path.c_str());
    find = plat_FindFirstFile((dir.path + "*.*").c_str(), &found);
    EXPECT_EQ(find, nullptr) << "left behind: " << (find ? found.name : "");
    plat_FindClose(find);
    EXPECT_EQ(rec->partCount, 0);
    EXPECT_EQ(rec->parts[embeddedAt], nullptr);
    // LeakSanitizer reports the embedded records if they were not freed.
}

TEST(RecordFreeing, UncountedPartAndItsFileAreFreedToo) {
    ScratchDir dir;
    HeapRecord rec;
    rec->msgNumber = 3;
    ASSERT_TRUE(com_AllocPart(rec));  // a reader that failed before raising partCount
    std::string path = PartPath(dir.path, rec, 0);
    bvtest::WriteFileText(path, "partial");
    com_Deallocate(rec, dir.path.c_str());
    EXPECT_FALSE(plat_FileExists(path.c_str()));
    EXPECT_EQ(rec->parts[0], nullptr);
}

// Every byte after the pointer arrays set, the counts and the group folder
// then made valid.
static void FillEveryItemField(mdat *rec) {
    memset(&rec->partCount, 0x5A, sizeof(mdat) - offsetof(mdat, partCount));
    rec->partCount = rec->recipCount = rec->exceptionCount = 0;
    strcpy(rec->groupFolder, "Imported");
}

// Every byte of the record is zero but the kept group folder and the
// priorities' defaults.
static void ExpectClearedExceptKeptFields(const mdat *rec, const char *groupFolder) {
    mdat expected;
    memset(&expected, 0, sizeof(expected));
    strcpy(expected.groupFolder, groupFolder);
    expected.priority = expected.importance = 1;
    auto *a = (const unsigned char *)rec, *b = (const unsigned char *)&expected;
    size_t firstDiff = (size_t)(std::mismatch(a, a + sizeof(mdat), b).first - a);
    EXPECT_EQ(firstDiff, sizeof(mdat)) << "byte " << firstDiff << " of the record still holds data";
}

// Both ways a record is emptied between items leave nothing of the previous
// one but the kept fields, nor its part files and notes.
TEST(RecordClearing, ResetAndHandOverFreeingLeaveNothingOfThePreviousItem) {
    for (bool reset : {true, false}) {
        ScratchDir dir;
        bvcom_SetWorkDir(dir.path.c_str());
        HeapRecord rec;
        FillEveryItemField(rec);
        rec->msgNumber = 4;
        AddPartWithFile(rec, dir.path, BV_PART_TEXT, 8, "body");
        ASSERT_TRUE(com_AllocRecip(rec) && com_AllocBreakout(rec));
        rec->recipCount++;
        rec->exceptionCount++;
        com_WriteNotes(rec, "notes of the first item", dir.path.c_str());
        if (reset) {
            com_ResetObject(rec);
        } else {
            com_Deallocate_All(rec, dir.path.c_str());
            com_Deallocate(rec, dir.path.c_str());
        }
        ExpectClearedExceptKeptFields(rec, "Imported");
        EXPECT_FALSE(plat_FileExists((dir / "PRT00400.TMP").c_str()));
        char notes[BV_NOTES_LEN];
        EXPECT_EQ(com_ReadNotes(rec, notes, dir.path.c_str()), 0);
        bvcom_SetWorkDir(nullptr);
    }
}

TEST(AttachSize, LargeAttachmentsGoAndLaterPartsKeepTheirFiles) {
    ScratchDir dir;
    HeapRecord rec;
    rec->msgNumber = 1;
    AddPartWithFile(rec, dir.path, BV_PART_HEADER, 50, "header");
    AddPartWithFile(rec, dir.path, BV_PART_ATTACHMENT, 500, "big.bin");
    AddPartWithFile(rec, dir.path, BV_PART_TEXT, 600, "long body stays");
    int embedded = AddPartWithFile(rec, dir.path, BV_PART_EMBEDDED, 30, "small.eml");
    ASSERT_TRUE(com_AllocSubMsg(rec, embedded));
    mdat *sub = rec->parts[embedded]->subMsg;
    AddPartWithFile(sub, dir.path, BV_PART_TEXT, 7, "inner");
    bvtest::WriteFileText(PartPath(dir.path, rec, 2), "body text");

    com_AttachSize(rec, dir.path.c_str(), 0, 100);
    ASSERT_EQ(rec->partCount, 3);
    EXPECT_STREQ(rec->parts[0]->name, "header");
    EXPECT_STREQ(rec->parts[1]->name, "long body stays");
    EXPECT_STREQ(rec->parts[2]->name, "small.eml");
    EXPECT_EQ(rec->parts[3], nullptr);
    EXPECT_EQ(bvtest::ReadFileText(PartPath(dir.path, rec, 1)), "body text");
    // The embedded record moved with its part: its files follow the new index.
    EXPECT_EQ(PartPath(dir.path, sub, 0), dir / "PRT00102E00.TMP");
    EXPECT_EQ(bvtest::ReadFileText(dir / "PRT00102E00.TMP"), "xxxxxxx");
    EXPECT_FALSE(plat_FileExists((dir / "PRT00103E00.TMP").c_str()));
    EXPECT_FALSE(plat_FileExists((dir / "PRT00103.TMP").c_str()));

    // Without a positive limit and without a host limit nothing changes.
    com_AttachSize(rec, dir.path.c_str(), 0, 0);
    EXPECT_EQ(rec->partCount, 3);
    bvcom_SetAttachSizeLimit(20);
    com_AttachSize(rec, dir.path.c_str(), 0, 9999999);
    bvcom_SetAttachSizeLimit(0);
    EXPECT_EQ(rec->partCount, 2) << "the host limit is the smaller one";
}
