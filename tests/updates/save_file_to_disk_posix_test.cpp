#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/morva_error.h"
#include "updates/save_file_to_disk.h"

namespace morva {
namespace {

// /dev/full opens fine and refuses every write: the one failure after a good open.
TEST(SaveFileToDiskPosix, FailedWriteIsReportedWithThePath) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    try {
        SaveFileToDisk(FileBytes(64, 'x'), u"/dev/full");
        ADD_FAILURE() << "the write was not refused";
    } catch (const MorvaError& e) {
        EXPECT_STREQ(e.what(), "Error occurred while writing to: /dev/full");
    }
}

}  // namespace
}  // namespace morva
