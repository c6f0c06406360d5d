// Premium check, update check and installation as an indicator reaches them: the library loaded
// by path and driven through its exports against the fake broker inside scripts/sandbox.
// run_updates_e2e.sh sets the scenario, seeds a refresh token and picks the cases of each run.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../support/files.h"
#include "auth/credential_store.h"
#include "exports_under_test.h"
#include "morva_orderbook.h"
#include "util/utf.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// A data folder whose name a Cyrillic user name would give, with the platform folders a
// terminal has; under the run's work folder (MORVA_E2E_WORK, ASCII).
fs::path DataFolder() {
    static const fs::path folder = [] {
        const fs::path path =
            fs::path(Environment("MORVA_E2E_WORK")) / fs::path(u"Данные трейдера");
        fs::create_directories(path / "MQL4" / "Libraries");
        fs::create_directories(path / "MQL5" / "Libraries");
        fs::create_directories(path / "MQL5" / "Indicators");
        return path;
    }();
    return folder;
}

// A file as the broker serves it, which run_updates_e2e.sh fetched.
std::string Served(const std::string& name) {
    return ReadFile(fs::path(Environment("MORVA_E2E_EXPECTED")) / name);
}

std::map<fs::path, std::string> Snapshot(const fs::path& root) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        files[entry.path()] = entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>";
    }
    return files;
}

constexpr const char* kUpdating = "1 Update in progress...";
constexpr const char* kFailed = "2 An error occurred when updating indicator";

// UpdateIndicator, polled while the installation runs; every distinct answer.
std::vector<std::string> Install(const fs::path& dataFolder, const fs::path& indicator) {
    return PollWhile([&] { return UpdateIndicator(dataFolder.u16string(), indicator.u16string()); },
                     {kUpdating});
}

std::string CheckedVersion(char16_t* version, bool& force) {
    return PollWhile([&] { return CheckForUpdates(version, force); },
                     {"1 Checking for updates - Waiting for server response..."})
        .back();
}

// InitCreds and the book exports: library_e2e_test.cpp and lifecycle_test.sh.
TEST(Updates, ExportsWaitForInitDll) {
    char16_t version[MORVA_ERROR_BUFFER_SIZE] = u"";
    bool force = false;
    EXPECT_EQ(CheckForUpdates(version, force), "-1 Orderbook module not initialized");
    EXPECT_EQ(UpdateIndicator(u"C:\\", u"C:\\x.ex5"), "-1 Orderbook module not initialized");
}

TEST(Updates, PremiumComesFromTheBookApiOnceSignedIn) {
    ASSERT_EQ(Configure("1001", "mt5"), "");
    WriteCredentials(u"MORVA_Orderbook",
                     {u"", Utf8ToUtf16(Environment("MORVA_E2E_REFRESH_TOKEN"))});
    // Before the sign-in has finished, the module's own waiting texts.
    const auto granted =
        PollWhile([] { return CheckPremium("EUR_USD"); },
                  {"-1 Waiting for authorization", "-1 Checking premium in progress..."});
    EXPECT_GE(granted.size(), 2u) << granted.front();
    EXPECT_EQ(granted.back(), "1 ");

    // The next call starts a new check, which the book's latency keeps running.
    const auto refused =
        PollWhile([] { return CheckPremium("GBP_USD"); }, {"-1 Checking premium in progress..."});
    EXPECT_EQ(refused.front(), "-1 Checking premium in progress...");
    EXPECT_EQ(refused.back(), "0 ");
}

TEST(Updates, CheckReportsThePublishedVersion) {
    ASSERT_EQ(Configure("1001", "mt5"), "");
    char16_t version[MORVA_ERROR_BUFFER_SIZE] = u"untouched";
    bool force = true;
    EXPECT_EQ(CheckedVersion(version, force), "4 ");
    EXPECT_EQ(Utf16ToUtf8(version), "1.17.0.0");
    EXPECT_FALSE(force);

    const auto withoutErrorBuffer = [&] {
        return std::to_string(
            Lib().CheckForUpdates(reinterpret_cast<morva_char16*>(version), &force, nullptr));
    };
    EXPECT_EQ(PollWhile(withoutErrorBuffer, {"1"}).back(), "4") << "no error buffer: no crash";
}

TEST(Updates, InstallationPlacesTheLibraryAndOverwritesTheIndicator) {
    ASSERT_EQ(Configure("1001", "mt5"), "");
    const fs::path data = DataFolder();
    const fs::path indicator = data / "MQL5" / "Indicators" / fs::path(u"Книга ордеров.ex5");
    WriteFile(indicator, "old indicator");
    const std::string name = "MORVA_Orderbook64_1.17.0.0.dll";

    const auto seen = Install(data, indicator);
    EXPECT_EQ(seen.front(), kUpdating);
    EXPECT_EQ(seen.back(), "3 ");
    EXPECT_TRUE(ReadFile(data / "MQL5" / "Libraries" / name) == Served(name));
    EXPECT_EQ(ReadFile(indicator), "indicator 5");
}

TEST(Updates, FailedInstallationsReportAnErrorAndLeaveTheIndicator) {
    const fs::path bare = DataFolder().parent_path() / "bare";
    fs::create_directories(bare / "MQL5");
    const fs::path indicator = bare / "MQL5" / "book.ex5";
    WriteFile(indicator, "old indicator");

    ASSERT_EQ(Configure("1001", "mt5"), "");
    EXPECT_EQ(Install(bare, indicator).back(), kFailed);
    EXPECT_EQ(ReadFile(indicator), "old indicator");
    EXPECT_FALSE(fs::exists(bare / "MQL5" / "Libraries")) << "no folder is created";
}

// Run with a scenario that publishes what must never be installed: a version no file name may
// carry, or a library that is no DLL for MetaTrader 5.
TEST(Refused, NothingIsWrittenAnywhere) {
    ASSERT_EQ(Configure("1001", "mt5"), "");
    const fs::path work = Environment("MORVA_E2E_WORK");
    const fs::path indicator = DataFolder() / "MQL5" / "Indicators" / "book.ex5";
    WriteFile(indicator, "old indicator");
    // The log may grow; nothing else under the work folder may change.
    const auto withoutLogs = [&work] {
        auto files = Snapshot(work);
        std::erase_if(files, [](const auto& entry) {
            return entry.first.filename().string().rfind("MORVA_Orderbook", 0) == 0 &&
                   entry.first.extension() == ".log";
        });
        return files;
    };
    const auto before = withoutLogs();
    EXPECT_EQ(Install(DataFolder(), indicator).back(), kFailed);
    EXPECT_EQ(withoutLogs(), before);
}

// Run against a newer release's update tree (run_release_update_e2e.sh): the library of this
// bitness finds the published version, installs the release's own files and the library it
// installed loads, carries that version and exports the fifteen names.
TEST(Release, InstallsTheReleasedLibraryWhichLoads) {
    const bool mt4 = sizeof(void*) == 4;
    const std::string version = Environment("MORVA_E2E_VERSION");
    ASSERT_FALSE(version.empty());
    ASSERT_EQ(Configure("1001"), "");
    char16_t published[MORVA_ERROR_BUFFER_SIZE] = u"";
    bool force = true;
    EXPECT_EQ(CheckedVersion(published, force), "4 ");
    EXPECT_EQ(Utf16ToUtf8(published), version);
    EXPECT_FALSE(force);

    const fs::path mql = DataFolder() / (mt4 ? "MQL4" : "MQL5");
    const fs::path indicator = mql / (mt4 ? "book.ex4" : "book.ex5");
    WriteFile(indicator, "old indicator");
    ASSERT_EQ(Install(DataFolder(), indicator).back(), "3 ");

    const std::string name =
        std::string(mt4 ? "MORVA_Orderbook32_" : "MORVA_Orderbook64_") + version + ".dll";
    const fs::path library = mql / "Libraries" / name;
    EXPECT_TRUE(ReadFile(library) == Served(name));
    EXPECT_EQ(ReadFile(indicator),
              Served("MORVA_Order_Book_EN_" + version + (mt4 ? ".ex4" : ".ex5")));

    const std::string path = Utf16ToUtf8(library.u16string());
    EXPECT_EQ(Library::FileVersion(path), version);
    const ExportsUnderTest release(path);  // throws when one of the fifteen is missing
    ErrorBuffer error;
    EXPECT_EQ(release.CheckPremium(Text("EUR_USD").get(), error.get()), -1);
    EXPECT_EQ(error.text(), "Orderbook module not initialized");
}

}  // namespace
}  // namespace morva
