#include "books/http_strata_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <tuple>

#include "base/morva_error.h"
#include "support/fake_clock.h"
#include "support/fake_http_client.h"

namespace morva {
namespace {

using test::FakeClock;
using test::FakeHttpClient;
using test::MakeResponse;
using test::Summary;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr std::int64_t kNow = 1'765'000'000;  // FakeClock's system time: 2025-12-06T05:46:40Z
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// Its parsing is BookJsonParse's; here it stands for a well-formed book.
constexpr const char* kValidOrderBook =
    R"({"orderBook": {"instrument": "EUR_USD", "time": "2023-01-01T00:00:00Z", )"
    R"("unixTime": "1672531200", "price": "1.07050", "bucketWidth": "0.00050", "buckets": [)"
    R"({"price": "1.07000", "longCountPercent": "1.5", "shortCountPercent": "2.25"}]}})";

AccessToken Token(std::string type = "Bearer", std::string text = "eyJ.abc.def") {
    return {std::move(type), std::move(text), 3600, {}, {}};
}

// Fails with this text, as an InvalidInstrumentError exactly when `invalidInstrument` (the
// server's 400 and 404), else as a plain MorvaError.
testing::Matcher<std::function<void()>> Fails(bool invalidInstrument,
                                              const testing::Matcher<std::string>& text) {
    const testing::Matcher<const MorvaError&> invalid =
        testing::WhenDynamicCastTo<const InvalidInstrumentError&>(testing::_);
    return testing::Throws<MorvaError>(testing::AllOf(
        invalidInstrument ? invalid : testing::Not(invalid),
        testing::ResultOf([](const MorvaError& e) { return std::string(e.what()); }, text)));
}

class HttpStrataClientTest : public ::testing::Test {
  protected:
    // The path of an order-book request whose answer is an error, so no parsing is involved.
    std::u16string SentOrderBookPath(std::int64_t time) {
        http_->Enqueue(MakeResponse(503));
        EXPECT_THROW(client_.GetOrderBook(Token(), u"EUR_USD", time), MorvaError);
        const auto requests = http_->Requests();
        return requests.empty() ? std::u16string() : requests.back().request.path;
    }

    // A book request answered with `response`.
    std::function<void()> Answered(HttpResponse response, bool position = false) {
        http_->Enqueue(std::move(response));
        return [this, position] {
            position ? client_.GetPositionBook(Token(), u"EUR_USD", 0)
                     : client_.GetOrderBook(Token(), u"EUR_USD", 0);
        };
    }

    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
    std::shared_ptr<FakeHttpClient> http_ = std::make_shared<FakeHttpClient>();
    HttpStrataClient client_{u"books.example.test",
                             TerminalInfo{u"Broker-Live 3", u"12345678", u"mt5", u"English"}, http_,
                             clock_};
};

TEST(HttpStrataClientTime, WritesUtcCalendarTextOverTheWholeSixtyFourBitRange) {
    const std::pair<std::int64_t, const char16_t*> cases[] = {
        {951'782'400, u"2000-02-29T00:00:00Z"},
        {253'402'300'800, u"10000-01-01T00:00:00Z"},
        {-62'167'219'201, u"-0001-12-31T23:59:59Z"},
        {kMax, u"292277026596-12-04T15:30:07Z"},
        {std::numeric_limits<std::int64_t>::min(), u"-292277022657-01-27T08:29:52Z"},
    };
    for (const auto& [time, text] : cases) {
        EXPECT_EQ(strata_detail::FormatUtcTime(time), text) << time;
    }
}

// The instrument's encoding is EncodeUriComponent's, tested there; its use shows in every path
// with a slash.
TEST_F(HttpStrataClientTest, TheTimeTravelsAsEncodedCalendarTextUnlessItIsZeroOrFuture) {
    const std::u16string latest = u"/v3/instruments/EUR_USD/orderBook";
    const std::u16string atNow = latest + u"?time=2025-12-06T05%3A46%3A40Z";
    EXPECT_EQ(SentOrderBookPath(0), latest);
    EXPECT_EQ(SentOrderBookPath(kMax), latest);
    EXPECT_EQ(SentOrderBookPath(kNow), atNow);  // now itself is not the future
    // Half a second past kNow: kNow + 1 is still ahead.
    clock_->SetSystem(std::chrono::system_clock::time_point(std::chrono::seconds(kNow)) +
                      std::chrono::milliseconds(500));
    EXPECT_EQ(SentOrderBookPath(kNow + 1), latest);
    EXPECT_EQ(SentOrderBookPath(kNow), atNow);
}

// Every book request, the premium check's included, is one GET of the order book at now.
TEST_F(HttpStrataClientTest, PremiumSendsOneGetWithTheIdentifyingHeaders) {
    http_->Enqueue(MakeResponse(503));
    EXPECT_FALSE(client_.CanAccessPremium(Token("Bearer", "tok\xC3\xA9n"), u"EUR/USD"));
    ASSERT_EQ(http_->Requests().size(), 1u);
    // The summary spells the names as sent, not case-blind as a lookup compares them.
    EXPECT_EQ(Summary(http_->Requests()[0]),
              "GET books.example.test:443/v3/instruments/EUR%2FUSD/orderBook"
              "?time=2025-12-06T05%3A46%3A40Z [Accept: application/json] "
              "[Authorization: Bearer tok\xC3\xA9n] [X-Indicator-Account: 12345678] "
              "[X-Indicator-Language: English] [X-Indicator-Platform: mt5] "
              "[X-Indicator-Server: Broker-Live 3] [X-Indicator-Version: 1.16.5.0] "
              "[X-Request-Source: MorvaOrderbookIndicator] body 0, max 33554432, 120 s");
}

// Each book kind names itself; an answer other than 200 names its status and the server's text,
// a 200 that is not the book the parser's failure.
TEST_F(HttpStrataClientTest, AnswersOtherThanTheBookFailNamingWhatCame) {
    // The answer, whether it came for a position book, whether it names an invalid instrument (400
    // and 404 only), the failure's text.
    const std::tuple<HttpResponse, bool, bool, testing::Matcher<std::string>> cases[] = {
        {MakeResponse(404, R"({"errorMessage":"Invalid 'instrument'","code":7})"), false, true,
         "Get order book failed (HTTP 404): Invalid 'instrument'"},
        {MakeResponse(400, R"({"errorMessage":"Bad instrument"})"), true, true,
         "Get position book failed (HTTP 400): Bad instrument"},
        // Without a string errorMessage the body is quoted whole.
        {MakeResponse(500, R"({"message":"boom"})"), true, false,
         R"(Get position book failed (HTTP 500): {"message":"boom"})"},
        {MakeResponse(500, R"({"errorMessage":null})"), false, false,
         R"(Get order book failed (HTTP 500): {"errorMessage":null})"},
        {MakeResponse(201, "{}"), false, false, "Get order book failed (HTTP 201): {}"},
        // The server's text is not a format.
        {MakeResponse(404, R"({"errorMessage":"100% %s %d"})"), false, true,
         "Get order book failed (HTTP 404): 100% %s %d"},
        // The parser's own text follows, whatever its wording.
        {MakeResponse(200, "not json"), false, false,
         StartsWith("Failed to parse order book: [json.exception.")},
        {MakeResponse(200, kValidOrderBook), true, false,
         StartsWith("Failed to parse position book: ")},
    };
    for (const auto& [response, position, invalidInstrument, text] : cases) {
        EXPECT_THAT(Answered(response, position), Fails(invalidInstrument, text));
    }
}

// The premium check's: user_service_test.cpp, which logs the failure's text.
TEST_F(HttpStrataClientTest, TransportFailuresPropagateUnchanged) {
    http_->EnqueueFailure(MorvaError("Send HTTP request failed. Error %d", 12029));
    EXPECT_THAT([&] { client_.GetOrderBook(Token(), u"EUR_USD", 0); },
                ThrowsMessage<MorvaError>(StrEq("Send HTTP request failed. Error 12029")));
}

TEST_F(HttpStrataClientTest, RefusesMissingArgumentsBeforeSending) {
    const std::tuple<AccessToken, std::u16string, std::string> cases[] = {
        {Token("Bearer", ""), u"EUR_USD", "missing access token"},
        {Token("", "eyJ.abc.def"), u"EUR_USD", "missing access token"},
        {Token("", ""), u"", "missing access token"},
        {Token(), u"", "missing instrument"},
    };
    for (const auto& [token, instrument, missing] : cases) {
        const std::string order = "Invalid OrderBook request: " + missing;
        EXPECT_THAT([&] { client_.GetOrderBook(token, instrument, 0); },
                    ThrowsMessage<MorvaError>(StrEq(order)));
        EXPECT_THAT([&] { client_.GetPositionBook(token, instrument, 0); },
                    ThrowsMessage<MorvaError>(StrEq("Invalid PositionBook request: " + missing)));
        EXPECT_THAT([&] { client_.CanAccessPremium(token, instrument); },
                    ThrowsMessage<MorvaError>(StrEq(order)));
    }
    EXPECT_EQ(http_->Requests().size(), 0u);
}

TEST_F(HttpStrataClientTest, PremiumIsTheExactLowerCaseTrueHeaderWhateverTheStatusAndBody) {
    const std::tuple<HttpResponse, bool> cases[] = {
        {MakeResponse(200, "", {{u"x-can-access-PREMIUM", u"true"}}), true},
        {MakeResponse(200, "", {{u"X-Can-Access-Premium", u"True"}}), false},
        {MakeResponse(200, kValidOrderBook), false},
        {MakeResponse(500, "not json", {{u"X-Can-Access-Premium", u"true"}}), true},
    };
    for (const auto& [response, premium] : cases) {
        http_->Enqueue(response);
        EXPECT_EQ(client_.CanAccessPremium(Token(), u"EUR_USD"), premium)
            << response.status << " " << response.headers.size();
    }
}

TEST_F(HttpStrataClientTest, ValidAnswersParseIntoTheRecord) {
    http_->Enqueue(MakeResponse(200, kValidOrderBook));
    const StrataBook book = client_.GetOrderBook(Token(), u"eur_usd", 1'672'531'200);
    EXPECT_EQ(book.instrument, "EUR_USD");

    std::string positionBody = kValidOrderBook;
    positionBody.replace(positionBody.find("orderBook"), 9, "positionBook");
    http_->Enqueue(MakeResponse(200, positionBody));
    EXPECT_EQ(client_.GetPositionBook(Token(), u"XAU/USD", 1'672'531'200).buckets.size(), 1u);
    EXPECT_EQ(http_->Requests().back().request.path,
              u"/v3/instruments/XAU%2FUSD/positionBook?time=2023-01-01T00%3A00%3A00Z");
}

}  // namespace
}  // namespace morva
