#include "book_snapshot.h"

#include <cstdio>
#include <numeric>

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
    // Civil date from a day count (proleptic Gregorian), so that no time-zone state of the C
    // library is involved and times before 1970 work too.
    constexpr std::int64_t kDay = 86400;
    std::int64_t days = seconds / kDay;
    std::int64_t rest = seconds % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}
