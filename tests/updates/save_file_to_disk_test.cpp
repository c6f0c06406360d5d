#include "updates/save_file_to_disk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/files.h"
#include "util/utf.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

template <class Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

TEST(SaveFileToDisk, WritesTheBytesExactlyAndReplacesAnOlderFile) {
    test::TempFolder folder;
    test::CapturedLog log(spdlog::level::info);
    const fs::path path = folder.path() / "file.bin";
    test::WriteFile(path, "an older and much longer content");
    const std::string bytes("a\r\nb\0\xff", 6);
    SaveFileToDisk(FileBytes(bytes.begin(), bytes.end()), path.u16string());
    EXPECT_EQ(test::ReadFile(path), bytes);
    EXPECT_THAT(log.Lines(),
                HasSubstr("info|morva::SaveFileToDisk|" + path.string() + " saved successfully\n"));

    SaveFileToDisk(FileBytes(), path.u16string());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0U);
}

TEST(SaveFileToDisk, NonAsciiPathsWork) {
    test::TempFolder folder;
    const fs::path dir = folder.path() / fs::path(u"Пользователь");
    fs::create_directories(dir);
    const fs::path path = dir / fs::path(u"Книга 数据.ex5");
    SaveFileToDisk(FileBytes{'o', 'k'}, path.u16string());
    EXPECT_EQ(test::ReadFile(path), "ok");
    EXPECT_TRUE(FileExists(path.u16string()));
}

TEST(SaveFileToDisk, MissingFolderIsNotCreated) {
    test::TempFolder folder;
    const fs::path path = folder.path() / fs::path(u"Нет") / "file.bin";
    const std::string error = ErrorOf([&] { SaveFileToDisk(FileBytes{1}, path.u16string()); });
    EXPECT_THAT(error,
                StartsWith("Failed to open ofstream: " + Utf16ToUtf8(path.u16string()) + " ["));
    EXPECT_THAT(error, ::testing::EndsWith("]"));
    EXPECT_FALSE(fs::exists(path.parent_path()));
}

TEST(FileExists, TellsFilesAndFoldersFromNothing) {
    test::TempFolder folder;
    test::WriteFile(folder.path() / "file", "x");
    EXPECT_TRUE(FileExists((folder.path() / "file").u16string()));
    EXPECT_TRUE(FileExists(folder.path().u16string()));
    EXPECT_FALSE(FileExists((folder.path() / "none").u16string()));
    EXPECT_FALSE(FileExists((folder.path() / "none" / "file").u16string()));
}

}  // namespace
}  // namespace morva
