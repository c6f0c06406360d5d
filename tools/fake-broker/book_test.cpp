#include "book.h"

#include <gtest/gtest.h>

#include <string>

namespace fake_broker {
namespace {

// 2024-03-05T10:40:00Z, on the 20-minute grid.
constexpr std::int64_t kGridTime = 1709635200;

long long PercentUnits(const std::string& text) {
    const auto dot = text.find('.');
    return std::stoll(text.substr(0, dot)) * 10000 + std::stoll(text.substr(dot + 1));
}

// Both sides of every bucket in 1/10000 percent; a negative side counts as a million.
long long TotalUnits(const nlohmann::json& book) {
    long long total = 0;
    for (const auto& bucket : book.at("buckets")) {
        for (const char* side : {"longCountPercent", "shortCountPercent"}) {
            const long long units = PercentUnits(bucket.at(side));
            total += units < 0 ? 1'000'000 : units;
        }
    }
    return total;
}

TEST(BookGeneration, EveryNumberTravelsAsAString) {
    const auto document =
        GenerateBook(*FindDefaultInstrument("EUR_USD"), BookKind::Order, kGridTime);
    const auto& book = document.at("orderBook");
    for (const char* member : {"instrument", "time", "unixTime", "price", "bucketWidth"}) {
        EXPECT_TRUE(book.at(member).is_string()) << member;
    }
    ASSERT_GE(book.at("buckets").size(), 200U);
    for (const auto& bucket : book.at("buckets")) {
        for (const char* member : {"price", "longCountPercent", "shortCountPercent"}) {
            ASSERT_TRUE(bucket.at(member).is_string()) << member;
        }
    }
    EXPECT_EQ(book.at("instrument"), "EUR_USD");
    EXPECT_EQ(book.at("unixTime"), std::to_string(kGridTime));
    EXPECT_EQ(book.at("time"), "2024-03-05T10:40:00Z");
}

TEST(BookGeneration, PercentagesSumToExactlyOneHundred) {
    for (const auto& instrument : DefaultInstruments()) {
        for (const BookKind kind : {BookKind::Order, BookKind::Position}) {
            EXPECT_EQ(
                TotalUnits(
                    GenerateBook(instrument, kind, kGridTime).at(std::string(KindName(kind)))),
                1'000'000)
                << instrument.name << " " << KindName(kind);
        }
    }
}

TEST(BookGeneration, ABucketCountMakesBooksOfAnySizeThatStillAddUp) {
    const auto book =
        GenerateBook(*FindDefaultInstrument("EUR_USD"), BookKind::Position, kGridTime, 130'000)
            .at("positionBook");
    ASSERT_EQ(book.at("buckets").size(), 130'000U);
    EXPECT_EQ(TotalUnits(book), 1'000'000);
    EXPECT_GT(book.dump().size(), 10'000'000U);
}

TEST(BookGeneration, BucketsAreEvenlySpacedAroundThePrice) {
    const auto instrument = *FindDefaultInstrument("USD_JPY");
    const auto book = GenerateBook(instrument, BookKind::Order, kGridTime).at("orderBook");
    const double price = std::stod(book.at("price").get<std::string>());
    const auto& buckets = book.at("buckets");
    const double first = std::stod(buckets.front().at("price").get<std::string>());
    const double last = std::stod(buckets.back().at("price").get<std::string>());
    EXPECT_LT(first, price);
    EXPECT_GT(last, price);
    EXPECT_NEAR(last - first, instrument.bucketWidth * static_cast<double>(buckets.size() - 1),
                1e-6);
    EXPECT_NEAR(price, instrument.basePrice, instrument.basePrice * 0.05);
}

TEST(BookGeneration, SameInputsGiveTheSameDocument) {
    const auto instrument = *FindDefaultInstrument("GBP_USD");
    EXPECT_EQ(GenerateBook(instrument, BookKind::Order, kGridTime),
              GenerateBook(instrument, BookKind::Order, kGridTime));
    EXPECT_NE(GenerateBook(instrument, BookKind::Order, kGridTime),
              GenerateBook(instrument, BookKind::Order, kGridTime + kSnapshotInterval));
}

TEST(BookGeneration, OrderAndPositionBookShareThePriceButNotTheBuckets) {
    const auto instrument = *FindDefaultInstrument("EUR_USD");
    const auto order = GenerateBook(instrument, BookKind::Order, kGridTime).at("orderBook");
    const auto positionDocument = GenerateBook(instrument, BookKind::Position, kGridTime);
    EXPECT_FALSE(positionDocument.contains("orderBook"));
    const auto& position = positionDocument.at("positionBook");
    EXPECT_EQ(order.at("price"), position.at("price"));
    EXPECT_NE(order.at("buckets"), position.at("buckets"));
}

// The snapshot at or before the requested time; the latest for no time or a future one.
TEST(SnapshotSelection, PicksTheSnapshotAtOrBeforeTheRequestedTime) {
    const std::int64_t now = kGridTime + 2 * kSnapshotInterval + 599;
    EXPECT_EQ(SnapshotTime(kGridTime, now), kGridTime);
    EXPECT_EQ(SnapshotTime(kGridTime + kSnapshotInterval - 1, now), kGridTime);
    EXPECT_EQ(SnapshotTime(kGridTime + kSnapshotInterval, now), kGridTime + kSnapshotInterval);
    EXPECT_EQ(SnapshotTime(std::nullopt, now), kGridTime + 2 * kSnapshotInterval);
    EXPECT_EQ(SnapshotTime(now + 86400, now), kGridTime + 2 * kSnapshotInterval);
}

TEST(BookTime, ParsesTheCalendarFormAndUnixSeconds) {
    EXPECT_EQ(ParseBookTime("2024-03-05T10:40:00Z"), kGridTime);
    EXPECT_EQ(ParseBookTime("1709635200"), kGridTime);
    EXPECT_EQ(ParseBookTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(FormatBookTime(kGridTime), "2024-03-05T10:40:00Z");
}

TEST(BookTime, RejectsMalformedTimes) {
    for (const char* text : {"", "2024-03-05 10:40:00Z", "2024-03-05T10:40:00",
                             "2024-02-30T00:00:00Z", "2024-03-05T24:00:00Z", "yesterday"}) {
        EXPECT_FALSE(ParseBookTime(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace fake_broker
