#include "http/http_headers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/morva_error.h"
#include "http/http_client.h"

namespace morva {
namespace {

TEST(HttpHeaders, NamesIgnoreLetterCaseAndHoldOneValue) {
    HttpHeaders headers;
    SetHeader(headers, u"X-Can-Access-Premium", u"false");
    SetHeader(headers, u"x-can-access-PREMIUM", u"true");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers.at(u"X-CAN-ACCESS-PREMIUM"), u"true");
    EXPECT_EQ(headers.begin()->first, u"X-Can-Access-Premium") << "the first spelling is kept";
    // The case-folded order they are sent in shows in the curl client's header lines.
}

TEST(HttpHeaders, ParsesARawBlockLikeTheServerSentIt) {
    const HttpHeaders headers = ParseResponseHeaders(
        u"HTTP/1.1 200 OK\r\n"
        u"X-Case: first\r\n"
        u"x-case: second\r\n"
        u"X-Empty:\r\n"
        u"X-Blank: \t \r\n"
        u"X-Spaces:  \tvalue \r\n"
        u"X-Url: https://host:443/path\n"
        u" Padded : kept\r\n"
        u"\r\n"
        u"\r\n");
    EXPECT_EQ(headers.size(), 6u);
    EXPECT_EQ(headers.at(u"X-CASE"), u"second");
    EXPECT_EQ(headers.at(u"X-Empty"), u"");
    EXPECT_EQ(headers.at(u"X-Blank"), u"");
    EXPECT_EQ(headers.at(u"X-Spaces"), u"value ");
    EXPECT_EQ(headers.at(u"X-Url"), u"https://host:443/path") << "split at the first colon only";
    EXPECT_EQ(headers.at(u" Padded "), u"kept") << "names are taken as they stand";
    EXPECT_TRUE(ParseResponseHeaders(u"HTTP/1.1 204 No Content\r\n\r\n").empty());
}

TEST(HttpHeaders, DeclaredBodyLengthIsAPlainContentLengthOnly) {
    EXPECT_EQ(DeclaredBodyLength({{u"content-length", u"20480"}}), 20480u);
    EXPECT_EQ(DeclaredBodyLength({{u"Content-Length", u"0 "}}), 0u);
    EXPECT_EQ(DeclaredBodyLength({{u"Content-Length", u"18446744073709551615"}}),
              18446744073709551615u);
    EXPECT_EQ(DeclaredBodyLength({}), std::nullopt);
    // Chunked bodies end on their own terms, whatever a Content-Length says.
    EXPECT_EQ(DeclaredBodyLength({{u"Content-Length", u"10"}, {u"Transfer-Encoding", u"chunked"}}),
              std::nullopt);
    for (const char16_t* odd :
         {u"", u"-1", u"+5", u"12a", u"1 2", u"0x10", u"184467440737095516160"}) {
        EXPECT_EQ(DeclaredBodyLength({{u"Content-Length", odd}}), std::nullopt);
    }
}

// Whatever the caller passes, the transport refuses it before it connects: nothing listens on
// port 1, so a transport that went ahead would fail with its connection step instead.
TEST(RequestChecks, ControlCharactersNeverReachTheWire) {
    const auto client = CreatePlatformHttpClient();
    const auto failure = [&](std::u16string name, std::u16string value, std::u16string path = u"/",
                             std::u16string host = u"127.0.0.1") {
        const HttpRequest request{std::move(host),  1,  std::move(path),
                                  {{name, value}},  {}, kDefaultMaxResponseBytes,
                                  kDefaultTimeLimit};
        try {
            client->Send(u"GET", request);
        } catch (const MorvaError& e) {
            return std::string(e.what());
        }
        return std::string("(sent)");
    };
    for (const std::u16string& value :
         {std::u16string(u"1001\r\nX-Injected: yes"), std::u16string(u"a\0b", 3),
          std::u16string(u"\x01"), std::u16string(u"\x7f")}) {
        EXPECT_EQ(failure(u"X-Indicator-Account", value),
                  "Invalid header value for X-Indicator-Account");
    }
    EXPECT_EQ(failure(u"X-A\r\nB", u"1"), "Invalid header name: X-A??B");
    EXPECT_EQ(failure(u"X A:", u"1"), "Invalid header name: X?A:");
    EXPECT_EQ(failure(u"", u"1"), "Invalid header name: ");
    EXPECT_EQ(failure(u"X-A", u"1", u"/a\r\nX-Injected: yes"), "Invalid request path");
    EXPECT_EQ(failure(u"X-A", u"1", u"/", u"127.0.0.1\r\n"), "Invalid host name");
    // A tab, non-ASCII text and an empty value are fine: the connection step is what fails.
    for (const std::u16string& value :
         {std::u16string(u"a\tb"), std::u16string(u"Gr\u00fc\u00dfe"), std::u16string()}) {
        EXPECT_THAT(failure(u"X-A", value), testing::Not(testing::StartsWith("Invalid ")));
    }
}

}  // namespace
}  // namespace morva
