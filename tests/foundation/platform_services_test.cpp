// Directory search with masks, case-insensitive lookup, wide paths, BSTRs
// and the shared documents folder (the COM stand-in: tests/oeapi).
#include <gtest/gtest.h>
#include <set>
#include <string.h>

#include "support/scoped_env.h"
#include "tests/foundation/foundation_support.h"

static std::set<std::string> Find(const std::string &pattern) {
    std::set<std::string> names;
    PlatFindData data;
    PlatFind *find = plat_FindFirstFile(pattern.c_str(), &data);
    for (int more = find != nullptr; more; more = plat_FindNextFile(find, &data)) names.insert(data.name);
    plat_FindClose(find);
    return names;
}

TEST(DirectorySearch, MasksMatchAsWin32WithoutCase) {
    ScratchDir dir;
    for (const char *name : {"Inbox.DBX", "sent.dbx", "a.eml", "B.EML", "PRT00100.TMP", "PRT001", "notes", "x.eml.bak"})
        bvtest::WriteFileText(dir / name, "1234");
    plat_CreateDirectory((dir / "sub.eml").c_str());

    EXPECT_EQ(Find(dir / "*.*").size(), 9u) << "every entry, names without a dot included";
    EXPECT_EQ(Find(dir / "*.eml"), (std::set<std::string>{"a.eml", "B.EML", "sub.eml"}));
    EXPECT_EQ(Find(dir / "*.dbx"), (std::set<std::string>{"Inbox.DBX", "sent.dbx"}));
    EXPECT_EQ(Find(dir / "prt001*.*"), (std::set<std::string>{"PRT00100.TMP", "PRT001"}));
    EXPECT_EQ(Find(dir / "?.eml"), (std::set<std::string>{"a.eml", "B.EML"}));
    EXPECT_EQ(Find(dir / "inbox.dbx"), (std::set<std::string>{"Inbox.DBX"}));
    EXPECT_TRUE(Find(dir / "*.mbx").empty());
    EXPECT_TRUE(Find(dir / "missing/*.*").empty());
    EXPECT_TRUE(Find("").empty());

    PlatFindData data;
    PlatFind *find = plat_FindFirstFile((dir / "sub*").c_str(), &data);
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(data.isDirectory);
    plat_FindClose(find);
    find = plat_FindFirstFile((dir / "notes").c_str(), &data);
    ASSERT_NE(find, nullptr);
    EXPECT_FALSE(data.isDirectory);
    EXPECT_EQ(data.size, 4);
    FILETIME now;
    plat_GetSystemTimeAsFileTime(&now);
    uint64_t age = plat_FileTimeToU64(&now) - plat_FileTimeToU64(&data.lastWrite);
    EXPECT_LT(age, 3600ULL * 10000000ULL) << "modification time in FILETIME units";
    plat_FindClose(find);

    char found[512];
    EXPECT_TRUE(plat_FindFileNoCase(dir.path.c_str(), "FOLDERS.NCH", found, sizeof(found)) == 0);
    bvtest::WriteFileText(dir / "Folders.nch", "");
    ASSERT_TRUE(plat_FindFileNoCase(dir.path.c_str(), "folders.nch", found, sizeof(found)));
    EXPECT_EQ(std::string(found), dir / "Folders.nch");
}

TEST(DirectorySearch, WideFormsUseUtf16Names) {
    ScratchDir dir;
    bvtest::WriteFileText(dir / "R\xC3\xA9sum\xC3\xA9.eml", "x");  // UTF-8 on disk
    std::u16string pattern;
    for (char c : dir.path) pattern.push_back((char16_t)(unsigned char)c);
    pattern += u"*.EML";
    PlatFindDataW data;
    PlatFind *find = plat_FindFirstFileW((const WCHAR *)pattern.c_str(), &data);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(std::u16string((const char16_t *)data.name), u"R\u00E9sum\u00E9.eml");
    EXPECT_FALSE(plat_FindNextFileW(find, &data));
    plat_FindClose(find);

    std::u16string path;
    for (char c : dir.path) path.push_back((char16_t)(unsigned char)c);
    path += u"R\u00E9sum\u00E9.eml";
    FILE *f = plat_wfopen((const WCHAR *)path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fgetc(f), 'x');
    fclose(f);
}

TEST(FileAccess, BasicOperations) {
    ScratchDir dir;
    std::string a = dir / "a.txt", b = dir / "b.txt";
    bvtest::WriteFileText(a, "hello");
    EXPECT_EQ(plat_GetFileSize(a.c_str()), 5);
    EXPECT_TRUE(plat_FileExists(a.c_str()));
    EXPECT_FALSE(plat_DirectoryExists(a.c_str()));
    EXPECT_TRUE(plat_MoveFile(a.c_str(), b.c_str()));
    EXPECT_FALSE(plat_FileExists(a.c_str()));
    EXPECT_TRUE(plat_DeleteFile(b.c_str()));
    EXPECT_FALSE(plat_DeleteFile(b.c_str()));
    EXPECT_EQ(plat_fopen("", "rb"), nullptr);
    EXPECT_TRUE(plat_CreateDirectory((dir / "t").c_str()));
    EXPECT_TRUE(plat_CreateDirectory((dir / "t").c_str())) << "existing is fine";
    EXPECT_FALSE(plat_CreateDirectory((dir / "x/y").c_str())) << "one level only";
    bvtest::WriteFileText(dir / "t/inner", "1");
    EXPECT_TRUE(plat_RemoveDirectoryTree((dir / "t").c_str()));
    EXPECT_FALSE(plat_DirectoryExists((dir / "t").c_str()));
    char temp[256];
    plat_GetTempDirectory(temp, sizeof(temp));
    EXPECT_EQ(temp[strlen(temp) - 1], '/');
}

// Sizes around the read-only stream's 64 KB buffer: each file reads back
// whole through fread, again after a seek to its middle, by lines, and in
// pieces at offsets through plat_ReadAt.
TEST(FileAccess, ReadsGiveEveryByteAtAnySize) {
    ScratchDir dir;
    for (size_t size : {0, 1, 65535, 65536, 65537, 200003}) {
        std::string text(size, 'x');
        for (size_t i = 0; i < size; i++) text[i] = i % 61 == 60 ? '\n' : (char)('a' + i % 26);
        std::string path = dir / "f.bin";
        bvtest::WriteFileText(path, text);
        FILE *in = plat_fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr) << size;
        std::string got(size + 1, '\0');
        EXPECT_EQ(fread(&got[0], 1, size + 1, in), size) << size;
        EXPECT_EQ(got.substr(0, size), text) << size;
        EXPECT_EQ(fseek(in, (long)(size / 2), SEEK_SET), 0);
        EXPECT_EQ(ftell(in), (long)(size / 2));
        EXPECT_EQ(fread(&got[0], 1, size, in), size - size / 2) << size;
        EXPECT_EQ(got.substr(0, size - size / 2), text.substr(size / 2)) << size;
        rewind(in);
        std::string lines;
        char line[100];
        while (fgets(line, sizeof line, in)) lines += line;
        EXPECT_EQ(lines, text) << size;
        fclose(in);

        int64_t length = -1;
        PlatFile *file = plat_OpenForReading(path.c_str(), &length);
        ASSERT_NE(file, nullptr) << size;
        EXPECT_EQ(length, (int64_t)size);
        std::string pieces;
        char block[7000];
        for (int64_t at = 0, n; (n = plat_ReadAt(file, at, block, sizeof block)) > 0; at += n) pieces.append(block, (size_t)n);
        EXPECT_EQ(pieces, text) << size;
        plat_CloseFile(file);
    }
    int64_t length = 0;
    EXPECT_EQ(plat_OpenForReading(dir.path.c_str(), &length), nullptr) << "a directory is no file";
    EXPECT_EQ(plat_OpenForReading((dir / "missing").c_str(), &length), nullptr);
}

TEST(HostServices, BstrAndSharedDocuments) {
    const WCHAR withNul[] = {u'a', 0, u'b'};
    BSTR s = plat_SysAllocStringLen(withNul, 3);
    EXPECT_EQ(plat_SysStringLen(s), 3u);
    EXPECT_EQ(((uint32_t *)s)[-1], 6u) << "the prefix counts bytes";
    EXPECT_EQ(s[3], 0);
    plat_SysFreeString(s);
    s = plat_SysAllocString(u"Inbox");
    EXPECT_EQ(plat_SysStringLen(s), 5u);
    plat_SysFreeString(s);
    EXPECT_EQ(plat_SysAllocString(nullptr), nullptr);
    EXPECT_EQ(plat_SysStringLen(nullptr), 0u);

    bvtest::ScopedEnv docs("BV_SHARED_DOCUMENTS", "/srv/shared/");
    char out[256];
    ASSERT_TRUE(plat_GetSharedDocumentsFolder(out, sizeof(out)));
    EXPECT_STREQ(out, "/srv/shared");
    EXPECT_FALSE(plat_GetSharedDocumentsFolder(out, 2));
}
