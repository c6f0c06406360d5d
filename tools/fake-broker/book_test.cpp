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

// As the real API: every number a string; the two kinds share the price but not the buckets.
TEST(BookGeneration, EveryNumberTravelsAsAString) {
    const auto instrument = *FindDefaultInstrument("EUR_USD");
    const auto book = GenerateBook(instrument, BookKind::Order, kGridTime).at("orderBook");
    for (const char* member : {"instrument", "time", "unixTime", "price", "bucketWidth"}) {
        EXPECT_TRUE(book.at(member).is_string()) << member;
    }
    for (const auto& bucket : book.at("buckets")) {
        for (const char* member : {"price", "longCountPercent", "shortCountPercent"}) {
            ASSERT_TRUE(bucket.at(member).is_string()) << member;
        }
    }
    EXPECT_EQ(book.at("time"), "2024-03-05T10:40:00Z");
    const auto position =
        GenerateBook(instrument, BookKind::Position, kGridTime).at("positionBook");
    EXPECT_EQ(book.at("price"), position.at("price"));
    EXPECT_NE(book.at("buckets"), position.at("buckets"));
}

// Exact, where the library's own check allows a rounding error.
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
}

TEST(BookGeneration, SameInputsGiveTheSameDocument) {
    const auto instrument = *FindDefaultInstrument("GBP_USD");
    EXPECT_EQ(GenerateBook(instrument, BookKind::Order, kGridTime),
              GenerateBook(instrument, BookKind::Order, kGridTime));
    EXPECT_NE(GenerateBook(instrument, BookKind::Order, kGridTime),
              GenerateBook(instrument, BookKind::Order, kGridTime + kSnapshotInterval));
}

// The snapshot at or before the requested time; the latest for no time or a future one.
TEST(SnapshotSelection, PicksTheSnapshotAtOrBeforeTheRequestedTime) {
    const std::int64_t now = kGridTime + 2 * kSnapshotInterval + 599;
    EXPECT_EQ(SnapshotTime(kGridTime + kSnapshotInterval - 1, now), kGridTime);
    EXPECT_EQ(SnapshotTime(kGridTime + kSnapshotInterval, now), kGridTime + kSnapshotInterval);
    EXPECT_EQ(SnapshotTime(std::nullopt, now), kGridTime + 2 * kSnapshotInterval);
    EXPECT_EQ(SnapshotTime(now + 86400, now), kGridTime + 2 * kSnapshotInterval);
}

TEST(BookTime, ParsesTheCalendarFormAndUnixSecondsOnly) {
    EXPECT_EQ(ParseBookTime("2024-03-05T10:40:00Z"), kGridTime);
    EXPECT_EQ(ParseBookTime("1709635200"), kGridTime);
    for (const char* text : {"", "2024-03-05 10:40:00Z", "2024-03-05T10:40:00",
                             "2024-02-30T00:00:00Z", "2024-03-05T24:00:00Z", "yesterday"}) {
        EXPECT_FALSE(ParseBookTime(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace fake_broker
