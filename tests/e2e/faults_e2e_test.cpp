// What an indicator sees when the network or the broker misbehaves: the library loaded by path and
// driven through its exports against the fake broker inside scripts/sandbox, while the test
// switches the broker's faults through its control API (run_faults_e2e.sh sets the base scenario
// and seeds a refresh token). The cases run in order as one indicator session; after every fault
// another instrument's book must still arrive.

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "../support/files.h"
#include "auth/credential_store.h"
#include "broker_control.h"
#include "exports_under_test.h"

namespace morva {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Matcher;
using ::testing::Not;
using ::testing::StartsWith;
using namespace std::chrono_literals;

// WinInet connects inside its send step; curl names the connection step itself.
#ifdef _WIN32
constexpr const char* kConnectFailure = "Send HTTP request failed. ";
constexpr const char* kRefusedCode = "[12029]";    // ERROR_INTERNET_CANNOT_CONNECT
constexpr const char* kUntrustedCode = "[12045]";  // ERROR_INTERNET_INVALID_CA
// A minute without a byte: ERROR_INTERNET_TIMEOUT, which Wine reports as
// ERROR_INTERNET_CONNECTION_ABORTED.
const auto kStalled = ::testing::AnyOf(EndsWith("[12002]"), EndsWith("[12030]"));
#else
constexpr const char* kConnectFailure = "Open HTTP connection failed. ";
constexpr const char* kRefusedCode = "[7]";     // CURLE_COULDNT_CONNECT
constexpr const char* kUntrustedCode = "[60]";  // CURLE_PEER_FAILED_VERIFICATION
const auto kStalled = EndsWith("[28]");         // CURLE_OPERATION_TIMEDOUT
#endif
constexpr const char* kReadFailure = "Read HTTP response body failed. ";
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string BaseScenario() {
    return test::ReadFile(Environment("MORVA_E2E_SCENARIO"));
}

void PutScenario(const std::string& scenario) {
    BrokerControl().Send("PUT", "/scenario", scenario);
}

// The base scenario with `auth` members of its own (the base one has none).
std::string BaseScenarioWithAuth(const std::string& members) {
    const std::string base = BaseScenario();
    return "{\"auth\": {" + members + "}, " + base.substr(base.find('{') + 1);
}

// The most memory the process has held at once.
std::uint64_t PeakMemory() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
#endif
}

// With no stored token working, the library turns to the sign-in window, which cannot open here.
testing::Matcher<std::string> SignInWindowFailure() {
#ifdef _WIN32
    // Wine has no WebView2; whether the window itself gets created first depends on the prefix's
    // graphics driver (none without a display).
    return testing::AnyOf(StartsWith("Create auth window failed. Invalid window handle. [1400]"),
                          StartsWith("WebView runtime not installed. Download from: "));
#else
    return StartsWith("Open display for auth window failed. No display: DISPLAY is not set");
#endif
}

// The library still serves books: a fresh download of another instrument arrives and reads.
void ExpectBookDelivered(const std::string& instrument) {
    const BookAnswer answer = PollBook(Lib().OrderBook, instrument);
    ASSERT_GE(answer.result, 1) << instrument << ": " << answer.text;
    const BookContent book = ReadBook(Orders(), answer.result);
    EXPECT_EQ(book.error, "");
    EXPECT_FALSE(book.prices.empty());
    ErrorBuffer error;
    Lib().OrderBook_Free(answer.result, error.get());
}

#ifndef _WIN32
int ThreadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}
int baselineThreads = 0;
#endif

TEST(Faults, SessionStarts) {
    WriteCredentials(u"MORVA_Orderbook",
                     {u"", Utf8ToUtf16(Environment("MORVA_E2E_REFRESH_TOKEN"))});
    ASSERT_EQ(SignIn("1001"), "");
    ExpectBookDelivered("EUR_USD");
#ifndef _WIN32
    baselineThreads = ThreadCount();
#endif
}

// Error statuses with the server's message, and bodies reset, cut short or not UTF-8: failures
// that say so, never a book.
TEST(Faults, FailedDownloadsReachTheIndicatorWithTheirReason) {
    const std::pair<const char*, Matcher<std::string>> cases[] = {
        // Every status but 400 and 404 takes the same way; the bodies differ.
        {"LIMIT_USD", "Get order book failed (HTTP 429): Rate limit violation. Too many requests"},
        {"DOWN_USD",
         "Get order book failed (HTTP 503): <html><body>Service Unavailable</body></html>"},
        {"DOWNBARE_USD", "Get order book failed (HTTP 503): "},
        {"RESET_USD", StartsWith(kReadFailure)},
#ifdef _WIN32
        // WinInet itself ends the body quietly where the connection closed; the client compares it
        // with its Content-Length.
        {"TRUNC_USD", AllOf(StartsWith(kReadFailure), HasSubstr("The connection closed after "))},
#else
        {"TRUNC_USD", StartsWith(kReadFailure)},
#endif
        // Not JSON any more, so the whole body is the message, each bad sequence replaced.
        {"UTF_USD",
         std::string("Get order book failed (HTTP 500): {\"errorMessage\":\"Book store ") +
             kReplacement + "( says " + kReplacement + "\"}"},
        {"UTFBOOK_USD", AllOf(StartsWith("Failed to parse order book: "), HasSubstr("UTF-8"))},
    };
    for (const auto& [instrument, text] : cases) {
        const BookAnswer answer = PollBook(Lib().OrderBook, instrument);
        EXPECT_EQ(answer.result, -1) << instrument;
        EXPECT_THAT(answer.text, text) << instrument;
        // A failure is reported once; the next call tries again.
        EXPECT_EQ(AskBook(Lib().OrderBook, instrument).result, -100) << instrument;
    }
    const BookAnswer positions = PollBook(Lib().PositionBook, "DOWNBARE_USD");
    EXPECT_EQ(positions.result, -1);
    EXPECT_EQ(positions.text, "Get position book failed (HTTP 503): ");
    ExpectBookDelivered("GBP_USD");
}

TEST(Faults, ATenMegabyteBookIsDeliveredWhole) {
    for (const BookKind& kind : {Orders(), Positions()}) {
        const BookAnswer answer = PollBook(kind.request, "HUGE_USD", 0, 60s);
        ASSERT_GE(answer.result, 1) << answer.text;
        const BookContent book = ReadBook(kind, answer.result);
        EXPECT_EQ(book.error, "");
        ASSERT_EQ(book.prices.size(), 130000u);
        EXPECT_NEAR(book.Total(), 100.0, 0.01);
        EXPECT_LT(book.prices.front(), book.prices.back());
        ErrorBuffer error;
        kind.free(answer.result, error.get());
    }
}

// The broker streams a book that never ends: the download stops at the books' 32 MiB limit, and
// the process's memory with it.
TEST(Faults, AnEndlessBookFailsAtItsSizeLimit) {
    const std::uint64_t before = PeakMemory();
    const BookAnswer answer = PollBook(Lib().OrderBook, "ENDLESS_USD", 0, 60s);
    EXPECT_EQ(answer.result, -1);
    EXPECT_EQ(answer.text,
              "Read HTTP response body failed. Response too large: more than 33554432 bytes");
    EXPECT_LT(PeakMemory() - before, std::uint64_t{256} << 20);
    ExpectBookDelivered("USD_JPY");
}

// The slowest faults side by side in one module, so that the run waits for the longest only.
// Tokens of 33 s are renewed from 3 s after sign-in on, and by then the token endpoint trickles:
// the renewal, like the trickled book, goes on below any stall detector until the two-minute
// time limit ends it. The stalled and the silent download end after a minute without a byte.
TEST(Faults, SlowServersEndInFailuresOfTheirOwn) {
    PutScenario(BaseScenarioWithAuth(R"("tokenLifetime": 33)"));
    ASSERT_EQ(SignIn("1002"), "");
    const auto signedIn = std::chrono::steady_clock::now();
    for (const char* instrument : {"STALL_USD", "QUIET_USD", "TRICKLE_USD"}) {
        EXPECT_EQ(AskBook(Lib().OrderBook, instrument).result, -100) << instrument;
    }
    PutScenario(BaseScenarioWithAuth(R"("tokenLifetime": 33, "tokenTrickleMs": 135000)"));
    std::this_thread::sleep_until(signedIn + 4s);

    const auto renewing = std::chrono::steady_clock::now();
    // Side by side, as an indicator with several charts polls them.
    std::map<std::string, std::future<BookAnswer>> pending;
    for (const char* instrument : {"GBP_USD", "STALL_USD", "QUIET_USD", "TRICKLE_USD"}) {
        pending[instrument] = std::async(std::launch::async, [instrument] {
            return PollBook(Lib().OrderBook, instrument, 0, 150s);
        });
    }
    // A renewal that timed out says nothing about the stored token: no window, a retry later.
    const BookAnswer refused = pending["GBP_USD"].get();
    EXPECT_EQ(refused.result, -1);
    EXPECT_THAT(refused.text,
                AllOf(HasSubstr("timed out after 120 s"), HasSubstr(" (next sign-in attempt in ")));
    // The trickle alone would have ended after 135 s, with a token.
    EXPECT_LT(refused.at - renewing, 130s);
    const BookAnswer stalled = pending["STALL_USD"].get();
    EXPECT_EQ(stalled.result, -1);
    EXPECT_THAT(stalled.text, AllOf(StartsWith(kReadFailure), kStalled));
    // Ended by the client's stall limit, not by the broker's 75 s.
    EXPECT_LT(stalled.at - signedIn, 70s);
    const BookAnswer silent = pending["QUIET_USD"].get();
    EXPECT_EQ(silent.result, -1);
    EXPECT_THAT(silent.text, AllOf(StartsWith("Send HTTP request failed. "), kStalled));
    EXPECT_LT(silent.at - signedIn, 70s);
    const BookAnswer trickled = pending["TRICKLE_USD"].get();
    EXPECT_EQ(trickled.result, -1);
    EXPECT_EQ(trickled.text, "Read HTTP response body timed out after 120 s");

    PutScenario(BaseScenario());
    ASSERT_EQ(SignIn("1003"), "");
    ExpectBookDelivered("GBP_USD");
}

// The connection step's own failure and code, not the text of the kept-alive connection that died
// when the listener went away; the next try works.
TEST(Faults, ConnectionsRefusedOrUntrustedFailAndTheNextTryWorks) {
    const std::string ca = Environment("MORVA_SANDBOX_CA");
    const std::string folder = ca.substr(0, ca.find_last_of('/') + 1);
    ASSERT_FALSE(folder.empty()) << "MORVA_SANDBOX_CA names the sandbox's CA folder";
    const std::tuple<const char*, std::string, const char*> cases[] = {
        {"AUD_USD", R"({"listening": false})", kRefusedCode},
        {"NZD_USD",
         R"({"cert": ")" + folder + R"(untrusted.crt", "key": ")" + folder + R"(untrusted.key"})",
         kUntrustedCode},
    };
    for (const auto& [instrument, service, code] : cases) {
        BrokerControl().Send("PUT", "/service", service);
        const BookAnswer refused = PollBook(Lib().OrderBook, instrument);
        BrokerControl().Send("PUT", "/service", R"({"listening": true})");
        EXPECT_EQ(refused.result, -1);
        EXPECT_THAT(refused.text, AllOf(StartsWith(kConnectFailure), EndsWith(code),
                                        Not(HasSubstr("Broken pipe"))));
        ExpectBookDelivered(instrument);
    }
}

// One case per kind of failure; each is a new module (another account), so the document is
// fetched anew.
TEST(Faults, AMetadataDocumentOfTheWrongShapeFailsInitDll) {
    const std::pair<std::string, Matcher<std::string>> cases[] = {
        {R"({"metadata": {"document": {"version": "1.16.5.0"}}})",
         "[json.exception.out_of_range.403] key 'servers' not found"},
        {R"({"metadata": {"document": {"servers": [{"namePattern": "MORVA-Live.*", "utcOffset": "2", "daylightTimeZone": "E. Europe Standard Time"}]}}})",
         "[json.exception.type_error.302] type must be number, but is string"},
        {R"({"metadata": {"rawDocument": "<html><body>Moved</body></html>"}})",
         "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
         "parsing value - invalid literal; last read: '<'"},
        // A server name pattern with a stray 0xFF byte.
        {R"({"metadata": {"rawDocument": {"base64": "eyJ2ZXJzaW9uIjoiMS4xNi41LjAiLCJtaW5WZXJzaW9uIjoiMS4xNi4wLjAiLCJzZXJ2ZXJzIjpbeyJuYW1lUGF0dGVybiI6Ik1PUlZBLUxp/2UuKiIsInV0Y09mZnNldCI6MCwiZGF5bGlnaHRUaW1lWm9uZSI6IlVUQyJ9XX0="}}})",
         AllOf(StartsWith("[json.exception.parse_error.101] "),
               HasSubstr("ill-formed UTF-8 byte"))},
        {R"({"metadata": {"status": 503}})", "Failed to get orderbook metadata [HttpStatus: 503]"},
    };
    int account = 2000;
    for (const auto& [scenario, text] : cases) {
        PutScenario(scenario);
        EXPECT_THAT(Configure(std::to_string(account)), text) << scenario;
        ++account;
    }
    PutScenario(BaseScenario());
    ASSERT_EQ(SignIn(std::to_string(account)), "");
    ExpectBookDelivered("EUR_USD");
}

TEST(Faults, AMissingVersionFailsTheUpdateCheckButNotTheBooks) {
    PutScenario(
        R"({"metadata": {"document": {"servers": [{"namePattern": "MORVA.*", "utcOffset": 2, "daylightTimeZone": "E. Europe Standard Time"}]}}})");
    ASSERT_EQ(SignIn("3003"), "");
    char16_t version[MORVA_TEXT_BUFFER_SIZE] = u"untouched";
    bool force = false;
    EXPECT_EQ(PollWhile([&] { return CheckForUpdates(version, force); },
                        {"1 Checking for updates - Waiting for server response..."})
                  .back(),
              "2 Checking for updates - An error occurred when checking for updates");
    ExpectBookDelivered("USD_JPY");
    PutScenario(BaseScenario());
}

// The download in flight has its token; the token endpoint failing afterwards stops new downloads
// only. A 503 says nothing about the stored refresh token: no window opens, and once the pause
// after the failure is over the same token signs in again.
TEST(Faults, ATokenEndpointFailingWhileABookIsPendingFailsOnlyNewRequestsUntilItRecovers) {
    // 33 s tokens are renewed 30 s before they expire, so three seconds after sign-in.
    PutScenario(
        R"({"auth": {"tokenLifetime": 33}, "books": {"instruments": {"SLOWTOK_USD": {"latencyMs": 6000, "price": 1.3}}}})");
    ASSERT_EQ(SignIn("4001"), "");
    const auto signedIn = std::chrono::steady_clock::now();
    ASSERT_EQ(AskBook(Lib().OrderBook, "SLOWTOK_USD").result, -100);
    PutScenario(
        R"({"auth": {"tokenLifetime": 33, "tokenFailure": {"status": 503}}, "books": {"instruments": {"SLOWTOK_USD": {"latencyMs": 6000, "price": 1.3}}}})");
    std::this_thread::sleep_until(signedIn + 4s);

    const BookAnswer refused = PollBook(Lib().OrderBook, "GBP_USD");
    EXPECT_EQ(refused.result, -1);
    EXPECT_THAT(refused.text, StartsWith("Get auth tokens by refresh token failed (HTTP 503)"));
    EXPECT_THAT(refused.text, HasSubstr(" (next sign-in attempt in "));
    const BookAnswer pending = PollBook(Lib().OrderBook, "SLOWTOK_USD");
    EXPECT_GE(pending.result, 1) << pending.text;

    PutScenario(BaseScenario());
    const auto retried = [] {
        const BookAnswer answer = AskBook(Lib().OrderBook, "GBP_USD");
        return Loading(answer.result) || answer.result == -1 ? std::string("retry") : answer.text;
    };
    EXPECT_EQ(PollWhile(retried, {"retry"}, 60s).back(), "");
}

// Only the endpoint's refusal of the stored token turns to the sign-in window.
TEST(Faults, ARefusedRefreshTokenTurnsToTheSignInWindow) {
    PutScenario(BaseScenarioWithAuth(
        R"("tokenFailure": {"status": 400, "error": "invalid_grant", "grants": ["refresh_token"]})"));
    ASSERT_EQ(Configure("4003"), "");
    EXPECT_THAT(PollWhile(InitCreds, {"Waiting for authorization"}).back(), SignInWindowFailure());
    PutScenario(BaseScenario());
    ASSERT_EQ(SignIn("4004"), "");
}

TEST(Faults, NoThreadOutlivesItsWork) {
#ifdef _WIN32
    GTEST_SKIP() << "threads are counted from /proc";
#else
    // Retired modules end on threads of their own, which signal nothing a terminal could wait on.
    int threads = ThreadCount();
    for (const auto deadline = std::chrono::steady_clock::now() + Scaled(10s);
         threads > baselineThreads && std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(10ms)) {
        threads = ThreadCount();
    }
    EXPECT_LE(threads, baselineThreads);
#endif
}

// Last: a download the broker never answers is in flight when the library goes away; the process
// must still end at once (run_faults_e2e.sh times that).
TEST(Faults, UnloadingWithADownloadHangingEndsPromptly) {
    EXPECT_EQ(AskBook(Lib().OrderBook, "QUIET_USD").result, -100);
    Lib().library.reset();
    std::ofstream(Environment("MORVA_E2E_DONE_FILE")) << "done\n";
}

}  // namespace
}  // namespace morva
