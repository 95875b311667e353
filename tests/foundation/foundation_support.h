// A record on the heap (the pointer arrays alone are ~48 KB) that frees
// everything it holds at the end, and a scratch directory addressed as
// `dir / "name"`.
#pragma once

#include <stdlib.h>

#include "platform/platform.h"
#include "record/com.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

struct HeapRecord {
    mdat *rec;
    HeapRecord() : rec((mdat *)calloc(1, sizeof(mdat))) {}
    ~HeapRecord() {
        com_Deallocate_All(rec, nullptr);
        com_Deallocate(rec, nullptr);
        free(rec);
    }
    mdat *operator->() { return rec; }
    operator mdat *() { return rec; }
};

struct ScratchDir {
    bvtest::TempDir dir{"bvfound"};
    std::string path = dir.Path().string() + "/";
    std::string operator/(const std::string &name) const { return path + name; }
};
