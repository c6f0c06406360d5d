// library_bench LIBRARY: how quickly a book reaches an indicator that polls the non-blocking
// exports every millisecond, against the raw round trip of the same request through the
// transport alone, and how long each export call takes while downloads are in flight. Needs the
// fake broker (run through bench/library_bench.sh) and MORVA_BENCH_REFRESH_TOKEN.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "auth/credential_store.h"
#include "auth/http_auth_client.h"
#include "config/deployment_settings.h"
#include "http/http_client.h"
#include "http/http_headers.h"
#include "library.h"
#include "morva_orderbook.h"
#include "util/utf.h"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

const morva_char16* W(const std::u16string& text) {
    return reinterpret_cast<const morva_char16*>(text.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::getenv("MORVA_BENCH_REFRESH_TOKEN") == nullptr) {
        std::fprintf(stderr, "usage: MORVA_BENCH_REFRESH_TOKEN=... library_bench LIBRARY\n");
        return 2;
    }
    const std::string refreshToken = std::getenv("MORVA_BENCH_REFRESH_TOKEN");
    morva::WriteCredentials(u"MORVA_Orderbook", {u"", morva::Utf8ToUtf16(refreshToken)});

    Library library(argv[1]);
    auto* initDll = library.Get<decltype(::InitDLL)>("InitDLL");
    auto* initCreds = library.Get<decltype(::InitCreds)>("InitCreds");
    auto* orderBook = library.Get<decltype(::OrderBook)>("OrderBook");
    char16_t error[MORVA_ERROR_BUFFER_SIZE];
    auto* e = reinterpret_cast<morva_char16*>(error);
    const std::u16string server = u"MORVA-Live-3", account = u"1001", platform = u"mt5",
                         language = u"en", instrument = u"EUR_USD";
    for (int i = 0; i < 10000; ++i) {
        initDll(W(server), W(account), W(platform), W(language), e);
        if (error[0] == u'\0') {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < 10000; ++i) {
        initCreds(e);
        if (error[0] == u'\0') {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (error[0] != u'\0') {
        std::fprintf(stderr, "sign-in failed: %s\n", morva::Utf16ToUtf8(error).c_str());
        return 1;
    }

    // The raw round trip: the same book request through the transport alone, warm connection.
    const auto http = morva::CreatePlatformHttpClient();
    morva::HttpAuthClient auth(morva::deployment::kProductionAuthHost,
                               morva::deployment::kProductionClientId, http);
    const morva::AccessToken token = auth.GetAuthTokensByRefreshToken(refreshToken).accessToken;
    morva::HttpRequest request;
    request.host = morva::deployment::kProductionBookApiHost;
    request.path = u"/v3/instruments/EUR_USD/orderBook";
    request.headers = morva::JsonAcceptingHeaders();
    morva::SetHeader(request.headers, u"Authorization",
                     morva::Utf8ToUtf16(token.tokenType + " " + token.token));
    std::vector<double> raw;
    for (int i = 0; i < 60; ++i) {
        const auto start = Clock::now();
        http->Send(u"GET", request);
        if (i >= 10) {
            raw.push_back(Micros(Clock::now() - start).count());
        }
    }

    // Each asked time is a snapshot not yet cached: a download per book. The 20-minute grid
    // keeps the times apart; the first few warm the library's own connection.
    constexpr std::int32_t kBase = 1'760'000'000;
    std::vector<double> toReference, calls;
    for (int k = 0; k < 60; ++k) {
        const std::int32_t time = kBase - k * 1200;
        const auto start = Clock::now();
        std::int32_t result = -100;
        while (result == -100 || result == -200 || result == -300) {
            const auto before = Clock::now();
            result = orderBook(W(instrument), time, e);
            calls.push_back(Micros(Clock::now() - before).count());
            if (result < 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (result < 1) {
            std::fprintf(stderr, "book failed: %s\n", morva::Utf16ToUtf8(error).c_str());
            return 1;
        }
        if (k >= 10) {
            toReference.push_back(Micros(Clock::now() - start).count());
        }
    }
    const double rawMedian = Percentile(raw, 0.5);
    const double refMedian = Percentile(toReference, 0.5);
    std::printf("library: %zu books, %zu export calls\n", toReference.size(), calls.size());
    std::printf("  raw round trip (median)        %9.1f us\n", rawMedian);
    std::printf("  first call to reference (median) %7.1f us, polling every 1 ms\n", refMedian);
    std::printf("  ratio                          %9.2f (target <= 2)\n", refMedian / rawMedian);
    std::printf("  library's own share (median)   %9.1f us\n", refMedian - rawMedian);
    std::printf(
        "  OrderBook call p50 / p99.9 / max %6.1f / %.1f / %.1f us (target p99.9 <= 1000)\n",
        Percentile(calls, 0.5), Percentile(calls, 0.999),
        *std::max_element(calls.begin(), calls.end()));
    return 0;
}
