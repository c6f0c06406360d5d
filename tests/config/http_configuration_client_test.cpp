#include "config/http_configuration_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
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
using test::Summary;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using namespace std::chrono_literals;
using Json = nlohmann::json;

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

std::string DocumentWith(const char* member, const Json& value) {
    Json document = Json::parse(kDocument);
    document[member] = value;
    return document.dump();
}

Json Server(const Json& pattern, const Json& offset) {
    return {{"namePattern", pattern}, {"utcOffset", offset}, {"daylightTimeZone", "UTC"}};
}

FileBytes Bytes(std::string_view text) {
    return FileBytes(text.begin(), text.end());
}

class HttpConfigurationClientTest : public ::testing::Test {
  protected:
    // Serves `document` as the next fetch, after the current one has expired.
    void Republish(const std::string& document) {
        http_->Enqueue(MakeResponse(200, document));
        clock_->Advance(61s);
    }

    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
    std::shared_ptr<FakeHttpClient> http_ = std::make_shared<FakeHttpClient>();
    HttpConfigurationClient client_{u"config.example.test", u"/media/documents/Metadata.json", 60,
                                    http_, clock_};
};

// The document, then the files from the file server it names; each asks with the whole system
// seconds.
TEST_F(HttpConfigurationClientTest, FetchesTheDocumentThenTheFilesWithTheWholeSystemSeconds) {
    clock_->SetSystem(std::chrono::system_clock::time_point(1'700'000'123'999ms));
    const std::string bytes("MZ\0\x01\xFF\x80 bytes", 11);
    http_->Enqueue(MakeResponse(200, kDocument));
    http_->Enqueue(MakeResponse(200, bytes));
    http_->Enqueue(MakeResponse(200, ""));
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(client_.DownloadDll(u"mt5"), Bytes(bytes)) << "byte for byte";
    EXPECT_TRUE(client_.DownloadIndicator(u"mt4", u"de").empty());

    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 3u) << "the document is reused";
    EXPECT_EQ(Summary(requests[0]),
              "GET config.example.test:443/media/documents/Metadata.json?time=1700000123 "
              "[Accept: application/json] body 0, max 1048576, 120 s");
    EXPECT_EQ(
        Summary(requests[1]),
        "GET files.example.test:8443/downloads/MORVA_Orderbook64_1.16.5.0.dll?time=1700000123 "
        "body 0, max 67108864, 120 s");
    EXPECT_EQ(
        Summary(requests[2]),
        "GET files.example.test:8443/downloads/MORVA_Order_Book_DE_1.16.5.0.ex4?time=1700000123 "
        "body 0, max 67108864, 120 s");
}

// A failed download names its file kind and status; no file is asked for with an unknown
// platform or a source without its base path.
TEST_F(HttpConfigurationClientTest, AFailedDownloadNamesItsKindAndStatusAndABadOneIsNotAsked) {
    http_->Enqueue(MakeResponse(200, kDocument));
    EXPECT_THAT([&] { client_.DownloadDll(u"MT5"); }, Throws<MorvaError>());
    EXPECT_THAT([&] { client_.DownloadIndicator(u"mt3", u"en"); }, Throws<MorvaError>());
    http_->Enqueue(MakeResponse(404, "not found"));
    http_->Enqueue(MakeResponse(500, "oops"));
    EXPECT_THAT([&] { client_.DownloadDll(u"mt5"); },
                ThrowsMessage<MorvaError>(StrEq("Failed to download dll file [HttpStatus: 404]")));
    EXPECT_THAT(
        [&] { client_.DownloadIndicator(u"mt5", u"en"); },
        ThrowsMessage<MorvaError>(StrEq("Failed to download indicator file [HttpStatus: 500]")));

    Republish(DocumentWith("source", {{"hostname", "h"}, {"port", 443}}));
    EXPECT_THAT([&] { client_.DownloadDll(u"mt5"); }, Throws<Json::out_of_range>());
    EXPECT_EQ(http_->Requests().size(), 4u) << "the documents and the two failed downloads";
}

TEST_F(HttpConfigurationClientTest, ReusesTheDocumentForItsLifetimeCountedFromTheResponse) {
    // The answer takes 5 s: the lifetime starts when it has arrived, not when it was asked for.
    http_->SetResponder([&](const std::u16string&, const HttpRequest&) {
        clock_->Advance(5s);
        return MakeResponse(200, kDocument);
    });
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    clock_->Advance(60s - 1ns);
    EXPECT_EQ(client_.GetMinVersion(), u"1.15.0.0");
    EXPECT_EQ(http_->Requests().size(), 1u) << "within 60 s: one request";
    clock_->Advance(1ns);
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(http_->Requests().size(), 2u) << "at exactly 60 s: another";
}

TEST_F(HttpConfigurationClientTest, ConcurrentCallersWaitForOneFetch) {
    std::promise<void> gate;
    const std::shared_future<void> opened = gate.get_future().share();
    http_->SetResponder([opened](const std::u16string&, const HttpRequest&) {
        opened.wait();
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
    // The fetch stays open until every caller has started: one that did not wait for it would
    // send a request of its own, counted below.
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while ((entered < 4 || http_->Requests().size() == 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    gate.set_value();
    for (auto& caller : callers) {
        ASSERT_EQ(caller.wait_for(kDeadline), std::future_status::ready);
        EXPECT_EQ(caller.get(), u"1.16.5.0");
    }
    EXPECT_EQ(http_->Requests().size(), 1u);
}

TEST_F(HttpConfigurationClientTest, AFailedFetchCachesNothing) {
    http_->Enqueue(MakeResponse(503, R"({"errorMessage":"busy"})"));
    http_->EnqueueFailure(MorvaError("Send HTTP request failed. timeout"));
    http_->Enqueue(MakeResponse(200, "{not json"));
    http_->Enqueue(MakeResponse(200, kDocument));

    const auto version = [&] { client_.GetVersion(); };
    EXPECT_THAT(version, ThrowsMessage<MorvaError>(
                             StrEq("Failed to get orderbook metadata [HttpStatus: 503]")));
    EXPECT_THAT(version, ThrowsMessage<MorvaError>(StrEq("Send HTTP request failed. timeout")));
    EXPECT_THAT(version, Throws<Json::parse_error>());
    EXPECT_EQ(client_.GetVersion(), u"1.16.5.0");
    EXPECT_EQ(http_->Requests().size(), 4u) << "every failed fetch is tried again at once";
}

// A wrong member fails only its own reads, and keeps failing them while the document lives.
TEST_F(HttpConfigurationClientTest, AWrongMemberFailsItsReadsWithoutAnotherFetch) {
    http_->Enqueue(MakeResponse(200, DocumentWith("version", 1.16)));
    EXPECT_EQ(client_.GetServerConfigs().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_THAT([&] { client_.GetVersion(); }, Throws<Json::type_error>());
    }
    EXPECT_EQ(http_->Requests().size(), 1u);
}

// A remote document must neither wrap around nor reach undefined behaviour: one case per outcome,
// for a signed (the offset) and an unsigned (the file port) number.
TEST_F(HttpConfigurationClientTest, NumbersAreWholeAndFitTheirType) {
    http_->SetResponder([](auto&&...) { return MakeResponse(200, "DLL"); });
    const std::function<std::int64_t(const Json&)> offsetOf = [&](const Json& value) {
        Republish(DocumentWith("servers", Json::array({Server(".*", value)})));
        return client_.GetServerConfigs().at(0).utcOffset;
    };
    const std::function<std::int64_t(const Json&)> portOf = [&](const Json& port) {
        Republish(DocumentWith("source", {{"hostname", "h"}, {"port", port}, {"basePath", "/d"}}));
        client_.DownloadDll(u"mt5");
        return http_->Requests().back().request.port;
    };
    EXPECT_EQ(offsetOf(-2.9), -2) << "cut toward zero";
    EXPECT_EQ(offsetOf(-2147483648LL), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(portOf(65535), 65535);
    for (const auto& [numberOf, value] : {std::pair{offsetOf, Json(4294967298LL)},
                                          {offsetOf, Json(1e300)},
                                          {portOf, Json(65536)},
                                          {portOf, Json(-1)}}) {
        EXPECT_THAT([&] { numberOf(value); },
                    ThrowsMessage<Json::exception>(HasSubstr("number overflow: " + value.dump())));
    }
}

TEST_F(HttpConfigurationClientTest, ServerListShapes) {
    const auto configsOf = [&](const std::string& document) {
        Republish(document);
        return client_.GetServerConfigs();
    };
    // An array in document order, its texts as UTF-16.
    EXPECT_EQ(
        configsOf(DocumentWith(
            "servers", Json::array({Server("B", 3), Server("A-\xC3\xBC\xF0\x9F\x98\x80", -5)}))),
        (std::vector<ServerConfig>{{u"B", 3, u"UTC"}, {u"A-\u00FC\U0001F600", -5, u"UTC"}}));
    EXPECT_TRUE(configsOf(DocumentWith("servers", nullptr)).empty()) << "null: no elements";
    // An object's member values, in key order.
    EXPECT_EQ(configsOf(DocumentWith("servers", {{"z", Server("Z", 1)}, {"a", Server("A", 2)}})),
              (std::vector<ServerConfig>{{u"A", 2, u"UTC"}, {u"Z", 1, u"UTC"}}));
    // One bad entry ends the whole call, wherever it stands.
    EXPECT_THROW(
        configsOf(DocumentWith(
            "servers", Json::array({Server("A", 2), {{"namePattern", "B"}, {"utcOffset", 2}}}))),
        Json::out_of_range);
}

TEST(UpdateFileNames, FollowThePlatformAndTheUpperCasedLanguage) {
    // Only the ASCII letters a to z change.
    EXPECT_EQ(IndicatorFileName(u"mt5", u"pt-br_\u00E4\u00DF1", u"2.0"),
              u"MORVA_Order_Book_PT-BR_\u00E4\u00DF1_2.0.ex5");
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
