// Premium check, update check and installation as an indicator reaches them: the library loaded
// by path and driven through its exports against the fake broker inside scripts/sandbox.
// run_updates_e2e.sh sets the scenario, seeds a refresh token and picks the cases of each run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>

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
using namespace std::chrono_literals;

const morva_char16* Wide(const std::u16string& text) {
    return reinterpret_cast<const morva_char16*>(text.c_str());
}

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

// A library as the broker serves it, which run_updates_e2e.sh fetched.
std::string Served(const char* name) {
    const std::string bytes = ReadFile(fs::path(Environment("MORVA_E2E_EXPECTED")) / name);
    EXPECT_EQ(bytes.substr(0, 2), "MZ") << name;
    return bytes;
}

std::map<fs::path, std::string> Snapshot(const fs::path& root) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        files[entry.path()] = entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>";
    }
    return files;
}

// InitDLL for a terminal of `platform`, once the server configuration is in.
std::string Configure(const std::string& platform) {
    return PollWhile([&] { return InitDll("1001", "MORVA-Live-3", platform); },
                     {"Waiting for server configuration"})
        .back();
}

struct Answer {
    std::int32_t result;
    std::string text;
};

// Calls `call` until it stops answering `waiting` (bounded); returns the first and last answers.
std::pair<Answer, Answer> Poll(const std::function<Answer()>& call, std::int32_t waiting) {
    const Answer first = call();
    Answer last = first;
    for (const auto deadline = std::chrono::steady_clock::now() + 30s;
         last.result == waiting && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(5ms);
        last = call();
    }
    return {first, last};
}

std::function<Answer()> Install(const fs::path& dataFolder, const fs::path& indicator) {
    return [data = dataFolder.u16string(), path = indicator.u16string()] {
        ErrorBuffer error;
        const std::int32_t result = Lib().UpdateIndicator(Wide(data), Wide(path), error.get());
        return Answer{result, error.text()};
    };
}

// CheckForUpdates writing into `version` and `force`.
std::function<Answer()> Check(char16_t* version, bool& force) {
    return [version, &force] {
        ErrorBuffer error;
        const std::int32_t result =
            Lib().CheckForUpdates(reinterpret_cast<morva_char16*>(version), &force, error.get());
        return Answer{result, error.text()};
    };
}

TEST(Updates, ExportsWaitForInitDll) {
    ErrorBuffer error;
    EXPECT_EQ(Lib().CheckPremium(Wide(u"EUR_USD"), error.get()), -1);
    EXPECT_EQ(error.text(), "Orderbook module not initialized");
    char16_t version[MORVA_ERROR_BUFFER_SIZE] = u"";
    bool force = false;
    EXPECT_EQ(Lib().CheckForUpdates(reinterpret_cast<morva_char16*>(version), &force, error.get()),
              -1);
    EXPECT_EQ(error.text(), "Orderbook module not initialized");
    EXPECT_EQ(Lib().UpdateIndicator(Wide(u"C:\\"), Wide(u"C:\\x.ex5"), error.get()), -1);
    EXPECT_EQ(error.text(), "Orderbook module not initialized");
}

TEST(Updates, PremiumComesFromTheBookApiOnceSignedIn) {
    ASSERT_EQ(Configure("mt5"), "");
    WriteCredentials(u"MORVA_Orderbook",
                     {u"", Utf8ToUtf16(Environment("MORVA_E2E_REFRESH_TOKEN"))});
    const auto premium = [](const char16_t* instrument) {
        return [instrument] {
            ErrorBuffer error;
            const std::int32_t result = Lib().CheckPremium(Wide(instrument), error.get());
            return Answer{result, error.text()};
        };
    };
    // Before the sign-in has finished, the module's own waiting text.
    const auto [first, granted] = Poll(premium(u"EUR_USD"), -1);
    EXPECT_EQ(first.result, -1);
    EXPECT_TRUE(first.text == "Waiting for authorization" ||
                first.text == "Checking premium in progress...")
        << first.text;
    EXPECT_EQ(granted.result, 1) << granted.text;
    EXPECT_EQ(granted.text, "");

    // The next call starts a new check, which the book's latency keeps running.
    const auto [again, refused] = Poll(premium(u"GBP_USD"), -1);
    EXPECT_EQ(again.text, "Checking premium in progress...");
    EXPECT_EQ(refused.result, 0) << refused.text;
}

TEST(Updates, CheckReportsThePublishedVersion) {
    ASSERT_EQ(Configure("mt5"), "");
    char16_t version[MORVA_ERROR_BUFFER_SIZE] = u"untouched";
    bool force = true;
    const auto [first, last] = Poll(Check(version, force), 1);
    if (first.result == 1) {
        EXPECT_EQ(first.text, "Checking for updates - Waiting for server response...");
    }
    EXPECT_EQ(last.result, 4) << last.text;
    EXPECT_EQ(last.text, "");
    EXPECT_EQ(Utf16ToUtf8(version), "1.17.0.0");
    EXPECT_FALSE(force);

    EXPECT_EQ(Poll(
                  [&] {
                      return Answer{Lib().CheckForUpdates(reinterpret_cast<morva_char16*>(version),
                                                          &force, nullptr),
                                    ""};
                  },
                  1)
                  .second.result,
              4)
        << "no error buffer: no crash";
}

TEST(Updates, InstallationPlacesTheLibraryAndOverwritesTheIndicator) {
    ASSERT_EQ(Configure("mt5"), "");
    const fs::path data = DataFolder();
    const fs::path indicator = data / "MQL5" / "Indicators" / fs::path(u"Книга ордеров.ex5");
    WriteFile(indicator, "old indicator");
    const fs::path library = data / "MQL5" / "Libraries" / "MORVA_Orderbook64_1.17.0.0.dll";

    const std::string served = Served("MORVA_Orderbook64_1.17.0.0.dll");

    const auto [first, last] = Poll(Install(data, indicator), 1);
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(first.text, "Update in progress...");
    EXPECT_EQ(last.result, 3) << last.text;
    EXPECT_EQ(last.text, "");
    EXPECT_TRUE(ReadFile(library) == served);
    EXPECT_EQ(ReadFile(indicator), "indicator 5");
}

TEST(Updates, FailedInstallationsReportAnErrorAndLeaveTheIndicator) {
    const fs::path data = DataFolder();
    const fs::path bare = data.parent_path() / "bare";
    fs::create_directories(bare / "MQL5");
    const fs::path indicator = bare / "MQL5" / "book.ex5";
    WriteFile(indicator, "old indicator");

    ASSERT_EQ(Configure("mt5"), "");
    const auto [started, missing] = Poll(Install(bare, indicator), 1);
    EXPECT_EQ(missing.result, 2);
    EXPECT_EQ(missing.text, "An error occurred when updating indicator");
    EXPECT_EQ(ReadFile(indicator), "old indicator");
    EXPECT_FALSE(fs::exists(bare / "MQL5" / "Libraries")) << "no folder is created";
}

// Run with a scenario that publishes what must never be installed: a version no file name may
// carry, or a library that is no DLL for MetaTrader 5.
TEST(Refused, NothingIsWrittenAnywhere) {
    ASSERT_EQ(Configure("mt5"), "");
    const fs::path work = Environment("MORVA_E2E_WORK");
    const fs::path data = DataFolder();
    const fs::path indicator = data / "MQL5" / "Indicators" / "book.ex5";
    WriteFile(indicator, "old indicator");
    const auto before = Snapshot(work);
    const auto [first, last] = Poll(Install(data, indicator), 1);
    EXPECT_EQ(last.result, 2);
    EXPECT_EQ(last.text, "An error occurred when updating indicator");
    // The log may have grown; nothing else under the work folder may change.
    const auto withoutLogs = [](std::map<fs::path, std::string> files) {
        std::erase_if(files, [](const auto& entry) {
            return entry.first.filename().string().rfind("MORVA_Orderbook", 0) == 0 &&
                   entry.first.extension() == ".log";
        });
        return files;
    };
    EXPECT_EQ(withoutLogs(Snapshot(work)), withoutLogs(before));
}

// Run against a newer release's update tree (run_release_update_e2e.sh): the library of this
// bitness finds the published version, installs the release's own files and the library it
// installed loads, carries that version and exports the fifteen names.
TEST(Release, InstallsTheReleasedLibraryWhichLoads) {
    const bool mt4 = sizeof(void*) == 4;
    const std::string version = Environment("MORVA_E2E_VERSION");
    ASSERT_FALSE(version.empty());
    ASSERT_EQ(Configure(mt4 ? "mt4" : "mt5"), "");
    char16_t published[MORVA_ERROR_BUFFER_SIZE] = u"";
    bool force = true;
    const Answer checked = Poll(Check(published, force), 1).second;
    EXPECT_EQ(checked.result, 4) << checked.text;
    EXPECT_EQ(Utf16ToUtf8(published), version);
    EXPECT_FALSE(force);

    const fs::path data = DataFolder();
    const fs::path mql = data / (mt4 ? "MQL4" : "MQL5");
    const fs::path indicator = mql / (mt4 ? "book.ex4" : "book.ex5");
    WriteFile(indicator, "old indicator");
    const Answer installed = Poll(Install(data, indicator), 1).second;
    ASSERT_EQ(installed.result, 3) << installed.text;

    const std::string name =
        std::string(mt4 ? "MORVA_Orderbook32_" : "MORVA_Orderbook64_") + version + ".dll";
    const fs::path library = mql / "Libraries" / name;
    EXPECT_TRUE(ReadFile(library) == Served(name.c_str()));
    const std::string indicatorName = "MORVA_Order_Book_EN_" + version + (mt4 ? ".ex4" : ".ex5");
    EXPECT_EQ(ReadFile(indicator),
              ReadFile(fs::path(Environment("MORVA_E2E_EXPECTED")) / indicatorName));

    const std::string path = Utf16ToUtf8(library.u16string());
    EXPECT_EQ(Library::FileVersion(path), version);
    const ExportsUnderTest release(path);  // throws when one of the fifteen is missing
    ErrorBuffer error;
    EXPECT_EQ(release.CheckPremium(Wide(u"EUR_USD"), error.get()), -1);
    EXPECT_EQ(error.text(), "Orderbook module not initialized");
}

}  // namespace
}  // namespace morva
