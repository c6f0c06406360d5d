#include "config/http_configuration_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "base/morva_error.h"
#include "support/fake_clock.h"
#include "support/fake_http_client.h"

namespace morva {
namespace {

using test::FakeClock;
using test::FakeHttpClient;
using test::MakeResponse;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

constexpr std::int64_t kNow = 1'765'000'000;  // FakeClock's system time
constexpr auto kDeadline = 10s;

constexpr const char* kDocument = R"({
  "version": "1.16.5.0",
  "minVersion": "1.15.0.0",
  "source": {"hostname": "files.example.test", "port": 8443, "basePath": "/downloads"},
  "servers": [
    {"namePattern": "Broker-Live.*", "utcOffset": 2, "daylightTimeZone": "FLE Standard Time"},
    {"namePattern": "Broker-US.*", "utcOffset": -5, "daylightTimeZone": "Eastern Standard Time"}
  ],
  "unknownMember": true
})";

std::string DocumentWith(const char* member, const nlohmann::json& value) {
    nlohmann::json document = nlohmann::json::parse(kDocument);
    document[member] = value;
    return document.dump();
}

std::string DocumentWithout(const char* member) {
    nlohmann::json document = nlohmann::json::parse(kDocument);
    document.erase(member);
    return document.dump();
}

std::string ServersDocument(const nlohmann::json& servers) {
    return DocumentWith("servers", servers);
}

FileBytes Bytes(std::string_view text) {
    return FileBytes(text.begin(), text.end());
}

class HttpConfigurationClientTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
    std::shared_ptr<FakeHttpClient> http_ = std::make_shared<FakeHttpClient>();
    HttpConfigurationClient client_{u"config.example.test", u"/media/documents/Metadata.json", 60,
                                    http_, clock_};
};

TEST_F(HttpConfigurationClientTest, FetchesTheDocumentWithTheTimeAndOneAcceptHeader) {
    http_->Enqueue(MakeResponse(200, kDocument));
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");

    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, u"GET");
    EXPECT_EQ(requests[0].request.host, u"config.example.test");
    EXPECT_EQ(requests[0].request.port, 443);
    EXPECT_EQ(requests[0].request.path, u"/media/documents/Metadata.json?time=1765000000");
    EXPECT_EQ(requests[0].request.headers, (HttpHeaders{{u"Accept", u"application/json"}}));
    EXPECT_TRUE(requests[0].request.body.empty());
    EXPECT_EQ(requests[0].request.maxResponseBytes, 1u << 20);
    EXPECT_EQ(requests[0].request.timeLimit, std::chrono::seconds(120));
}

TEST_F(HttpConfigurationClientTest, TimeQueryIsWholeSystemSecondsNotTheSteadyClock) {
    clock_->SetSystem(std::chrono::system_clock::time_point(1'700'000'123'999ms));
    http_->Enqueue(MakeResponse(200, kDocument));
    client_.GetVersion();
    EXPECT_EQ(http_->Requests().at(0).request.path,
              u"/media/documents/Metadata.json?time=1700000123");
}

TEST_F(HttpConfigurationClientTest, ReusesTheDocumentForItsLifetimeCountedFromTheResponse) {
    // The answer takes 5 s: the lifetime starts when it has arrived, not when it was asked for.
    http_->SetResponder([&](const std::u16string&, const HttpRequest&) {
        clock_->Advance(5s);
        return MakeResponse(200, kDocument);
    });
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(http_->RequestCount(), 1u);

    clock_->Advance(59s);  // 59 s after the response
    EXPECT_EQ(client_.GetMinVersion(), u"1.15.0.0");
    EXPECT_EQ(client_.GetServerConfigs().size(), 2u);
    EXPECT_EQ(http_->RequestCount(), 1u) << "within 60 s: one request";

    clock_->Advance(2s);  // 61 s after the response
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(http_->RequestCount(), 2u) << "61 s after the fetch: another";
}

TEST_F(HttpConfigurationClientTest, TheDocumentExpiresAtExactlyItsLifetime) {
    http_->SetResponder(
        [](const std::u16string&, const HttpRequest&) { return MakeResponse(200, kDocument); });
    client_.GetVersion();
    clock_->Advance(60s - 1ns);
    client_.GetVersion();
    EXPECT_EQ(http_->RequestCount(), 1u);
    clock_->Advance(1ns);
    client_.GetVersion();
    EXPECT_EQ(http_->RequestCount(), 2u);
}

TEST_F(HttpConfigurationClientTest, ConcurrentCallersWaitForOneFetch) {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    http_->SetResponder([&](const std::u16string&, const HttpRequest&) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return open; });
        return MakeResponse(200, kDocument);
    });

    std::atomic<int> entered{0};
    std::vector<std::future<std::u16string>> callers;
    for (int i = 0; i < 4; ++i) {
        callers.push_back(std::async(std::launch::async, [&] {
            ++entered;
            return client_.GetVersion();
        }));
    }
    while (entered < 4 || http_->RequestCount() == 0) {
        std::this_thread::yield();
    }
    // Give the other callers time to reach the transport, as they would without the lock.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(http_->RequestCount(), 1u);
    {
        const std::lock_guard lock(mutex);
        open = true;
    }
    changed.notify_all();
    for (auto& caller : callers) {
        ASSERT_EQ(caller.wait_for(kDeadline), std::future_status::ready);
        EXPECT_EQ(caller.get(), u"1.16.5.0");
    }
    EXPECT_EQ(http_->RequestCount(), 1u);
}

TEST_F(HttpConfigurationClientTest, AFailedFetchCachesNothing) {
    http_->Enqueue(MakeResponse(503, R"({"errorMessage":"busy"})"));
    http_->EnqueueFailure(MorvaError("Send HTTP request failed. timeout"));
    http_->Enqueue(MakeResponse(200, "{not json"));
    http_->Enqueue(MakeResponse(200, kDocument));

    try {
        client_.GetVersion();
        FAIL() << "no exception";
    } catch (const MorvaError& error) {
        EXPECT_STREQ(error.what(), "Failed to get orderbook metadata [HttpStatus: 503]");
    }
    try {
        client_.GetVersion();
        FAIL() << "no exception";
    } catch (const MorvaError& error) {
        EXPECT_STREQ(error.what(), "Send HTTP request failed. timeout") << "passes unchanged";
    }
    EXPECT_THROW(client_.GetVersion(), nlohmann::json::parse_error);
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(http_->RequestCount(), 4u) << "every failed fetch is tried again at once";
}

TEST_F(HttpConfigurationClientTest, ADocumentWithoutMinVersionServesOnlyTheVersion) {
    http_->Enqueue(MakeResponse(200, DocumentWithout("minVersion")));
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    try {
        client_.GetMinVersion();
        FAIL() << "no exception";
    } catch (const nlohmann::json::out_of_range& error) {
        EXPECT_THAT(error.what(), HasSubstr("minVersion"));
    }
    EXPECT_EQ(http_->RequestCount(), 1u);
}

TEST_F(HttpConfigurationClientTest, WrongMembersKeepFailingUntilTheDocumentExpires) {
    http_->Enqueue(MakeResponse(200, DocumentWith("version", 1.16)));
    http_->Enqueue(MakeResponse(200, kDocument));
    for (int i = 0; i < 3; ++i) {
        try {
            client_.GetVersion();
            FAIL() << "no exception";
        } catch (const nlohmann::json::type_error& error) {
            EXPECT_THAT(error.what(), HasSubstr("type must be string, but is number"));
        }
        clock_->Advance(20s - 1ns);
    }
    EXPECT_EQ(http_->RequestCount(), 1u) << "the parsed document stays for its lifetime";
    clock_->Advance(1s);
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(http_->RequestCount(), 2u);
}

TEST_F(HttpConfigurationClientTest, ADocumentThatIsNotAnObjectFailsEveryRead) {
    http_->Enqueue(MakeResponse(200, R"(["1.16.5.0"])"));
    EXPECT_THROW(client_.GetVersion(), nlohmann::json::type_error);
    EXPECT_THROW(client_.GetServerConfigs(), nlohmann::json::type_error);
    EXPECT_THROW(client_.DownloadDll(u"mt5"), nlohmann::json::type_error);
}

TEST_F(HttpConfigurationClientTest, ServerConfigsComeInDocumentOrderAsUtf16) {
    http_->Enqueue(MakeResponse(
        200,
        ServersDocument(nlohmann::json::array({
            {{"namePattern", "B.*"}, {"utcOffset", 3}, {"daylightTimeZone", "GTB Standard Time"}},
            {{"namePattern", "A-\xC3\xBC\xF0\x9F\x98\x80.*"},
             {"utcOffset", -5},
             {"daylightTimeZone", "Eastern Standard Time"}},
        }))));
    EXPECT_EQ(client_.GetServerConfigs(),
              (std::vector<ServerConfig>{{u"B.*", 3, u"GTB Standard Time"},
                                         {u"A-\u00FC\U0001F600.*", -5, u"Eastern Standard Time"}}));
}

struct NumberCase {
    nlohmann::json value;
    std::string outcome;  // the number read, or the failure's text
};

constexpr const char* kNotANumber = "[json.exception.type_error.302] type must be number, but is ";
constexpr const char* kOverflow = "[json.exception.out_of_range.406] number overflow: ";

template <class Read>
std::string OutcomeOf(const Read& read) {
    try {
        return std::to_string(read());
    } catch (const nlohmann::json::exception& error) {
        return error.what();
    }
}

TEST_F(HttpConfigurationClientTest, ServerOffsetsAreNumbersTruncatedToWholeHours) {
    const auto offsetOf = [&](const nlohmann::json& offset) {
        http_->Enqueue(MakeResponse(
            200,
            ServersDocument(nlohmann::json::array(
                {{{"namePattern", ".*"}, {"utcOffset", offset}, {"daylightTimeZone", "UTC"}}}))));
        clock_->Advance(61s);
        return client_.GetServerConfigs().at(0).utcOffset;
    };
    const NumberCase cases[] = {
        {2.9, "2"},
        {-2.9, "-2"},
        {-5, "-5"},
        {2147483647, "2147483647"},
        {-2147483648LL, "-2147483648"},
        {"2", std::string(kNotANumber) + "string"},
        {true, std::string(kNotANumber) + "boolean"},
        {nullptr, std::string(kNotANumber) + "null"},
        // A remote document must not wrap around nor reach undefined behaviour.
        {4294967298LL, std::string(kOverflow) + "4294967298"},
        {-2147483649LL, std::string(kOverflow) + "-2147483649"},
        {1e300, std::string(kOverflow) + "1e+300"},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(OutcomeOf([&] { return offsetOf(c.value); }), c.outcome) << c.value.dump();
    }
}

TEST_F(HttpConfigurationClientTest, TheFilePortIsANumberThatFitsAPort) {
    nlohmann::json port;
    http_->SetResponder([&](const std::u16string&, const HttpRequest& request) {
        if (request.host != u"config.example.test") {
            return MakeResponse(200, "DLL");
        }
        return MakeResponse(
            200, DocumentWith("source", {{"hostname", "h"}, {"port", port}, {"basePath", "/d"}}));
    });
    const auto portOf = [&](const nlohmann::json& value) {
        port = value;
        clock_->Advance(61s);
        client_.DownloadDll(u"mt5");
        return http_->Requests().back().request.port;
    };
    const NumberCase cases[] = {
        {8443, "8443"},
        {443.9, "443"},
        {1, "1"},
        {65535, "65535"},
        {70000, std::string(kOverflow) + "70000"},
        {65536, std::string(kOverflow) + "65536"},
        {-1, std::string(kOverflow) + "-1"},
        {1e300, std::string(kOverflow) + "1e+300"},
        {true, std::string(kNotANumber) + "boolean"},
        {"443", std::string(kNotANumber) + "string"},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(OutcomeOf([&] { return portOf(c.value); }), c.outcome) << c.value.dump();
    }
}

TEST_F(HttpConfigurationClientTest, ServerListShapes) {
    const auto configsOf = [&](const std::string& document) {
        http_->Enqueue(MakeResponse(200, document));
        clock_->Advance(61s);
        return client_.GetServerConfigs();
    };
    EXPECT_TRUE(configsOf(ServersDocument(nlohmann::json::array())).empty());
    EXPECT_TRUE(configsOf(ServersDocument(nullptr)).empty()) << "null: no elements";
    // An object's member values, in key order.
    EXPECT_EQ(configsOf(ServersDocument(
                  {{"z", {{"namePattern", "Z"}, {"utcOffset", 1}, {"daylightTimeZone", "UTC"}}},
                   {"a", {{"namePattern", "A"}, {"utcOffset", 2}, {"daylightTimeZone", "UTC"}}}})),
              (std::vector<ServerConfig>{{u"A", 2, u"UTC"}, {u"Z", 1, u"UTC"}}));
    EXPECT_THROW(configsOf(DocumentWithout("servers")), nlohmann::json::out_of_range);
    // One bad entry ends the whole call, wherever it stands.
    EXPECT_THROW(configsOf(ServersDocument(nlohmann::json::array(
                     {{{"namePattern", "A"}, {"utcOffset", 2}, {"daylightTimeZone", "UTC"}},
                      {{"namePattern", "B"}, {"utcOffset", 2}}}))),
                 nlohmann::json::out_of_range);
    EXPECT_THROW(configsOf(ServersDocument(nlohmann::json::array(
                     {{{"namePattern", 7}, {"utcOffset", 2}, {"daylightTimeZone", "UTC"}}}))),
                 nlohmann::json::type_error);
    EXPECT_THROW(configsOf(ServersDocument(nlohmann::json::array({"A"}))),
                 nlohmann::json::type_error);
}

TEST(UpdateFileNames, FollowThePlatformAndTheUpperCasedLanguage) {
    EXPECT_EQ(DllFileName(u"mt5", u"1.16.5.0"), u"MORVA_Orderbook64_1.16.5.0.dll");
    EXPECT_EQ(DllFileName(u"mt4", u"1.16.5.0"), u"MORVA_Orderbook32_1.16.5.0.dll");
    EXPECT_EQ(IndicatorFileName(u"mt5", u"en", u"1.16.5.0"), u"MORVA_Order_Book_EN_1.16.5.0.ex5");
    EXPECT_EQ(IndicatorFileName(u"mt4", u"en", u"1.16.5.0"), u"MORVA_Order_Book_EN_1.16.5.0.ex4");
    // Only the ASCII letters a to z change.
    EXPECT_EQ(IndicatorFileName(u"mt5", u"pt-br_\u00E4\u00DF1", u"2.0"),
              u"MORVA_Order_Book_PT-BR_\u00E4\u00DF1_2.0.ex5");
    EXPECT_EQ(IndicatorFileName(u"mt5", u"", u"2.0"), u"MORVA_Order_Book__2.0.ex5");
}

TEST(UpdateFileNames, OnlyTheExactPlatformCodesAreKnown) {
    for (const std::u16string platform : {u"MT5", u"Mt4", u"mt6", u"", u"mt5 "}) {
        const std::string expected =
            "Unknown Platform [" + std::string(platform.begin(), platform.end()) + "]";
        try {
            DllFileName(platform, u"1.0");
            ADD_FAILURE() << expected;
        } catch (const MorvaError& error) {
            EXPECT_EQ(error.what(), expected);
        }
        try {
            IndicatorFileName(platform, u"en", u"1.0");
            ADD_FAILURE() << expected;
        } catch (const MorvaError& error) {
            EXPECT_EQ(error.what(), expected);
        }
    }
}

TEST_F(HttpConfigurationClientTest, DownloadsTheCurrentLibraryFromTheFileServer) {
    http_->Enqueue(MakeResponse(200, kDocument));
    const std::string bytes("MZ\0\x01\xFF\x80 bytes", 11);
    http_->Enqueue(MakeResponse(200, bytes));
    clock_->SetSystem(std::chrono::system_clock::time_point(std::chrono::seconds(kNow + 7)));

    EXPECT_EQ(client_.DownloadDll(u"mt5"), Bytes(bytes)) << "byte for byte";

    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, u"GET");
    EXPECT_EQ(requests[1].request.host, u"files.example.test");
    EXPECT_EQ(requests[1].request.port, 8443);
    EXPECT_EQ(requests[1].request.path,
              u"/downloads/MORVA_Orderbook64_1.16.5.0.dll?time=1765000007");
    EXPECT_TRUE(requests[1].request.headers.empty());
    EXPECT_TRUE(requests[1].request.body.empty());
    EXPECT_EQ(requests[1].request.maxResponseBytes, 64u << 20);
    EXPECT_EQ(requests[1].request.timeLimit, std::chrono::seconds(120));
}

TEST_F(HttpConfigurationClientTest, DownloadsTheIndicatorForPlatformAndLanguage) {
    http_->Enqueue(MakeResponse(200, kDocument));
    http_->Enqueue(MakeResponse(200, "EX4"));
    EXPECT_EQ(client_.DownloadIndicator(u"mt4", u"de"), Bytes("EX4"));
    EXPECT_EQ(http_->Requests().at(1).request.path,
              u"/downloads/MORVA_Order_Book_DE_1.16.5.0.ex4?time=1765000000");

    http_->Enqueue(MakeResponse(200, ""));
    EXPECT_TRUE(client_.DownloadIndicator(u"mt5", u"en").empty());
    EXPECT_EQ(http_->Requests().at(2).request.path,
              u"/downloads/MORVA_Order_Book_EN_1.16.5.0.ex5?time=1765000000");
    EXPECT_EQ(http_->Requests().at(2).request.maxResponseBytes, 64u << 20);
    EXPECT_EQ(http_->RequestCount(), 3u) << "the document is reused";
}

TEST_F(HttpConfigurationClientTest, AFailedDownloadNamesItsFileKindAndStatus) {
    http_->Enqueue(MakeResponse(200, kDocument));
    http_->Enqueue(MakeResponse(404, "not found"));
    http_->Enqueue(MakeResponse(500, "oops"));
    try {
        client_.DownloadDll(u"mt5");
        FAIL() << "no exception";
    } catch (const MorvaError& error) {
        EXPECT_STREQ(error.what(), "Failed to download dll file [HttpStatus: 404]");
    }
    try {
        client_.DownloadIndicator(u"mt5", u"en");
        FAIL() << "no exception";
    } catch (const MorvaError& error) {
        EXPECT_STREQ(error.what(), "Failed to download indicator file [HttpStatus: 500]");
    }
}

TEST_F(HttpConfigurationClientTest, AnUnknownPlatformFailsBeforeAnyFileIsAskedFor) {
    http_->Enqueue(MakeResponse(200, kDocument));
    try {
        client_.DownloadDll(u"MT5");
        FAIL() << "no exception";
    } catch (const MorvaError& error) {
        EXPECT_STREQ(error.what(), "Unknown Platform [MT5]");
    }
    EXPECT_THROW(client_.DownloadIndicator(u"mt3", u"en"), MorvaError);
    EXPECT_EQ(http_->RequestCount(), 1u) << "only the document";
}

TEST_F(HttpConfigurationClientTest, ADownloadNeedsACompleteSource) {
    http_->Enqueue(MakeResponse(200, DocumentWith("source", {{"hostname", "h"}, {"port", 443}})));
    EXPECT_THROW(client_.DownloadDll(u"mt5"), nlohmann::json::out_of_range);
    http_->Enqueue(MakeResponse(
        200, DocumentWith("source", {{"hostname", "h"}, {"port", "443"}, {"basePath", "/d"}})));
    clock_->Advance(61s);
    EXPECT_THROW(client_.DownloadDll(u"mt5"), nlohmann::json::type_error);
    EXPECT_EQ(http_->RequestCount(), 2u) << "no file asked for";
}

TEST_F(HttpConfigurationClientTest, NoLockIsHeldDuringAFileTransfer) {
    http_->Enqueue(MakeResponse(200, kDocument));
    std::promise<void> transferStarted;
    std::promise<void> finishTransfer;
    http_->EnqueueResponder([&](const std::u16string&, const HttpRequest&) {
        transferStarted.set_value();
        finishTransfer.get_future().wait();
        return MakeResponse(200, "DLL");
    });
    auto download = std::async(std::launch::async, [&] { return client_.DownloadDll(u"mt5"); });
    transferStarted.get_future().wait();

    // Would wait for the transfer if the download still held the lock.
    auto version = std::async(std::launch::async, [&] { return client_.GetVersion(); });
    const bool answered = version.wait_for(kDeadline) == std::future_status::ready;
    finishTransfer.set_value();
    ASSERT_TRUE(answered);
    EXPECT_EQ(version.get(), u"1.16.5.0");
    EXPECT_EQ(download.get(), Bytes("DLL"));
}

}  // namespace
}  // namespace morva
