#include "exports.h"

#include <algorithm>
#include <string>

#define MORVA_RESOLVE(name) name(Resolve<decltype(::name)>(library, #name))

Exports::Exports(const Library& library)
    : MORVA_RESOLVE(CheckForUpdates),
      MORVA_RESOLVE(CheckPremium),
      MORVA_RESOLVE(InitCreds),
      MORVA_RESOLVE(InitDLL),
      MORVA_RESOLVE(OrderBook),
      MORVA_RESOLVE(OrderBook_BookData),
      MORVA_RESOLVE(OrderBook_Free),
      MORVA_RESOLVE(OrderBook_MetaData),
      MORVA_RESOLVE(OrderBook_Sz),
      MORVA_RESOLVE(PositionBook),
      MORVA_RESOLVE(PositionBook_BookData),
      MORVA_RESOLVE(PositionBook_Free),
      MORVA_RESOLVE(PositionBook_MetaData),
      MORVA_RESOLVE(PositionBook_Sz),
      MORVA_RESOLVE(UpdateIndicator) {}

#undef MORVA_RESOLVE

WideText::WideText(std::string_view utf8) : text_(WidenUtf8(std::string(utf8))) {}

const morva_char16* WideText::get() const {
    return reinterpret_cast<const morva_char16*>(text_.c_str());
}

WideBuffer::WideBuffer() {
    const std::u16string_view stale = u"stale text";
    std::fill(std::begin(units_), std::end(units_), u'\0');
    std::copy(stale.begin(), stale.end(), units_);
}

morva_char16* WideBuffer::get() {
    return reinterpret_cast<morva_char16*>(units_);
}

std::string WideBuffer::Utf8() const {
    // Never trust the terminator: read at most the buffer.
    const auto* end = std::find(std::begin(units_), std::end(units_), u'\0');
    const std::u16string text(std::begin(units_), end);
    return NarrowUtf16(text.c_str());
}
