#include "auth/code_auth_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/captured_log.h"
#include "support/fake_auth_collaborators.h"
#include "support/fake_clock.h"
#include "support/isolated_credentials.h"

namespace morva {
namespace {

using ::testing::_;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Throw;
using ::testing::ThrowsMessage;
using namespace std::chrono_literals;

AuthConfig Config(const std::u16string& credentialTarget) {
    return {credentialTarget, u"login.morva.example", "CLIENT32",
            u"morva://login.morva.example/metatrader/morva/callback"};
}

const std::string kRedirect = "morva://login.morva.example/metatrader/morva/callback";

// The token endpoint; a grant nobody expected fails the test.
class MockAuthClient : public AuthClient {
  public:
    MOCK_METHOD(AuthTokens, GetAuthTokensByCode,
                (const std::string&, const std::string&, const std::string&), (override));
    MOCK_METHOD(AuthTokens, GetAuthTokensByRefreshToken, (const std::string&), (override));
    MOCK_METHOD(AuthTokens, GetAuthTokensBySecret, (const std::string&, const std::string&),
                (override));
};

// A store that can neither read nor write.
class BrokenCredentialStore final : public CredentialStore {
  public:
    void Write(const std::u16string&, const Credentials&) override {
        throw MorvaError("Write credentials to Credential Manager failed. Access is denied.[5]");
    }
    std::optional<Credentials> Read(const std::u16string&) override {
        throw MorvaError("Failed to read credentials from Credential Manager");
    }
};

// Waits, boundedly, for an authorization the test has let finish; the token lives in the shared
// state, so equal addresses mean one authorization.
const AccessToken& Await(const std::shared_future<AccessToken>& future) {
    if (future.wait_for(20s) != std::future_status::ready) {
        throw std::runtime_error("authorization did not finish");
    }
    return future.get();
}

class CodeAuthServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<test::FakeClock> clock_ = std::make_shared<test::FakeClock>();
    std::shared_ptr<test::FakeAuthCodeProvider> window_ =
        std::make_shared<test::FakeAuthCodeProvider>();
    std::shared_ptr<testing::StrictMock<MockAuthClient>> endpoint_ =
        std::make_shared<testing::StrictMock<MockAuthClient>>();
    test::IsolatedCredentials credentials_;
    const std::u16string target_ = credentials_.Target(u"MORVA_Orderbook");
    std::shared_ptr<CredentialStore> store_ = CreatePlatformCredentialStore();
    test::CapturedLog log_{spdlog::level::debug};
    std::shared_ptr<CodeAuthService> service_ =
        CodeAuthService::Create(Config(target_), window_, endpoint_, store_, clock_);

    // A grant answered with these tokens, expiring, as the real client's do, from the call on.
    auto Grant(std::string refreshToken, std::string accessToken, std::int32_t expiresIn = 3600) {
        return [=, this](const auto&...) {
            AuthTokens tokens;
            tokens.refreshToken = refreshToken;
            tokens.accessToken = {"Bearer",
                                  accessToken,
                                  expiresIn,
                                  clock_->SteadyNow() + std::chrono::seconds(expiresIn),
                                  {}};
            tokens.accessToken.jwt.payload.sub = "auth0|user";
            return tokens;
        };
    }
    // The next authorization fails with exactly `text`.
    void ExpectNextFails(const std::string& text) {
        EXPECT_THAT([this] { Await(service_->GetAccessTokenAsync()); },
                    ThrowsMessage<std::exception>(text));
    }
};

TEST_F(CodeAuthServiceTest, ConcurrentCallersAndPollsShareExactlyOneAuthorization) {
    window_->Close();
    window_->AnswerCode(u"c0de");
    std::string verifier;  // one window, one exchange
    EXPECT_CALL(*endpoint_, GetAuthTokensByCode(kRedirect, "c0de", _))
        .WillOnce(testing::DoAll(testing::SaveArg<2>(&verifier), Grant("r-1", "access-1")));
    std::vector<std::shared_future<AccessToken>> futures(8);
    std::vector<std::thread> callers;
    for (auto& future : futures) {
        callers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                future = service_->GetAccessTokenAsync();
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    ASSERT_TRUE(window_->WaitStarted(1));
    futures.push_back(service_->GetAccessTokenAsync());  // a poll while the window is open
    EXPECT_EQ(futures.back().wait_for(0s), std::future_status::timeout);
    window_->Open();

    EXPECT_EQ(Await(futures[0]).token, "access-1");
    for (const auto& future : futures) {
        EXPECT_EQ(&Await(future), &Await(futures[0]));  // one shared state
    }
    // The code is exchanged with the verifier of the challenge the window asked with.
    const auto requests = window_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].codeChallenge, CodeChallengeOf(verifier));
    const auto stored = store_->Read(target_);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->userName, u"auth0|user");
    EXPECT_EQ(stored->secret, u"r-1");
    EXPECT_THAT(log_.Lines(), HasSubstr("|Successfully received access token using auth code\n"));
}

TEST_F(CodeAuthServiceTest, CachedTokenIsRenewedThirtySecondsBeforeExpiry) {
    store_->Write(target_, {u"auth0|user", u"r-stored"});
    EXPECT_CALL(*endpoint_, GetAuthTokensByRefreshToken("r-stored"))
        .WillOnce(Grant("r-2", "access-1"));
    // Renewal goes through the refresh token stored by the first authorization.
    EXPECT_CALL(*endpoint_, GetAuthTokensByRefreshToken("r-2")).WillOnce(Grant("r-3", "access-2"));
    const auto first = service_->GetAccessTokenAsync();  // obtained at T
    EXPECT_EQ(Await(first).token, "access-1");

    clock_->Advance(3569s);
    EXPECT_EQ(&Await(service_->GetAccessTokenAsync()), &Await(first));

    clock_->Advance(1s);  // T + 3570 s: within the margin
    const auto renewed = service_->GetAccessTokenAsync();
    EXPECT_EQ(Await(renewed).token, "access-2");
    EXPECT_EQ(store_->Read(target_)->secret, u"r-3");
}

// A renewal that fails for the network or the server's sake says nothing about the stored token:
// no window, the token kept, and the next attempt after the short pause uses it again. Only a
// refusal of the token opens the window.
TEST_F(CodeAuthServiceTest, AFailedRenewalRetriesAfterThePauseAndOnlyARefusalOpensTheWindow) {
    store_->Write(target_, {u"auth0|user", u"r-stored"});
    const std::string failure = "Get auth tokens by refresh token failed (HTTP 503): busy";
    EXPECT_CALL(*endpoint_, GetAuthTokensByRefreshToken("r-stored"))
        .WillOnce(Throw(MorvaError("%s", failure)))
        .WillOnce(Throw(GrantRefusedError(
            "Get auth tokens by refresh token failed (HTTP 400): invalid_grant")));
    ExpectNextFails(failure);
    ExpectNextFails(failure + " (next sign-in attempt in 30 s)");
    clock_->Advance(29s);
    ExpectNextFails(failure + " (next sign-in attempt in 1 s)");
    EXPECT_EQ(window_->started(), 0);
    EXPECT_EQ(store_->Read(target_)->secret, u"r-stored");

    clock_->Advance(1s);
    EXPECT_CALL(*endpoint_, GetAuthTokensByCode(_, "c0de", _)).WillOnce(Grant("r-fresh", "a"));
    window_->AnswerCode(u"c0de");
    EXPECT_EQ(service_->GetAccessToken().token, "a");
    EXPECT_EQ(window_->started(), 1);
    EXPECT_EQ(store_->Read(target_)->secret, u"r-fresh");
    EXPECT_THAT(log_.Lines(),
                HasSubstr("|Failed to get access token by refresh token: Get auth "
                          "tokens by refresh token failed (HTTP 400): invalid_grant\n"));
}

// The window does not chase a user who closed it, but comes back after the long pause.
TEST_F(CodeAuthServiceTest, AClosedWindowIsReopenedAfterThePause) {
    window_->AnswerCode(u"");
    const std::string failure =
        "Authorization code not received. Window closed without successful sign-in.";
    ExpectNextFails(failure);

    clock_->Advance(CodeAuthService::kPauseAfterClosedWindow - 1s);
    ExpectNextFails(failure + " (next sign-in attempt in 1 s)");
    EXPECT_EQ(window_->started(), 1);
    EXPECT_THAT(log_.Lines(), HasSubstr("|Authorization failed: " + failure + "\n"));

    clock_->Advance(1s);
    window_->AnswerCode(u"c0de");
    EXPECT_CALL(*endpoint_, GetAuthTokensByCode(_, "c0de", _)).WillOnce(Grant("r", "a"));
    EXPECT_EQ(Await(service_->GetAccessTokenAsync()).token, "a");
    EXPECT_EQ(window_->started(), 2);
}

TEST_F(CodeAuthServiceTest, FailingCredentialStoreNeverStopsASignIn) {
    service_ = CodeAuthService::Create(Config(target_), window_, endpoint_,
                                       std::make_shared<BrokenCredentialStore>(), clock_);
    window_->AnswerCode(u"c0de");
    EXPECT_CALL(*endpoint_, GetAuthTokensByCode(_, "c0de", _)).WillOnce(Grant("r", "a"));
    EXPECT_EQ(Await(service_->GetAccessTokenAsync()).token, "a");
    EXPECT_THAT(log_.Lines(), HasSubstr("|Failed to load refresh token from Credential Manager: "
                                        "Failed to read credentials from Credential Manager\n"));
    EXPECT_THAT(log_.Lines(),
                HasSubstr("|Failed to save credentials to Credential Manager: Write credentials"));
}

TEST_F(CodeAuthServiceTest, TokensNeverReachTheLog) {
    store_->Write(target_, {u"auth0|user", u"r-secret-stored"});
    EXPECT_CALL(*endpoint_, GetAuthTokensByRefreshToken("r-secret-stored"))
        .WillOnce(Throw(GrantRefusedError("refused")));
    EXPECT_CALL(*endpoint_, GetAuthTokensByCode(_, "code-secret", _))
        .WillOnce(Grant("r-secret-new", "access-1", 30));
    EXPECT_CALL(*endpoint_, GetAuthTokensByRefreshToken("r-secret-new"))
        .WillOnce(Grant("r-secret-newer", "access-2", 30));
    EXPECT_CALL(*endpoint_, GetAuthTokensByRefreshToken("r-secret-newer"))
        .WillOnce(Throw(MorvaError("unavailable")));
    window_->AnswerCode(u"code-secret");
    Await(service_->GetAccessTokenAsync());
    Await(service_->GetAccessTokenAsync());
    // Another sign-in starts; its thread logs, so it must end before the captured log goes away.
    service_->GetAccessTokenAsync().wait_for(20s);

    const std::string lines = log_.Lines();
    EXPECT_THAT(lines, HasSubstr("Using refresh token from Credential Manager"));
    for (const char* secret : {"secret", "access-"}) {
        EXPECT_THAT(lines, Not(HasSubstr(secret)));
    }
}

TEST_F(CodeAuthServiceTest, ReleasingTheServiceNeverWaitsForTheWindow) {
    window_->Close();
    window_->AnswerCode(u"c0de");
    EXPECT_CALL(*endpoint_, GetAuthTokensByCode(_, "c0de", _)).WillOnce(Grant("r", "a"));
    const auto pending = service_->GetAccessTokenAsync();
    ASSERT_TRUE(window_->WaitStarted(1));

    std::weak_ptr<CodeAuthService> watcher = service_;
    service_.reset();                 // returns while the window is still open
    EXPECT_FALSE(watcher.expired());  // the sign-in keeps what it needs
    window_->Open();
    EXPECT_EQ(Await(pending).token, "a");
}

}  // namespace
}  // namespace morva
