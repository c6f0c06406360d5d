#include "books/http_strata_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/morva_error.h"
#include "support/fake_clock.h"
#include "support/fake_http_client.h"

namespace morva {
namespace {

using test::FakeClock;
using test::FakeHttpClient;
using test::MakeResponse;

constexpr std::int64_t kNow = 1'765'000'000;  // FakeClock's system time: 2025-12-06T05:46:40Z

constexpr const char* kValidOrderBook = R"({
  "orderBook": {
    "instrument": "EUR_USD",
    "time": "2023-01-01T00:00:00Z",
    "unixTime": "1672531200",
    "price": "1.07050",
    "bucketWidth": "0.00050",
    "buckets": [
      {"price": "1.06500", "longCountPercent": "0.0123", "shortCountPercent": "0.0456"},
      {"price": "1.07000", "longCountPercent": "1.5", "shortCountPercent": "2.25"}
    ]
  }
})";

AccessToken Token(std::string type = "Bearer", std::string text = "eyJ.abc.def") {
    AccessToken token;
    token.tokenType = std::move(type);
    token.token = std::move(text);
    token.expiresIn = 3600;
    return token;
}

class HttpStrataClientTest : public ::testing::Test {
  protected:
    // The status of every answer that the test only sends for its request.
    static constexpr std::int32_t kUnavailable = 503;

    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
    std::shared_ptr<FakeHttpClient> http_ = std::make_shared<FakeHttpClient>();
    HttpStrataClient client_{u"books.example.test",
                             TerminalInfo{u"Broker-Live 3", u"12345678", u"mt5", u"English"}, http_,
                             clock_};

    // The path of an order-book request whose answer is an error, so no parsing is involved.
    std::u16string SentOrderBookPath(const std::u16string& instrument, std::int64_t time) {
        http_->Enqueue(MakeResponse(kUnavailable));
        EXPECT_THROW(client_.GetOrderBook(Token(), instrument, time), MorvaError);
        const auto requests = http_->Requests();
        return requests.empty() ? std::u16string() : requests.back().request.path;
    }

    // The text of the error an order-book request fails with for this answer; the type must be
    // exactly MorvaError or, when `invalidInstrument`, InvalidInstrumentError.
    std::string OrderBookError(HttpResponse response, bool invalidInstrument) {
        http_->Enqueue(std::move(response));
        try {
            client_.GetOrderBook(Token(), u"EUR_USD", 0);
        } catch (const InvalidInstrumentError& e) {
            EXPECT_TRUE(invalidInstrument) << "unexpected InvalidInstrumentError: " << e.what();
            return e.what();
        } catch (const MorvaError& e) {
            EXPECT_FALSE(invalidInstrument) << "expected InvalidInstrumentError: " << e.what();
            return e.what();
        }
        ADD_FAILURE() << "no error thrown";
        return {};
    }
};

TEST(HttpStrataClientTime, WritesUtcCalendarText) {
    using strata_detail::FormatUtcTime;
    EXPECT_EQ(FormatUtcTime(0), u"1970-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(kNow), u"2025-12-06T05:46:40Z");
    EXPECT_EQ(FormatUtcTime(1'672'531'200), u"2023-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(951'782'400), u"2000-02-29T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(4'107'542'399), u"2100-02-28T23:59:59Z");
    EXPECT_EQ(FormatUtcTime(253'402'300'799), u"9999-12-31T23:59:59Z");
    EXPECT_EQ(FormatUtcTime(253'402'300'800), u"10000-01-01T00:00:00Z");
}

TEST(HttpStrataClientTime, WritesTimesBefore1970AsProperDates) {
    using strata_detail::FormatUtcTime;
    EXPECT_EQ(FormatUtcTime(-1), u"1969-12-31T23:59:59Z");
    EXPECT_EQ(FormatUtcTime(-86'400), u"1969-12-31T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(-86'401), u"1969-12-30T23:59:59Z");
    EXPECT_EQ(FormatUtcTime(-2'208'988'800), u"1900-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(-62'135'596'800), u"0001-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(-62'135'596'801), u"0000-12-31T23:59:59Z");
    EXPECT_EQ(FormatUtcTime(-62'167'219'201), u"-0001-12-31T23:59:59Z");
}

TEST(HttpStrataClientTime, CoversTheWholeSixtyFourBitRange) {
    using strata_detail::FormatUtcTime;
    EXPECT_EQ(FormatUtcTime(std::numeric_limits<std::int64_t>::max()),
              u"292277026596-12-04T15:30:07Z");
    EXPECT_EQ(FormatUtcTime(std::numeric_limits<std::int64_t>::min()),
              u"-292277022657-01-27T08:29:52Z");
}

TEST(HttpStrataClientPath, BuildsTheBookPath) {
    using strata_detail::BuildBookPath;
    EXPECT_EQ(BuildBookPath(u"orderBook", u"EUR_USD", 0), u"/v3/instruments/EUR_USD/orderBook");
    EXPECT_EQ(BuildBookPath(u"positionBook", u"EUR/USD", 1'672'531'200),
              u"/v3/instruments/EUR%2FUSD/positionBook?time=2023-01-01T00%3A00%3A00Z");
}

TEST_F(HttpStrataClientTest, TimeZeroAsksForTheLatestBook) {
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", 0), u"/v3/instruments/EUR_USD/orderBook");
}

TEST_F(HttpStrataClientTest, FutureTimeAsksForTheLatestBook) {
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", kNow + 1), u"/v3/instruments/EUR_USD/orderBook");
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", std::numeric_limits<std::int64_t>::max()),
              u"/v3/instruments/EUR_USD/orderBook");
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", kNow),
              u"/v3/instruments/EUR_USD/orderBook?time=2025-12-06T05%3A46%3A40Z")
        << "now itself is not the future";
}

TEST_F(HttpStrataClientTest, NowIsTakenInWholeSeconds) {
    // Half a second past kNow: kNow + 1 is still ahead.
    clock_->SetSystem(std::chrono::system_clock::time_point(std::chrono::seconds(kNow)) +
                      std::chrono::milliseconds(500));
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", kNow + 1), u"/v3/instruments/EUR_USD/orderBook");
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", kNow),
              u"/v3/instruments/EUR_USD/orderBook?time=2025-12-06T05%3A46%3A40Z");
}

TEST_F(HttpStrataClientTest, NonzeroTimeTravelsAsEncodedCalendarText) {
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", 1'672'531'200),
              u"/v3/instruments/EUR_USD/orderBook?time=2023-01-01T00%3A00%3A00Z");
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", 1'700'000'000),
              u"/v3/instruments/EUR_USD/orderBook?time=2023-11-14T22%3A13%3A20Z");
}

TEST_F(HttpStrataClientTest, TimeBefore1970IsSentAsItsCalendarText) {
    EXPECT_EQ(SentOrderBookPath(u"EUR_USD", -1),
              u"/v3/instruments/EUR_USD/orderBook?time=1969-12-31T23%3A59%3A59Z");
}

TEST_F(HttpStrataClientTest, InstrumentIsPercentEncoded) {
    EXPECT_EQ(SentOrderBookPath(u"EUR/USD", 0), u"/v3/instruments/EUR%2FUSD/orderBook");
    EXPECT_EQ(SentOrderBookPath(u"aZ09-._~", 0), u"/v3/instruments/aZ09-._~/orderBook");
    EXPECT_EQ(SentOrderBookPath(u"A B?#&", 0), u"/v3/instruments/A%20B%3F%23%26/orderBook");
}

TEST_F(HttpStrataClientTest, SendsOneGetWithTheIdentifyingHeaders) {
    http_->Enqueue(MakeResponse(kUnavailable));
    EXPECT_THROW(client_.GetOrderBook(Token("Bearer", "tok\xC3\xA9n"), u"EUR_USD", 0), MorvaError);

    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& [method, request] = requests[0];
    EXPECT_EQ(method, u"GET");
    EXPECT_EQ(request.host, u"books.example.test");
    EXPECT_EQ(request.port, 443);
    EXPECT_EQ(request.path, u"/v3/instruments/EUR_USD/orderBook");
    EXPECT_TRUE(request.body.empty());
    const HttpHeaders expected{
        {u"Accept", u"application/json"},
        {u"Authorization", u"Bearer tok\u00E9n"},
        {u"X-Request-Source", u"MorvaOrderbookIndicator"},
        {u"X-Indicator-Version", u"1.16.5.0"},
        {u"X-Indicator-Platform", u"mt5"},
        {u"X-Indicator-Language", u"English"},
        {u"X-Indicator-Account", u"12345678"},
        {u"X-Indicator-Server", u"Broker-Live 3"},
    };
    EXPECT_EQ(request.headers, expected);
    // Exact spelling of the names, not just a case-blind match.
    for (const auto& [name, value] : expected) {
        const auto sent = request.headers.find(name);
        ASSERT_NE(sent, request.headers.end()) << "missing header";
        EXPECT_EQ(sent->first, name);
    }
}

TEST_F(HttpStrataClientTest, NotFoundWithErrorMessageIsAnInvalidInstrument) {
    EXPECT_EQ(OrderBookError(MakeResponse(404, R"({"errorMessage":"Invalid value specified for )"
                                               R"('instrument'","code":7})"),
                             true),
              "Get order book failed (HTTP 404): Invalid value specified for 'instrument'");
}

TEST_F(HttpStrataClientTest, NotFoundWithPlainTextGivesTheText) {
    EXPECT_EQ(OrderBookError(MakeResponse(404, "Not Found"), true),
              "Get order book failed (HTTP 404): Not Found");
    EXPECT_EQ(OrderBookError(MakeResponse(404, ""), true), "Get order book failed (HTTP 404): ");
}

TEST_F(HttpStrataClientTest, BadRequestIsAnInvalidInstrument) {
    EXPECT_EQ(OrderBookError(MakeResponse(400, R"({"errorMessage":"Bad instrument"})"), true),
              "Get order book failed (HTTP 400): Bad instrument");
}

TEST_F(HttpStrataClientTest, UnauthorizedIsAnOrdinaryError) {
    EXPECT_EQ(OrderBookError(MakeResponse(401, R"({"errorMessage":"Insufficient authorization"})"),
                             false),
              "Get order book failed (HTTP 401): Insufficient authorization");
}

TEST_F(HttpStrataClientTest, ErrorBodyWithoutStringErrorMessageIsQuotedWhole) {
    EXPECT_EQ(OrderBookError(MakeResponse(500, R"({"message":"boom"})"), false),
              R"(Get order book failed (HTTP 500): {"message":"boom"})");
    EXPECT_EQ(OrderBookError(MakeResponse(500, R"({"errorMessage":42})"), false),
              R"(Get order book failed (HTTP 500): {"errorMessage":42})");
    EXPECT_EQ(OrderBookError(MakeResponse(500, R"({"errorMessage":null})"), false),
              R"(Get order book failed (HTTP 500): {"errorMessage":null})");
    EXPECT_EQ(OrderBookError(MakeResponse(502, R"(["errorMessage"])"), false),
              R"(Get order book failed (HTTP 502): ["errorMessage"])");
    EXPECT_EQ(OrderBookError(MakeResponse(503, R"("just text")"), false),
              R"(Get order book failed (HTTP 503): "just text")");
}

TEST_F(HttpStrataClientTest, ServerTextIsNotAFormat) {
    EXPECT_EQ(OrderBookError(MakeResponse(404, R"({"errorMessage":"100% %s %d"})"), true),
              "Get order book failed (HTTP 404): 100% %s %d");
}

TEST_F(HttpStrataClientTest, CheckBookResponseReturnsOnlyFor200) {
    EXPECT_NO_THROW(strata_detail::CheckBookResponse("Op", MakeResponse(200, "not json")));
    EXPECT_THROW(strata_detail::CheckBookResponse("Op", MakeResponse(201, "{}")), MorvaError);
    EXPECT_THROW(strata_detail::CheckBookResponse("Op", MakeResponse(204)), MorvaError);
}

TEST_F(HttpStrataClientTest, TransportFailurePropagatesUnchanged) {
    http_->EnqueueFailure(MorvaError("Send HTTP request failed. Error %d", 12029));
    try {
        client_.GetOrderBook(Token(), u"EUR_USD", 0);
        ADD_FAILURE() << "no error thrown";
    } catch (const InvalidInstrumentError& e) {
        ADD_FAILURE() << e.what();
    } catch (const MorvaError& e) {
        EXPECT_STREQ(e.what(), "Send HTTP request failed. Error 12029");
    }
}

TEST_F(HttpStrataClientTest, RefusesMissingArgumentsBeforeSending) {
    struct Case {
        AccessToken token;
        std::u16string instrument;
        const char* orderText;
        const char* positionText;
    };
    const Case cases[] = {
        {Token("Bearer", ""), u"EUR_USD", "Invalid OrderBook request: missing access token",
         "Invalid PositionBook request: missing access token"},
        {Token("", "eyJ.abc.def"), u"EUR_USD", "Invalid OrderBook request: missing access token",
         "Invalid PositionBook request: missing access token"},
        {Token("", ""), u"", "Invalid OrderBook request: missing access token",
         "Invalid PositionBook request: missing access token"},
        {Token(), u"", "Invalid OrderBook request: missing instrument",
         "Invalid PositionBook request: missing instrument"},
    };
    http_->SetResponder([](const std::u16string&, const HttpRequest&) {
        return MakeResponse(200, kValidOrderBook, {{u"X-Can-Access-Premium", u"true"}});
    });
    for (const Case& c : cases) {
        try {
            client_.GetOrderBook(c.token, c.instrument, 0);
            ADD_FAILURE() << "order book accepted";
        } catch (const MorvaError& e) {
            EXPECT_STREQ(e.what(), c.orderText);
        }
        try {
            client_.GetPositionBook(c.token, c.instrument, 0);
            ADD_FAILURE() << "position book accepted";
        } catch (const MorvaError& e) {
            EXPECT_STREQ(e.what(), c.positionText);
        }
        try {
            client_.CanAccessPremium(c.token, c.instrument);
            ADD_FAILURE() << "premium query accepted";
        } catch (const MorvaError& e) {
            EXPECT_STREQ(e.what(), c.orderText);
        }
    }
    EXPECT_EQ(http_->RequestCount(), 0u);
}

TEST_F(HttpStrataClientTest, PositionBookUsesItsOwnTexts) {
    EXPECT_EQ(OrderBookError(MakeResponse(404, "x"), true), "Get order book failed (HTTP 404): x");

    http_->Enqueue(MakeResponse(404, R"({"errorMessage":"Unknown instrument"})"));
    try {
        client_.GetPositionBook(Token(), u"XAU/USD", 1'672'531'200);
        ADD_FAILURE() << "no error thrown";
    } catch (const InvalidInstrumentError& e) {
        EXPECT_STREQ(e.what(), "Get position book failed (HTTP 404): Unknown instrument");
    }
    http_->Enqueue(MakeResponse(500, "oops"));
    try {
        client_.GetPositionBook(Token(), u"XAU/USD", 0);
        ADD_FAILURE() << "no error thrown";
    } catch (const InvalidInstrumentError& e) {
        ADD_FAILURE() << e.what();
    } catch (const MorvaError& e) {
        EXPECT_STREQ(e.what(), "Get position book failed (HTTP 500): oops");
    }
    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].request.path,
              u"/v3/instruments/XAU%2FUSD/positionBook?time=2023-01-01T00%3A00%3A00Z");
    EXPECT_EQ(requests[2].request.path, u"/v3/instruments/XAU%2FUSD/positionBook");
    EXPECT_EQ(requests[2].method, u"GET");
}

TEST_F(HttpStrataClientTest, PremiumIsTheExactLowerCaseTrueHeader) {
    http_->Enqueue(MakeResponse(200, "", {{u"X-Can-Access-Premium", u"true"}}));
    EXPECT_TRUE(client_.CanAccessPremium(Token(), u"EUR_USD"));
    http_->Enqueue(MakeResponse(200, "", {{u"x-can-access-PREMIUM", u"true"}}));
    EXPECT_TRUE(client_.CanAccessPremium(Token(), u"EUR_USD")) << "name in any letter case";
    http_->Enqueue(MakeResponse(200, "", {{u"X-Can-Access-Premium", u"True"}}));
    EXPECT_FALSE(client_.CanAccessPremium(Token(), u"EUR_USD"));
    http_->Enqueue(MakeResponse(200, "", {{u"X-Can-Access-Premium", u"true "}}));
    EXPECT_FALSE(client_.CanAccessPremium(Token(), u"EUR_USD"));
    http_->Enqueue(MakeResponse(200, "", {{u"X-Can-Access-Premium", u"false"}}));
    EXPECT_FALSE(client_.CanAccessPremium(Token(), u"EUR_USD"));
    http_->Enqueue(MakeResponse(200, kValidOrderBook));
    EXPECT_FALSE(client_.CanAccessPremium(Token(), u"EUR_USD")) << "header absent";
}

TEST_F(HttpStrataClientTest, PremiumIgnoresStatusAndBody) {
    http_->Enqueue(MakeResponse(401, R"({"errorMessage":"Insufficient authorization"})"));
    EXPECT_FALSE(client_.CanAccessPremium(Token(), u"EUR_USD"));
    http_->Enqueue(MakeResponse(500, "not json", {{u"X-Can-Access-Premium", u"true"}}));
    EXPECT_TRUE(client_.CanAccessPremium(Token(), u"EUR_USD"));
    http_->Enqueue(MakeResponse(404, "", {{u"X-Can-Access-Premium", u"true"}}));
    EXPECT_TRUE(client_.CanAccessPremium(Token(), u"EUR_USD"));
}

TEST_F(HttpStrataClientTest, PremiumAsksForTheOrderBookAtNow) {
    http_->Enqueue(MakeResponse(200));
    EXPECT_FALSE(client_.CanAccessPremium(Token("Bearer", "t"), u"EUR/USD"));
    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, u"GET");
    EXPECT_EQ(requests[0].request.host, u"books.example.test");
    EXPECT_EQ(requests[0].request.port, 443);
    EXPECT_EQ(requests[0].request.path,
              u"/v3/instruments/EUR%2FUSD/orderBook?time=2025-12-06T05%3A46%3A40Z");
    EXPECT_EQ(requests[0].request.headers.at(u"Authorization"), u"Bearer t");
    EXPECT_EQ(requests[0].request.headers.size(), 8u);
    EXPECT_TRUE(requests[0].request.body.empty());
    EXPECT_EQ(requests[0].request.maxResponseBytes, 32u << 20);
    EXPECT_EQ(requests[0].request.timeLimit, std::chrono::seconds(120));
}

TEST_F(HttpStrataClientTest, PremiumTransportFailurePropagates) {
    http_->EnqueueFailure(MorvaError("Open HTTP request failed. Error %d", 12007));
    try {
        client_.CanAccessPremium(Token(), u"EUR_USD");
        ADD_FAILURE() << "no error thrown";
    } catch (const MorvaError& e) {
        EXPECT_STREQ(e.what(), "Open HTTP request failed. Error 12007");
    }
}

// The cases below reach ParseBook.

TEST_F(HttpStrataClientTest, NonJsonSuccessIsAParseFailure) {
    std::string jsonError;
    try {
        const auto ignored = nlohmann::json::parse("not json");
    } catch (const std::exception& e) {
        jsonError = e.what();
    }
    ASSERT_FALSE(jsonError.empty());
    EXPECT_EQ(OrderBookError(MakeResponse(200, "not json"), false),
              "Failed to parse order book: " + jsonError);
}

TEST_F(HttpStrataClientTest, BookUnderTheOtherKindIsAParseFailure) {
    const std::string error = OrderBookError(MakeResponse(200, R"({"positionBook":{}})"), false);
    EXPECT_EQ(error.rfind("Failed to parse order book: ", 0), 0u) << error;

    http_->Enqueue(MakeResponse(200, kValidOrderBook));
    try {
        client_.GetPositionBook(Token(), u"EUR_USD", 0);
        ADD_FAILURE() << "no error thrown";
    } catch (const InvalidInstrumentError& e) {
        ADD_FAILURE() << e.what();
    } catch (const MorvaError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Failed to parse position book: ", 0), 0u)
            << e.what();
    }
}

TEST_F(HttpStrataClientTest, ValidAnswerParsesIntoTheRecord) {
    http_->Enqueue(MakeResponse(200, kValidOrderBook));
    const StrataBook book = client_.GetOrderBook(Token(), u"eur_usd", 1'672'531'200);
    EXPECT_EQ(book.instrument, "EUR_USD");
    EXPECT_EQ(book.time, "2023-01-01T00:00:00Z");
    EXPECT_EQ(book.unixTime, 1'672'531'200);
    EXPECT_DOUBLE_EQ(book.price, 1.0705);
    EXPECT_DOUBLE_EQ(book.bucketWidth, 0.0005);
    ASSERT_EQ(book.buckets.size(), 2u);
    EXPECT_DOUBLE_EQ(book.buckets[0].price, 1.065);
    EXPECT_DOUBLE_EQ(book.buckets[0].longCountPercent, 0.0123);
    EXPECT_DOUBLE_EQ(book.buckets[0].shortCountPercent, 0.0456);
    EXPECT_DOUBLE_EQ(book.buckets[1].price, 1.07);
    EXPECT_DOUBLE_EQ(book.buckets[1].longCountPercent, 1.5);
    EXPECT_DOUBLE_EQ(book.buckets[1].shortCountPercent, 2.25);

    std::string positionBody = kValidOrderBook;
    positionBody.replace(positionBody.find("orderBook"), 9, "positionBook");
    http_->Enqueue(MakeResponse(200, positionBody));
    const StrataBook position = client_.GetPositionBook(Token(), u"EUR_USD", 0);
    EXPECT_EQ(position.instrument, "EUR_USD");
    EXPECT_EQ(position.buckets.size(), 2u);
}

TEST(HttpStrataClientRealClock, DefaultsToTheSystemClock) {
    const auto http = std::make_shared<FakeHttpClient>();
    HttpStrataClient client(u"h", TerminalInfo{}, http);
    http->SetResponder([](const std::u16string&, const HttpRequest&) { return MakeResponse(503); });
    EXPECT_THROW(client.GetOrderBook(Token(), u"X", 1), MorvaError);
    EXPECT_THROW(client.GetOrderBook(Token(), u"X", 4'102'444'800), MorvaError);  // year 2100
    const auto requests = http->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].request.path,
              u"/v3/instruments/X/orderBook?time=1970-01-01T00%3A00%3A01Z");
    EXPECT_EQ(requests[1].request.path, u"/v3/instruments/X/orderBook");
}

}  // namespace
}  // namespace morva
