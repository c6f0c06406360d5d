#include "config/server_config_provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/fake_configuration_client.h"
#include "util/utf.h"

namespace morva {
namespace {

using test::FakeConfigurationClient;
using namespace std::chrono_literals;

constexpr const char* kWaiting = "Waiting for server configuration";
constexpr auto kDeadline = 10s;

const ServerConfig kLive{u"Broker-Live.*", 2, u"FLE Standard Time"};
const ServerConfig kAny{u"Broker.*", 0, u"UTC"};
const ServerConfig kLiveUs{u"Broker-Live-US", -5, u"Eastern Standard Time"};

// The pattern of the entry found, or the failure's text.
std::string OutcomeOf(IServerConfigProvider& provider) {
    try {
        return "<ok> " + Utf16ToUtf8(provider.GetServerConfig().namePattern);
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
    const std::tuple<std::vector<ServerConfig>, std::u16string, std::string> cases[] = {
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
    for (const auto& [configs, name, outcome] : cases) {
        client_->SetServerConfigs(configs);
        ServerConfigProvider provider(name, client_);
        EXPECT_EQ(OutcomeOf(provider), outcome) << Utf16ToUtf8(name);
    }
    EXPECT_EQ(client_->started(), static_cast<int>(std::size(cases)))
        << "the provider keeps nothing; the client keeps the document";
}

// A finished fetch is delivered once; the call after it starts another. That callers meanwhile
// share the one fetch, and that a failure is delivered the same way, is PendingResult's, tested
// there; that the client's failures reach InitDLL unchanged, the end-to-end faults run's.
TEST_F(ServerConfigProviderTest, AsyncDeliversEachFinishedFetchOnce) {
    client_->SetServerConfigs({kAny});
    client_->Close();  // before every call, or a fetch could finish before the call looks
    AsyncServerConfigProvider provider(u"Broker-Demo", client_);
    EXPECT_EQ(client_->started(), 0) << "no fetch before the first call";
    for (int fetches = 1; fetches <= 2; ++fetches) {
        EXPECT_EQ(OutcomeOf(provider), kWaiting);
        ASSERT_TRUE(client_->WaitStarted(fetches));
        EXPECT_EQ(OutcomeOf(provider), kWaiting) << "still running";
        client_->Open();
        EXPECT_EQ(OutcomeOfFetch(provider, fetches), "<ok> Broker.*");
        client_->Close();
    }
    EXPECT_EQ(client_->started(), 2);
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
    client_->Open();
    ASSERT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(destroyed.get(), 1);
}

}  // namespace
}  // namespace morva
