#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "books/book_json.h"

namespace {

constexpr int kBucketCount = 2000;

// A compact order-book answer shaped like the live API's: every number travels as a string.
morva::HttpResponse MakeBookResponse() {
    std::string body =
        R"({"orderBook":{"instrument":"EUR_USD","time":"2024-01-05T10:00:00Z",)"
        R"("unixTime":"1704448800","price":"1.08350","bucketWidth":"0.00050","buckets":[)";
    std::uint32_t seed = 12345;
    const auto percent = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / static_cast<double>(1u << 24) * 0.05;
    };
    char bucket[128];
    for (int i = 0; i < kBucketCount; ++i) {
        const double price = 0.58350 + 0.00050 * i;
        std::snprintf(bucket, sizeof bucket,
                      R"(%s{"price":"%.5f","longCountPercent":"%.4f","shortCountPercent":"%.4f"})",
                      i == 0 ? "" : ",", price, percent(), percent());
        body += bucket;
    }
    body += "]}}";
    morva::HttpResponse response;
    response.status = 200;
    response.body = std::move(body);
    return response;
}

const morva::HttpResponse& BookResponse() {
    static const morva::HttpResponse response = MakeBookResponse();
    return response;
}

std::size_t Footprint(const morva::StrataBook& book) {
    return sizeof(morva::StrataBook) + book.instrument.capacity() + book.time.capacity() +
           book.buckets.capacity() * sizeof(morva::BookBucket);
}

void BM_ParseBook(benchmark::State& state) {
    const morva::HttpResponse& response = BookResponse();
    for (auto _ : state) {
        morva::StrataBook book = morva::ParseBook(response, "orderBook");
        benchmark::DoNotOptimize(book);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(response.body.size()));
}
BENCHMARK(BM_ParseBook);

// The floor ParseBook is measured against: building the DOM alone.
void BM_JsonParseOnly(benchmark::State& state) {
    const morva::HttpResponse& response = BookResponse();
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(response.body);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(response.body.size()));
}
BENCHMARK(BM_JsonParseOnly);

// What a cached book costs to hold, and to copy when a caller takes one out.
void BM_CachedBookFootprint(benchmark::State& state) {
    const morva::StrataBook cached = morva::ParseBook(BookResponse(), "orderBook");
    for (auto _ : state) {
        morva::StrataBook copy = cached;
        benchmark::DoNotOptimize(copy);
    }
    state.counters["book_bytes"] = static_cast<double>(Footprint(cached));
    state.counters["buckets"] = static_cast<double>(cached.buckets.size());
    state.counters["body_bytes"] = static_cast<double>(BookResponse().body.size());
}
BENCHMARK(BM_CachedBookFootprint);

}  // namespace
