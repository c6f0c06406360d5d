#include "base/last_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

#include "base/morva_error.h"

namespace morva {
namespace {

// The thread's last error: GetLastError on Windows, errno elsewhere.
void SetError(unsigned code) {
#ifdef _WIN32
    SetLastError(code);
#else
    errno = static_cast<int>(code);
#endif
}

unsigned GetError() {
#ifdef _WIN32
    return GetLastError();
#else
    return static_cast<unsigned>(errno);
#endif
}

constexpr unsigned kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND and ENOENT alike

TEST(LastErrorText, ZeroGivesEmptyText) {
    SetError(0);
    EXPECT_EQ(LastErrorText(), "");
    EXPECT_EQ(GetError(), 0u);
}

TEST(LastErrorText, KnownCodeGivesTheMessageFollowedByTheBracketedCode) {
    SetError(kFileNotFound);
    const std::string text = LastErrorText();
    EXPECT_EQ(GetError(), kFileNotFound);
    ASSERT_THAT(text, testing::EndsWith("[2]"));
    EXPECT_GT(text.size(), 3u) << "the system's message is missing";
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
#ifndef _WIN32
    EXPECT_EQ(text, std::string(std::strerror(ENOENT)) + "[2]");
#endif
}

// A WinInet code: the system's own table does not know it, WinInet's does.
TEST(LastErrorText, WinInetCodesComeWithWinInetsMessage) {
    SetError(12029);
    const std::string text = LastErrorText();
    EXPECT_EQ(GetError(), 12029u);
    EXPECT_THAT(text, testing::EndsWith("[12029]"));
    EXPECT_GT(text.size(), 7u) << "the message is missing";
}

TEST(LastErrorText, CodeWithoutAnyMessageStillEndsWithTheBracketedCode) {
    SetError(0x2fffffff);
    const std::string text = LastErrorText();
#ifdef _WIN32
    EXPECT_EQ(text, "[805306367]");
#else
    EXPECT_THAT(text, testing::EndsWith("[805306367]"));
#endif
}

TEST(LastErrorConvention, EachThrowPutsTheOperationBeforeWhatWentWrong) {
    SetError(kFileNotFound);
    const std::string notFound = "Open file failed. " + LastErrorText();
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] {
             SetError(kFileNotFound);
             ThrowLastError("Open file");
         },
         notFound},
        {[] {
             SetError(0);
             ThrowLastError("Open file");
         },
         "Open file failed. "},
        {[] { ThrowStatus("Create HTTP session", 0x8007000E); },
         "Create HTTP session failed (0x8007000E)"},
        {[] { ThrowStatus("Query", 0xAB); }, "Query failed (0x000000AB)"},
        {[] { ThrowCode("Send request", "Could not resolve hostname", 6); },
         "Send request failed. Could not resolve hostname[6]"},
        {[] { ThrowCode("Send request", "", -2); }, "Send request failed. [-2]"},
    };
    for (const auto& [call, text] : cases) {
        EXPECT_THAT(call, testing::ThrowsMessage<MorvaError>(testing::StrEq(text)));
    }
}

}  // namespace
}  // namespace morva
