#include "book_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

BookWindow::BookWindow(const BookSnapshot& book, int rows) {
    const std::size_t size = std::min({book.prices.size(), book.longs.size(), book.shorts.size()});
    if (size == 0 || rows <= 0) {
        return;
    }
    // A price a rounding error below its bucket's start still belongs to that bucket.
    const double slack = std::abs(book.bucketWidth) * 1e-9;
    const auto above =
        std::upper_bound(book.prices.begin(), book.prices.begin() + size, book.price + slack);
    marked_ = above == book.prices.begin()
                  ? 0
                  : static_cast<std::size_t>(above - book.prices.begin()) - 1;
    const auto below = static_cast<std::size_t>(rows - 1) / 2;
    const std::size_t after = static_cast<std::size_t>(rows - 1) - below;
    first_ = marked_ >= below ? marked_ - below : 0;
    const std::size_t last = std::min(size - 1, marked_ + after);
    count_ = last - first_ + 1;
    for (std::size_t i = first_; i <= last; ++i) {
        largest_ = std::max({largest_, book.longs[i], book.shorts[i]});
    }
}

int BookWindow::BarLength(double percent, int full) const {
    if (largest_ <= 0 || percent <= 0) {
        return 0;
    }
    return static_cast<int>(std::lround(percent / largest_ * full));
}

int PriceDecimals(double bucketWidth) {
    int decimals = 0;
    double scaled = std::abs(bucketWidth);
    while (decimals < 8 && std::abs(scaled - std::round(scaled)) > 1e-6 * std::max(1.0, scaled)) {
        scaled *= 10;
        ++decimals;
    }
    return decimals;
}

std::string FormatFixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}
