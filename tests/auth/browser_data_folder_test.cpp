// The sign-in browser's data folder: made afresh, never someone else's, gone with everything in
// it; and the cleanup of what earlier processes left behind.
#include "auth/browser_data_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/morva_error.h"
#include "support/files.h"

namespace morva {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::StartsWith;
using testing::ThrowsMessage;
using testing::UnorderedElementsAre;

const std::string kTaken = "MORVA_Orderbook_WebView_00000000000000000000000000000000";
const std::string kFresh = "MORVA_Orderbook_WebView_0123456789abcdef0123456789abcdef";
const std::string kOldForm = "MORVA_Orderbook_WebView_1700000000";

std::set<std::string> Names(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The given names in turn, as the random generator would give them.
BrowserDataFolder::NameSource NamesOf(std::vector<std::string> names) {
    auto next = std::make_shared<std::size_t>(0);
    return [names = std::move(names), next] { return names.at((*next)++ % names.size()); };
}

// A folder with a file and a folder with a file of its own, as a browser leaves its profile.
void FillLikeABrowser(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder / "data" / "storage");
    test::WriteFile(folder / "data" / "storage" / "cookies", "session=1");
    test::WriteFile(folder / "state", "1");
}

TEST(BrowserDataFolderName, IsTheLibrarysPrefixAndThirtyTwoRandomHexDigits) {
    const std::string name = BrowserDataFolder::RandomName();
    EXPECT_EQ(name.size(), kFresh.size());
    EXPECT_TRUE(BrowserDataFolder::IsOwnName(name));
    EXPECT_NE(name, BrowserDataFolder::RandomName());
}

TEST(BrowserDataFolderName, OwnNamesAreTheRandomFormAndTheOldSecondsForm) {
    const struct {
        std::string name;
        bool own;
    } cases[] = {
        {kFresh, true},
        {kOldForm, true},
        {"MORVA_Orderbook_WebView_1", true},
        {"MORVA_Orderbook_WebView_", false},
        {"MORVA_Orderbook_WebView_x", false},
        {"MORVA_Orderbook_WebView_1700000000x", false},
        {"MORVA_Orderbook_WebView_0123456789ABCDEF0123456789abcdef", false},
        {"MORVA_Orderbook_WebView_0123456789abcdef0123456789abcde", false},
        {"MORVA_Orderbook_WebView_0123456789abcdef0123456789abcdef0", false},
        {"MORVA_Orderbook_WebView_123456789012345678901", false},
        {"morva_orderbook_webview_1700000000", false},
        {"xMORVA_Orderbook_WebView_1700000000", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BrowserDataFolder::IsOwnName(c.name), c.own) << c.name;
    }
}

class BrowserDataFolderTest : public testing::Test {
  protected:
    test::TempFolder base;
};

TEST_F(BrowserDataFolderTest, IsMadeInTheBaseAndRemovedWithEverythingInItOnceOrWithItsOwner) {
    BrowserDataFolder folder = BrowserDataFolder::Create(base.path(), NamesOf({kFresh}));
    ASSERT_TRUE(std::filesystem::is_directory(base.path() / kFresh));
    FillLikeABrowser(folder.path());
    folder.Remove();
    EXPECT_THAT(Names(base.path()), IsEmpty());
    folder.Remove();  // once is all

    {
        const BrowserDataFolder owned = BrowserDataFolder::Create(base.path());
        FillLikeABrowser(owned.path());
    }
    EXPECT_THAT(Names(base.path()), IsEmpty());
}

TEST_F(BrowserDataFolderTest, AFolderUnderTheGeneratedNameIsNeitherUsedNorRemoved) {
    std::filesystem::create_directory(base.path() / kTaken);
    test::WriteFile(base.path() / kTaken / "cookies", "theirs");
    {
        const BrowserDataFolder folder =
            BrowserDataFolder::Create(base.path(), NamesOf({kTaken, kFresh}));
        EXPECT_EQ(folder.path(), base.path() / kFresh);
    }
    EXPECT_THAT(Names(base.path()), ElementsAre(kTaken));
    EXPECT_EQ(test::ReadFile(base.path() / kTaken / "cookies"), "theirs");

    EXPECT_THAT(
        [&] { BrowserDataFolder::Create(base.path(), NamesOf({kTaken})); },
        ThrowsMessage<MorvaError>(StartsWith("Create browser data folder failed: 4 names in ")));
    EXPECT_EQ(test::ReadFile(base.path() / kTaken / "cookies"), "theirs");
}

TEST_F(BrowserDataFolderTest, CleanupRemovesLeftoversButNotLookAlikesNorAFolderInUse) {
    const BrowserDataFolder inUse = BrowserDataFolder::Create(base.path(), NamesOf({kFresh}));
    FillLikeABrowser(inUse.path());
    for (const std::string& leftover : {kTaken, kOldForm}) {
        FillLikeABrowser(base.path() / leftover);
    }
    for (const char* lookAlike : {"MORVA_Orderbook_WebView_x", "Other_WebView_1700000000"}) {
        FillLikeABrowser(base.path() / lookAlike);
    }
    test::WriteFile(base.path() / "MORVA_Orderbook_WebView_1700000001", "a file, not a folder");

    BrowserDataFolder::RemoveLeftovers(base.path());
    EXPECT_THAT(Names(base.path()), UnorderedElementsAre(kFresh, "MORVA_Orderbook_WebView_x",
                                                         "Other_WebView_1700000000",
                                                         "MORVA_Orderbook_WebView_1700000001"));
    EXPECT_EQ(test::ReadFile(inUse.path() / "data" / "storage" / "cookies"), "session=1");
}

TEST_F(BrowserDataFolderTest, CleanupNeverFollowsALink) {
    const test::TempFolder target;
    test::WriteFile(target.path() / "precious", "kept");
    const std::filesystem::path linkAsLeftover = base.path() / kOldForm;
    const std::filesystem::path leftover = base.path() / kTaken;
    FillLikeABrowser(leftover);
    std::error_code error;
    std::filesystem::create_directory_symlink(target.path(), linkAsLeftover, error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
    std::filesystem::create_directory_symlink(target.path(), leftover / "data" / "link");

    BrowserDataFolder::RemoveLeftovers(base.path());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(leftover)));
    EXPECT_THAT(Names(target.path()), ElementsAre("precious"));  // not even a lock file
    EXPECT_EQ(test::ReadFile(target.path() / "precious"), "kept");
}

}  // namespace
}  // namespace morva
