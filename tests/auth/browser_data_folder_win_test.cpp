// What only Windows does to the sign-in browser's data folder: files its browser process still
// holds, and junctions, which need no privilege and which std::filesystem takes for folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "auth/browser_data_folder.h"
#include "base/unique_any.h"
#include "support/captured_log.h"
#include "support/files.h"

namespace morva {
namespace {

using testing::HasSubstr;

using UniqueHandle = UniqueAny<HANDLE, CloseHandle, -1>;

// A junction at `link` to `target`; false where the file system makes none.
bool MakeJunction(const std::filesystem::path& link, const std::filesystem::path& target) {
    std::filesystem::create_directory(link);
    const UniqueHandle folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!folder) {
        return false;
    }
    // The mount-point layout of REPARSE_DATA_BUFFER, which only the driver kit's headers declare.
    const std::wstring substitute = L"\\??\\" + target.native();
    const std::size_t names = (substitute.size() + 1 + 1) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(8 + 8 + names);
    const auto put16 = [&](std::size_t at, std::size_t value) {
        const auto word = static_cast<WORD>(value);
        std::memcpy(buffer.data() + at, &word, sizeof(word));
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof(tag));
    put16(4, 8 + names);                                   // ReparseDataLength
    put16(8, 0);                                           // SubstituteNameOffset
    put16(10, substitute.size() * sizeof(wchar_t));        // SubstituteNameLength
    put16(12, (substitute.size() + 1) * sizeof(wchar_t));  // PrintNameOffset
    put16(14, 0);                                          // PrintNameLength
    std::memcpy(buffer.data() + 16, substitute.c_str(), substitute.size() * sizeof(wchar_t));
    DWORD returned = 0;
    return DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                           static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
}

TEST(BrowserDataFolderWin, AFolderWhoseFilesAreStillHeldIsLeftForALaterCleanup) {
    const test::TempFolder base;
    const test::CapturedLog log(spdlog::level::warn);
    BrowserDataFolder folder = BrowserDataFolder::Create(base.path());
    const std::filesystem::path held = folder.path() / "EBWebView" / "lockfile";
    std::filesystem::create_directory(held.parent_path());
    UniqueHandle file(CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);

    folder.Remove(std::chrono::milliseconds(0));
    EXPECT_TRUE(std::filesystem::exists(held));
    EXPECT_THAT(log.Lines(), HasSubstr("|Could not remove browser data folder "));

    file.reset();  // the browser's process has ended
    BrowserDataFolder::RemoveLeftovers(base.path());
    EXPECT_TRUE(std::filesystem::is_empty(base.path()));
}

TEST(BrowserDataFolderWin, CleanupNeverEntersAJunction) {
    const test::TempFolder base;
    const test::TempFolder target;
    test::WriteFile(target.path() / "precious", "kept");
    const std::filesystem::path leftover = base.path() / "MORVA_Orderbook_WebView_1700000000";
    std::filesystem::create_directory(leftover);
    if (!MakeJunction(leftover / "junction", target.path()) ||
        !MakeJunction(base.path() / "MORVA_Orderbook_WebView_1700000001", target.path())) {
        GTEST_SKIP() << "no junctions here";
    }

    BrowserDataFolder::RemoveLeftovers(base.path());
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_EQ(test::ReadFile(target.path() / "precious"), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.path()), {}), 1);
    // Not left to std::filesystem::remove_all, which may enter it.
    RemoveDirectoryW((base.path() / "MORVA_Orderbook_WebView_1700000001").c_str());
}

}  // namespace
}  // namespace morva
