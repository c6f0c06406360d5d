#include "updates/updates_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/fake_configuration_client.h"
#include "support/files.h"
#include "support/minimal_dll.h"
#include "updates/async_updates_service.h"
#include "updates/pe_image_check.h"
#include "updates/save_file_to_disk.h"
#include "util/utf.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

FileBytes Bytes(std::string_view text) {
    return FileBytes(text.begin(), text.end());
}

// Short text as it is; a library by its size and hash, so that a failure stays readable.
std::string Describe(const std::string& content) {
    if (content.size() <= 64) {
        return content;
    }
    return std::to_string(content.size()) + " bytes #" +
           std::to_string(std::hash<std::string>()(content));
}

// Every file under `root` with its content: what an installation must not change.
std::map<fs::path, std::string> Snapshot(const fs::path& root) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        files[entry.path()] =
            entry.is_regular_file() ? Describe(test::ReadFile(entry.path())) : "<folder>";
    }
    return files;
}

class UpdatesServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config_->SetVersions(u"1.17.0.0", u"1.16.0.0");
        config_->SetFiles(dll_, Bytes("new indicator"));
        fs::create_directories(data() / "MQL5" / "Libraries");
        fs::create_directories(data() / "MQL5" / "Indicators");
        test::WriteFile(indicator(), "old indicator");
    }

    UpdatesCheckStatus Check(std::u16string published, std::u16string minimum) {
        config_->SetVersions(std::move(published), std::move(minimum));
        return service_.CheckForUpdates(version_, &force_);
    }
    UpdateStatus Update(const std::u16string& platform = u"mt5") {
        return service_.Update(data().u16string(), indicator().u16string(), platform, u"en");
    }

    fs::path data() const { return folder_.path(); }
    fs::path indicator() const { return data() / "MQL5" / "Indicators" / "Order Book.ex5"; }
    fs::path library() const {
        return data() / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll";
    }

    // Several pieces of a write, so that one can fail halfway.
    const FileBytes dll_ = test::MinimalDll(kMachineAmd64, 200 * 1024);
    const std::string dllText_{dll_.begin(), dll_.end()};
    test::TempFolder folder_;
    std::shared_ptr<test::FakeConfigurationClient> config_ =
        std::make_shared<test::FakeConfigurationClient>();
    // Fails each write of this file before it is whole: a full disk, the terminal killed.
    std::u16string failing_;
    UpdatesService service_{config_, [this](const std::u16string& path, std::size_t written) {
                                if (path == failing_ && written < dll_.size()) {
                                    throw MorvaError("There is not enough space on the disk");
                                }
                            }};
    test::CapturedLog log_{spdlog::level::info};
    char16_t version_[kTerminalTextSize] = u"untouched";
    bool force_ = true;
};

TEST_F(UpdatesServiceTest, NewerVersionsAreAvailableAndForcedBelowTheMinimum) {
    struct Case {
        const char16_t* published;
        const char16_t* minimum;
        UpdatesCheckStatus status;
        bool force;
        const char* log;
    };
    const Case cases[] = {
        {u"1.16.6", u"1.16.0.0", UpdatesCheckStatus::UpdateAvailable, false,
         "info|New version found [current version: 1.16.5.0; new version: 1.16.6; minVersion: "
         "1.16.0.0; forceUpdate: false]\n"},
        {u"1.17.0.0", u"1.16.5.1", UpdatesCheckStatus::UpdateAvailable, true,
         "minVersion: 1.16.5.1; forceUpdate: true]\n"},
        // Not newer: the flag is left as the check before set it, though the minimum is above the
        // current version.
        {u"1.16.5.0", u"1.17.0.0", UpdatesCheckStatus::NoUpdates, true,
         "info|No updates found [current version: 1.16.5.0]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.published) + " over " + Utf16ToUtf8(c.minimum));
        EXPECT_EQ(Check(c.published, c.minimum), c.status);
        EXPECT_EQ(std::u16string(version_), c.published) << "the published text as sent";
        EXPECT_EQ(force_, c.force);
        EXPECT_THAT(log_.Messages(), HasSubstr(c.log));
    }
}

TEST_F(UpdatesServiceTest, FailuresAreErrorsWithTheirText) {
    EXPECT_EQ(Check(u"1.x.0", u"1.0"), UpdatesCheckStatus::Error);
    EXPECT_THAT(log_.Messages(),
                HasSubstr("error|Failed to check for updates: invalid stoi argument\n"));
    EXPECT_EQ(std::u16string(version_), u"1.x.0") << "copied before the comparison failed";

    EXPECT_EQ(Check(u"1.17", u"1.y"), UpdatesCheckStatus::Error) << "a bad minimum fails too";

    config_->Fail(std::make_exception_ptr(
        MorvaError("Failed to get orderbook metadata [HttpStatus: %d]", 503)));
    EXPECT_EQ(Check(u"9.0", u"9.0"), UpdatesCheckStatus::Error);
    EXPECT_THAT(log_.Messages(),
                HasSubstr("Failed to check for updates: Failed to get orderbook metadata "
                          "[HttpStatus: 503]\n"));
    EXPECT_EQ(std::u16string(version_), u"1.17") << "nothing read, nothing copied";
}

TEST_F(UpdatesServiceTest, VersionTextIsCutToTheBuffer) {
    std::u16string published = u"2";
    while (published.size() < 300) {
        published += u".0";
    }
    std::fill(std::begin(version_), std::end(version_), u'Z');
    EXPECT_EQ(Check(published, u""), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_EQ(std::u16string(version_), published.substr(0, 179));
}

TEST_F(UpdatesServiceTest, PlacesTheLibraryBesideTheRunningOneAndOverwritesTheIndicator) {
    // The data folder ends in a separator, as a terminal may pass it.
    EXPECT_EQ(service_.Update((data() / "").u16string(), indicator().u16string(), u"mt5", u"en"),
              UpdateStatus::Updated);
    EXPECT_EQ(Describe(test::ReadFile(library())), Describe(dllText_));
    EXPECT_EQ(test::ReadFile(indicator()), "new indicator");
    EXPECT_THAT(config_->downloads(), ElementsAre(u"dll mt5", u"indicator mt5 en"));
    EXPECT_THAT(log_.Messages(), HasSubstr("MORVA_Orderbook64_1.17.0.0.dll saved successfully\n"));
    // mt4's folder, name and machine: UpdateExportsTest.InstallationUsesTheTerminalsPlatform...
}

// A complete library for the platform is kept (the terminal may have it loaded); anything else
// under its name, such as what an interrupted installation of old left, is replaced.
TEST_F(UpdatesServiceTest, ExistingLibraryIsKeptOnlyWhenItIsACompleteDllForThePlatform) {
    const FileBytes earlier = test::MinimalDll(kMachineAmd64, 0x600);
    const FileBytes cut(dll_.begin(), dll_.end() - 1);
    struct Case {
        FileBytes existing;
        bool kept;
    };
    for (const auto& [existing, kept] :
         {Case{earlier, true}, Case{Bytes("earlier"), false}, Case{cut, false}}) {
        const std::string text(existing.begin(), existing.end());
        test::WriteFile(library(), text);
        test::WriteFile(indicator(), "old indicator");
        EXPECT_EQ(Update(), UpdateStatus::Updated);
        EXPECT_EQ(Describe(test::ReadFile(library())), Describe(kept ? text : dllText_));
        EXPECT_EQ(test::ReadFile(indicator()), "new indicator");
    }
    EXPECT_THAT(log_.Messages(),
                HasSubstr("Replacing " + library().string() +
                          ": not a Windows DLL for mt5: cut short: 204799 of 204800 "
                          "bytes\n"));
}

// What a proxy's sign-in page or a wrong upload would put in place of the files, an unknown
// platform, a published version that could lead out of the folder, a failed download: each is
// refused before anything is written.
TEST_F(UpdatesServiceTest, RefusalsWriteNothing) {
    const FileBytes html = Bytes("<!DOCTYPE html><html><body>Sign in</body></html>");
    const auto files = [this](FileBytes library, FileBytes indicator) {
        return [this, library, indicator] { config_->SetFiles(library, indicator); };
    };
    struct Case {
        std::function<void()> arrange;
        const char16_t* platform;
        bool downloads;
        std::string error;
    };
    const Case cases[] = {
        // One defect of the library: PeImageDefect's test has them all.
        {files(html, Bytes("new indicator")), u"mt5", true,
         "Downloaded library is not a Windows DLL for mt5: no MZ header"},
        {files(dll_, FileBytes()), u"mt5", true, "Downloaded indicator is empty"},
        {files(dll_, Bytes(" \r\n<html><body>Sign in</body></html>")), u"mt5", true,
         "Downloaded indicator is a web page"},
        {[] {}, u"MT5", false, "Unknown Platform [MT5]"},
        // The full list: IsPlainVersion's test.
        {[this] { config_->SetVersions(u"1.0\\..\\..\\evil", u"1.0"); }, u"mt5", false,
         "Published version is not a release number [1.0\\..\\..\\evil]"},
        {[this] {
             config_->Fail(std::make_exception_ptr(
                 MorvaError("Failed to download indicator file [HttpStatus: %d]", 404)));
         },
         u"mt5", false, "Failed to download indicator file [HttpStatus: 404]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        c.arrange();
        const auto before = Snapshot(data());
        const std::size_t downloads = config_->downloads().size();
        EXPECT_EQ(Update(c.platform), UpdateStatus::Error);
        EXPECT_EQ(Snapshot(data()), before);
        EXPECT_EQ(config_->downloads().size() > downloads, c.downloads);
        EXPECT_THAT(log_.Messages(),
                    HasSubstr("error|Failed to update indicator: " + c.error + "\n"));
    }
}

// A write that fails halfway (a full disk, the terminal killed) leaves the files as they were and
// no temporary file behind; the next installation completes.
TEST_F(UpdatesServiceTest, WriteFailingHalfwayLeavesEveryFileAsItWas) {
    const auto before = Snapshot(data());
    failing_ = library().u16string();
    EXPECT_EQ(Update(), UpdateStatus::Error);
    EXPECT_EQ(Snapshot(data()), before);

    // Now the library is written whole, and the indicator (as long as the library) fails halfway.
    config_->SetFiles(dll_, dll_);
    failing_ = indicator().u16string();
    EXPECT_EQ(Update(), UpdateStatus::Error);
    auto expected = before;
    expected[library()] = Describe(dllText_);
    EXPECT_EQ(Snapshot(data()), expected);
    EXPECT_THAT(log_.Messages(),
                HasSubstr("Failed to update indicator: There is not enough space on "
                          "the disk\n"));

    failing_.clear();
    EXPECT_EQ(Update(), UpdateStatus::Updated);
    expected[indicator()] = Describe(dllText_);
    EXPECT_EQ(Snapshot(data()), expected);
}

// Polls `call` without sleeping until it stops answering InProgress (or ten seconds pass).
template <class Call>
auto PollUntilDone(Call call) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto status = call();
    while (static_cast<int>(status) == 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
        status = call();
    }
    return status;
}

class AsyncUpdatesServiceTest : public UpdatesServiceTest {
  protected:
    UpdatesCheckStatus Check() { return async_.CheckForUpdates(version_, &force_); }

    AsyncUpdatesService async_{config_};
};

TEST_F(AsyncUpdatesServiceTest, CheckRunsInTheBackgroundAndDeliversItsOutputsOnce) {
    // A failed first check reports an empty version.
    config_->Fail(std::make_exception_ptr(MorvaError("offline")));
    EXPECT_EQ(PollUntilDone([&] { return Check(); }), UpdatesCheckStatus::Error);
    EXPECT_EQ(std::u16string(version_), u"");
    EXPECT_FALSE(force_);

    config_->Fail(nullptr);
    config_->SetVersions(u"1.17.0.0", u"1.16.9");
    std::copy_n(u"untouched", 10, version_);
    force_ = true;
    config_->Close();
    EXPECT_EQ(Check(), UpdatesCheckStatus::InProgress);
    EXPECT_EQ(Check(), UpdatesCheckStatus::InProgress);
    EXPECT_EQ(std::u16string(version_), u"untouched");
    EXPECT_TRUE(force_);
    ASSERT_TRUE(config_->WaitStarted(1));
    config_->Open();

    EXPECT_EQ(PollUntilDone([&] { return Check(); }), UpdatesCheckStatus::UpdateAvailable);
    EXPECT_EQ(std::u16string(version_), u"1.17.0.0");
    EXPECT_TRUE(force_) << "1.16.5.0 is below the minimum 1.16.9";
    EXPECT_EQ(config_->started(), 3) << "one check: the version and the minimum";

    // Finished checks are forgotten: the next call starts over. A failed one reports the
    // version text of the last check that read one.
    config_->Fail(std::make_exception_ptr(MorvaError("offline")));
    force_ = false;
    std::fill(std::begin(version_), std::end(version_), u'\0');
    EXPECT_EQ(PollUntilDone([&] { return Check(); }), UpdatesCheckStatus::Error);
    EXPECT_EQ(std::u16string(version_), u"1.17.0.0");
    EXPECT_TRUE(force_);
    EXPECT_EQ(config_->started(), 4);
}

TEST_F(AsyncUpdatesServiceTest, InstallationsRunOnePerRequestSideBySide) {
    const std::u16string first = (data() / "first.ex5").u16string();
    const std::u16string second = (data() / "second.ex5").u16string();
    const auto update = [&](const std::u16string& indicator, const char16_t* platform = u"mt5") {
        return async_.Update(data().u16string(), indicator, platform, u"en");
    };

    config_->Close();
    EXPECT_EQ(update(first), UpdateStatus::InProgress);
    EXPECT_EQ(update(second), UpdateStatus::InProgress);
    // Both are held at the gate at once: they run side by side.
    ASSERT_TRUE(config_->WaitStarted(2));
    EXPECT_EQ(update(first), UpdateStatus::InProgress);
    EXPECT_EQ(config_->started(), 2) << "a repeated request polls the running installation";
    EXPECT_FALSE(fs::exists(first));
    config_->Open();

    EXPECT_EQ(PollUntilDone([&] { return update(first); }), UpdateStatus::Updated);
    EXPECT_EQ(PollUntilDone([&] { return update(second); }), UpdateStatus::Updated);
    EXPECT_EQ(test::ReadFile(first), "new indicator");
    EXPECT_EQ(test::ReadFile(second), "new indicator");
    EXPECT_EQ(config_->started(), 6);

    // The finished installation was removed: the same request starts a new one.
    config_->Close();
    EXPECT_EQ(update(first), UpdateStatus::InProgress);
    ASSERT_TRUE(config_->WaitStarted(7));
    EXPECT_EQ(update(first, u"mt4"), UpdateStatus::InProgress)
        << "a different platform is a different request";
    config_->Open();
    EXPECT_EQ(PollUntilDone([&] { return update(first, u"mt4"); }), UpdateStatus::Error)
        << "no library for mt4 here";
}

}  // namespace
}  // namespace morva
