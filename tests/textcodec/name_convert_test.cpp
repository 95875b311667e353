// com_NameConvert: a table of full names and their split, and address lines
// built from bare names.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "record/com.h"

namespace {

struct SplitCase {
    const char *full;
    const char *first;
    const char *last;
    const char *rest;
};

const SplitCase kSplitCases[] = {
    {"John Smith", "John", "Smith", ""},
    {"Smith, John", "John", "Smith", ""},
    {"Smith,John", "John", "Smith", ""},
    {"Smith, John Paul", "John", "Smith", "Paul"},
    {"John Paul Smith", "John", "Smith", "Paul"},
    {"Mary Ann Lou Smith", "Mary", "Smith", "Ann Lou"},
    {"  John \t  Smith  ", "John", "Smith", ""},
    {"\"John Smith\"", "John", "Smith", ""},
    {"'Smith, John'", "John", "Smith", ""},
    {"Cher", "Cher", "", ""},
    {"  Cher  ", "Cher", "", ""},
    {"Dr. John Smith", "John", "Smith", "Dr."},
    {"John Smith Jr.", "John", "Smith", "Jr."},
    {"Smith, Jr.", "Smith", "", "Jr."},
    {"John Smith, Jr.", "John", "Smith", "Jr."},
    {"Ludwig van Beethoven", "Ludwig", "van Beethoven", ""},
    {"Johann Wolfgang von Goethe", "Johann", "von Goethe", "Wolfgang"},
    {"Jan van der Berg", "Jan", "van der Berg", ""},
    {"van Beethoven, Ludwig", "Ludwig", "van Beethoven", ""},
    {"Smith, Dr. John", "John", "Smith", "Dr."},
    {"Jürgen Müller-Lüdenscheidt", "Jürgen", "Müller-Lüdenscheidt", ""},
    {", John", "John", "", ""},
    {"Dr.", "Dr.", "", ""},
};

TEST(NameConvert, SplitsFullNames) {
    for (const SplitCase &c : kSplitCases) {
        SCOPED_TRACE(c.full);
        char first[BV_NAME_LEN], last[BV_NAME_LEN], rest[BV_NAME_LEN];
        memset(first, 'X', sizeof first);
        memset(last, 'X', sizeof last);
        memset(rest, 'X', sizeof rest);
        int found = com_NameConvert(c.full, "/fn/ln", first, last, rest, 0);
        EXPECT_STREQ(first, c.first);
        EXPECT_STREQ(last, c.last);
        EXPECT_STREQ(rest, c.rest);
        EXPECT_EQ(found != 0, c.first[0] || c.last[0]);
    }
}

TEST(NameConvert, EmptyAndOversizedNames) {
    char first[BV_NAME_LEN], last[BV_NAME_LEN], rest[BV_NAME_LEN];
    EXPECT_EQ(com_NameConvert("", "/fn/ln", first, last, rest, 0), 0);
    EXPECT_STREQ(first, "");
    EXPECT_EQ(com_NameConvert("   \t ", "/fn/ln", first, last, rest, 0), 0);
    EXPECT_STREQ(last, "");
    // Far longer than an output and with more words than are looked at.
    std::string many;
    for (int i = 0; i < 400; ++i) many += "Word" + std::to_string(i) + " ";
    EXPECT_NE(com_NameConvert(many.c_str(), "/fn/ln", first, last, rest, 0), 0);
    EXPECT_STREQ(first, "Word0");
    EXPECT_LT(strlen(last), (size_t)BV_NAME_LEN);
    EXPECT_LT(strlen(rest), (size_t)BV_NAME_LEN);
    std::string oneWord(5000, 'a');
    com_NameConvert(oneWord.c_str(), "/fn/ln", first, last, rest, 0);
    EXPECT_EQ(strlen(first), (size_t)BV_NAME_LEN - 1);
}

TEST(NameConvert, BuildsAddressLinesForADomain) {
    char display[BV_NAME_LEN], addr[BV_NAME_LEN], line[BV_NAME_LEN];
    EXPECT_NE(com_NameConvert("John Smith", "example.com", display, addr, line, 0), 0);
    EXPECT_STREQ(display, "John Smith");
    EXPECT_STREQ(addr, "John.Smith@example.com");
    EXPECT_STREQ(line, "\"John Smith\" <John.Smith@example.com>");

    com_NameConvert("jsmith", "@example.com", display, addr, line, 0);
    EXPECT_STREQ(line, "\"jsmith\" <jsmith@example.com>");

    // A directory name gives its last common name.
    com_NameConvert("/o=Contoso/ou=First Site/cn=Recipients/cn=jdoe", "contoso.com", display, addr, line, 0);
    EXPECT_STREQ(line, "\"jdoe\" <jdoe@contoso.com>");

    // Accents leave the local part; quotes in the name are escaped.
    com_NameConvert("Jörg \"Jo\" Müller", "example.de", display, addr, line, 0);
    EXPECT_STREQ(addr, "Jorg.Jo.Muller@example.de");
    EXPECT_STREQ(line, "\"Jörg \\\"Jo\\\" Müller\" <Jorg.Jo.Muller@example.de>");

    // Characters outside an address atom are dropped, dots do not double.
    com_NameConvert("O'Brien, (Sales) . Team", "example.com", display, addr, line, 0);
    EXPECT_STREQ(addr, "O'Brien.Sales.Team@example.com");

    // Nothing to build an address from.
    EXPECT_EQ(com_NameConvert("", "example.com", display, addr, line, 0), 0);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(com_NameConvert("John", "", display, addr, line, 0), 0);
    EXPECT_STREQ(line, "");
}

TEST(NameConvert, AddressLineOfAnOversizedNameStaysBounded) {
    char display[BV_NAME_LEN], addr[BV_NAME_LEN], line[BV_NAME_LEN];
    std::string name;
    for (int i = 0; i < 200; ++i) name += "Name\"" + std::to_string(i) + " ";
    EXPECT_NE(com_NameConvert(name.c_str(), "example.com", display, addr, line, 0), 0);
    EXPECT_LT(strlen(line), (size_t)BV_NAME_LEN);
    EXPECT_LT(strlen(addr), (size_t)BV_ADDR_LEN);
    std::string l = line;
    ASSERT_GT(l.size(), 2u);
    EXPECT_EQ(l.back(), '>');
    EXPECT_NE(l.find("\" <"), std::string::npos);
    // The quoted part never ends on a lone escape character.
    size_t close = l.find("\" <");
    EXPECT_NE(l[close - 1], '\\');
}

}  // namespace
