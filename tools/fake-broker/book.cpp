#include "book.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace fake_broker {
namespace {

constexpr std::int64_t kPercentUnits = 1'000'000;  // 100 % in steps of 0.0001 %

std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325ULL) {
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// SplitMix64: tiny, and its output is the same on every platform and standard library, which
// std::*_distribution does not promise.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

  private:
    std::uint64_t state_;
};

std::uint64_t Seed(std::string_view instrument, std::string_view salt, std::int64_t time) {
    return Fnv1a(salt, Fnv1a(instrument)) ^
           (static_cast<std::uint64_t>(time) * 0x9e3779b97f4a7c15ULL);
}

std::string FormatFixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string FormatPercentUnits(std::int64_t units) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld.%04lld", static_cast<long long>(units / 10000),
                  static_cast<long long>(units % 10000));
    return buffer;
}

// Order and position books of one instrument at one time share the price, so the price is
// seeded without the kind.
double SnapshotPrice(const InstrumentProfile& instrument, std::int64_t time) {
    constexpr double kDay = 86400.0;
    const double phase = static_cast<double>(Fnv1a(instrument.name) % 1000) / 1000.0;
    const double t = static_cast<double>(time);
    const double drift = 0.015 * std::sin(2.0 * std::numbers::pi * (t / (kDay * 9.3) + phase)) +
                         0.005 * std::sin(2.0 * std::numbers::pi * (t / (kDay * 1.7) + phase));
    Random random(Seed(instrument.name, "price", time));
    const double noise = 0.001 * (random.Unit() - 0.5);
    const double price = instrument.basePrice * (1.0 + drift + noise);
    const double scale = std::pow(10.0, instrument.decimals);
    return std::round(price * scale) / scale;
}

// Splits kPercentUnits over the weights by largest remainder, so the strings sum exactly.
std::vector<std::int64_t> Apportion(const std::vector<double>& weights) {
    double total = 0.0;
    for (const double w : weights) {
        total += w;
    }
    std::vector<std::int64_t> units(weights.size(), 0);
    if (total <= 0.0) {
        return units;
    }
    std::vector<std::pair<double, std::size_t>> remainders;
    remainders.reserve(weights.size());
    std::int64_t assigned = 0;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const double exact = weights[i] / total * static_cast<double>(kPercentUnits);
        units[i] = static_cast<std::int64_t>(std::floor(exact));
        assigned += units[i];
        remainders.emplace_back(exact - std::floor(exact), i);
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t k = 0; assigned < kPercentUnits && k < remainders.size(); ++k, ++assigned) {
        ++units[remainders[k].second];
    }
    return units;
}

double Bell(double x, double centre, double width) {
    const double d = (x - centre) / width;
    return std::exp(-0.5 * d * d);
}

}  // namespace

const std::vector<InstrumentProfile>& DefaultInstruments() {
    static const std::vector<InstrumentProfile> instruments = {
        {"EUR_USD", 1.0850, 0.0005, 5},
        {"GBP_USD", 1.2650, 0.0005, 5},
        {"USD_JPY", 149.50, 0.05, 3},
        {"XAU_USD", 2350.00, 0.50, 2},
    };
    return instruments;
}

std::optional<InstrumentProfile> FindDefaultInstrument(std::string_view name) {
    for (const auto& instrument : DefaultInstruments()) {
        if (instrument.name == name) {
            return instrument;
        }
    }
    return std::nullopt;
}

std::string_view KindName(BookKind kind) {
    return kind == BookKind::Order ? "orderBook" : "positionBook";
}

std::optional<BookKind> ParseKind(std::string_view name) {
    if (name == "orderBook") {
        return BookKind::Order;
    }
    if (name == "positionBook") {
        return BookKind::Position;
    }
    return std::nullopt;
}

std::int64_t SnapshotTime(std::optional<std::int64_t> requested, std::int64_t now) {
    const std::int64_t wanted = requested ? std::min(*requested, now) : now;
    const std::int64_t floored =
        wanted - (wanted % kSnapshotInterval + kSnapshotInterval) % kSnapshotInterval;
    return floored;
}

std::optional<std::int64_t> ParseBookTime(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc{} || end != text.data() + text.size()) {
            return std::nullopt;
        }
        return value;
    }
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    const std::string copy(text);
    if (copy.size() != 20 ||
        std::sscanf(copy.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%c", &year, &month, &day, &hour, &minute,
                    &second, &tail) != 7 ||
        tail != 'Z' || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                           std::chrono::day{day}};
    if (!date.ok()) {
        return std::nullopt;
    }
    const auto days = std::chrono::sys_days{date}.time_since_epoch().count();
    return static_cast<std::int64_t>(days) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string FormatBookTime(std::int64_t unixTime) {
    const std::int64_t secondsOfDay = (unixTime % 86400 + 86400) % 86400;
    const std::chrono::sys_days days{std::chrono::days{(unixTime - secondsOfDay) / 86400}};
    const std::chrono::year_month_day date{days};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(secondsOfDay / 3600),
                  static_cast<long long>(secondsOfDay / 60 % 60),
                  static_cast<long long>(secondsOfDay % 60));
    return buffer;
}

nlohmann::json GenerateBook(const InstrumentProfile& instrument, BookKind kind,
                            std::int64_t snapshotTime, std::optional<int> bucketCount) {
    const double price = SnapshotPrice(instrument, snapshotTime);
    Random random(Seed(instrument.name, KindName(kind), snapshotTime));

    // Order books spread wider than position books: pending orders sit far from the market.
    const int count = bucketCount.value_or(kind == BookKind::Order ? 320 : 240);
    const double spread = kind == BookKind::Order ? 45.0 : 28.0;
    const double longShare = 0.35 + 0.3 * random.Unit();
    const auto centreIndex = static_cast<std::int64_t>(std::floor(price / instrument.bucketWidth));
    const std::int64_t firstIndex = centreIndex - count / 2;

    std::vector<double> weights;  // long then short for each bucket
    weights.reserve(static_cast<std::size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        const double offset = static_cast<double>(i - count / 2);
        // Buy orders cluster below the market and sell orders above it; positions the other way
        // round (longs bought higher are under water, shorts lower).
        const double lean = kind == BookKind::Order ? -12.0 : 8.0;
        const double roundNumber = (firstIndex + i) % 20 == 0 ? 2.5 : 1.0;
        const double jitterLong = 0.4 + 1.2 * random.Unit();
        const double jitterShort = 0.4 + 1.2 * random.Unit();
        const double longWeight = Bell(offset, lean, spread) * roundNumber * jitterLong * longShare;
        const double shortWeight =
            Bell(offset, -lean, spread) * roundNumber * jitterShort * (1.0 - longShare);
        // Far tails are empty, as in real books.
        weights.push_back(longWeight < 1e-4 ? 0.0 : longWeight);
        weights.push_back(shortWeight < 1e-4 ? 0.0 : shortWeight);
    }
    const std::vector<std::int64_t> units = Apportion(weights);

    nlohmann::json buckets = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        const double bucketPrice = static_cast<double>(firstIndex + i) * instrument.bucketWidth;
        const auto at = static_cast<std::size_t>(i) * 2;
        buckets.push_back({{"price", FormatFixed(bucketPrice, instrument.decimals)},
                           {"longCountPercent", FormatPercentUnits(units[at])},
                           {"shortCountPercent", FormatPercentUnits(units[at + 1])}});
    }

    nlohmann::json book = {
        {"instrument", instrument.name},
        {"time", FormatBookTime(snapshotTime)},
        {"unixTime", std::to_string(snapshotTime)},
        {"price", FormatFixed(price, instrument.decimals)},
        {"bucketWidth", FormatFixed(instrument.bucketWidth, instrument.decimals)},
        {"buckets", std::move(buckets)},
    };
    return nlohmann::json{{std::string(KindName(kind)), std::move(book)}};
}

}  // namespace fake_broker
