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

// How bars scale with the largest percentage shown: TextRenderer and SvgRenderer.

TEST(BookWindow, AnEmptyBookShowsNothing) {
    const BookWindow window(MakeBook(0, 0), 21);
    EXPECT_TRUE(window.empty());
    EXPECT_EQ(window.BarLength(5, 30), 0);
}

TEST(PriceDecimals, ShowTheBucketWidthExactly) {
    EXPECT_EQ(PriceDecimals(0.0005), 4);
    EXPECT_EQ(PriceDecimals(0.1), 1);
    EXPECT_EQ(PriceDecimals(5), 0);
    EXPECT_EQ(FormatFixed(1.08735, 4), "1.0874");
}

}  // namespace
