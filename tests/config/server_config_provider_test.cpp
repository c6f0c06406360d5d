#include "config/server_config_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/morva_error.h"
#include "support/fake_configuration_client.h"

namespace morva {
namespace {

using test::FakeConfigurationClient;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using namespace std::chrono_literals;

constexpr const char* kWaiting = "Waiting for server configuration";
constexpr auto kDeadline = 10s;

const ServerConfig kLive{u"Broker-Live.*", 2, u"FLE Standard Time"};
const ServerConfig kAny{u"Broker.*", 0, u"UTC"};
const ServerConfig kLiveUs{u"Broker-Live-US", -5, u"Eastern Standard Time"};

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// The pattern of the entry found, or the failure's text.
std::string OutcomeOf(IServerConfigProvider& provider) {
    try {
        return "<ok> " + Narrow(provider.GetServerConfig().namePattern);
    } catch (const std::exception& error) {
        return error.what();
    }
}

class ServerConfigProviderTest : public ::testing::Test {
  protected:
    // After the client's `calls`th fetch has returned, polls as the indicator does until the
    // provider has taken the result over, which it announces in no other way.
    std::string OutcomeOfFetch(IServerConfigProvider& provider, int calls) {
        if (!client_->WaitFinished(calls)) {
            return "<fetch not finished>";
        }
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        std::string outcome = OutcomeOf(provider);
        while (outcome == kWaiting && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
            outcome = OutcomeOf(provider);
        }
        return outcome;
    }

    std::shared_ptr<FakeConfigurationClient> client_ = std::make_shared<FakeConfigurationClient>();
};

// How a pattern reads and how long it may run is NamePattern's, tested there; here: which entry.
TEST_F(ServerConfigProviderTest, TheFirstEntryWhosePatternMatchesWins) {
    struct Case {
        std::vector<ServerConfig> configs;
        std::u16string name;
        std::string outcome;
    };
    const Case cases[] = {
        {{kLive, kAny, kLiveUs}, u"Broker-Live-US", "<ok> Broker-Live.*"},
        {{kLive, kLiveUs},
         u"Broker-Demo",
         "No configuration match for MetaTrader server: Broker-Demo"},
        // A bad pattern ends the call even before a match; one after the match is never compiled.
        {{{u"Broker-(Live", 1, u"UTC"}, kAny},
         u"Broker-Live",
         "Malformed server name pattern (unmatched '(' at offset 7): Broker-(Live"},
        {{kAny, {u"Broker-(Live", 1, u"UTC"}}, u"Broker-Live", "<ok> Broker.*"},
    };
    for (const Case& c : cases) {
        client_->SetServerConfigs(c.configs);
        ServerConfigProvider provider(c.name, client_);
        EXPECT_EQ(OutcomeOf(provider), c.outcome) << Narrow(c.name);
    }
    EXPECT_EQ(client_->started(), static_cast<int>(std::size(cases)))
        << "the provider keeps nothing; the client keeps the document";
}

TEST_F(ServerConfigProviderTest, ClientFailuresPassThroughUnchanged) {
    client_->Fail(
        std::make_exception_ptr(MorvaError("Failed to get orderbook metadata [HttpStatus: 500]")));
    ServerConfigProvider provider(u"Broker-Live", client_);
    EXPECT_THAT(
        [&] { provider.GetServerConfig(); },
        ThrowsMessage<MorvaError>(StrEq("Failed to get orderbook metadata [HttpStatus: 500]")));
}

// A match or a failure alike is delivered once; the call after it starts another fetch. That
// callers meanwhile share the one fetch is PendingResult's, tested there.
TEST_F(ServerConfigProviderTest, AsyncDeliversEachFinishedFetchOnce) {
    const std::pair<ServerConfig, std::string> cases[] = {
        {kAny, "<ok> Broker.*"},
        {kLive, "No configuration match for MetaTrader server: Broker-Demo"},
    };
    int fetches = 0;
    client_->Close();  // before every call, or a fetch could finish before the call looks
    for (const auto& [config, outcome] : cases) {
        SCOPED_TRACE(outcome);
        client_->SetServerConfigs({config});
        AsyncServerConfigProvider provider(u"Broker-Demo", client_);
        EXPECT_EQ(client_->started(), fetches) << "no fetch before the first call";
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(OutcomeOf(provider), kWaiting);
            ASSERT_TRUE(client_->WaitStarted(++fetches));
            EXPECT_EQ(OutcomeOf(provider), kWaiting) << "still running";
            client_->Open();
            EXPECT_EQ(OutcomeOfFetch(provider, fetches), outcome);
            client_->Close();
        }
    }
    EXPECT_EQ(client_->started(), fetches);
}

TEST_F(ServerConfigProviderTest, DestroyingTheAsyncProviderWaitsForItsFetch) {
    client_->SetServerConfigs({kAny});
    client_->Close();
    auto provider = std::make_unique<AsyncServerConfigProvider>(u"Broker-Live", client_);
    EXPECT_EQ(OutcomeOf(*provider), kWaiting);
    ASSERT_TRUE(client_->WaitStarted(1));

    // What the fetch had done when the destruction returned.
    auto destroyed = std::async(std::launch::async, [&] {
        provider.reset();
        return client_->finished();
    });
    EXPECT_EQ(destroyed.wait_for(50ms), std::future_status::timeout) << "returned at once";
    client_->Open();
    ASSERT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(destroyed.get(), 1);
}

}  // namespace
}  // namespace morva
