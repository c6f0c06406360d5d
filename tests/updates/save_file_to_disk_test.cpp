#include "updates/save_file_to_disk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/files.h"
#include "updates/replacement_file.h"
#include "util/utf.h"

namespace morva {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The names in `folder`: a temporary file left behind shows here.
std::vector<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return {names.begin(), names.end()};
}

TEST(SaveFileToDisk, WritesTheBytesExactlyAndReplacesAnOlderFile) {
    test::TempFolder folder;
    test::CapturedLog log(spdlog::level::info);
    const fs::path path = folder.path() / "file.bin";
    test::WriteFile(path, "an older and much longer content");
    const std::string bytes("a\r\nb\0\xff", 6);
    SaveFileToDisk(FileBytes(bytes.begin(), bytes.end()), path.u16string());
    EXPECT_EQ(test::ReadFile(path), bytes);
    EXPECT_THAT(log.Messages(), HasSubstr("info|" + path.string() + " saved successfully\n"));

    SaveFileToDisk(FileBytes(), path.u16string());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0U);
    EXPECT_THAT(Names(folder.path()), ElementsAre("file.bin"));
}

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
// refuses leaves the old file as it was and nothing beside it.
TEST(SaveFileToDisk, FailedWriteLeavesTheOldFileAndNothingElse) {
    test::TempFolder folder;
    const fs::path path = folder.path() / "Order Book.ex5";
    test::WriteFile(path, "old indicator");
    const FileBytes bytes(200 * 1024, 'n');
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
    EXPECT_THAT(Names(folder.path()), ElementsAre("Order Book.ex5"));

    // A folder in the file's place: everything is written, and the rename is refused.
    const fs::path taken = folder.path() / "taken";
    fs::create_directories(taken / "inside");
    EXPECT_THAT([&] { SaveFileToDisk(bytes, taken.u16string()); },
                ThrowsMessage<MorvaError>(
                    StartsWith("Error occurred while writing to: " + taken.string() + " [")));
    EXPECT_TRUE(fs::is_directory(taken / "inside"));
    EXPECT_THAT(Names(folder.path()), ElementsAre("Order Book.ex5", "taken"));

    SaveFileToDisk(bytes, path.u16string());
    EXPECT_EQ(fs::file_size(path), bytes.size());
}

#ifndef _WIN32
// A limit on the size of files this process writes: past it, write(2) fails with EFBIG, as a full
// disk would make it fail, instead of raising SIGXFSZ. Both restored before any assertion.
TEST(SaveFileToDisk, WriteTheSystemRefusesHalfwayLeavesTheOldFileAndNothingElse) {
    test::TempFolder folder;
    const fs::path path = folder.path() / "MORVA_Orderbook64_1.17.0.0.dll";
    test::WriteFile(path, "old library");
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100 * 1024, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    try {
        SaveFileToDisk(FileBytes(200 * 1024, 'x'), path.u16string());
    } catch (const MorvaError& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(error, "Error occurred while writing to: " + path.string() + " [27]");  // EFBIG
    EXPECT_EQ(test::ReadFile(path), "old library");
    EXPECT_THAT(Names(folder.path()), ElementsAre("MORVA_Orderbook64_1.17.0.0.dll"));
}
#endif

TEST(ReplacementFile, TemporaryNamesAreFreshBesideTheTarget) {
    const std::string first = Utf16ToUtf8(replacement_file_detail::TemporaryName(u"lib.dll"));
    EXPECT_EQ(first.substr(0, 8) + first.substr(24), "lib.dll..tmp");
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 8), 24U) << first;
    EXPECT_NE(Utf16ToUtf8(replacement_file_detail::TemporaryName(u"lib.dll")), first);
}

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
