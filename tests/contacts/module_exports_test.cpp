// Contact folders through the exports of the loaded module, as a host drives
// them: Logon, then GetFolderNames (address types 2 and 10 list the file,
// others none). Reading and writing through the exports: round_trip_test.cpp.
#ifdef BV_MODULE_PATH
#include <memory>

#include "contact_test_support.h"
#include "support/host_callbacks.h"
#include "support/module_loader.h"

namespace contacts_test {
namespace {

TEST_F(ContactTest, AddressTypesListTheContactFile) {
    std::string error;
    std::unique_ptr<bvhost::ModuleInstance> module = bvtest::LoadModuleCopy(BV_MODULE_PATH, &error);
    ASSERT_NE(module, nullptr) << error;
    auto folders = [&](const std::string &path, int adrType) {
        char pathText[BV_PATH_LEN], outText[BV_HOST_TEXT_LEN] = "x", store[BV_PATH_LEN] = "";
        com_strncpy(pathText, path.c_str(), sizeof(pathText) - 1);
        EXPECT_EQ(module->Logon(0, 0, pathText, 0, 0, 0, 0, 0, 0, 0, outText, 0, 1, 1, adrType, "", 0), 0);
        bvtest::gCollectedFolderTexts.clear();
        module->GetFolderNames(store, bvtest::CollectFolderText);
        module->Logoff(0);
        return bvtest::gCollectedFolderTexts;
    };
    std::string csv = WriteFile("src/outlook.csv", bvtest::ReadFileText(DataPath("outlook_export.csv")));
    for (auto [adrType, listed] : {std::pair{2, true}, {10, true}, {1, false}, {5, false}})
        EXPECT_EQ(folders(csv, adrType),
                  listed ? std::vector<std::string>{"Contacts {BV:3:FCLASS:1}"} : std::vector<std::string>{})
            << adrType;
    EXPECT_EQ(folders(BuildNK2("nk2_rows.txt", "src/Outlook.nk2"), 10),
              (std::vector<std::string>{"Contacts {BV:5:FCLASS:1}"}));
}

}  // namespace
}  // namespace contacts_test
#endif
