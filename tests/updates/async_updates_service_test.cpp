#include "updates/async_updates_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "base/morva_error.h"
#include "support/fake_configuration_client.h"
#include "support/files.h"
#include "support/minimal_dll.h"
#include "updates/pe_image_check.h"

namespace morva {
namespace {

namespace fs = std::filesystem;

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

class AsyncUpdatesServiceTest : public ::testing::Test {
  protected:
    UpdatesCheckStatus Check() { return service_.CheckForUpdates(version_, &force_); }

    std::shared_ptr<test::FakeConfigurationClient> config_ =
        std::make_shared<test::FakeConfigurationClient>();
    AsyncUpdatesService service_{config_};
    char16_t version_[kTerminalTextSize] = u"untouched";
    bool force_ = true;
};

TEST_F(AsyncUpdatesServiceTest, CheckRunsInTheBackgroundAndDeliversItsOutputsOnce) {
    config_->SetVersions(u"1.17.0.0", u"1.16.9");
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
    EXPECT_EQ(config_->started(), 2) << "one check: the version and the minimum";

    // Finished checks are forgotten: the next call starts over. A failed one reports the
    // version text of the last check that read one.
    config_->Fail(std::make_exception_ptr(MorvaError("offline")));
    force_ = false;
    std::fill(std::begin(version_), std::end(version_), u'\0');
    EXPECT_EQ(PollUntilDone([&] { return Check(); }), UpdatesCheckStatus::Error);
    EXPECT_EQ(std::u16string(version_), u"1.17.0.0");
    EXPECT_TRUE(force_);
    EXPECT_EQ(config_->started(), 3);
}

TEST_F(AsyncUpdatesServiceTest, FailedFirstCheckReportsAnEmptyVersion) {
    config_->Fail(std::make_exception_ptr(MorvaError("offline")));
    EXPECT_EQ(PollUntilDone([&] { return Check(); }), UpdatesCheckStatus::Error);
    EXPECT_EQ(std::u16string(version_), u"");
    EXPECT_FALSE(force_);
}

TEST_F(AsyncUpdatesServiceTest, InstallationsRunOnePerRequestSideBySide) {
    test::TempFolder folder;
    fs::create_directories(folder.path() / "MQL5" / "Libraries");
    config_->SetVersions(u"1.17.0.0", u"1.0");
    config_->SetFiles(test::MinimalDll(kMachineAmd64), {'i'});
    const std::u16string data = folder.path().u16string();
    const std::u16string first = (folder.path() / "first.ex5").u16string();
    const std::u16string second = (folder.path() / "second.ex5").u16string();
    const auto update = [&](const std::u16string& indicator, const char16_t* platform = u"mt5") {
        return service_.Update(data, indicator, platform, u"en");
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
    EXPECT_EQ(test::ReadFile(first), "i");
    EXPECT_EQ(test::ReadFile(second), "i");
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
