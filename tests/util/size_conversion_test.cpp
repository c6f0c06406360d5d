#include "util/size_conversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

namespace morva {
namespace {

TEST(SizeTToDWord, SizesThatFitAreStoredUnchanged) {
    for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0x7FFFFFFF},
                                     std::uint64_t{0xFFFFFFFF}}) {
        std::uint32_t result = 12345;
        EXPECT_EQ(SizeTToDWord(size, result), 0u) << size;
        EXPECT_EQ(result, size);
    }
}

TEST(SizeTToDWord, LargerSizesReportOverflowAndStoreTheMaximum) {
    for (const std::uint64_t size :
         {std::uint64_t{0x100000000}, std::uint64_t{0x1000000005}, UINT64_MAX}) {
        std::uint32_t result = 12345;
        EXPECT_EQ(SizeTToDWord(size, result), 0x80070216u) << size;
        EXPECT_EQ(result, 0xFFFFFFFFu);
    }
}

TEST(SizeToDWord, ReturnsSizesThatFit) {
    EXPECT_EQ(ToDWord(0), 0u);
    EXPECT_EQ(ToDWord(0xFFFFFFFF), 0xFFFFFFFFu);
}

TEST(SizeToDWord, ThrowsTheConventionalTextOnOverflow) {
    EXPECT_THAT([] { ToDWord(0x100000000); },
                testing::ThrowsMessage<std::overflow_error>(
                    testing::StrEq("Convert size to DWORD failed (0x80070216)")));
}

}  // namespace
}  // namespace morva
