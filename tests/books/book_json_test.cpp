#include "books/book_json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>

#include "support/decimal_comma_locale.h"
#include "support/fake_http_client.h"

namespace morva {
namespace {

using Json = nlohmann::json;
using ::testing::HasSubstr;

Json ValidBook() {
    return Json::parse(R"({
        "instrument": "EUR_USD", "time": "2024-01-05T10:00:00Z", "unixTime": "1704448800",
        "price": "1.08350", "bucketWidth": "0.00050", "buckets": [
            {"price": "1.08300", "longCountPercent": "0.0123", "shortCountPercent": "0.0456"},
            {"price": "1.08350", "longCountPercent": "0.5000", "shortCountPercent": "0.2500"}]})");
}

std::string EditedDocument(const std::function<void(Json&)>& edit) {
    Json json = ValidBook();
    edit(json);
    return Json{{"orderBook", json}}.dump();
}

StrataBook ParseOrderBook(const std::string& document) {
    return ParseBook(test::MakeResponse(200, document), "orderBook");
}

StrataBook ParseEdited(const std::function<void(Json&)>& edit) {
    return ParseOrderBook(EditedDocument(edit));
}

// The kind of failure, then its text.
std::string FailureOf(const std::function<void()>& parse) {
    try {
        parse();
    } catch (const Json::exception& error) {
        return error.what();  // names its kind: "[json.exception.type_error.302] ..."
    } catch (const std::out_of_range& error) {
        return std::string("out_of_range: ") + error.what();
    } catch (const std::invalid_argument& error) {
        return std::string("invalid_argument: ") + error.what();
    }
    return "nothing thrown";
}

// The book of the kind asked for, whatever else the document holds, and member order free.
TEST(BookJsonParse, ReadsItsOwnKindEveryFieldAndTheBucketOrder) {
    Json json = ValidBook();
    json["instrument"] = "eur_Usd";  // spelled as sent
    json["tradeable"] = true;
    json["buckets"][0]["extra"] = {{"nested", 1}};
    json["buckets"][1] = {
        {"shortCountPercent", "0.75"}, {"price", "1.5"}, {"longCountPercent", "0.25"}};
    const Json document{{"positionBook", json}, {"orderBook", 42}};

    const StrataBook book = ParseBook(test::MakeResponse(200, document.dump()), "positionBook");

    EXPECT_EQ(book.instrument, "eur_Usd");
    EXPECT_EQ(book.time, "2024-01-05T10:00:00Z");
    EXPECT_EQ(book.unixTime, 1704448800);
    EXPECT_DOUBLE_EQ(book.price, 1.08350);
    EXPECT_DOUBLE_EQ(book.bucketWidth, 0.00050);
    ASSERT_EQ(book.buckets.size(), 2u);
    EXPECT_DOUBLE_EQ(book.buckets[0].price, 1.08300);
    EXPECT_EQ(book.buckets[1].price, 1.5);
    EXPECT_EQ(book.buckets[1].longCountPercent, 0.25);
    EXPECT_EQ(book.buckets[1].shortCountPercent, 0.75);

    EXPECT_TRUE(ParseEdited([](Json& j) { j["buckets"] = Json::array(); }).buckets.empty());
}

// Leading blanks, signs, exponents and trailing text as stoi and strtod take them.
TEST(BookJsonParse, NumbersAreReadLikeStoiAndStrtod) {
    const StrataBook book = ParseEdited([](Json& j) {
        j["unixTime"] = " -42abc";
        j["price"] = "1e-3";
        j["bucketWidth"] = " 5E-4xyz";
    });
    EXPECT_EQ(book.unixTime, -42);
    EXPECT_DOUBLE_EQ(book.price, 0.001);
    EXPECT_DOUBLE_EQ(book.bucketWidth, 0.0005);
}

// A host with a decimal-comma locale (or GTK setting one) must not cut prices to whole numbers.
TEST(BookJsonParse, NumbersReadTheSameWhateverTheProcesssLocale) {
    const DecimalCommaLocale locale;
    if (!locale) {
        GTEST_SKIP() << "no decimal-comma locale installed";
    }
    const StrataBook book = ParseEdited([](Json& j) { j["bucketWidth"] = " +0.00050"; });
    EXPECT_EQ(book.price, 1.08350);
    EXPECT_EQ(book.bucketWidth, 0.00050);
}

// One case for each kind of failure and each place that raises it.
TEST(BookJsonParse, EachKindOfDeviationFailsWithItsOwnException) {
    const std::pair<std::string, const char*> cases[] = {
        {"/* c */" + EditedDocument([](Json&) {}), "json.exception.parse_error"},
        {Json{{"positionBook", ValidBook()}}.dump(), "json.exception.out_of_range"},
        {R"([{"orderBook":{}}])", "json.exception.type_error"},
        {R"({"orderBook":[]})", "type must be object, but is array"},
        {EditedDocument([](Json& j) { j["unixTime"] = "2147483648"; }), "out_of_range: stoi"},
        {EditedDocument([](Json& j) { j["price"] = "abc"; }), "invalid_argument: "},
        {EditedDocument([](Json& j) { j["buckets"][0]["price"] = "1e999"; }), "out_of_range: "},
        {EditedDocument([](Json& j) { j["time"] = 5; }),
         "[json.exception.type_error.302] type must be string, but is number"},
        {EditedDocument([](Json& j) { j["buckets"][1]["shortCountPercent"] = 0.5; }),
         "type must be string, but is number"},
        {EditedDocument([](Json& j) { j.erase("bucketWidth"); }),
         "out_of_range: key 'bucketWidth' not found"},
        {EditedDocument([](Json& j) { j["buckets"][1].erase("price"); }),
         "out_of_range: key 'price' not found"},
        {EditedDocument([](Json& j) {
             j["buckets"] = {{"price", "1"}};
         }),
         "type must be array, but is object"},
        {EditedDocument([](Json& j) { j["buckets"][1] = "bucket"; }),
         "type must be object, but is string"},
    };
    for (const auto& [body, failure] : cases) {
        EXPECT_THAT(FailureOf([&] { ParseOrderBook(body); }), HasSubstr(failure)) << body;
    }
}

}  // namespace
}  // namespace morva
