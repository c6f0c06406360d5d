#pragma once

// The library under test as a terminal meets it: loaded by path, reached only through its exports.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "exports.h"
#include "library.h"
#include "morva_orderbook.h"
#include "util/utf.h"

namespace morva {

inline std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The library at `path`, loaded for the whole run, with its fifteen exports.
struct LoadedLibrary {
    explicit LoadedLibrary(const std::string& path) : library(std::make_unique<Library>(path)) {}
    std::unique_ptr<Library> library;
};
struct ExportsUnderTest : LoadedLibrary, Exports {
    explicit ExportsUnderTest(const std::string& path) : LoadedLibrary(path), Exports(*library) {}
};

// The library under test, MORVA_E2E_LIBRARY, loaded on first use and kept for the whole run as a
// terminal keeps it.
inline ExportsUnderTest& Lib() {
    static ExportsUnderTest exports(Environment("MORVA_E2E_LIBRARY"));
    return exports;
}

// The terminal that loads a library of this program's bitness: MetaTrader 4 is 32-bit only.
inline const char* TerminalPlatform() {
    return sizeof(void*) == 4 ? "mt4" : "mt5";
}

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
