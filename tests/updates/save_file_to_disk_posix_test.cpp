#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "base/morva_error.h"
#include "support/files.h"
#include "updates/save_file_to_disk.h"

namespace morva {
namespace {

// A limit on the size of files this process writes: past it, write(2) fails with EFBIG, as a full
// disk would make it fail, instead of raising SIGXFSZ. Both restored at the end.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST(SaveFileToDiskPosix, WriteTheSystemRefusesHalfwayLeavesTheOldFileAndNothingElse) {
    test::TempFolder folder;
    const std::filesystem::path path = folder.path() / "MORVA_Orderbook64_1.17.0.0.dll";
    test::WriteFile(path, "old library");
    {
        const FileSizeLimit limit(100 * 1024);
        EXPECT_THAT([&] { SaveFileToDisk(FileBytes(200 * 1024, 'x'), path.u16string()); },
                    testing::ThrowsMessage<MorvaError>(testing::StrEq(
                        "Error occurred while writing to: " + path.string() + " [27]")));  // EFBIG
    }
    EXPECT_EQ(test::ReadFile(path), "old library");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace morva
