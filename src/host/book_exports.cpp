#include "host/book_exports.h"

#include <limits>
#include <stdexcept>
#include <string>

#include "base/morva_error.h"
#include "host/execute_dll.h"
#include "host/module.h"

namespace morva {

namespace {

BookService& ServiceOf(Module& module, const BookKind& kind) {
    return (module.*kind.service)();
}

}  // namespace

const BookKind& OrderBookKind() {
    static const BookKind kind{&Module::orderBooks, u"OrderBook",
                               "OrderBook size exceeds maximum number"};
    return kind;
}

const BookKind& PositionBookKind() {
    static const BookKind kind{&Module::positionBooks, u"PositionBook",
                               "PositionBook size exceeds maximum number"};
    return kind;
}

std::int32_t FormatBookStatus(std::int32_t result, std::u16string_view bookName,
                              std::u16string_view instrument, char16_t* error) noexcept {
    if (result >= 0) {
        return result;
    }
    const char16_t* ending = nullptr;
    std::int32_t returned = result;
    switch (static_cast<BookRefStatus>(result)) {
        case BookRefStatus::StartedLoading:
            ending = u" has started loading...";
            break;
        case BookRefStatus::StillLoading:
            ending = u" is still loading...";
            break;
        case BookRefStatus::WaitingForAuthorization:
            ending = u" is waiting for authorization...";
            break;
        case BookRefStatus::DoesNotExist:
            ending = u" does not exist";
            break;
        default:
            returned = -1;
            break;
    }
    try {
        std::u16string text(instrument);
        text += u' ';
        text += bookName;
        if (ending != nullptr) {
            text += ending;
        } else {
            text += u" has not been loaded (";
            for (const char c : std::to_string(result)) {
                text += static_cast<char16_t>(c);
            }
            text += u')';
        }
        frame::WriteError(error, text);
    } catch (...) {
        // Out of memory: the status code still tells the indicator what happened.
    }
    return returned;
}

std::int32_t RequestBook(Module& module, const BookKind& kind, const char16_t* instrument,
                         std::int32_t serverTime, char16_t* error) {
    const std::u16string name = instrument != nullptr ? instrument : u"";
    const std::int64_t utc = module.GetTimeConverter()->ServerTimeToUtc(serverTime);
    const std::int32_t result = ServiceOf(module, kind).GetBookRef(name, utc);
    return FormatBookStatus(result, kind.name, name, error);
}

std::int32_t BookSize(Module& module, const BookKind& kind, std::int32_t ref) {
    const std::uint64_t count = ServiceOf(module, kind).GetBookSize(ref);
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::overflow_error(kind.sizeOverflowText);
    }
    return static_cast<std::int32_t>(count);
}

void BookData(Module& module, const BookKind& kind, std::int32_t ref, double* shortCounts,
              double* longCounts, double* prices, std::int32_t size) {
    ServiceOf(module, kind).GetBookData(ref, shortCounts, longCounts, prices, size);
}

void BookMetaData(Module& module, const BookKind& kind, std::int32_t ref, double* bucketWidth,
                  double* price, std::int32_t* unixTime, std::int32_t* serverTime,
                  std::int32_t size, char16_t* timeText, char16_t* instrumentText) {
    // Checked before anything is written, so a refused call touches no output.
    if (serverTime == nullptr) {
        throw MorvaError("Book #%d missing serverTime output", ref);
    }
    const auto converter = module.GetTimeConverter();
    ServiceOf(module, kind)
        .GetBookMetaData(ref, bucketWidth, price, unixTime, size, timeText, instrumentText,
                         kTerminalTextSize);
    *serverTime = static_cast<std::int32_t>(converter->UtcToServerTime(*unixTime));
}

void FreeBook(Module& module, const BookKind& kind, std::int32_t ref) {
    ServiceOf(module, kind).FreeBookRef(ref);
}

}  // namespace morva
