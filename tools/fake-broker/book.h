#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fake_broker {

// An instrument the broker can produce books for.
struct InstrumentProfile {
    std::string name;
    double basePrice = 0.0;
    double bucketWidth = 0.0;
    int decimals = 5;
};

enum class BookKind { Order, Position };

// Snapshots exist on a fixed 20-minute grid, as the real service publishes them.
inline constexpr std::int64_t kSnapshotInterval = 20 * 60;

const std::vector<InstrumentProfile>& DefaultInstruments();
std::optional<InstrumentProfile> FindDefaultInstrument(std::string_view name);

// "orderBook" / "positionBook": the path segment and the document's member name.
std::string_view KindName(BookKind kind);
std::optional<BookKind> ParseKind(std::string_view name);

// The snapshot at or before the requested time, never later than now; no request means the latest.
std::int64_t SnapshotTime(std::optional<std::int64_t> requested, std::int64_t now);

// Accepts "YYYY-MM-DDTHH:MM:SSZ" (what the library sends) or plain Unix seconds.
std::optional<std::int64_t> ParseBookTime(std::string_view text);
std::string FormatBookTime(std::int64_t unixTime);

// The whole response document, {"orderBook": {...}} or {"positionBook": {...}}, every number as a
// string. The same instrument, kind and time always give the same document. Without a bucket
// count, order books have 320 buckets and position books 240.
nlohmann::json GenerateBook(const InstrumentProfile& instrument, BookKind kind,
                            std::int64_t snapshotTime, std::optional<int> bucketCount = {});

}  // namespace fake_broker
