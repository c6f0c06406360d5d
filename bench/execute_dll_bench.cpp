// The export frame's own cost: an export whose body does nothing, with the logger at INFO as in
// production (so the call text is never formatted). Target: at most 150 ns per call.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>

#include "base/log.h"
#include "base/morva_error.h"
#include "host/execute_dll.h"

namespace {

void InstallInfoLogger() {
    auto logger =
        std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger->set_level(spdlog::level::info);
    morva::log::Install(logger);
}

void BM_ExecuteDllEmptyBody(benchmark::State& state) {
    InstallInfoLogger();
    char16_t error[morva::kTerminalTextSize];
    const char16_t* instrument = u"EURUSD";
    for (auto _ : state) {
        const std::int32_t result = ExecuteDll(
            error, [] { return std::int32_t{1}; }, "OrderBook(%ls, %d)", instrument, 0);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    morva::log::Install(nullptr);
}
BENCHMARK(BM_ExecuteDllEmptyBody);

void BM_ExecuteDllFailingBody(benchmark::State& state) {
    InstallInfoLogger();
    char16_t error[morva::kTerminalTextSize];
    for (auto _ : state) {
        const std::int32_t result = ExecuteDll(
            error,
            []() -> std::int32_t { throw morva::MorvaError("Orderbook module not initialized"); },
            "OrderBook(%ls, %d)", u"EURUSD", 0);
        benchmark::DoNotOptimize(result);
    }
    morva::log::Install(nullptr);
}
BENCHMARK(BM_ExecuteDllFailingBody);

}  // namespace
