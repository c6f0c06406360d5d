#include "host/module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "base/morva_error.h"
#include "config/environment_profiles.h"
#include "host/book_exports.h"
#include "host/module_holder.h"
#include "support/captured_log.h"
#include "support/fake_auth_collaborators.h"
#include "support/fake_auth_service.h"
#include "support/fake_configuration_client.h"
#include "support/fake_http_client.h"

namespace morva {
namespace {

using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TerminalInfo Terminal(std::u16string server, std::u16string account = u"1001") {
    return {std::move(server), std::move(account), u"mt5", u"en"};
}

// A holder whose next build fails, as a thread or an allocation that cannot be had would make it.
class FailingModuleHolder : public ModuleHolder {
  public:
    using ModuleHolder::ModuleHolder;
    bool failNext = false;

  protected:
    std::unique_ptr<Module> Build(const EnvironmentProfile& profile,
                                  const TerminalInfo& terminal) override {
        if (std::exchange(failNext, false)) {
            throw MorvaError("no module");
        }
        return ModuleHolder::Build(profile, terminal);
    }
};

class ModuleHolderTest : public ::testing::Test {
  protected:
    FailingModuleHolder holder_{std::make_shared<test::FakeHttpClient>(),
                                std::make_shared<test::FakeAuthCodeProvider>()};
};

// Which names match which environment: environment_profiles_test.cpp.
TEST_F(ModuleHolderTest, ServerNameSelectsTheEnvironment) {
    EXPECT_EQ(holder_.ConfigureModule(Terminal(u"MORVATest-Demo"))->profile().auth.credentialTarget,
              u"MORVA_Orderbook_Staging");
    const auto production = holder_.ConfigureModule(Terminal(u"MORVA-Live"));
    EXPECT_EQ(production->profile().auth.credentialTarget, u"MORVA_Orderbook");
    EXPECT_THAT([&] { holder_.ConfigureModule(Terminal(u"morva-live")); },
                ThrowsMessage<MorvaError>(
                    StrEq("No configuration match for MetaTrader server name: morva-live")));
    EXPECT_EQ(holder_.GetModule(), production) << "a failed match changes nothing";
}

TEST_F(ModuleHolderTest, EqualTextsReuseTheModuleAndOthersReplaceIt) {
    const auto first = holder_.ConfigureModule(Terminal(u"MORVA-Live"));
    EXPECT_EQ(holder_.ConfigureModule(Terminal(u"MORVA-Live")), first);
    EXPECT_NE(holder_.ConfigureModule(Terminal(u"MORVA-Live", u"1002")), first);
    // Callers still holding a replaced module go on using it: the load run's account switches.
    EXPECT_NE(holder_.ConfigureModule(Terminal(u"MORVA-Live")), first)
        << "texts equal to an older module still rebuild";
}

TEST_F(ModuleHolderTest, FailedBuildNeverHandsOutThePreviousAccountsModule) {
    const auto first = holder_.ConfigureModule(Terminal(u"MORVA-Live"));
    holder_.failNext = true;
    EXPECT_THAT([&] { holder_.ConfigureModule(Terminal(u"MORVA-Live", u"1002")); },
                ThrowsMessage<MorvaError>(StrEq("no module")));
    EXPECT_EQ(holder_.GetModule(), first) << "the current module stays current";
    // The next build is of the new account, not a reuse of the current module.
    EXPECT_EQ(holder_.ConfigureModule(Terminal(u"MORVA-Live", u"1002"))->terminal().account,
              u"1002");
}

class ModuleTest : public ::testing::Test {
  protected:
    Module MakeModule(bool asynchronous) {
        EnvironmentProfile profile = EnvironmentProfiles()[1];
        profile.asynchronous = asynchronous;
        return Module(profile, Terminal(u"MORVA-Live"), auth_, nullptr, config_);
    }

    std::shared_ptr<test::FakeAuthService> auth_ = std::make_shared<test::FakeAuthService>();
    std::shared_ptr<test::FakeConfigurationClient> config_ =
        std::make_shared<test::FakeConfigurationClient>();
};

// Waiting for the configuration, and the converter once it is in: library_e2e_test.cpp.
TEST_F(ModuleTest, NoTimeConverterBeforeInitDll) {
    Module module = MakeModule(true);
    EXPECT_THAT([&] { module.GetTimeConverter(); },
                ThrowsMessage<MorvaError>(
                    StrEq("Server time is not known yet: InitDLL has not succeeded")));
}

// A zone the system does not know, or an offset beyond any clock, keeps the converter. The same
// code runs behind the non-blocking provider, which would only add polling here.
TEST_F(ModuleTest, OffsetBeyondAnyClockKeepsTheConverter) {
    config_->SetServerConfigs({{u"MORVA-Live.*", 2, u"E. Europe Standard Time"}});
    Module module = MakeModule(false);
    module.InitTimeConverter();
    const auto kept = module.GetTimeConverter();
    config_->SetServerConfigs({{u"MORVA-Live.*", 2000000000, u"E. Europe Standard Time"}});
    EXPECT_THAT([&] { module.InitTimeConverter(); },
                ThrowsMessage<MorvaError>(StrEq("Server UTC offset out of range: 2000000000")));
    EXPECT_EQ(module.GetTimeConverter(), kept);
}

TEST_F(ModuleTest, NonBlockingModuleWaitsForAuthorizationWithoutBlocking) {
    test::CapturedLog log(spdlog::level::info);
    Module module = MakeModule(true);
    EXPECT_THAT([&] { module.InitCreds(); },
                ThrowsMessage<MorvaError>(StrEq("Waiting for authorization")));
    AccessToken token;
    token.jwt.payload.sub = "morva|100042";
    token.jwt.payload.iss = "https://login.morva.example/";
    auth_->CompleteAsync(token);
    module.InitCreds();
    EXPECT_THAT(log.Messages(),
                HasSubstr("info|Authorized morva|100042 by "
                          "https://login.morva.example/ (canAccessPremium=empty)\n"));
    EXPECT_THAT(log.Messages(),
                HasSubstr("info|Configured for asynchronous (non-blocking) operation\n"));
    EXPECT_EQ(auth_->blockingCalls(), 0);

    Module blocking = MakeModule(false);
    blocking.InitCreds();
    EXPECT_EQ(auth_->blockingCalls(), 1);
    EXPECT_THAT(log.Messages(), HasSubstr("info|Configured for synchronous operation\n"));
}

// -100, -400 and a name cut to fit: library_e2e_test.cpp.
TEST(FormatBookStatus, EveryStatusHasItsText) {
    // The status, what is returned, the text written.
    const std::tuple<std::int32_t, std::int32_t, std::u16string> cases[] = {
        {7, 7, u"untouched"},
        {-200, -200, u"EUR_USD OrderBook is still loading..."},
        {-300, -300, u"EUR_USD OrderBook is waiting for authorization..."},
        {-7, -1, u"EUR_USD OrderBook has not been loaded (-7)"},
    };
    for (const auto& [result, returned, text] : cases) {
        char16_t buffer[180] = u"untouched";
        EXPECT_EQ(FormatBookStatus(result, u"OrderBook", u"EUR_USD", buffer), returned);
        EXPECT_EQ(std::u16string(buffer), text) << result;
    }
}

}  // namespace
}  // namespace morva
