#include "compose_test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include "mime/mime.h"
#include "module/session.h"
#include "record/com.h"

mdat *NewMailRecord(int msgNumber) {
    mdat *rec = static_cast<mdat *>(calloc(1, sizeof(mdat)));
    rec->msgNumber = msgNumber;
    rec->priority = 1;
    rec->importance = 1;
    com_strncpy(rec->groupFolder, "root", sizeof rec->groupFolder - 1);
    return rec;
}

void FreeMailRecord(mdat *rec, const std::string &workDir) {
    if (!rec) return;
    com_Deallocate_All(rec, workDir.c_str());
    com_Deallocate(rec, workDir.c_str());
    free(rec);
}

int AddPart(mdat *rec, const std::string &workDir, int partType, const std::string &name, const std::string &content,
            const std::string &contentId, const std::string &charset) {
    EXPECT_NE(com_AllocPart(rec), 0);
    int index = rec->partCount++;
    mpart *part = rec->parts[index];
    com_strncpy(part->name, name.c_str(), sizeof part->name - 1);
    com_strncpy(part->contentId, contentId.c_str(), sizeof part->contentId - 1);
    com_strncpy(part->charset, charset.c_str(), sizeof part->charset - 1);
    part->partType = partType;
    part->size = static_cast<int32_t>(content.size());
    char path[1024];
    com_PartFileName(workDir.c_str(), rec, index, path, sizeof path);
    bvtest::WriteFileText(path, content);
    return index;
}

mdat *ParseMessageFile(const std::string &path, const std::string &workDir, int msgNumber, int *result) {
    mdat *rec = NewMailRecord(msgNumber);
    FILE *in = fopen(path.c_str(), "rb");
    EXPECT_NE(in, nullptr) << path;
    *result = in ? Parse_RFC822_Msg(in, rec, workDir.c_str(), "", 1) : -1;
    if (in) fclose(in);
    return rec;
}

void ResetComposeSwitches() {
    gD81 = gD68 = gEih = gD74 = gDedup = 0;
    gD133 = 1;
    gDebug = 0;
    com_strncpy(gGmtOffset, "+0000", sizeof gGmtOffset - 1);
    setenv("TZ", "UTC", 1);
}

LogCapture::LogCapture() { bvcom_SetLogFile((dir.Path() / "log.txt").c_str()); }

LogCapture::~LogCapture() { bvcom_SetLogFile(nullptr); }

std::string LogCapture::Text() const { return bvtest::ReadFileText(dir.Path() / "log.txt"); }
