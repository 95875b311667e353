#include "support/host_callbacks.h"

#include "record/com.h"
#include "support/file_text.h"

namespace bvtest {

std::vector<std::string> gCollectedFolderTexts;

int BV_CALL CollectFolderText(const char *folderText) {
    gCollectedFolderTexts.push_back(folderText);
    return 0;
}

int BV_CALL NeverStop(mdat *, const char *, int, int *, int *, int *) { return 0; }

std::string PartFileText(const mdat *rec, const char *workDir, int index) {
    if (index >= rec->partCount) return "";
    char path[4096];  // work directory plus the part file name
    com_PartFileName(workDir, rec, index, path, sizeof(path));
    return ReadFileText(path);
}

}  // namespace bvtest
