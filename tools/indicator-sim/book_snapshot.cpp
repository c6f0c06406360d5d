#include "book_snapshot.h"

#include <cstdio>
#include <numeric>

#include "util/calendar.h"

std::string KindName(BookKind kind) {
    return kind == BookKind::Order ? "order book" : "position book";
}

std::string ExportName(BookKind kind) {
    return kind == BookKind::Order ? "OrderBook" : "PositionBook";
}

double BookSnapshot::LongTotal() const {
    return std::accumulate(longs.begin(), longs.end(), 0.0);
}

double BookSnapshot::ShortTotal() const {
    return std::accumulate(shorts.begin(), shorts.end(), 0.0);
}

std::string FormatTimestamp(std::int64_t seconds) {
    // Computed, not looked up: no time-zone state of the C library is involved, and times before
    // 1970 work too.
    const morva::time_detail::CalendarTime time = morva::time_detail::CalendarFromSeconds(seconds);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u",
                  static_cast<long long>(time.year), time.month, time.day, time.hour, time.minute,
                  time.second);
    return text;
}
