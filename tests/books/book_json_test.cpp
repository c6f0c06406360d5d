#include "books/book_json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "support/decimal_comma_locale.h"

namespace morva {
namespace {

using Json = nlohmann::json;
using ::testing::HasSubstr;

Json Bucket(const char* price, const char* longPercent, const char* shortPercent) {
    return {
        {"price", price}, {"longCountPercent", longPercent}, {"shortCountPercent", shortPercent}};
}

Json ValidBook() {
    return {{"instrument", "EUR_USD"},
            {"time", "2024-01-05T10:00:00Z"},
            {"unixTime", "1704448800"},
            {"price", "1.08350"},
            {"bucketWidth", "0.00050"},
            {"buckets", Json::array({Bucket("1.08300", "0.0123", "0.0456"),
                                     Bucket("1.08350", "0.5000", "0.2500")})}};
}

HttpResponse Response(std::string body) {
    HttpResponse response;
    response.status = 200;
    response.body = std::move(body);
    return response;
}

HttpResponse Document(const Json& book, const std::string& kind = "orderBook") {
    return Response(Json{{kind, book}}.dump());
}

StrataBook ParseOrderBook(const Json& book) {
    return ParseBook(Document(book), "orderBook");
}

// The text of the JSON library's type error, or a failure when another error (or none) is raised.
std::string TypeErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const Json::type_error& error) {
        return error.what();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "not a type error: " << error.what();
        return {};
    }
    ADD_FAILURE() << "nothing thrown";
    return {};
}

std::string BookTypeErrorText(const Json& book) {
    return TypeErrorText([&] { ParseOrderBook(book); });
}

TEST(BookJsonParse, ReadsEveryFieldAndKeepsBucketOrder) {
    const StrataBook book = ParseOrderBook(ValidBook());

    EXPECT_EQ(book.instrument, "EUR_USD");
    EXPECT_EQ(book.time, "2024-01-05T10:00:00Z");
    EXPECT_EQ(book.unixTime, 1704448800);
    EXPECT_DOUBLE_EQ(book.price, 1.08350);
    EXPECT_DOUBLE_EQ(book.bucketWidth, 0.00050);
    ASSERT_EQ(book.buckets.size(), 2u);
    EXPECT_DOUBLE_EQ(book.buckets[0].price, 1.08300);
    EXPECT_DOUBLE_EQ(book.buckets[0].longCountPercent, 0.0123);
    EXPECT_DOUBLE_EQ(book.buckets[0].shortCountPercent, 0.0456);
    EXPECT_DOUBLE_EQ(book.buckets[1].price, 1.08350);
    EXPECT_DOUBLE_EQ(book.buckets[1].longCountPercent, 0.5);
    EXPECT_DOUBLE_EQ(book.buckets[1].shortCountPercent, 0.25);
}

TEST(BookJsonParse, EmptyBucketsGiveBookWithoutBuckets) {
    Json json = ValidBook();
    json["buckets"] = Json::array();

    const StrataBook book = ParseOrderBook(json);

    EXPECT_TRUE(book.buckets.empty());
    EXPECT_EQ(book.instrument, "EUR_USD");
}

TEST(BookJsonParse, PositionBookIsReadFromItsOwnMember) {
    const StrataBook book = ParseBook(Document(ValidBook(), "positionBook"), "positionBook");

    EXPECT_EQ(book.unixTime, 1704448800);
    EXPECT_EQ(book.buckets.size(), 2u);
}

TEST(BookJsonParse, InstrumentIsKeptAsTheDocumentSpellsIt) {
    Json json = ValidBook();
    json["instrument"] = "eur_Usd";

    EXPECT_EQ(ParseOrderBook(json).instrument, "eur_Usd");
}

TEST(BookJsonParse, UnknownMembersAreIgnoredAtEveryLevel) {
    Json json = ValidBook();
    json["tradeable"] = true;
    json["buckets"][0]["extra"] = {{"nested", 1}};
    Json document{{"orderBook", json}, {"positionBook", 42}};

    const StrataBook book = ParseBook(Response(document.dump()), "orderBook");

    EXPECT_EQ(book.instrument, "EUR_USD");
    ASSERT_EQ(book.buckets.size(), 2u);
    EXPECT_DOUBLE_EQ(book.buckets[0].longCountPercent, 0.0123);
}

TEST(BookJsonParse, BucketMemberOrderDoesNotMatter) {
    const std::string head =
        R"({"orderBook":{"instrument":"EUR_USD","time":"t","unixTime":"1","price":"1",)"
        R"("bucketWidth":"0.5","buckets":[)";
    const StrataBook inOrder = ParseBook(
        Response(head +
                 R"({"price":"1.5","longCountPercent":"0.25","shortCountPercent":"0.75"}]}})"),
        "orderBook");
    const StrataBook reordered = ParseBook(
        Response(head +
                 R"({"shortCountPercent":"0.75","price":"1.5","longCountPercent":"0.25"}]}})"),
        "orderBook");

    ASSERT_EQ(reordered.buckets.size(), 1u);
    EXPECT_EQ(reordered.buckets[0].price, inOrder.buckets[0].price);
    EXPECT_EQ(reordered.buckets[0].longCountPercent, 0.25);
    EXPECT_EQ(reordered.buckets[0].shortCountPercent, 0.75);
    EXPECT_EQ(reordered.buckets[0].price, 1.5);
}

TEST(BookJsonUnixTime, AcceptsSignLeadingBlanksAndStopsAtFirstNonDigit) {
    const auto parse = [](const char* text) {
        Json json = ValidBook();
        json["unixTime"] = text;
        return ParseOrderBook(json).unixTime;
    };

    EXPECT_EQ(parse("-5"), -5);
    EXPECT_EQ(parse(" 42abc"), 42);
    EXPECT_EQ(parse("+7"), 7);
    EXPECT_EQ(parse("2147483647"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(parse("-2147483648"), std::numeric_limits<std::int32_t>::min());
}

TEST(BookJsonUnixTime, ValuesOutsideInt32AreOutOfRange) {
    for (const char* text : {"3000000000", "2147483648", "-2147483649"}) {
        Json json = ValidBook();
        json["unixTime"] = text;
        EXPECT_THROW(ParseOrderBook(json), std::out_of_range) << text;
    }
}

TEST(BookJsonUnixTime, TextWithoutDigitsIsInvalidArgument) {
    for (const char* text : {"abc", "", " -x"}) {
        Json json = ValidBook();
        json["unixTime"] = text;
        EXPECT_THROW(ParseOrderBook(json), std::invalid_argument) << '"' << text << '"';
    }
}

TEST(BookJsonUnixTime, JsonNumberIsTypeError) {
    Json json = ValidBook();
    json["unixTime"] = 1704448800;

    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be string, but is number"));
}

TEST(BookJsonNumbers, ExponentNotationIsAccepted) {
    Json json = ValidBook();
    json["price"] = "1e-3";
    json["bucketWidth"] = " 5E-4xyz";
    json["buckets"][0]["shortCountPercent"] = "-2.5e1";

    const StrataBook book = ParseOrderBook(json);

    EXPECT_DOUBLE_EQ(book.price, 0.001);
    EXPECT_DOUBLE_EQ(book.bucketWidth, 0.0005);
    EXPECT_DOUBLE_EQ(book.buckets[0].shortCountPercent, -25.0);
}

// A host with a decimal-comma locale (or GTK setting one) must not cut prices to whole numbers.
TEST(BookJsonNumbers, ReadTheSameWhateverTheProcesssLocale) {
    const DecimalCommaLocale locale;
    if (!locale) {
        GTEST_SKIP() << "no decimal-comma locale installed";
    }
    Json json = ValidBook();
    json["bucketWidth"] = " +0.00050";

    const StrataBook book = ParseOrderBook(json);

    EXPECT_EQ(book.price, 1.08350);
    EXPECT_EQ(book.bucketWidth, 0.00050);
    EXPECT_EQ(book.buckets[0].longCountPercent, 0.0123);
    EXPECT_EQ(book.buckets[1].shortCountPercent, 0.25);
}

TEST(BookJsonNumbers, LettersOnlyAreInvalidArgumentInEveryNumericMember) {
    const std::function<void(Json&)> edits[] = {
        [](Json& j) { j["price"] = "abc"; },
        [](Json& j) { j["bucketWidth"] = "width"; },
        [](Json& j) { j["buckets"][1]["price"] = "p"; },
        [](Json& j) { j["buckets"][1]["longCountPercent"] = ""; },
        [](Json& j) { j["buckets"][1]["shortCountPercent"] = "x1"; },
    };
    for (std::size_t i = 0; i < std::size(edits); ++i) {
        Json json = ValidBook();
        edits[i](json);
        EXPECT_THROW(ParseOrderBook(json), std::invalid_argument) << "edit " << i;
    }
}

TEST(BookJsonNumbers, ValueBeyondDoubleRangeIsOutOfRange) {
    Json json = ValidBook();
    json["buckets"][0]["price"] = "1e999";

    EXPECT_THROW(ParseOrderBook(json), std::out_of_range);
}

TEST(BookJsonNumbers, JsonNumbersAreTypeErrors) {
    Json json = ValidBook();
    json["buckets"][1]["longCountPercent"] = 0.5;
    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be string, but is number"));

    json = ValidBook();
    json["price"] = 1.0835;
    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be string, but is number"));
}

TEST(BookJsonStructure, EachMissingMemberIsOutOfRange) {
    for (const char* name : {"instrument", "time", "unixTime", "price", "bucketWidth", "buckets"}) {
        Json json = ValidBook();
        json.erase(name);
        EXPECT_THROW(ParseOrderBook(json), std::out_of_range) << name;
    }
    for (const char* name : {"price", "longCountPercent", "shortCountPercent"}) {
        Json json = ValidBook();
        json["buckets"][1].erase(name);
        EXPECT_THROW(ParseOrderBook(json), std::out_of_range) << "bucket " << name;
    }
}

TEST(BookJsonStructure, MembersAreCheckedInOrderSoTheFirstDeviationDecides) {
    Json json = ValidBook();
    json["time"] = 5;              // second member: type error
    json["unixTime"] = "letters";  // third member: would be invalid_argument
    json.erase("bucketWidth");     // fifth member: would be out_of_range

    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be string, but is number"));
}

TEST(BookJsonStructure, OtherKindIsTheLibrarysOutOfRange) {
    const HttpResponse response = Document(ValidBook(), "positionBook");

    EXPECT_THROW(ParseBook(response, "orderBook"), Json::out_of_range);
}

TEST(BookJsonStructure, TopLevelThatIsNotAnObjectIsTypeError) {
    const HttpResponse response = Response(R"([{"orderBook":{}}])");

    EXPECT_THAT(TypeErrorText([&] { ParseBook(response, "orderBook"); }), HasSubstr("array"));
}

TEST(BookJsonStructure, WronglyTypedContainersNameTheActualType) {
    EXPECT_THAT(TypeErrorText([] { ParseBook(Response(R"({"orderBook":[]})"), "orderBook"); }),
                HasSubstr("type must be object, but is array"));
    EXPECT_THAT(TypeErrorText([] { ParseBook(Response(R"({"orderBook":"x"})"), "orderBook"); }),
                HasSubstr("type must be object, but is string"));

    Json json = ValidBook();
    json["buckets"] = {{"price", "1"}};
    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be array, but is object"));

    json = ValidBook();
    json["buckets"][1] = "bucket";
    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be object, but is string"));

    json = ValidBook();
    json["instrument"] = nullptr;
    EXPECT_THAT(BookTypeErrorText(json), HasSubstr("type must be string, but is null"));
}

TEST(BookJsonSyntax, MalformedOrNonStrictJsonIsParseError) {
    const std::string good = Json{{"orderBook", ValidBook()}}.dump();
    for (const std::string& body : {
             std::string(),
             good.substr(0, good.size() - 1),
             good + "x",
             std::string(R"({"orderBook":{"instrument":"A",}})"),
             std::string("/* c */") + good,
             std::string(R"({'orderBook':{}})"),
         }) {
        EXPECT_THROW(ParseBook(Response(body), "orderBook"), Json::parse_error) << body;
    }
}

TEST(BookJsonSyntax, ErrorsAreStandardExceptions) {
    EXPECT_THROW(ParseBook(Response("{"), "orderBook"), std::exception);
    EXPECT_THROW(ParseBook(Response("{}"), "orderBook"), std::exception);
}

}  // namespace
}  // namespace morva
