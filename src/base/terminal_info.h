#pragma once

#include <cstddef>
#include <string>

namespace morva {

// Every text buffer the terminal hands over (error, version, time and instrument texts): 179
// characters and the terminating zero.
inline constexpr std::size_t kTerminalTextSize = 180;

// The four texts InitDLL receives: they select the environment and travel with every book request.
struct TerminalInfo {
    std::u16string server;    // the trading server's name
    std::u16string account;   // the trading account
    std::u16string platform;  // "mt4" or "mt5"
    std::u16string language;  // the terminal's language

    bool operator==(const TerminalInfo&) const = default;
};

}  // namespace morva
