#pragma once

// The library under test as a terminal meets it: loaded by path, reached only through its exports.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "library.h"
#include "morva_orderbook.h"
#include "util/utf.h"

namespace morva {

inline std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The fifteen exports, resolved once from the library at `path`.
struct ExportsUnderTest {
    explicit ExportsUnderTest(const std::string& path) : library(std::make_unique<Library>(path)) {
#define MORVA_RESOLVE(name) name = library->Get<decltype(::name)>(#name)
        MORVA_RESOLVE(InitDLL);
        MORVA_RESOLVE(InitCreds);
        MORVA_RESOLVE(OrderBook);
        MORVA_RESOLVE(OrderBook_Sz);
        MORVA_RESOLVE(OrderBook_BookData);
        MORVA_RESOLVE(OrderBook_MetaData);
        MORVA_RESOLVE(OrderBook_Free);
        MORVA_RESOLVE(PositionBook);
        MORVA_RESOLVE(PositionBook_Sz);
        MORVA_RESOLVE(PositionBook_BookData);
        MORVA_RESOLVE(PositionBook_MetaData);
        MORVA_RESOLVE(PositionBook_Free);
        MORVA_RESOLVE(CheckPremium);
        MORVA_RESOLVE(CheckForUpdates);
        MORVA_RESOLVE(UpdateIndicator);
#undef MORVA_RESOLVE
    }
    std::unique_ptr<Library> library;
    decltype(::InitDLL)* InitDLL;
    decltype(::InitCreds)* InitCreds;
    decltype(::OrderBook)* OrderBook;
    decltype(::OrderBook_Sz)* OrderBook_Sz;
    decltype(::OrderBook_BookData)* OrderBook_BookData;
    decltype(::OrderBook_MetaData)* OrderBook_MetaData;
    decltype(::OrderBook_Free)* OrderBook_Free;
    decltype(::PositionBook)* PositionBook;
    decltype(::PositionBook_Sz)* PositionBook_Sz;
    decltype(::PositionBook_BookData)* PositionBook_BookData;
    decltype(::PositionBook_MetaData)* PositionBook_MetaData;
    decltype(::PositionBook_Free)* PositionBook_Free;
    decltype(::CheckPremium)* CheckPremium;
    decltype(::CheckForUpdates)* CheckForUpdates;
    decltype(::UpdateIndicator)* UpdateIndicator;
};

// A wide text as the terminal passes it.
struct Text {
    explicit Text(std::string_view utf8) : wide(Utf8ToUtf16(std::string(utf8))) {}
    const morva_char16* get() const { return reinterpret_cast<const morva_char16*>(wide.c_str()); }
    std::u16string wide;
};

// The error buffer the terminal lends; stale text shows when a call forgets to clear it.
struct ErrorBuffer {
    morva_char16* get() { return reinterpret_cast<morva_char16*>(units); }
    std::string text() const { return Utf16ToUtf8(units); }
    char16_t units[MORVA_ERROR_BUFFER_SIZE] = u"stale text";
};

}  // namespace morva
