// The shipped library exports the twelve entry points and nothing else.
#include <stdio.h>

#include <set>

#include "module_fixture.h"

namespace bvtest {
namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string &library, bool *ran) {
    std::set<std::string> symbols;
    std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    *ran = false;
    if (!pipe) return symbols;
    char line[1024];
    while (fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[512];
        if (sscanf(line, "%63s %7s %511s", address, type, name) == 3) symbols.insert(name);
    }
    *ran = pclose(pipe) == 0;
    return symbols;
}

TEST(ExportsTest, ExactlyTheTwelveEntryPoints) {
    bool ran = false;
    std::set<std::string> symbols = DefinedDynamicSymbols(BuildLibrary(), &ran);
    if (!ran) GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(symbols, (std::set<std::string>{"GetLogonParameters", "Logon", "Logoff", "GetFolderNames",
                                              "GetTrueFolder", "ConvertFolder", "InitRead", "CloseRead", "InitWrite",
                                              "WriteMsg", "CloseWrite", "TestFile"}));
}

}  // namespace
}  // namespace bvtest
