#include "base/last_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

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

TEST(LastErrorConvention, ThrowLastErrorPutsTheOperationBeforeTheErrorText) {
    SetError(kFileNotFound);
    const std::string expected = "Open file failed. " + LastErrorText();
    EXPECT_THAT(
        [] {
            SetError(kFileNotFound);
            ThrowLastError("Open file");
        },
        testing::ThrowsMessage<MorvaError>(testing::StrEq(expected)));
}

TEST(LastErrorConvention, ThrowLastErrorWithoutErrorEndsAfterTheOperation) {
    EXPECT_THAT(
        [] {
            SetError(0);
            ThrowLastError("Open file");
        },
        testing::ThrowsMessage<MorvaError>(testing::StrEq("Open file failed. ")));
}

TEST(LastErrorConvention, ThrowStatusPrintsEightUpperCaseHexDigits) {
    EXPECT_THAT([] { ThrowStatus("Create HTTP session", 0x8007000E); },
                testing::ThrowsMessage<MorvaError>(
                    testing::StrEq("Create HTTP session failed (0x8007000E)")));
    EXPECT_THAT([] { ThrowStatus("Query", 0xAB); },
                testing::ThrowsMessage<MorvaError>(testing::StrEq("Query failed (0x000000AB)")));
}

TEST(LastErrorConvention, ThrowCodeAppendsTheTextAndTheBracketedCode) {
    EXPECT_THAT([] { ThrowCode("Send request", "Could not resolve hostname", 6); },
                testing::ThrowsMessage<MorvaError>(
                    testing::StrEq("Send request failed. Could not resolve hostname[6]")));
    EXPECT_THAT([] { ThrowCode("Send request", "", -2); },
                testing::ThrowsMessage<MorvaError>(testing::StrEq("Send request failed. [-2]")));
}

}  // namespace
}  // namespace morva
