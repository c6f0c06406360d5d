#include "updates/updates_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/fake_configuration_client.h"
#include "support/files.h"
#include "updates/save_file_to_disk.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

FileBytes Bytes(std::string_view text) {
    return FileBytes(text.begin(), text.end());
}

// Every file under `root` with its content: what an installation must not change.
std::map<fs::path, std::string> Snapshot(const fs::path& root) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        files[entry.path()] = entry.is_regular_file() ? test::ReadFile(entry.path()) : "<folder>";
    }
    return files;
}

class UpdatesCheckTest : public ::testing::Test {
  protected:
    UpdatesCheckStatus Check(std::u16string published, std::u16string minimum) {
        config_->SetVersions(std::move(published), std::move(minimum));
        return service_.CheckForUpdates(version_, &force_);
    }

    std::shared_ptr<test::FakeConfigurationClient> config_ =
        std::make_shared<test::FakeConfigurationClient>();
    UpdatesService service_{config_};
    test::CapturedLog log_{spdlog::level::info};
    char16_t version_[kTerminalTextSize] = u"untouched";
    bool force_ = true;
};

TEST_F(UpdatesCheckTest, NotNewerVersionsAreNoUpdates) {
    EXPECT_EQ(Check(u"1.16.5.0", u"1.17.0.0"), UpdatesCheckStatus::NoUpdates);
    EXPECT_EQ(std::u16string(version_), u"1.16.5.0");
    EXPECT_TRUE(force_) << "the flag is left alone";
    EXPECT_THAT(log_.Lines(), HasSubstr("info|morva::UpdatesService::CheckForUpdates|No updates "
                                        "found [current version: 1.16.5.0]\n"));
    EXPECT_EQ(Check(u"1.16.4.9", u""), UpdatesCheckStatus::NoUpdates);
    EXPECT_EQ(Check(u"1.16.5", u""), UpdatesCheckStatus::NoUpdates);
    EXPECT_EQ(std::u16string(version_), u"1.16.5");
}

TEST_F(UpdatesCheckTest, NewerVersionsAreAvailableAndForcedBelowTheMinimum) {
    EXPECT_EQ(Check(u"1.16.6", u"1.16.0.0"), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_EQ(std::u16string(version_), u"1.16.6") << "the published text as sent";
    EXPECT_FALSE(force_);
    EXPECT_THAT(log_.Lines(),
                HasSubstr("info|morva::UpdatesService::CheckForUpdates|New version found "
                          "[current version: 1.16.5.0; new version: 1.16.6; minVersion: "
                          "1.16.0.0; forceUpdate: false]\n"));

    EXPECT_EQ(Check(u"1.17.0.0", u"1.16.5.1"), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_TRUE(force_);
    EXPECT_THAT(log_.Lines(), HasSubstr("minVersion: 1.16.5.1; forceUpdate: true]\n"));
    EXPECT_EQ(Check(u"1.17.0.0", u""), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_FALSE(force_) << "an empty minimum forces nothing";
    EXPECT_EQ(Check(u"1.16.10", u"1.16.9"), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_TRUE(force_) << "1.16.9 is above 1.16.5 as a number";
}

TEST_F(UpdatesCheckTest, FailuresAreErrorsWithTheirText) {
    EXPECT_EQ(Check(u"1.x.0", u"1.0"), UpdatesCheckStatus::Error);
    EXPECT_THAT(log_.Lines(), HasSubstr("error|morva::UpdatesService::CheckForUpdates|Failed to "
                                        "check for updates: invalid stoi argument\n"));
    EXPECT_EQ(std::u16string(version_), u"1.x.0") << "copied before the comparison failed";

    EXPECT_EQ(Check(u"1.17", u"1.y"), UpdatesCheckStatus::Error) << "a bad minimum fails too";

    config_->Fail(std::make_exception_ptr(
        MorvaError("Failed to get orderbook metadata [HttpStatus: %d]", 503)));
    EXPECT_EQ(Check(u"9.0", u"9.0"), UpdatesCheckStatus::Error);
    EXPECT_THAT(log_.Lines(),
                HasSubstr("Failed to check for updates: Failed to get orderbook metadata "
                          "[HttpStatus: 503]\n"));
    EXPECT_EQ(std::u16string(version_), u"1.17") << "nothing read, nothing copied";
}

TEST_F(UpdatesCheckTest, VersionTextIsCutToTheBuffer) {
    std::u16string published = u"2";
    while (published.size() < 300) {
        published += u".0";
    }
    std::fill(std::begin(version_), std::end(version_), u'Z');
    EXPECT_EQ(Check(published, u""), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_EQ(std::u16string(version_), published.substr(0, 179));
}

class UpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config_->SetVersions(u"1.17.0.0", u"1.16.0.0");
        config_->SetFiles(Bytes(std::string_view("new\r\nlibrary\0", 14)), Bytes("new indicator"));
        fs::create_directories(data() / "MQL4" / "Libraries");
        fs::create_directories(data() / "MQL5" / "Libraries");
        fs::create_directories(data() / "MQL5" / "Indicators");
        test::WriteFile(indicator(), "old indicator");
    }

    fs::path data() const { return folder_.path(); }
    fs::path indicator() const { return data() / "MQL5" / "Indicators" / "Order Book.ex5"; }

    UpdateStatus Update(const fs::path& dataFolder, const std::u16string& platform) {
        return service_.Update(dataFolder.u16string(), indicator().u16string(), platform, u"en");
    }

    test::TempFolder folder_;
    std::shared_ptr<test::FakeConfigurationClient> config_ =
        std::make_shared<test::FakeConfigurationClient>();
    UpdatesService service_{config_};
    test::CapturedLog log_{spdlog::level::info};
};

TEST_F(UpdateTest, PlacesTheLibraryBesideTheRunningOneAndOverwritesTheIndicator) {
    EXPECT_EQ(Update(data(), u"mt5"), UpdateStatus::Updated);
    const fs::path library = data() / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll";
    EXPECT_EQ(test::ReadFile(library), std::string("new\r\nlibrary\0", 14));
    EXPECT_EQ(test::ReadFile(indicator()), "new indicator");
    EXPECT_THAT(config_->downloads(), ElementsAre(u"dll mt5", u"indicator mt5 en"));
    EXPECT_THAT(log_.Lines(), HasSubstr("info|morva::SaveFileToDisk|"));
    EXPECT_THAT(log_.Lines(), HasSubstr("MORVA_Orderbook64_1.17.0.0.dll saved successfully\n"));

    EXPECT_EQ(Update(data(), u"mt4"), UpdateStatus::Updated);
    EXPECT_TRUE(fs::exists(data() / "MQL4" / "Libraries" / "MORVA_Orderbook32_1.17.0.0.dll"));
    EXPECT_FALSE(fs::exists(data() / "MQL5" / "Libraries" / "MORVA_Orderbook32_1.17.0.0.dll"));
}

TEST_F(UpdateTest, ExistingLibraryIsLeftAndOnlyTheIndicatorWritten) {
    const fs::path library = data() / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll";
    test::WriteFile(library, "earlier installation");
    EXPECT_EQ(Update(data(), u"mt5"), UpdateStatus::Updated);
    EXPECT_EQ(test::ReadFile(library), "earlier installation");
    EXPECT_EQ(test::ReadFile(indicator()), "new indicator");
}

TEST_F(UpdateTest, DataFolderEndingInASeparatorWorks) {
    EXPECT_EQ(service_.Update(data().u16string() + kPathSeparator, indicator().u16string(), u"mt5",
                              u"en"),
              UpdateStatus::Updated);
    EXPECT_TRUE(fs::exists(data() / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll"));
}

TEST_F(UpdateTest, NonAsciiFoldersWork) {
    const fs::path user = data() / fs::path(u"Пользователь 数据");
    fs::create_directories(user / "MQL5" / "Libraries");
    const fs::path userIndicator = user / fs::path(u"Индикатор.ex5");
    EXPECT_EQ(service_.Update(user.u16string(), userIndicator.u16string(), u"mt5", u"ru"),
              UpdateStatus::Updated);
    EXPECT_EQ(test::ReadFile(user / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll"),
              std::string("new\r\nlibrary\0", 14));
    EXPECT_EQ(test::ReadFile(userIndicator), "new indicator");
}

TEST_F(UpdateTest, UnknownPlatformFailsBeforeAnyDownload) {
    const auto before = Snapshot(data());
    EXPECT_EQ(Update(data(), u"MT5"), UpdateStatus::Error);
    EXPECT_THAT(config_->downloads(), IsEmpty());
    EXPECT_EQ(Snapshot(data()), before);
    EXPECT_THAT(log_.Lines(), HasSubstr("error|morva::UpdatesService::Update|Failed to update "
                                        "indicator: Unknown Platform [MT5]\n"));
}

TEST_F(UpdateTest, VersionsThatAreNoReleaseNumbersWriteNothing) {
    const fs::path parent = data().parent_path();
    for (const char16_t* version :
         {u"1.0\\..\\..\\evil", u"../x", u"1.0/../../evil", u"", u"1.2.3.4.5", u"1.17.0.0 "}) {
        config_->SetVersions(version, u"1.0");
        const auto before = Snapshot(data());
        EXPECT_EQ(Update(data(), u"mt5"), UpdateStatus::Error);
        EXPECT_EQ(Snapshot(data()), before);
    }
    EXPECT_THAT(config_->downloads(), IsEmpty());
    EXPECT_FALSE(fs::exists(parent / "evil.dll"));
    EXPECT_FALSE(fs::exists(parent / "x.dll"));
    EXPECT_THAT(log_.Lines(), HasSubstr("error|morva::UpdatesService::Update|Failed to update "
                                        "indicator: Published version is not a release number "
                                        "[../x]\n"));
}

TEST_F(UpdateTest, MissingLibrariesFolderFailsBeforeTheIndicatorIsWritten) {
    fs::remove(data() / "MQL5" / "Libraries");
    EXPECT_EQ(Update(data(), u"mt5"), UpdateStatus::Error);
    EXPECT_EQ(test::ReadFile(indicator()), "old indicator");
    EXPECT_FALSE(fs::exists(data() / "MQL5" / "Libraries")) << "no folder is created";
    EXPECT_THAT(log_.Lines(), HasSubstr("Failed to update indicator: Failed to open ofstream: " +
                                        (data() / "MQL5").string()));
}

TEST_F(UpdateTest, FailedDownloadWritesNothingAndWrittenFilesStay) {
    const auto before = Snapshot(data());
    config_->Fail(std::make_exception_ptr(
        MorvaError("Failed to download indicator file [HttpStatus: %d]", 404)));
    EXPECT_EQ(Update(data(), u"mt5"), UpdateStatus::Error);
    EXPECT_EQ(Snapshot(data()), before);
    EXPECT_THAT(log_.Lines(), HasSubstr("Failed to update indicator: Failed to download indicator "
                                        "file [HttpStatus: 404]\n"));

    // The library goes first; an indicator that cannot be written leaves it in place.
    config_->Fail(nullptr);
    EXPECT_EQ(service_.Update(data().u16string(), (data() / "missing" / "x.ex5").u16string(),
                              u"mt5", u"en"),
              UpdateStatus::Error);
    EXPECT_TRUE(fs::exists(data() / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll"));
    EXPECT_FALSE(fs::exists(data() / "missing"));
}

}  // namespace
}  // namespace morva
