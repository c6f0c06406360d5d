#include "host/update_exports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/morva_error.h"
#include "books/http_strata_client.h"
#include "config/environment_profiles.h"
#include "host/module.h"
#include "support/fake_auth_service.h"
#include "support/fake_configuration_client.h"
#include "support/fake_http_client.h"
#include "support/files.h"
#include "support/minimal_dll.h"
#include "updates/pe_image_check.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The texts of the statuses the cases below do not reach.
TEST(UpdateExportTexts, EveryOtherStatusHasItsText) {
    EXPECT_EQ(UpdatesCheckStatusText(3), u"");
    for (const int other : {0, 5, -1}) {
        EXPECT_EQ(UpdatesCheckStatusText(other), u"Checking for updates - Unknown error occurred");
    }
    EXPECT_EQ(UpdateStatusText(2), u"An error occurred when updating indicator");
    for (const int other : {0, 4, -1}) {
        EXPECT_EQ(UpdateStatusText(other), u"Unknown error occurred during update");
    }
}

class UpdateExportsTest : public ::testing::Test {
  protected:
    std::unique_ptr<Module> MakeModule(bool asynchronous) {
        EnvironmentProfile profile = EnvironmentProfiles()[1];
        profile.asynchronous = asynchronous;
        TerminalInfo terminal{u"MORVA-Live", u"1001", u"mt4", u"de"};
        auto strata = std::make_shared<HttpStrataClient>(u"api.morva.example", terminal, http_);
        return std::make_unique<Module>(profile, terminal, auth_, strata, config_);
    }

    std::shared_ptr<test::FakeAuthService> auth_ = std::make_shared<test::FakeAuthService>();
    std::shared_ptr<test::FakeConfigurationClient> config_ =
        std::make_shared<test::FakeConfigurationClient>();
    std::shared_ptr<test::FakeHttpClient> http_ = std::make_shared<test::FakeHttpClient>();
    char16_t error_[180] = u"stale";
    char16_t version_[180] = u"";
    bool force_ = false;
};

// The published version, an update that is not forced and a failed check: updates_e2e_test.cpp
// and faults_e2e_test.cpp.
TEST_F(UpdateExportsTest, CheckWritesTheForceFlagAndNeedsBothOutputs) {
    auto module = MakeModule(false);
    config_->SetVersions(u"1.18", u"1.17");
    EXPECT_EQ(CheckForUpdates(*module, version_, &force_, error_), 4);
    EXPECT_TRUE(force_) << "the minimum version is above this one";

    const auto needsBoth =
        ThrowsMessage<MorvaError>(StrEq("CheckForUpdates needs a version buffer and a force flag"));
    EXPECT_THAT([&] { CheckForUpdates(*module, nullptr, &force_, error_); }, needsBoth);
    EXPECT_THAT([&] { CheckForUpdates(*module, version_, nullptr, error_); }, needsBoth);
}

TEST_F(UpdateExportsTest, NonBlockingModuleAnswersAtOnce) {
    auto module = MakeModule(true);
    config_->Close();
    EXPECT_EQ(CheckForUpdates(*module, version_, &force_, error_), 1);
    EXPECT_EQ(std::u16string(error_), u"Checking for updates - Waiting for server response...");
    // The installation's and the premium check's own waiting texts: updates_e2e_test.cpp.
    config_->Open();
}

TEST_F(UpdateExportsTest, InstallationUsesTheTerminalsPlatformAndLanguage) {
    test::TempFolder folder;
    fs::create_directories(folder.path() / "MQL4" / "Libraries");
    const fs::path indicator = folder.path() / "book.ex4";
    config_->SetVersions(u"1.17.0.0", u"1.0");
    config_->SetFiles(test::MinimalDll(kMachineI386), {'i'});
    auto module = MakeModule(false);
    EXPECT_EQ(UpdateIndicator(*module, folder.path().u16string().c_str(),
                              indicator.u16string().c_str(), error_),
              3);
    EXPECT_EQ(std::u16string(error_), u"");
    EXPECT_THAT(config_->downloads(), ElementsAre(u"dll mt4", u"indicator mt4 de"));
    EXPECT_TRUE(
        fs::exists(folder.path() / "MQL4" / "Libraries" / "MORVA_Orderbook32_1.17.0.0.dll"));
    EXPECT_EQ(test::ReadFile(indicator), "i");

    EXPECT_THAT([&] { UpdateIndicator(*module, nullptr, u"x", error_); },
                ThrowsMessage<MorvaError>(
                    StrEq("UpdateIndicator needs a data folder and an indicator path")));
}

TEST_F(UpdateExportsTest, SynchronousModuleChecksPremiumAtOnce) {
    auto module = MakeModule(false);
    AccessToken token;
    token.jwt.payload.liveCanAccessPremium = 2;
    EXPECT_EQ(module->user().CheckPremium(token, u"EUR_USD"), 2);
}

}  // namespace
}  // namespace morva
