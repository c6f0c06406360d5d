#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "library.h"
#include "morva_orderbook.h"

// The export `name` of `library`, typed as Function. Throws std::runtime_error naming it when the
// library lacks it.
template <class Function>
Function* Resolve(const Library& library, const char* name) {
    Function* function = library.Get<Function>(name);
    if (function == nullptr) {
        throw std::runtime_error(std::string("the library does not export ") + name);
    }
    return function;
}

// The fifteen exports of a loaded library, typed as the header declares them. The library must
// outlive this object.
class Exports {
  public:
    // Throws std::runtime_error naming the first export the library lacks.
    explicit Exports(const Library& library);

    decltype(::CheckForUpdates)* CheckForUpdates;
    decltype(::CheckPremium)* CheckPremium;
    decltype(::InitCreds)* InitCreds;
    decltype(::InitDLL)* InitDLL;
    decltype(::OrderBook)* OrderBook;
    decltype(::OrderBook_BookData)* OrderBook_BookData;
    decltype(::OrderBook_Free)* OrderBook_Free;
    decltype(::OrderBook_MetaData)* OrderBook_MetaData;
    decltype(::OrderBook_Sz)* OrderBook_Sz;
    decltype(::PositionBook)* PositionBook;
    decltype(::PositionBook_BookData)* PositionBook_BookData;
    decltype(::PositionBook_Free)* PositionBook_Free;
    decltype(::PositionBook_MetaData)* PositionBook_MetaData;
    decltype(::PositionBook_Sz)* PositionBook_Sz;
    decltype(::UpdateIndicator)* UpdateIndicator;
};

// A text argument as the terminal passes it: null-terminated UTF-16.
class WideText {
  public:
    explicit WideText(std::string_view utf8);
    const morva_char16* get() const;

  private:
    std::u16string text_;
};

// A caller-owned buffer of the library's size, for the error text and the text outputs. Starts
// with stale text so that an export which forgets to clear it is caught.
class WideBuffer {
  public:
    WideBuffer();
    morva_char16* get();
    std::string Utf8() const;

  private:
    char16_t units_[MORVA_ERROR_BUFFER_SIZE];
};
