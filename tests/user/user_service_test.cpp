#include "user/user_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/morva_error.h"
#include "books/http_strata_client.h"
#include "http/http_headers.h"
#include "support/captured_log.h"
#include "support/fake_http_client.h"
#include "user/async_user_service.h"
#include "util/utf.h"

namespace morva {
namespace {

using ::testing::HasSubstr;

AccessToken Token(std::optional<std::int32_t> live, std::optional<std::int32_t> demo = {}) {
    AccessToken token;
    token.tokenType = "Bearer";
    token.token = "access";
    token.jwt.payload.liveCanAccessPremium = live;
    token.jwt.payload.demoCanAccessPremium = demo;
    return token;
}

HttpHeaders PremiumHeader(const char16_t* value) {
    HttpHeaders headers;
    headers.emplace(u"X-Can-Access-Premium", value);
    return headers;
}

template <class Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

class UserServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<test::FakeHttpClient> http_ = std::make_shared<test::FakeHttpClient>();
    std::shared_ptr<StrataClient> strata_ = std::make_shared<HttpStrataClient>(
        u"api.morva.example", TerminalInfo{u"MORVA-Live", u"1001", u"mt5", u"en"}, http_);
    UserService service_{strata_};
    test::CapturedLog log_{spdlog::level::debug};
};

TEST_F(UserServiceTest, PositiveLiveClaimIsReturnedAsIsWithoutAsking) {
    EXPECT_EQ(service_.CheckPremium(Token(1), u"EUR_USD"), 1);
    EXPECT_EQ(service_.CheckPremium(Token(3), u"EUR_USD"), 3);
    EXPECT_EQ(service_.CheckPremium(Token(2), u""), 2) << "the claim needs no instrument";
    EXPECT_EQ(http_->RequestCount(), 0U);
    EXPECT_THAT(log_.Lines(),
                HasSubstr("debug|morva::UserService::CheckPremium|JWT CanAccessPremium: 3\n"));
}

TEST_F(UserServiceTest, OtherClaimsAskTheBookApi) {
    http_->SetResponder([](const std::u16string&, const HttpRequest&) {
        return test::MakeResponse(200, "{}", PremiumHeader(u"true"));
    });
    EXPECT_EQ(service_.CheckPremium(Token(0), u"EUR_USD"), 1);
    EXPECT_EQ(service_.CheckPremium(Token(-5), u"EUR_USD"), 1);
    EXPECT_EQ(service_.CheckPremium(Token(std::nullopt), u"EUR_USD"), 1);
    EXPECT_EQ(service_.CheckPremium(Token(std::nullopt, 7), u"EUR_USD"), 1)
        << "the demo claim is never consulted";
    ASSERT_EQ(http_->RequestCount(), 4U);
    EXPECT_EQ(http_->Requests()[0].request.path.rfind(u"/v3/instruments/EUR_USD/orderBook", 0), 0U);
    EXPECT_THAT(
        log_.Lines(),
        HasSubstr("debug|morva::UserService::CheckPremium|MetaTrader CanAccessPremium: 1\n"));
}

TEST_F(UserServiceTest, EveryFailureOfTheQueryIsARefusal) {
    // 401 without the header: an ordinary refusal.
    http_->Enqueue(test::MakeResponse(401, R"({"errorMessage":"no"})"));
    EXPECT_EQ(service_.CheckPremium(Token(0), u"EUR_USD"), 0);
    EXPECT_THAT(
        log_.Lines(),
        HasSubstr("debug|morva::UserService::CheckPremium|MetaTrader CanAccessPremium: 0\n"));

    http_->EnqueueFailure(MorvaError("Send request failed. Connection refused [7]"));
    EXPECT_EQ(service_.CheckPremium(Token(std::nullopt), u"EUR_USD"), 0);
    EXPECT_THAT(log_.Lines(), HasSubstr("error|morva::UserService::CheckPremium|Failed to check "
                                        "premium: Send request failed. Connection refused [7]\n"));

    EXPECT_EQ(service_.CheckPremium(Token(0), u""), 0);
    EXPECT_THAT(log_.Lines(), HasSubstr("Failed to check premium: Invalid OrderBook request: "
                                        "missing instrument\n"));

    http_->EnqueueResponder(
        [](const std::u16string&, const HttpRequest&) -> HttpResponse { throw 42; });
    EXPECT_EQ(service_.CheckPremium(Token(0), u"EUR_USD"), 0);
    EXPECT_THAT(log_.Lines(), HasSubstr("error|morva::UserService::CheckPremium|Failed to check "
                                        "premium: Unknown error\n"));
    EXPECT_EQ(http_->RequestCount(), 3U) << "the empty instrument is refused before sending";
}

// The first call's check runs to its end; later calls only poll it.
TEST_F(UserServiceTest, AsyncServiceAnswersOnceTheFirstCallsCheckHasFinished) {
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    http_->SetResponder([opened](const std::u16string&, const HttpRequest&) {
        opened.wait();
        return test::MakeResponse(200, "{}", PremiumHeader(u"true"));
    });
    AsyncUserService async(strata_);
    EXPECT_EQ(ErrorOf([&] { async.CheckPremium(Token(0), u"EUR_USD"); }),
              "Checking premium in progress...");
    // Arguments that would answer 9 at once are ignored while the first check runs.
    EXPECT_EQ(ErrorOf([&] { async.CheckPremium(Token(9), u"GBP_USD"); }),
              "Checking premium in progress...");
    gate.set_value();

    std::int32_t result = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (result < 0 && std::chrono::steady_clock::now() < deadline) {
        try {
            result = async.CheckPremium(Token(9), u"GBP_USD");
        } catch (const MorvaError&) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(result, 1);
    ASSERT_EQ(http_->RequestCount(), 1U);
    EXPECT_THAT(Utf16ToUtf8(http_->Requests()[0].request.path), HasSubstr("EUR_USD"));

    // Idle again: the next call starts a check of its own, with its own arguments.
    std::int32_t next = -1;
    while (next < 0 && std::chrono::steady_clock::now() < deadline) {
        try {
            next = async.CheckPremium(Token(9), u"GBP_USD");
        } catch (const MorvaError&) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(next, 9);
    EXPECT_EQ(http_->RequestCount(), 1U);
}

}  // namespace
}  // namespace morva
