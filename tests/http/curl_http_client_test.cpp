// The curl client's own pieces that need no server.
#include "http/curl_http_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace morva {
namespace {

using curl_detail::FailedOperation;
using curl_detail::FailureText;
using curl_detail::TransferPhase;

TEST(CurlHttpClientHeaders, LinesFollowTheMapInUtf8AndKeepCurlFromAddingItsOwn) {
    const HttpHeaders headers{
        {u"X-B", u"2"}, {u"accept", u"application/json"}, {u"X-a", u"Gr\u00fc\u00dfe"}};
    EXPECT_THAT(curl_detail::HeaderLines(headers),
                testing::ElementsAre("accept: application/json",
                                     "X-a: Gr\xc3\xbc\xc3\x9f"
                                     "e",
                                     "X-B: 2", "Expect:", "Content-Type:"));
    // A blank value needs curl's semicolon form.
    EXPECT_THAT(
        curl_detail::HeaderLines({{u"X-Empty", u""},
                                  {u"X-Blank", u" \t"},
                                  {u"Expect", u""},
                                  {u"content-type", u"text/plain"}}),
        testing::ElementsAre("content-type: text/plain", "Expect;", "X-Blank;", "X-Empty;"));
}

TEST(CurlHttpClientFailures, ConnectionProblemsNameTheConnectionStep) {
    for (const CURLcode code :
         {CURLE_COULDNT_RESOLVE_HOST, CURLE_COULDNT_CONNECT, CURLE_SSL_CONNECT_ERROR,
          CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CACERT_BADFILE}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(FailedOperation(code, TransferPhase::Connecting), "Open HTTP connection");
        EXPECT_STREQ(FailedOperation(code, TransferPhase::AwaitingHeaders), "Open HTTP connection");
    }
    EXPECT_STREQ(FailedOperation(CURLE_OPERATION_TIMEDOUT, TransferPhase::Connecting),
                 "Open HTTP connection");
}

TEST(CurlHttpClientFailures, LaterProblemsNameTheStepThatWasRunning) {
    for (const CURLcode code : {CURLE_SEND_ERROR, CURLE_RECV_ERROR, CURLE_GOT_NOTHING,
                                CURLE_OPERATION_TIMEDOUT, CURLE_WEIRD_SERVER_REPLY}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(FailedOperation(code, TransferPhase::AwaitingHeaders), "Send HTTP request");
    }
    for (const CURLcode code :
         {CURLE_RECV_ERROR, CURLE_PARTIAL_FILE, CURLE_OPERATION_TIMEDOUT, CURLE_SEND_ERROR}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(FailedOperation(code, TransferPhase::ReadingBody), "Read HTTP response body");
    }
}

TEST(CurlHttpClientFailures, TheBuffersTextNamesTheFailureOfAFreshConnection) {
    EXPECT_EQ(FailureText(CURLE_COULDNT_CONNECT, TransferPhase::Connecting,
                          "Failed to connect to api.morva.example port 443"),
              "Failed to connect to api.morva.example port 443");
    EXPECT_EQ(FailureText(CURLE_RECV_ERROR, TransferPhase::ReadingBody,
                          "Recv failure: Connection reset by peer"),
              "Recv failure: Connection reset by peer");
    EXPECT_EQ(FailureText(CURLE_PARTIAL_FILE, TransferPhase::ReadingBody, ""),
              curl_easy_strerror(CURLE_PARTIAL_FILE));
}

// A kept-alive connection found dead leaves "Send failure: Broken pipe" in the buffer; the new
// connection curl then tries is refused, or offers a certificate nobody trusts.
TEST(CurlHttpClientFailures, AConnectionFailureAfterARetryIsNotReportedAsTheDeadConnections) {
    for (const CURLcode code : {CURLE_COULDNT_CONNECT, CURLE_PEER_FAILED_VERIFICATION}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(FailureText(code, TransferPhase::AwaitingHeaders, "Send failure: Broken pipe"),
                  curl_easy_strerror(code));
    }
}

}  // namespace
}  // namespace morva
