#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class BookKind { Order, Position };

// "order book" or "position book", as the simulator names them to people.
std::string KindName(BookKind kind);
// "OrderBook" or "PositionBook", as the library names them.
std::string ExportName(BookKind kind);

// One book as the indicator holds it after reading it through the exports. Buckets are in the
// library's order (ascending prices); percentages are of the whole book.
struct BookSnapshot {
    std::string instrument;  // as the library reports it
    BookKind kind = BookKind::Order;
    std::vector<double> prices;
    std::vector<double> longs;
    std::vector<double> shorts;
    double bucketWidth = 0;
    double price = 0;
    std::int32_t unixTime = 0;    // UTC
    std::int32_t serverTime = 0;  // the trading server's clock
    std::string timeText;

    double LongTotal() const;
    double ShortTotal() const;
};

// "2024-07-15 09:00:00" for seconds since 1970, read as a clock without time zone.
std::string FormatTimestamp(std::int64_t seconds);
