#pragma once

#include <cstddef>
#include <string>

#include "book_snapshot.h"

// How a book is drawn, whatever the medium.
struct RenderOptions {
    int rows = 21;       // buckets shown around the price
    bool color = false;  // ANSI colours (text only)
    int barLength = 30;  // columns (text) of the longest bar shown; the SVG scales the same way
};

// The buckets that are drawn: those around the price's bucket, as many as asked for, cut off at
// the ends of the book.
class BookWindow {
  public:
    BookWindow(const BookSnapshot& book, int rows);

    bool empty() const { return count_ == 0; }
    std::size_t first() const { return first_; }
    std::size_t count() const { return count_; }
    // The bucket that holds the price (the last one starting at or below it).
    std::size_t marked() const { return marked_; }
    // The largest percentage on either side among the buckets shown; 0 when all are 0.
    double largest() const { return largest_; }

    // Bar length in units of `full` for a percentage, relative to largest().
    int BarLength(double percent, int full) const;

  private:
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::size_t marked_ = 0;
    double largest_ = 0;
};

// Decimals that show a bucket width exactly (0.0005 -> 4, 0.05 -> 2, 5 -> 0), at most 8.
int PriceDecimals(double bucketWidth);
std::string FormatFixed(double value, int decimals);
