#include "util/size_conversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

namespace morva {
namespace {

TEST(SizeTToDWord, StoresSizesThatFitAndReportsOverflowStoringTheMaximum) {
    const struct {
        std::uint64_t size;
        std::uint32_t status;
        std::uint32_t stored;
    } cases[] = {
        {0xFFFFFFFF, 0, 0xFFFFFFFF},
        {0x100000000, 0x80070216u, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        std::uint32_t result = 12345;
        EXPECT_EQ(SizeTToDWord(c.size, result), c.status) << c.size;
        EXPECT_EQ(result, c.stored) << c.size;
    }
}

TEST(SizeToDWord, ReturnsSizesThatFitAndThrowsTheConventionalTextOnOverflow) {
    EXPECT_EQ(ToDWord(0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_THAT([] { ToDWord(0x100000000); },
                testing::ThrowsMessage<std::overflow_error>(
                    testing::StrEq("Convert size to DWORD failed (0x80070216)")));
}

}  // namespace
}  // namespace morva
