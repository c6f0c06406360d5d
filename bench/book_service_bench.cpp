// The book service's cost per call once a book is cached, with the logger at INFO as in
// production (so the debug lines are never formatted). Targets: a cached GetBookRef at most
// 300 ns, copying 2,000 buckets at most 3 us.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "books/async_book_service.h"
#include "books/cached_book_service.h"

namespace {

void InstallInfoLogger() {
    auto logger =
        std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger->set_level(spdlog::level::info);
    morva::log::Install(logger);
}

class ReadyAuth : public morva::AuthService {
  public:
    ReadyAuth() {
        std::promise<morva::AccessToken> promise;
        promise.set_value(morva::AccessToken{});
        token_ = promise.get_future().share();
    }
    morva::AccessToken GetAccessToken() override { return {}; }
    std::shared_future<morva::AccessToken> GetAccessTokenAsync() override { return token_; }

  private:
    std::shared_future<morva::AccessToken> token_;
};

class SizedSource : public morva::BookSource {
  public:
    explicit SizedSource(std::size_t buckets) : buckets_(buckets) {}
    morva::StrataBook GetBook(morva::AccessToken, const std::u16string&, std::int64_t) override {
        morva::StrataBook book;
        book.instrument = "EUR_USD";
        book.time = "2025-12-06T12:00:00Z";
        for (std::size_t i = 0; i < buckets_; ++i) {
            const double x = static_cast<double>(i);
            book.buckets.push_back({1.0 + x * 0.0005, x * 0.01, x * 0.02});
        }
        return book;
    }

  private:
    std::size_t buckets_;
};

void BM_GetBookRefCached(benchmark::State& state) {
    InstallInfoLogger();
    morva::CachedBookService service(10, morva::BookRefSequence::OrderBooks(),
                                     std::make_shared<ReadyAuth>(),
                                     std::make_shared<SizedSource>(10));
    const std::u16string instrument = u"EUR_USD";
    // A few neighbours, so that the lookup walks a map of realistic depth.
    for (std::int64_t time = 1'765'000'000; time < 1'765'000'000 + 32 * 1200; time += 1200) {
        service.GetBookRef(instrument, time);
    }
    for (auto _ : state) {
        const std::int32_t ref = service.GetBookRef(instrument, 1'765'000'000 + 16 * 1200);
        benchmark::DoNotOptimize(ref);
    }
    morva::log::Install(nullptr);
}
BENCHMARK(BM_GetBookRefCached);

void BM_GetBookRefCachedAsync(benchmark::State& state) {
    InstallInfoLogger();
    morva::AsyncBookService service(10, morva::BookRefSequence::OrderBooks(),
                                    std::make_shared<ReadyAuth>(),
                                    std::make_shared<SizedSource>(10));
    const std::u16string instrument = u"EUR_USD";
    std::int32_t ref = service.GetBookRef(instrument, 0);
    while (ref < 1) {
        ref = service.GetBookRef(instrument, 0);
    }
    for (auto _ : state) {
        ref = service.GetBookRef(instrument, 0);
        benchmark::DoNotOptimize(ref);
    }
    morva::log::Install(nullptr);
}
BENCHMARK(BM_GetBookRefCachedAsync);

void BM_GetBookData2000(benchmark::State& state) {
    InstallInfoLogger();
    constexpr std::int32_t kBuckets = 2000;
    morva::CachedBookService service(10, morva::BookRefSequence::OrderBooks(),
                                     std::make_shared<ReadyAuth>(),
                                     std::make_shared<SizedSource>(kBuckets));
    const std::int32_t ref = service.GetBookRef(u"EUR_USD", 0);
    std::vector<double> shortCounts(kBuckets), longCounts(kBuckets), prices(kBuckets);
    for (auto _ : state) {
        service.GetBookData(ref, shortCounts.data(), longCounts.data(), prices.data(), kBuckets);
        benchmark::ClobberMemory();
    }
    morva::log::Install(nullptr);
}
BENCHMARK(BM_GetBookData2000);

}  // namespace
