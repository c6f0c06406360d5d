#include "text_renderer.h"

#include <algorithm>
#include <sstream>

namespace {

constexpr const char* kReset = "\x1b[0m";
constexpr const char* kGreen = "\x1b[32m";
constexpr const char* kRed = "\x1b[31m";
constexpr const char* kMarked = "\x1b[1;7m";

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

TextRenderer::TextRenderer(RenderOptions options) : options_(options) {}

std::string TextRenderer::Bar(int length, const char* colour) const {
    if (length <= 0) {
        return {};
    }
    if (!options_.color) {
        return std::string(static_cast<std::size_t>(length), '#');
    }
    std::string bar = colour;
    for (int i = 0; i < length; ++i) {
        bar += "\u2588";
    }
    return bar + kReset;
}

std::string TextRenderer::Render(const BookSnapshot& book) const {
    const BookWindow window(book, options_.rows);
    const int decimals = PriceDecimals(book.bucketWidth);
    std::ostringstream out;
    out << book.instrument << ' ' << KindName(book.kind) << '\n';
    out << "  time   " << FormatTimestamp(book.unixTime) << " UTC, "
        << FormatTimestamp(book.serverTime) << " server time";
    if (!book.timeText.empty()) {
        out << " (" << book.timeText << ')';
    }
    out << '\n';
    out << "  price  " << FormatFixed(book.price, decimals + 1) << ", bucket width "
        << FormatFixed(book.bucketWidth, decimals) << ", " << book.prices.size() << " buckets\n";
    out << "  totals long " << FormatFixed(book.LongTotal(), 2) << " %, short "
        << FormatFixed(book.ShortTotal(), 2) << " %\n";
    if (window.empty()) {
        out << "  (no buckets)\n";
        return out.str();
    }

    std::size_t priceWidth = 0;
    for (std::size_t i = window.first(); i < window.first() + window.count(); ++i) {
        priceWidth = std::max(priceWidth, FormatFixed(book.prices[i], decimals).size());
    }
    const auto barColumns = static_cast<std::size_t>(std::max(options_.barLength, 0));
    out << "  " << PadLeft("short %", barColumns + 7) << "   " << PadLeft("price", priceWidth)
        << "   long %\n";
    for (std::size_t row = window.count(); row-- > 0;) {
        const std::size_t i = window.first() + row;
        const bool marked = i == window.marked();
        const int shortLength = window.BarLength(book.shorts[i], options_.barLength);
        const int longLength = window.BarLength(book.longs[i], options_.barLength);
        std::string price = PadLeft(FormatFixed(book.prices[i], decimals), priceWidth);
        if (marked && options_.color) {
            price = kMarked + price + kReset;
        }
        out << (marked ? "> " : "  ")
            << std::string(barColumns - std::min(barColumns, static_cast<std::size_t>(shortLength)),
                           ' ')
            << Bar(shortLength, kRed) << ' ' << PadLeft(FormatFixed(book.shorts[i], 2), 6) << " | "
            << price << " | " << PadLeft(FormatFixed(book.longs[i], 2), 6);
        if (longLength > 0) {
            out << ' ' << Bar(longLength, kGreen);
        }
        if (marked) {
            out << " <- " << FormatFixed(book.price, decimals + 1);
        }
        out << '\n';
    }
    return out.str();
}
