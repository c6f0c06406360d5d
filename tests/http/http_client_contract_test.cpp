// What every platform transport must do, checked against the fake broker. Only
// CreatePlatformHttpClient() is used, so the same cases run for WinInet (under Wine) and for
// libcurl. The broker's test CA must be trusted and the deployment host names must lead to it:
// run inside scripts/sandbox.

#ifdef _WIN32
#include <windows.h>
#include <wininet.h>
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/morva_error.h"
#include "config/deployment_settings.h"
#include "e2e/broker_control.h"
#include "http/http_client.h"
#include "http/http_headers.h"
#include "util/utf.h"

namespace morva {
namespace {

using testing::StartsWith;
using testing::ThrowsMessage;
using namespace std::chrono_literals;

std::string Environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::u16string TestHost() {
    return Utf8ToUtf16(Environment("MORVA_TEST_HOST", "api.morva.example"));
}

std::uint16_t TestPort() {
    return static_cast<std::uint16_t>(std::stoi(Environment("MORVA_TEST_PORT", "443")));
}

// WinInet connects lazily, inside HttpSendRequestW, so its connection failures come from its send
// step; curl names the connection step itself.
#ifdef _WIN32
constexpr const char* kConnectFailure = "Send HTTP request failed. ";
#else
constexpr const char* kConnectFailure = "Open HTTP connection failed. ";
#endif

// One client for the whole run, as the library shares one for the life of the process.
HttpClient& Client() {
    static const std::shared_ptr<HttpClient> client = CreatePlatformHttpClient();
    return *client;
}

HttpRequest Request(std::u16string path, HttpHeaders headers = {}, std::string body = {},
                    std::uint64_t maxResponseBytes = kDefaultMaxResponseBytes,
                    std::chrono::seconds timeLimit = kDefaultTimeLimit) {
    return {TestHost(),      TestPort(),       std::move(path), std::move(headers),
            std::move(body), maxResponseBytes, timeLimit};
}

HttpResponse Get(const std::u16string& path) {
    return Client().Send(u"GET", Request(path));
}

// The broker's /test/bytes pattern.
std::string PatternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + 7) % 251);
    }
    return bytes;
}

// A GET of `request`, for the matchers of its failure.
std::function<void()> Sending(HttpRequest request) {
    return [request = std::move(request)] { Client().Send(u"GET", request); };
}
auto Fails(const std::string& text) {
    return ThrowsMessage<MorvaError>(testing::StrEq(text));
}

// What the broker was asked, oldest first.
BrokerControl& Broker() {
    static BrokerControl control;
    return control;
}
void ForgetRequests() {
    Broker().Send("DELETE", "/requests");
}
nlohmann::json LoggedRequests() {
    return nlohmann::json::parse(Broker().Send("GET", "/requests"));
}

std::string PortSuffix() {
    return TestPort() == 443 ? "" : ":" + std::to_string(TestPort());
}

// Bodies travel whole and in order both ways, whatever the status: an error status is an
// ordinary response with its body. Each call carries only its own method, body and headers: a
// transport that reused state would send a GET after a POST as that POST. The raw header block
// reaches the parser (tested on its own) with its lines intact and without the status line.
TEST(HttpClientContract, EachCallCarriesItsOwnBodyWholeBothWaysWhateverTheStatus) {
    std::string allBytes;
    for (int i = 0; i < 512; ++i) {
        allBytes += static_cast<char>(i % 256);  // a NUL in the middle as well as at the start
    }
    // The large echo is large enough that a transport might hold it back for a 100 Continue.
    const std::string large = PatternBytes(3 * 1024 * 1024 + 17);
    const std::string status = R"({"errorMessage":"status )";
    const HttpHeaders json = JsonExchangingHeaders();
    const std::tuple<const char16_t*, const char16_t*, HttpHeaders, std::string, int, std::string>
        cases[] = {
            {u"GET", u"/test/empty", json, "", 200, ""},
            {u"GET", u"/test/bytes?size=5242880", json, "", 200, PatternBytes(5 * 1024 * 1024)},
            {u"POST", u"/test/echo", json, allBytes, 200, allBytes},
            {u"POST", u"/test/echo", json, large, 200, large},
            {u"POST", u"/test/echo", {}, "a=b", 200, "a=b"},
            {u"GET", u"/test/headers", {}, "", 200, "ok"},
            {u"GET", u"/test/status/404", json, "", 404, status + R"(404"})"},
            {u"GET", u"/test/status/401", {}, "", 401, status + R"(401"})"},
            {u"GET", u"/test/status/500", {}, "", 500, status + R"(500"})"},
            {u"GET", u"/test/slow?ms=1500", {}, "", 200, "ok"},  // a slow answer is awaited
        };
    for (const auto& [method, path, headers, body, code, expected] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(path) + ", " + std::to_string(body.size()) + " bytes sent");
        const HttpResponse response = Client().Send(method, Request(path, headers, body));
        EXPECT_EQ(response.status, code);
        EXPECT_TRUE(response.body == expected) << response.body.size() << " bytes";
        for (const auto& [name, value] : response.headers) {
            EXPECT_THAT(Utf16ToUtf8(name), testing::Not(StartsWith("HTTP/")));
            EXPECT_EQ((name + value).find_first_of(u"\r\n"), std::u16string::npos)
                << Utf16ToUtf8(name);
        }
        if (method == std::u16string_view(u"POST")) {  // the caller's content type, none added
            const auto type =
                response.headers.find(std::u16string_view(u"X-Received-Content-Type"));
            EXPECT_EQ(type != response.headers.end() ? type->second : u"",
                      headers.empty() ? u"" : u"application/json");
        }
    }
    EXPECT_EQ(Get(u"/test/headers").headers.at(u"x-CASE"), u"second") << "the later spelling";
}

TEST(HttpClientContract, ARefusedConnectionOrAnUntrustedCertificateFailsTheConnectionStep) {
    HttpRequest request = Request(u"/test/empty");
    request.port = 1;  // the broker's host, where nothing listens
    EXPECT_THAT(Sending(request), ThrowsMessage<MorvaError>(StartsWith(kConnectFailure)));

    const std::string port = Environment("MORVA_TEST_UNTRUSTED_PORT", "");
    if (port.empty()) {
        GTEST_SKIP() << "MORVA_TEST_UNTRUSTED_PORT names no TLS server with an untrusted "
                        "certificate";
    }
    request.port = static_cast<std::uint16_t>(std::stoi(port));
    EXPECT_THAT(Sending(request), ThrowsMessage<MorvaError>(StartsWith(kConnectFailure)));
}

// A book request carries a bearer token: a redirect elsewhere must not take it along.
TEST(HttpClientContract, ARedirectIsReturnedAsItsStatusAndNotFollowed) {
    const std::string elsewhere = Utf16ToUtf8(deployment::kProductionAuthHost);
    ForgetRequests();
    const HttpHeaders headers{{u"Authorization", u"Bearer not-for-elsewhere"}};
    const HttpResponse response =
        Client().Send(u"GET", Request(u"/test/redirect?host=" + Utf8ToUtf16(elsewhere), headers));

    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.body, "moved");
    EXPECT_EQ(Utf16ToUtf8(response.headers.at(u"Location")),
              "https://" + elsewhere + PortSuffix() + "/test/headers");
    const nlohmann::json logged = LoggedRequests();
    ASSERT_EQ(logged.size(), 1u) << logged.dump();
    EXPECT_EQ(logged[0].at("host"), Utf16ToUtf8(TestHost()) + PortSuffix());
}

// Neither a cookie jar nor a cache: a server learns nothing from an earlier call, and nothing of
// an answer stays in the user's profile.
TEST(HttpClientContract, NothingOfAnAnswerIsKeptForLaterCalls) {
    const std::u16string query =
        u"?run=" +
        Utf8ToUtf16(std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    ForgetRequests();
    const HttpResponse cookie = Get(u"/test/cookie" + query);
    EXPECT_EQ(cookie.status, 200);
    EXPECT_TRUE(cookie.headers.contains(std::u16string_view(u"Set-Cookie")));
    EXPECT_EQ(Get(u"/test/cookie" + query).status, 200);
    EXPECT_EQ(Get(u"/test/headers" + query).status, 200);

    const nlohmann::json logged = LoggedRequests();
    ASSERT_EQ(logged.size(), 3u) << "every call reaches the server";
    for (const auto& request : logged) {
        HttpHeaders sent;  // compared by name as HTTP does, whatever the letter case
        for (const auto& [name, value] : request.at("headers").items()) {
            SetHeader(sent, Utf8ToUtf16(name), u"");
        }
        EXPECT_FALSE(sent.contains(std::u16string_view(u"Cookie"))) << request.dump();
    }
#ifdef _WIN32
    const std::u16string url =
        u"https://" + TestHost() + Utf8ToUtf16(PortSuffix()) + u"/test/headers" + query;
    DWORD size = 0;
    EXPECT_FALSE(
        GetUrlCacheEntryInfoW(reinterpret_cast<const wchar_t*>(url.c_str()), nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "in the URL cache";
#endif
}

// Texts from the terminal (account, server name) and from the network (a token type) end up in
// headers: a line break there would add header lines of its own.
TEST(HttpClientContract, ControlCharactersInAHeaderStopTheCallBeforeAnythingIsSent) {
    ForgetRequests();
    EXPECT_THAT(
        Sending(Request(u"/test/headers", {{u"X-Indicator-Account", u"1001\r\nX-Injected: yes"}})),
        Fails("Invalid header value for X-Indicator-Account"));
    EXPECT_TRUE(LoggedRequests().empty()) << LoggedRequests().dump();
}

// A body above the request's limit fails whether its length was announced or never. The time
// limit of the whole call covers the wait for the answer and every read: one server answers late,
// the other sends a byte every 200 ms, both under any stall detector.
TEST(HttpClientContract, TheRequestsLimitsEndTheCallWithTheirOwnTexts) {
    constexpr std::uint64_t kLimit = 1024 * 1024;
    const std::string tooLarge = "Read HTTP response body failed. Response too large: more than ";
    const std::tuple<const char16_t*, std::uint64_t, std::chrono::seconds, std::string> cases[] = {
        {u"/test/bytes?size=1048577", kLimit, kDefaultTimeLimit, tooLarge + "1048576 bytes"},
        {u"/test/bytes?size=1048577&chunked=1", kLimit, kDefaultTimeLimit,
         tooLarge + "1048576 bytes"},
        {u"/test/endless", 4 * kLimit, kDefaultTimeLimit, tooLarge + "4194304 bytes"},
        {u"/test/slow?ms=6000", kLimit, 2s, "Send HTTP request timed out after 2 s"},
        {u"/test/trickle?size=40&ms=8000", kLimit, 2s,
         "Read HTTP response body timed out after 2 s"},
    };
    for (const auto& [path, maxBytes, timeLimit, failure] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(path));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THAT(Sending(Request(path, {}, {}, maxBytes, timeLimit)), Fails(failure));
        EXPECT_LT(std::chrono::steady_clock::now() - start, timeLimit + 2s);
    }
    for (const char16_t* path :
         {u"/test/bytes?size=1048576", u"/test/bytes?size=1048576&chunked=1"}) {
        const HttpResponse atLimit = Client().Send(u"GET", Request(path, {}, {}, kLimit));
        EXPECT_TRUE(atLimit.body == PatternBytes(kLimit)) << atLimit.body.size() << " bytes";
    }
    EXPECT_EQ(Get(u"/test/headers").body, "ok") << "the next call is not disturbed";
}

// The second round puts every call on a new connection: the TLS handshakes of the threads
// overlap, each resuming and storing sessions while the others do. Under ThreadSanitizer this is
// where sessions shared between threads show.
TEST(HttpClientContract, ConcurrentCallsOnOneClientStayApart) {
    const std::string expected = PatternBytes(20000);
    const HttpHeaders closing{{u"Connection", u"close"}};
    for (const auto& [calls, headers] : {std::pair<int, HttpHeaders>{25, {}}, {40, closing}}) {
        SCOPED_TRACE(headers.size());
        std::vector<std::vector<std::string>> faults(8);  // by thread
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < faults.size(); ++t) {
            threads.emplace_back([&, t, calls = calls, &headers = headers] {
                for (int call = 0; call < calls; ++call) {
                    try {
                        const HttpResponse response =
                            Client().Send(u"GET", Request(u"/test/bytes?size=20000", headers));
                        if (response.status != 200 || response.body != expected) {
                            faults[t].push_back("status " + std::to_string(response.status) + ", " +
                                                std::to_string(response.body.size()) + " bytes");
                        }
                    } catch (const std::exception& error) {
                        faults[t].push_back(error.what());
                    }
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (std::size_t t = 0; t < faults.size(); ++t) {
            EXPECT_THAT(faults[t], testing::IsEmpty()) << "thread " << t;
        }
    }
}

}  // namespace
}  // namespace morva
