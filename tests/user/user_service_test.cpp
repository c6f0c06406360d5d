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
using ::testing::StrEq;
using ::testing::ThrowsMessage;

AccessToken Token(std::optional<std::int32_t> live, std::optional<std::int32_t> demo = {}) {
    AccessToken token{"Bearer", "access", 3600, {}, {}};
    token.jwt.payload.liveCanAccessPremium = live;
    token.jwt.payload.demoCanAccessPremium = demo;
    return token;
}

const HttpHeaders kPremium{{u"X-Can-Access-Premium", u"true"}};

class UserServiceTest : public ::testing::Test {
  protected:
    std::string Log() const { return log_.Messages(); }

    std::shared_ptr<test::FakeHttpClient> http_ = std::make_shared<test::FakeHttpClient>();
    std::shared_ptr<StrataClient> strata_ = std::make_shared<HttpStrataClient>(
        u"api.morva.example", TerminalInfo{u"MORVA-Live", u"1001", u"mt5", u"en"}, http_);
    UserService service_{strata_};
    test::CapturedLog log_{spdlog::level::debug};
};

// A positive live claim is the answer as it stands, asking nobody and needing no instrument. Any
// other claim (the demo claim never counts) has the book API asked; any failure of that question
// is a refusal.
TEST_F(UserServiceTest, APositiveLiveClaimAnswersElseTheBookApiWhereAnyFailureRefuses) {
    EXPECT_EQ(service_.CheckPremium(Token(2), u""), 2);
    EXPECT_TRUE(http_->Requests().empty());
    http_->Enqueue(test::MakeResponse(200, "{}", kPremium));
    http_->Enqueue(test::MakeResponse(200, "{}", kPremium));
    http_->Enqueue(test::MakeResponse(401, R"({"errorMessage":"no"})"));
    http_->EnqueueFailure(MorvaError("Send request failed. Connection refused [7]"));
    http_->EnqueueResponder([](auto&&...) -> HttpResponse { throw 42; });
    EXPECT_EQ(service_.CheckPremium(Token(0), u"EUR_USD"), 1);
    EXPECT_EQ(service_.CheckPremium(Token(std::nullopt, 7), u"EUR_USD"), 1);
    for (const AccessToken& token : {Token(std::nullopt), Token(0), Token(0)}) {
        EXPECT_EQ(service_.CheckPremium(token, u"EUR_USD"), 0);
    }
    EXPECT_EQ(http_->Requests().size(), 5U);
    for (const char* line :
         {"debug|JWT CanAccessPremium: 2\n", "debug|MetaTrader CanAccessPremium: 1\n",
          "debug|MetaTrader CanAccessPremium: 0\n",
          "error|Failed to check premium: Send request failed. Connection refused [7]\n",
          "error|Failed to check premium: Unknown error\n"}) {
        EXPECT_THAT(Log(), HasSubstr(line));
    }
}

// The first call's check runs to its end; later calls only poll it.
TEST_F(UserServiceTest, AsyncServiceAnswersOnceTheFirstCallsCheckHasFinished) {
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    http_->SetResponder([opened](const std::u16string&, const HttpRequest&) {
        opened.wait();
        return test::MakeResponse(200, "{}", kPremium);
    });
    AsyncUserService async(strata_);
    const auto inProgress = ThrowsMessage<MorvaError>(StrEq("Checking premium in progress..."));
    EXPECT_THAT([&] { async.CheckPremium(Token(0), u"EUR_USD"); }, inProgress);
    // Arguments that would answer 9 at once are ignored while the first check runs.
    EXPECT_THAT([&] { async.CheckPremium(Token(9), u"GBP_USD"); }, inProgress);
    gate.set_value();

    // The service tells of a finished check only through the next call, so it is polled.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const auto poll = [&] {
        while (std::chrono::steady_clock::now() < deadline) {
            try {
                return async.CheckPremium(Token(9), u"GBP_USD");
            } catch (const MorvaError&) {
                std::this_thread::yield();
            }
        }
        return -1;
    };
    EXPECT_EQ(poll(), 1);
    ASSERT_EQ(http_->Requests().size(), 1U);
    EXPECT_THAT(Utf16ToUtf8(http_->Requests()[0].request.path), HasSubstr("EUR_USD"));
    // Idle again: the next call starts a check of its own, with its own arguments.
    EXPECT_EQ(poll(), 9);
    EXPECT_EQ(http_->Requests().size(), 1U);
}

}  // namespace
}  // namespace morva
