#pragma once

#include <cstdint>
#include <string_view>

#include "books/book_service.h"

namespace morva {

class Module;

// What tells the order-book exports from the position-book ones.
struct BookKind {
    BookService& (Module::*service)() const;
    std::u16string_view name;      // "OrderBook" in the status texts
    const char* sizeOverflowText;  // "OrderBook size exceeds maximum number"
};

const BookKind& OrderBookKind();
const BookKind& PositionBookKind();

// What the book request export returns for a GetBookRef result, with the status text written to
// the error buffer: a reference as is (buffer left alone), the four statuses as themselves, any
// other negative value as -1.
std::int32_t FormatBookStatus(std::int32_t result, std::u16string_view bookName,
                              std::u16string_view instrument, char16_t* error) noexcept;

// The bodies of the five exports of one kind. Times cross in the trading server's clock; the
// services work in UTC. Each throws on failure, for the export frame to report.
std::int32_t RequestBook(Module& module, const BookKind& kind, const char16_t* instrument,
                         std::int32_t serverTime, char16_t* error);
std::int32_t BookSize(Module& module, const BookKind& kind, std::int32_t ref);
void BookData(Module& module, const BookKind& kind, std::int32_t ref, double* shortCounts,
              double* longCounts, double* prices, std::int32_t size);
void BookMetaData(Module& module, const BookKind& kind, std::int32_t ref, double* bucketWidth,
                  double* price, std::int32_t* unixTime, std::int32_t* serverTime,
                  std::int32_t size, char16_t* timeText, char16_t* instrumentText);
void FreeBook(Module& module, const BookKind& kind, std::int32_t ref);

}  // namespace morva
