#include "config/server_config_provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/morva_error.h"
#include "support/fake_configuration_client.h"

namespace morva {
namespace {

using test::FakeConfigurationClient;
using namespace std::chrono_literals;

constexpr const char* kWaiting = "Waiting for server configuration";
constexpr auto kDeadline = 10s;

const ServerConfig kLive{u"Broker-Live.*", 2, u"FLE Standard Time"};
const ServerConfig kAny{u"Broker.*", 0, u"UTC"};
const ServerConfig kLiveUs{u"Broker-Live-US", -5, u"Eastern Standard Time"};

std::string ErrorText(IServerConfigProvider& provider) {
    try {
        provider.GetServerConfig();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<no exception>";
}

// Calls until the answer is no longer "Waiting for server configuration", as the indicator polls;
// the text of a failure, or "<ok>" with the result stored.
std::string PollUntilFinished(IServerConfigProvider& provider, ServerConfig* result = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            const ServerConfig config = provider.GetServerConfig();
            if (result != nullptr) {
                *result = config;
            }
            return "<ok>";
        } catch (const MorvaError& error) {
            if (std::string(error.what()) != kWaiting) {
                return error.what();
            }
        } catch (const std::exception& error) {
            return error.what();
        }
        std::this_thread::sleep_for(1ms);
    }
    return "<still waiting>";
}

class ServerConfigProviderTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeConfigurationClient> client_ = std::make_shared<FakeConfigurationClient>();
};

TEST_F(ServerConfigProviderTest, TheFirstMatchingEntryWinsOverALaterSpecificOne) {
    client_->SetServerConfigs({kLive, kAny, kLiveUs});
    ServerConfigProvider provider(u"Broker-Live-US", client_);
    EXPECT_EQ(provider.GetServerConfig(), kLive);

    client_->SetServerConfigs({kLiveUs, kLive, kAny});
    EXPECT_EQ(provider.GetServerConfig(), kLiveUs);
    EXPECT_EQ(client_->calls(), 2) << "the provider keeps nothing; the client keeps the document";
}

TEST_F(ServerConfigProviderTest, APatternMustMatchTheWholeNameInItsLetterCase) {
    client_->SetServerConfigs({{u"Broker", 1, u"UTC"},
                               {u"broker-live.*", 2, u"UTC"},
                               {u"Live.*", 3, u"UTC"},
                               {u"Broker-L(iv|ov)e\\d*", 4, u"UTC"}});
    EXPECT_EQ(ServerConfigProvider(u"Broker-Live3", client_).GetServerConfig().utcOffset, 4);
    EXPECT_EQ(ErrorText(*std::make_unique<ServerConfigProvider>(u"Broker-Live3x", client_)),
              "No configuration match for MetaTrader server: Broker-Live3x");
}

TEST_F(ServerConfigProviderTest, NoMatchAndAnEmptyListNameTheServer) {
    ServerConfigProvider provider(u"Broker-Demo", client_);
    EXPECT_EQ(ErrorText(provider), "No configuration match for MetaTrader server: Broker-Demo");
    client_->SetServerConfigs({kLive, kLiveUs});
    EXPECT_EQ(ErrorText(provider), "No configuration match for MetaTrader server: Broker-Demo");
}

TEST_F(ServerConfigProviderTest, AnInvalidPatternEndsTheCallEvenBeforeAMatch) {
    client_->SetServerConfigs({{u"Broker-(Live", 1, u"UTC"}, kAny});
    ServerConfigProvider provider(u"Broker-Live", client_);
    EXPECT_EQ(ErrorText(provider),
              "Malformed server name pattern (unmatched '(' at offset 7): Broker-(Live");

    // A bad pattern after the match is never compiled.
    client_->SetServerConfigs({kAny, {u"Broker-(Live", 1, u"UTC"}});
    EXPECT_EQ(provider.GetServerConfig(), kAny);
}

// The document is remote: no pattern in it may hang or crash the lookup.
TEST_F(ServerConfigProviderTest, HostilePatternsCannotHoldUpTheLookup) {
    const std::u16string nested = std::u16string(30'000, u'(') + std::u16string(30'000, u')');
    const std::u16string backtracking = u"(.|.|.|.)*Z";
    struct Case {
        std::u16string pattern;
        std::u16string name;
        std::string outcome;
    };
    const Case cases[] = {
        {backtracking, u"Broker-Live-Server-03", "<ok> Broker.*"},
        {backtracking, u"Broker-Live-Server-0Z", "<ok> (.|.|.|.)*Z"},
        {u"(a*)*b", u"Broker-" + std::u16string(240, u'a'), "<ok> Broker.*"},
        {nested, u"Broker-Live",
         "Unsupported server name pattern (longer than 1024 units): " + std::string(120, '(') +
             "..."},
        {u"Broker-(?=Live).*", u"Broker-Live",
         "Unsupported server name pattern (lookahead at offset 7): Broker-(?=Live).*"},
    };
    for (const Case& c : cases) {
        client_->SetServerConfigs({{c.pattern, 1, u"UTC"}, kAny});
        std::string outcome;
        try {
            const ServerConfig config = ServerConfigProvider(c.name, client_).GetServerConfig();
            outcome = "<ok> " + std::string(config.namePattern.begin(), config.namePattern.end());
        } catch (const std::exception& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome) << std::string(c.pattern.begin(), c.pattern.end());
    }
}

TEST_F(ServerConfigProviderTest, NonAsciiNamesMatch) {
    client_->SetServerConfigs({{u"Br\u00F6ker-.\\d", 1, u"UTC"}});
    EXPECT_EQ(ServerConfigProvider(u"Br\u00F6ker-\u0416"
                                   u"7",
                                   client_)
                  .GetServerConfig()
                  .utcOffset,
              1);
}

TEST_F(ServerConfigProviderTest, ClientFailuresPassThroughUnchanged) {
    client_->Fail(
        std::make_exception_ptr(MorvaError("Failed to get orderbook metadata [HttpStatus: 500]")));
    ServerConfigProvider provider(u"Broker-Live", client_);
    EXPECT_EQ(ErrorText(provider), "Failed to get orderbook metadata [HttpStatus: 500]");
}

TEST_F(ServerConfigProviderTest, AsyncDeliversEachFinishedFetchOnce) {
    client_->SetServerConfigs({kAny});
    client_->Close();
    AsyncServerConfigProvider provider(u"Broker-Live", client_);
    EXPECT_EQ(client_->calls(), 0) << "no fetch before the first call";

    EXPECT_EQ(ErrorText(provider), kWaiting);
    ASSERT_TRUE(client_->WaitStarted(1));
    EXPECT_EQ(ErrorText(provider), kWaiting) << "still running";
    client_->Open();

    ServerConfig config;
    EXPECT_EQ(PollUntilFinished(provider, &config), "<ok>");
    EXPECT_EQ(config, kAny);
    EXPECT_EQ(client_->calls(), 1);

    // Delivered: the next call starts another fetch and waits for it.
    client_->Close();
    EXPECT_EQ(ErrorText(provider), kWaiting);
    ASSERT_TRUE(client_->WaitStarted(2));
    client_->Open();
    EXPECT_EQ(PollUntilFinished(provider), "<ok>");
    EXPECT_EQ(client_->calls(), 2);
}

TEST_F(ServerConfigProviderTest, AsyncReportsNoMatchOnceThenStartsOver) {
    client_->SetServerConfigs({kLive});
    client_->Close();
    AsyncServerConfigProvider provider(u"Other-Server", client_);
    EXPECT_EQ(ErrorText(provider), kWaiting);
    client_->Open();
    EXPECT_EQ(PollUntilFinished(provider),
              "No configuration match for MetaTrader server: Other-Server");

    client_->Close();
    EXPECT_EQ(ErrorText(provider), kWaiting) << "the failure was reported; a new fetch starts";
    ASSERT_TRUE(client_->WaitStarted(2));
    client_->Open();
    EXPECT_EQ(PollUntilFinished(provider),
              "No configuration match for MetaTrader server: Other-Server");
}

TEST_F(ServerConfigProviderTest, AsyncCallersShareOneFetch) {
    client_->SetServerConfigs({kAny});
    client_->Close();
    AsyncServerConfigProvider provider(u"Broker-Live", client_);
    std::vector<std::future<std::string>> callers;
    for (int i = 0; i < 4; ++i) {
        callers.push_back(std::async(std::launch::async, [&] { return ErrorText(provider); }));
    }
    for (auto& caller : callers) {
        EXPECT_EQ(caller.get(), kWaiting);
    }
    ASSERT_TRUE(client_->WaitStarted(1));
    client_->Open();
    ASSERT_TRUE(client_->WaitFinished(1));
    EXPECT_EQ(PollUntilFinished(provider), "<ok>");
    EXPECT_EQ(client_->calls(), 1);
}

TEST_F(ServerConfigProviderTest, DestroyingTheAsyncProviderWaitsForItsFetch) {
    client_->SetServerConfigs({kAny});
    client_->Close();
    auto provider = std::make_unique<AsyncServerConfigProvider>(u"Broker-Live", client_);
    EXPECT_EQ(ErrorText(*provider), kWaiting);
    ASSERT_TRUE(client_->WaitStarted(1));

    auto destroyed = std::async(std::launch::async, [&] { provider.reset(); });
    EXPECT_EQ(destroyed.wait_for(50ms), std::future_status::timeout);
    client_->Open();
    EXPECT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(client_->finishedCalls(), 1);
}

}  // namespace
}  // namespace morva
