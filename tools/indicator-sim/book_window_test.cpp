#include "book_window.h"

#include <gtest/gtest.h>

#include "test_books.h"

namespace {

// Centred on the price's bucket, one more bucket above it for an even row count, cut off at the
// book's ends.
TEST(BookWindow, ShowsTheRowsAroundThePricesBucketWithinTheBook) {
    const struct {
        std::size_t buckets, marked;
        int rows;
        std::size_t first, count;
    } cases[] = {
        {100, 50, 21, 40, 21}, {100, 50, 4, 49, 4}, {100, 3, 21, 0, 14},
        {100, 97, 21, 87, 13}, {5, 2, 21, 0, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.buckets << " buckets, price in " << c.marked << ", "
                                          << c.rows << " rows");
        const BookWindow window(MakeBook(c.buckets, c.marked), c.rows);
        EXPECT_EQ(window.marked(), c.marked);
        EXPECT_EQ(window.first(), c.first);
        EXPECT_EQ(window.count(), c.count);
    }
}

TEST(BookWindow, ThePriceBelongsToTheBucketStartingAtOrBelowIt) {
    BookSnapshot book = MakeBook(10, 0, 1.0, 0.1);
    book.price = book.prices[4];
    EXPECT_EQ(BookWindow(book, 3).marked(), 4u);
    // 1.0 + 4 * 0.1 computed another way lands a rounding error below the bucket's start.
    book.price = 1.4 - 1e-15;
    EXPECT_EQ(BookWindow(book, 3).marked(), 4u);
    book.price = 0.5;
    EXPECT_EQ(BookWindow(book, 3).marked(), 0u);
    book.price = 7.0;
    EXPECT_EQ(BookWindow(book, 3).marked(), 9u);
}

TEST(BookWindow, BarsScaleWithTheLargestPercentageShown) {
    BookSnapshot book = MakeBook(100, 50);
    book.longs[10] = 90;  // far outside the window: must not shrink the bars shown
    book.longs[52] = 8;
    book.shorts[48] = 4;
    const BookWindow window(book, 11);
    EXPECT_DOUBLE_EQ(window.largest(), 8);
    EXPECT_EQ(window.BarLength(8, 30), 30);
    EXPECT_EQ(window.BarLength(4, 30), 15);
    EXPECT_EQ(window.BarLength(0, 30), 0);
}

TEST(BookWindow, AnEmptyBookShowsNothing) {
    const BookWindow window(MakeBook(0, 0), 21);
    EXPECT_TRUE(window.empty());
    EXPECT_EQ(window.BarLength(5, 30), 0);
}

TEST(PriceDecimals, ShowTheBucketWidthExactly) {
    EXPECT_EQ(PriceDecimals(0.0005), 4);
    EXPECT_EQ(PriceDecimals(0.05), 2);
    EXPECT_EQ(PriceDecimals(0.1), 1);
    EXPECT_EQ(PriceDecimals(5), 0);
    EXPECT_EQ(FormatFixed(1.08735, 4), "1.0874");
}

TEST(FormatTimestamp, WritesCalendarTime) {
    EXPECT_EQ(FormatTimestamp(0), "1970-01-01 00:00:00");
    EXPECT_EQ(FormatTimestamp(1721044800), "2024-07-15 12:00:00");
    EXPECT_EQ(FormatTimestamp(951782400), "2000-02-29 00:00:00");
    EXPECT_EQ(FormatTimestamp(-1), "1969-12-31 23:59:59");
}

}  // namespace
