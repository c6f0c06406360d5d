// Tests of the update check and installation: UpdatesService, AsyncUpdatesService,
// CompareVersions and IsPlainVersion, PeImageDefect, SaveFileToDisk and ReadFileHead, and the
// replacement file's TemporaryName.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/fake_configuration_client.h"
#include "support/files.h"
#include "support/minimal_dll.h"
#include "updates/async_updates_service.h"
#include "updates/pe_image_check.h"
#include "updates/replacement_file.h"
#include "updates/save_file_to_disk.h"
#include "updates/updates_service.h"
#include "updates/version_number.h"
#include "util/utf.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using testing::StrEq;
using testing::ThrowsMessage;

FileBytes Bytes(std::string_view text) {
    return FileBytes(text.begin(), text.end());
}

// Short text as it is; a library by its size and hash, so that a failure stays readable.
std::string Describe(const std::string& content) {
    return content.size() <= 64 ? content
                                : std::to_string(content.size()) + " bytes #" +
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

// UpdatesService (updates/updates_service.h)

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
    for (const auto& [existing, kept] :
         {std::pair{earlier, true}, std::pair{Bytes("earlier"), false}, std::pair{cut, false}}) {
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
        {files(Bytes("<!DOCTYPE html><html><body>Sign in</body></html>"), Bytes("new indicator")),
         u"mt5", true, "Downloaded library is not a Windows DLL for mt5: no MZ header"},
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

// AsyncUpdatesService (updates/async_updates_service.h)

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

// CompareVersions, IsPlainVersion (updates/version_number.h)

TEST(CompareVersions, ComparesPartsAsNumbersPaddedWithZerosReadAsStoiDoes) {
    EXPECT_EQ(CompareVersions("1.16.5.0", "1.16.4.9"), 1);
    EXPECT_EQ(CompareVersions("1.16.5.0", "1.16.6"), -1);
    EXPECT_EQ(CompareVersions("1.2", "1.2.0.0"), 0);
    EXPECT_EQ(CompareVersions("1.9", "1.10"), -1) << "numbers, not text";
    EXPECT_EQ(CompareVersions("1.-1", "1.0"), -1);
    EXPECT_EQ(CompareVersions("", "0.0"), 0) << "an empty text has no parts";
    // Parts read as a stream and stoi do.
    EXPECT_EQ(CompareVersions("1.2.", "1.2"), 0) << "a trailing dot adds no part";
    EXPECT_EQ(CompareVersions("1.5-beta", "1.5"), 0) << "reading stops at a non-digit";
}

TEST(CompareVersions, RefusesPartsThatAreNoNumbers) {
    for (const char* text : {"1.x", "1..2", "x", ".", "1. x", "-"}) {
        EXPECT_THAT([&] { CompareVersions("1.16.5.0", text); },
                    ThrowsMessage<std::invalid_argument>(StrEq("invalid stoi argument")))
            << text;
    }
    for (const char* text : {"1.2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_THAT([&] { CompareVersions(text, "1"); },
                    ThrowsMessage<std::out_of_range>(StrEq("stoi argument out of range")))
            << text;
    }
}

TEST(IsPlainVersion, AcceptsOnlyOneToFourDigitParts) {
    for (const char16_t* text : {u"1", u"1.16", u"1.16.6", u"1.16.5.0", u"10.0.0.1234"}) {
        EXPECT_TRUE(IsPlainVersion(text)) << std::u16string(text).size();
    }
    for (const char16_t* text :
         {u"", u".", u"1.", u".1", u"1..2", u"1.2.3.4.5", u"1.0\\..\\..\\evil", u"../x", u"1/2",
          u"1 ", u" 1", u"-1", u"+1", u"1a", u"1.x", u"\u0661"}) {
        EXPECT_FALSE(IsPlainVersion(text)) << std::u16string(text).size();
    }
    EXPECT_FALSE(IsPlainVersion(std::u16string(u"1\0.2", 4))) << "an embedded null";
}

// PeImageDefect (updates/pe_image_check.h)

// `bytes` with `value` written little-endian in `width` bytes at `at`.
FileBytes Changed(FileBytes bytes, std::size_t at, std::uint32_t value, int width = 1) {
    for (int i = 0; i < width; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return bytes;
}

TEST(PeImageDefect, OnlyACompleteDllOfTheMachinePasses) {
    const FileBytes amd64 = test::MinimalDll(kMachineAmd64);
    const FileBytes i386 = test::MinimalDll(kMachineI386);
    const std::string html = "<!DOCTYPE html><html><body>Sign in</body></html>";
    struct Case {
        FileBytes image;
        std::uint16_t machine;
        std::string defect;
    };
    const Case cases[] = {
        {amd64, kMachineAmd64, ""},
        {i386, kMachineI386, ""},
        {amd64, kMachineI386, "machine 0x8664, not 0x014C"},
        {Bytes(html), kMachineAmd64, "no MZ header"},
        {Changed(amd64, 0, 'X'), kMachineAmd64, "no MZ header"},  // long enough, wrong letters
        {FileBytes(amd64.begin(), amd64.begin() + 0x40), kMachineAmd64,
         "PE header offset out of range: 64"},
        {Changed(amd64, 0x3C, 0xFF0000F0, 4), kMachineAmd64,
         "PE header offset out of range: 4278190320"},
        {Changed(amd64, 0x41, 'X'), kMachineAmd64, "no PE signature"},
        {Changed(amd64, 0x57, 0), kMachineAmd64, "not a DLL"},  // an .exe
        {Changed(amd64, 0x58, 0x10B, 2), kMachineAmd64, "optional header of another kind"},
        {Changed(amd64, 0x46, 0), kMachineAmd64, "section table out of range: 0 sections"},
        {Changed(amd64, 0x47, 0xFF), kMachineAmd64, "section table out of range: 65281 sections"},
        {FileBytes(amd64.begin(), amd64.end() - 1), kMachineAmd64, "cut short: 1023 of 1024 bytes"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PeImageDefect(c.image, c.image.size(), c.machine), c.defect) << c.defect;
    }
}

// An installed library is judged by its headers and its size, without reading all of it.
TEST(PeImageDefect, HeadersAndSizeAreEnough) {
    const FileBytes dll = test::MinimalDll(kMachineI386, 0x10000);
    const FileBytes head(dll.begin(), dll.begin() + 0x200);
    EXPECT_EQ(PeImageDefect(head, dll.size(), kMachineI386), "");
}

// SaveFileToDisk (updates/save_file_to_disk.h)

TEST(SaveFileToDisk, NonAsciiPathsWorkAndAMissingFolderIsNotCreated) {
    test::TempFolder folder;
    const fs::path dir = folder.path() / fs::path(u"Пользователь");
    const fs::path path = dir / fs::path(u"Книга 数据.ex5");
    EXPECT_THAT([&] { SaveFileToDisk(FileBytes{1}, path.u16string()); },
                ThrowsMessage<MorvaError>(AllOf(
                    StartsWith("Failed to open ofstream: " + Utf16ToUtf8(path.u16string()) + " ["),
                    ::testing::EndsWith("]"))));
    EXPECT_FALSE(fs::exists(dir));

    fs::create_directories(dir);
    SaveFileToDisk(FileBytes{'o', 'k'}, path.u16string());
    EXPECT_EQ(test::ReadFile(path), "ok");
    EXPECT_EQ(ReadFileHead(path.u16string(), 16)->size, 2U);
}

// A write that stops halfway (the disk full, the process killed) or a replacement the system
// refuses leaves the old file as it was and nothing beside it; the next write replaces it exactly.
TEST(SaveFileToDisk, FailedWriteLeavesTheOldFileAndNothingElse) {
    test::TempFolder folder;
    const fs::path path = folder.path() / "Order Book.ex5";
    test::WriteFile(path, "old indicator");
    const FileBytes bytes(200 * 1024, 'n');
#ifndef _WIN32
    {
        // A limit on the size of files this process writes: past it, write(2) fails with EFBIG,
        // as a full disk would make it fail, instead of raising SIGXFSZ. Both restored before
        // any assertion.
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100 * 1024, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        try {
            SaveFileToDisk(bytes, path.u16string());
        } catch (const MorvaError& e) {
            error = e.what();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(error, "Error occurred while writing to: " + path.string() + " [27]");  // EFBIG
        EXPECT_EQ(test::ReadFile(path), "old indicator");
    }
#endif
    std::vector<std::size_t> progress;
    EXPECT_THAT(
        [&] {
            SaveFileToDisk(bytes, path.u16string(),
                           [&](const std::u16string& written, std::size_t count) {
                               EXPECT_EQ(written, path.u16string());
                               progress.push_back(count);
                               if (count > 100 * 1024) {
                                   throw MorvaError("There is not enough space on the disk");
                               }
                           });
        },
        ThrowsMessage<MorvaError>(StrEq("There is not enough space on the disk")));
    EXPECT_THAT(progress, ElementsAre(64 * 1024, 128 * 1024));
    EXPECT_EQ(test::ReadFile(path), "old indicator");
    EXPECT_THAT(test::FileNames(folder.path()), ElementsAre("Order Book.ex5"));

    // A folder in the file's place: everything is written, and the rename is refused.
    const fs::path taken = folder.path() / "taken";
    fs::create_directories(taken / "inside");
    EXPECT_THAT([&] { SaveFileToDisk(bytes, taken.u16string()); },
                ThrowsMessage<MorvaError>(
                    StartsWith("Error occurred while writing to: " + taken.string() + " [")));
    EXPECT_TRUE(fs::is_directory(taken / "inside"));
    EXPECT_THAT(test::FileNames(folder.path()), ElementsAre("Order Book.ex5", "taken"));

    // Shorter than the old content, with a null and a byte no text has.
    const std::string exact("a\r\nb\0\xff", 6);
    SaveFileToDisk(FileBytes(exact.begin(), exact.end()), path.u16string());
    EXPECT_EQ(test::ReadFile(path), exact);
    SaveFileToDisk(FileBytes(), path.u16string());
    EXPECT_EQ(fs::file_size(path), 0U);
    EXPECT_THAT(test::FileNames(folder.path()), ElementsAre("Order Book.ex5", "taken"));
}

// replacement_file_detail::TemporaryName (updates/replacement_file.h)

TEST(ReplacementFile, TemporaryNamesAreFreshBesideTheTarget) {
    const std::string first = Utf16ToUtf8(replacement_file_detail::TemporaryName(u"lib.dll"));
    EXPECT_EQ(first.substr(0, 8) + first.substr(24), "lib.dll..tmp");
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 8), 24U) << first;
    EXPECT_NE(Utf16ToUtf8(replacement_file_detail::TemporaryName(u"lib.dll")), first);
}

// ReadFileHead (updates/save_file_to_disk.h)

TEST(ReadFileHead, ReadsTheStartAndTellsTheSize) {
    test::TempFolder folder;
    test::WriteFile(folder.path() / "file", "0123456789");
    const auto head = ReadFileHead((folder.path() / "file").u16string(), 4);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(std::string(head->bytes.begin(), head->bytes.end()), "0123");
    EXPECT_EQ(head->size, 10U);
    EXPECT_EQ(ReadFileHead((folder.path() / "file").u16string(), 64)->bytes.size(), 10U);

    EXPECT_FALSE(ReadFileHead((folder.path() / "none" / "file").u16string(), 4));
    EXPECT_THAT(
        [&] { ReadFileHead(folder.path().u16string(), 4); },
        ThrowsMessage<MorvaError>(StartsWith("Failed to read: " + folder.path().string() + " [")));
}

}  // namespace
}  // namespace morva
