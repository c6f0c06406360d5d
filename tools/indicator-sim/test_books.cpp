#include "test_books.h"

#include <sstream>

BookSnapshot MakeBook(std::size_t size, std::size_t priceBucket, double firstPrice, double width) {
    BookSnapshot book;
    book.instrument = "EUR_USD";
    book.kind = BookKind::Order;
    book.bucketWidth = width;
    for (std::size_t i = 0; i < size; ++i) {
        book.prices.push_back(firstPrice + static_cast<double>(i) * width);
        book.longs.push_back(static_cast<double>(i % 7 + 1));
        book.shorts.push_back(static_cast<double>(i % 5 + 1));
    }
    book.price = firstPrice + (static_cast<double>(priceBucket) + 0.25) * width;
    book.unixTime = 1721034000;    // 2024-07-15 09:00:00 UTC
    book.serverTime = 1721044800;  // 12:00:00 on a server three hours ahead
    book.timeText = "2024-07-15T09:00:00Z";
    return book;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}
