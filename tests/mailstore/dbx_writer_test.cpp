// The DBX fixture writer against a peer reader: undbx, which follows the
// file's own index, must extract exactly the indexed messages.
#include <algorithm>
#include "mailstore_fixture.h"
#include "support/file_text.h"

class DbxWriterTest : public MailStoreTest {};

TEST_F(DbxWriterTest, UndbxExtractsTheIndexedMessages) {
    if (std::system("command -v undbx > /dev/null 2>&1") != 0) GTEST_SKIP() << "undbx not installed";
    // Enough messages for an index tree of more than one level.
    fs::path in = root_ / "in";
    std::vector<std::string> sources;
    for (int i = 0; i < 130; i++) {
        std::string m = "From: n" + std::to_string(i) + "@example.org\r\nSubject: Number " + std::to_string(i) +
                        "\r\n\r\n" + std::string((size_t)(i * 37) % 1500, (char)('a' + i % 26)) + "\r\n";
        WriteEml(in, NumberedEml(1000 + i), m);
        if (i != 7) sources.push_back(m);  // message 7 is written as deleted
    }
    ASSERT_EQ(Tool("dbx_writer", "--deleted 7 " + Quote(store_ / "Inbox.dbx") + " " + Quote(in)), 0);
    fs::path out = root_ / "undbx";
    fs::create_directories(out);
    ASSERT_EQ(std::system(("undbx -v 0 " + Quote(store_ / "Inbox.dbx") + " " + Quote(out) + " > /dev/null 2>&1").c_str()),
              0);
    std::vector<std::string> extracted;
    for (const auto &e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file() && e.path().extension() == ".eml") extracted.push_back(bvtest::ReadFileText(e.path()));
    std::sort(sources.begin(), sources.end());
    std::sort(extracted.begin(), extracted.end());
    EXPECT_EQ(extracted.size(), 129u);
    EXPECT_TRUE(extracted == sources);

    // The scan of the same file finds the deleted message too.
    ListFolders(store_);
    ASSERT_EQ(gFolderCount, 1);
    EXPECT_EQ(gFolderTable[0]->itemCount, 130u);
}
