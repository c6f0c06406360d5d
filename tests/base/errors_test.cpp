// Tests of MorvaError and its subtypes (base/morva_error.h) and of the last-error helpers
// LastErrorText, ThrowLastError, ThrowStatus and ThrowCode (base/last_error.h).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include "base/last_error.h"
#include "base/morva_error.h"

namespace morva {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

// MorvaError, InvalidInstrumentError (base/morva_error.h)

TEST(MorvaError, FormatsAndCutsAt255Characters) {
    EXPECT_STREQ(MorvaError("%s failed (HTTP %d): %s", "Get order book", 503, "busy").what(),
                 "Get order book failed (HTTP 503): busy");
    EXPECT_STREQ(MorvaError("%d", "not a number").what(), "Incorrectly formatted error");

    const std::string long300(300, 'a');
    EXPECT_EQ(std::string(MorvaError("%s", long300.c_str()).what()), long300.substr(0, 255));
}

TEST(MorvaError, SubtypeIsCaughtByEveryHandlerWithItsOwnText) {
    const auto throwInvalid = [] { throw InvalidInstrumentError("%ls does not exist", u"XYZ"); };
    EXPECT_THAT(throwInvalid, ThrowsMessage<MorvaError>(StrEq("XYZ does not exist")));
}

TEST(MorvaError, CopiesKeepTheTextWhenTheOriginalIsGone) {
    const std::string text(255, 'z');
    std::exception_ptr stored;
    {
        const MorvaError original("%s", text.c_str());
        MorvaError copy = original;
        stored = std::make_exception_ptr(copy);
    }
    EXPECT_THAT([&] { std::rethrow_exception(stored); }, ThrowsMessage<MorvaError>(StrEq(text)));
}

// LastErrorText, ThrowLastError, ThrowStatus, ThrowCode (base/last_error.h)

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

// The code in brackets after the system's message (none for zero, nor for a code without one),
// and the thread's last error left as it was. WinInet's codes: the system's own table does not
// know them, WinInet's does.
TEST(LastErrorText, TheMessageIsFollowedByTheBracketedCode) {
    const struct {
        unsigned code;
        const char* end;
        bool message;
    } cases[] = {
        {0, "", false},
        {kFileNotFound, "[2]", true},
        {12029, "[12029]", true},
#ifdef _WIN32
        {0x2fffffff, "[805306367]", false},
#endif
    };
    for (const auto& c : cases) {
        SetError(c.code);
        const std::string text = LastErrorText();
        EXPECT_EQ(GetError(), c.code);
        EXPECT_THAT(text, testing::EndsWith(c.end));
        EXPECT_EQ(text.size() > std::strlen(c.end), c.message) << text;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    }
#ifndef _WIN32
    SetError(kFileNotFound);
    EXPECT_EQ(LastErrorText(), std::string(std::strerror(ENOENT)) + "[2]");
#endif
}

TEST(LastErrorConvention, EachThrowPutsTheOperationBeforeWhatWentWrong) {
    SetError(kFileNotFound);
    const std::string notFound = "Open file failed. " + LastErrorText();
    EXPECT_THAT(
        [] {
            SetError(kFileNotFound);  // the matcher's own work may have changed it
            ThrowLastError("Open file");
        },
        ThrowsMessage<MorvaError>(StrEq(notFound)));
    EXPECT_THAT([] { ThrowStatus("Query", 0xAB); },
                ThrowsMessage<MorvaError>(StrEq("Query failed (0x000000AB)")));
    EXPECT_THAT(
        [] { ThrowCode("Send request", "Could not resolve hostname", 6); },
        ThrowsMessage<MorvaError>(StrEq("Send request failed. Could not resolve hostname[6]")));
}

}  // namespace
}  // namespace morva
