// load_bench: the load run's figures. Fifty instruments polled from eight threads through the
// exports of MORVA_E2E_LIBRARY, against the fake broker's load scenario, with an account switch
// every ten seconds, for MORVA_LOAD_SECONDS (300 by default). Prints each export's call latency
// and the resident memory as "load:" lines for scripts/bench.sh. Run it through
// tests/e2e/run_load_e2e.sh inside scripts/sandbox, which sets the scenario and seeds the refresh
// token (MORVA_E2E_REFRESH_TOKEN); pass/fail checks of the same run are the load_end_to_end test.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../tests/e2e/load_scenario.h"
#include "auth/credential_store.h"
#include "exports.h"
#include "util/utf.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using namespace morva::load;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

long long ResidentKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stoll(line.substr(std::string(field).size()));
        }
    }
    return -1;
}

// Call times in nanoseconds, each kept to within 1/32 of itself in a fixed array: recording never
// allocates, so the measurement neither disturbs the library's threads nor adds to its memory.
class LatencyHistogram {
  public:
    void Add(std::uint64_t ns) {
        ++counts_[Index(ns)];
        ++total_;
        max_ = std::max(max_, ns);
    }
    void Merge(const LatencyHistogram& other) {
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            counts_[i] += other.counts_[i];
        }
        total_ += other.total_;
        max_ = std::max(max_, other.max_);
    }
    std::uint64_t Count() const { return total_; }
    double MaxMicroseconds() const { return static_cast<double>(max_) / 1000.0; }
    // The upper edge of the bucket holding the share's call, in microseconds.
    double PercentileMicroseconds(double share) const {
        if (total_ == 0) {
            return 0;
        }
        const auto rank = static_cast<std::uint64_t>(share * static_cast<double>(total_ - 1));
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            seen += counts_[i];
            if (seen > rank) {
                return static_cast<double>(std::min(UpperEdge(i), max_)) / 1000.0;
            }
        }
        return MaxMicroseconds();
    }

  private:
    static constexpr unsigned kSubBits = 5;  // 32 buckets per power of two
    static std::size_t Index(std::uint64_t ns) {
        if (ns < (1u << kSubBits)) {
            return static_cast<std::size_t>(ns);
        }
        const unsigned exponent = static_cast<unsigned>(std::bit_width(ns)) - 1;
        const std::uint64_t sub = (ns >> (exponent - kSubBits)) & ((1u << kSubBits) - 1);
        return (static_cast<std::size_t>(exponent - kSubBits + 1) << kSubBits) +
               static_cast<std::size_t>(sub);
    }
    static std::uint64_t UpperEdge(std::size_t index) {
        if (index < (1u << kSubBits)) {
            return index;
        }
        const unsigned exponent = static_cast<unsigned>(index >> kSubBits) + kSubBits - 1;
        const std::uint64_t sub = index & ((1u << kSubBits) - 1);
        return (((1u << kSubBits) + sub + 1) << (exponent - kSubBits)) - 1;
    }

    std::array<std::uint64_t, (64 - kSubBits + 1) << kSubBits> counts_{};
    std::uint64_t total_ = 0;
    std::uint64_t max_ = 0;
};

enum Export { kBook, kSize, kData, kMeta, kFree, kPremium, kExportCount };
constexpr const char* kExportNames[kExportCount] = {
    "OrderBook/PositionBook", "_Sz", "_BookData", "_MetaData", "_Free", "CheckPremium"};
using Latencies = std::array<LatencyHistogram, kExportCount>;

template <class Call>
auto Timed(LatencyHistogram& latencies, Call&& call) {
    struct Stop {
        LatencyHistogram& latencies;
        Clock::time_point start = Clock::now();
        ~Stop() {
            latencies.Add(static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start)
                    .count()));
        }
    } const stop{latencies};
    return call();
}

struct Run {
    explicit Run(const std::string& path) : library(path), exports(library) {}
    Library library;
    Exports exports;
    std::mutex mutex;
    Latencies latencies;
    std::atomic<long long> calls{0}, refs{0}, failures{0};
};

bool SignIn(Exports& lib, const std::string& account) {
    const auto deadline = Clock::now() + 60s;
    WideBuffer error;
    do {
        lib.InitDLL(WideText("MORVA-Live-3").get(), WideText(account).get(),
                    WideText(sizeof(void*) == 4 ? "mt4" : "mt5").get(), WideText("en").get(),
                    error.get());
        if (error.Utf8().empty()) {
            lib.InitCreds(error.get());
        }
        if (error.Utf8().empty()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    } while (Clock::now() < deadline);
    return false;
}

void Poll(int thread, const std::atomic<bool>& stop, Run& run) {
    Exports& lib = run.exports;
    std::mt19937 random(static_cast<unsigned>(1000 + thread));
    const auto latencies = std::make_unique<Latencies>();  // too large for the thread's stack
    std::vector<double> shortCounts, longCounts, prices;
    while (!stop) {
        const std::string name =
            InstrumentName(std::uniform_int_distribution<int>(0, kInstruments - 1)(random));
        const bool orders = random() % 2 == 0;
        const WideText text(name);
        WideBuffer error;
        const std::int32_t ref = Timed((*latencies)[kBook], [&] {
            return (orders ? lib.OrderBook : lib.PositionBook)(
                text.get(), kTimes[random() % kTimes.size()], error.get());
        });
        ++run.calls;
        run.failures += ref == -1;
        if (ref >= 1) {
            ++run.refs;
            const std::int32_t size = Timed((*latencies)[kSize], [&] {
                return (orders ? lib.OrderBook_Sz : lib.PositionBook_Sz)(ref, error.get());
            });
            if (size > 0) {
                shortCounts.resize(static_cast<std::size_t>(size));
                longCounts.resize(shortCounts.size());
                prices.resize(shortCounts.size());
                Timed((*latencies)[kData], [&] {
                    (orders ? lib.OrderBook_BookData : lib.PositionBook_BookData)(
                        ref, shortCounts.data(), longCounts.data(), prices.data(), size,
                        error.get());
                });
                double width = 0, price = 0;
                std::int32_t unixTime = 0, serverTime = 0;
                WideBuffer timeText, nameText;
                Timed((*latencies)[kMeta], [&] {
                    (orders ? lib.OrderBook_MetaData : lib.PositionBook_MetaData)(
                        ref, &width, &price, &unixTime, &serverTime, 1, timeText.get(),
                        nameText.get(), error.get());
                });
            }
            Timed((*latencies)[kFree],
                  [&] { (orders ? lib.OrderBook_Free : lib.PositionBook_Free)(ref, error.get()); });
        }
        if (random() % 20 == 0) {
            Timed((*latencies)[kPremium],
                  [&] { return lib.CheckPremium(text.get(), error.get()); });
        }
        // An indicator's tick, not a wait for anything.
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + random() % 3));
    }
    const std::lock_guard lock(run.mutex);
    for (std::size_t i = 0; i < latencies->size(); ++i) {
        run.latencies[i].Merge((*latencies)[i]);
    }
}

void Print(const char* name, const LatencyHistogram& latencies) {
    std::printf("load: %-24s p50=%.1fus p99=%.1fus p99.9=%.1fus max=%.1fus (%" PRIu64 " calls)\n",
                name, latencies.PercentileMicroseconds(0.5), latencies.PercentileMicroseconds(0.99),
                latencies.PercentileMicroseconds(0.999), latencies.MaxMicroseconds(),
                latencies.Count());
}

}  // namespace

int main() {
    const int seconds = RunSeconds();
    morva::WriteCredentials(u"MORVA_Orderbook",
                            {u"", morva::Utf8ToUtf16(Environment("MORVA_E2E_REFRESH_TOKEN"))});
    Run run(Environment("MORVA_E2E_LIBRARY"));
    if (seconds <= 0 || !SignIn(run.exports, "1001")) {
        std::fprintf(stderr, "load_bench: no sign-in, or MORVA_LOAD_SECONDS is not positive\n");
        return 1;
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &stop, &run] { Poll(t, stop, run); });
    }
    const auto start = Clock::now();
    const auto warmUp = start + WarmUp(seconds);
    long long atWarmUp = -1;
    std::vector<long long> series;  // resident kB every ten seconds
    int switches = 0;
    for (auto tick = start; tick < start + std::chrono::seconds(seconds); tick += kSwitchPeriod) {
        std::this_thread::sleep_until(std::min(tick, warmUp));
        if (atWarmUp < 0 && Clock::now() >= warmUp) {
            atWarmUp = ResidentKb("VmRSS:");
        }
        std::this_thread::sleep_until(tick);
        series.push_back(ResidentKb("VmRSS:"));
        if (tick > start && !SignIn(run.exports, switches++ % 2 == 0 ? "2002" : "1001")) {
            std::fprintf(stderr, "load_bench: account switch failed\n");
        }
    }
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }

    LatencyHistogram all;
    for (const LatencyHistogram& each : run.latencies) {
        all.Merge(each);
    }
    std::printf(
        "load: %d s, %lld book requests, %lld references, %lld failures, %d account "
        "switches\n",
        seconds, run.calls.load(), run.refs.load(), run.failures.load(), switches);
    Print("export latency", all);
    for (int i = 0; i < kExportCount; ++i) {
        Print(kExportNames[i], run.latencies[static_cast<std::size_t>(i)]);
    }
    std::printf("load: memory at warm-up %lld kB, at end %lld kB, peak %lld kB\n", atWarmUp,
                ResidentKb("VmRSS:"), ResidentKb("VmHWM:"));
    std::printf("load: resident kB every 10 s:");
    for (const long long kb : series) {
        std::printf(" %lld", kb);
    }
    std::printf("\n");
    return 0;
}
