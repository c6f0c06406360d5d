#pragma once

// The load run's shape, shared by its checks (load_e2e_test.cpp) and its figures
// (bench/load_bench.cpp) so that both measure the same run.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace morva::load {

constexpr int kInstruments = 50;
constexpr int kThreads = 8;
// 2024-07-15 12:00 on the server: a few fixed snapshots besides the latest keep the set of books
// bounded, so memory can only grow through a leak.
constexpr std::array<std::int32_t, 4> kTimes = {0, 1721044800, 1721043600, 1721042400};
// Another account and back, two new modules with the old ones retired under the polling threads.
constexpr std::chrono::seconds kSwitchPeriod{10};

inline std::string InstrumentName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "LOAD%02d_USD", index);
    return name;
}

// MORVA_LOAD_SECONDS, 300 unless set.
inline int RunSeconds() {
    const char* text = std::getenv("MORVA_LOAD_SECONDS");
    return text != nullptr && *text != '\0' ? std::stoi(text) : 300;
}

// When memory is first measured: once the books of every instrument have been through.
inline std::chrono::seconds WarmUp(int seconds) {
    return std::chrono::seconds(std::clamp(seconds / 5, 5, 30));
}

}  // namespace morva::load
