#pragma once

// The library under test as a terminal meets it: loaded by path, reached only through its exports.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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

// Sanitizer builds run the library many times slower; their test presets stretch every deadline
// by the whole factor in MORVA_TEST_TIME_SCALE (1 when unset).
inline std::chrono::milliseconds Scaled(std::chrono::milliseconds duration) {
    static const int scale = [] {
        const std::string text = Environment("MORVA_TEST_TIME_SCALE");
        return text.empty() ? 1 : std::max(1, std::stoi(text));
    }();
    return duration * scale;
}

// InitDLL as this program's terminal calls it; the error text.
inline std::string InitDll(const std::string& account,
                           const std::string& platform = TerminalPlatform()) {
    ErrorBuffer error;
    Lib().InitDLL(Text("MORVA-Live-3").get(), Text(account).get(), Text(platform).get(),
                  Text("en").get(), error.get());
    return error.text();
}

inline std::string InitCreds() {
    ErrorBuffer error;
    Lib().InitCreds(error.get());
    return error.text();
}

// An export's answer as one text: "<status> <error text>".
inline std::string Status(std::int32_t result, const ErrorBuffer& error) {
    return std::to_string(result) + " " + error.text();
}

inline std::string CheckPremium(const std::string& instrument) {
    ErrorBuffer error;
    return Status(Lib().CheckPremium(Text(instrument).get(), error.get()), error);
}

// CheckForUpdates writing into `version` and `force`.
inline std::string CheckForUpdates(char16_t* version, bool& force) {
    ErrorBuffer error;
    return Status(
        Lib().CheckForUpdates(reinterpret_cast<morva_char16*>(version), &force, error.get()),
        error);
}

inline std::string UpdateIndicator(const std::u16string& dataFolder,
                                   const std::u16string& indicator) {
    ErrorBuffer error;
    return Status(Lib().UpdateIndicator(reinterpret_cast<const morva_char16*>(dataFolder.c_str()),
                                        reinterpret_cast<const morva_char16*>(indicator.c_str()),
                                        error.get()),
                  error);
}

// Repeats `attempt` every few milliseconds while it answers one of `waiting`, as an indicator
// polls, within a deadline; returns every distinct answer in turn, the last one last.
inline std::vector<std::string> PollWhile(
    const std::function<std::string()>& attempt, const std::vector<std::string>& waiting,
    std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::vector<std::string> seen;
    for (const auto deadline = std::chrono::steady_clock::now() + Scaled(limit);;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        const std::string text = attempt();
        if (seen.empty() || seen.back() != text) {
            seen.push_back(text);
        }
        if (std::find(waiting.begin(), waiting.end(), text) == waiting.end() ||
            std::chrono::steady_clock::now() >= deadline) {
            return seen;
        }
    }
}

// InitDLL once the server configuration is in: "" then, else the text that stopped it.
inline std::string Configure(const std::string& account,
                             const std::string& platform = TerminalPlatform()) {
    return PollWhile([&] { return InitDll(account, platform); },
                     {"Waiting for server configuration"})
        .back();
}

// A module for `account`, configured and signed in: "" then, else the text that stopped it.
inline std::string SignIn(const std::string& account) {
    const std::string configured = Configure(account);
    return configured.empty() ? PollWhile(InitCreds, {"Waiting for authorization"}).back()
                              : configured;
}

struct BookAnswer {
    std::int32_t result = 0;
    std::string text;
    std::chrono::steady_clock::time_point at;
};
using BookRequest = decltype(::OrderBook);

// One kind of book's exports, as an indicator reads order or position books alike.
struct BookKind {
    BookRequest* request;
    decltype(::OrderBook_Sz)* size;
    decltype(::OrderBook_BookData)* data;
    decltype(::OrderBook_MetaData)* metaData;
    decltype(::OrderBook_Free)* free;
};
inline BookKind Orders() {
    return {Lib().OrderBook, Lib().OrderBook_Sz, Lib().OrderBook_BookData, Lib().OrderBook_MetaData,
            Lib().OrderBook_Free};
}
inline BookKind Positions() {
    return {Lib().PositionBook, Lib().PositionBook_Sz, Lib().PositionBook_BookData,
            Lib().PositionBook_MetaData, Lib().PositionBook_Free};
}

// What a reference holds, read as an indicator reads it; `error` is the first call's text.
struct BookContent {
    double Total() const {
        return std::accumulate(shortCounts.begin(), shortCounts.end(), 0.0) +
               std::accumulate(longCounts.begin(), longCounts.end(), 0.0);
    }
    std::vector<double> shortCounts, longCounts, prices;
    double bucketWidth = 0, price = 0;
    std::int32_t unixTime = 0, serverTime = 0;
    std::string time, instrument, error;
};

inline BookContent ReadBook(const BookKind& kind, std::int32_t ref) {
    BookContent book;
    ErrorBuffer error;
    const std::int32_t size = kind.size(ref, error.get());
    book.error = error.text();
    if (size <= 0 || !book.error.empty()) {
        return book;
    }
    book.shortCounts.resize(static_cast<std::size_t>(size));
    book.longCounts.resize(book.shortCounts.size());
    book.prices.resize(book.shortCounts.size());
    kind.data(ref, book.shortCounts.data(), book.longCounts.data(), book.prices.data(), size,
              error.get());
    book.error = error.text();
    if (!book.error.empty()) {
        return book;
    }
    char16_t time[MORVA_TEXT_BUFFER_SIZE] = {}, instrument[MORVA_TEXT_BUFFER_SIZE] = {};
    kind.metaData(ref, &book.bucketWidth, &book.price, &book.unixTime, &book.serverTime, 1,
                  reinterpret_cast<morva_char16*>(time),
                  reinterpret_cast<morva_char16*>(instrument), error.get());
    book.error = error.text();
    book.time = Utf16ToUtf8(time);
    book.instrument = Utf16ToUtf8(instrument);
    return book;
}

inline bool Loading(std::int32_t result) {
    return result == -100 || result == -200 || result == -300;
}

inline BookAnswer AskBook(BookRequest* request, const std::string& instrument,
                          std::int32_t time = 0) {
    ErrorBuffer error;
    BookAnswer answer;
    answer.result = request(Text(instrument).get(), time, error.get());
    answer.text = error.text();
    answer.at = std::chrono::steady_clock::now();
    return answer;
}

// Polls a book request until it is no longer loading, within a deadline; `statuses` gets every
// distinct status in turn.
inline BookAnswer PollBook(BookRequest* request, const std::string& instrument,
                           std::int32_t time = 0,
                           std::chrono::milliseconds limit = std::chrono::seconds(30),
                           std::vector<std::int32_t>* statuses = nullptr) {
    BookAnswer answer;
    for (const auto deadline = std::chrono::steady_clock::now() + Scaled(limit);;
         std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        answer = AskBook(request, instrument, time);
        if (statuses != nullptr && (statuses->empty() || statuses->back() != answer.result)) {
            statuses->push_back(answer.result);
        }
        if (!Loading(answer.result) || answer.at >= deadline) {
            return answer;
        }
    }
}

}  // namespace morva
