#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "metadata.h"
#include "scenario.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace fake_broker {

struct BrokerSettings {
    std::string claimsOrigin = "https://www.morva.example";
    FileServer fileServer;
    std::string signingSecret = "fake-broker-hs256-secret";
    std::int64_t codeLifetime = 600;
    // Seconds since 1970; a seam so a run can be pinned to one instant.
    std::function<std::int64_t()> now;
};

// Every remote service the library talks to, behind one server: book API, OAuth authorization
// server, configuration host and file server, plus the transport test endpoints.
class Broker {
  public:
    Broker(BrokerSettings settings, Scenario scenario);

    void RegisterService(httplib::Server& server);
    void RegisterControl(httplib::Server& server);

    Scenario CurrentScenario() const;
    void ReplaceScenario(Scenario scenario);

  private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    struct IssuedCode {
        std::string clientId;
        std::string redirectUri;
        std::string scope;
        std::int64_t expiresAt = 0;
    };
    struct IssuedRefreshToken {
        std::string clientId;
        std::string subject;
        std::string scope;
    };

    Handler Recorded(Handler handler);
    std::size_t RecordRequest(const httplib::Request& request);
    void RecordStatus(std::size_t index, int status);

    void ServeBook(const httplib::Request& request, httplib::Response& response);
    void ServeAuthorize(const httplib::Request& request, httplib::Response& response);
    void ServeAuthorizeDecision(const httplib::Request& request, httplib::Response& response);
    void ServeToken(const httplib::Request& request, httplib::Response& response);
    void ServeMetadata(const httplib::Request& request, httplib::Response& response,
                       bool testDocument);
    void ServeFile(const httplib::Request& request, httplib::Response& response);

    // Issues the code and answers with the redirect to the client.
    void RedirectWithCode(const std::string& clientId, const std::string& redirectUri,
                          const std::string& scope, const std::string& state,
                          httplib::Response& response);
    nlohmann::json IssueTokens(const std::string& host, const std::string& clientId,
                               const std::string& subject, const std::string& scope,
                               const std::string& audience, bool withRefreshToken,
                               const std::string& keptRefreshToken);
    bool IsAccessTokenValid(const std::string& token);
    std::int64_t Now() const;

    BrokerSettings settings_;

    mutable std::mutex scenarioMutex_;
    Scenario scenario_;

    std::mutex requestLogMutex_;
    nlohmann::json requestLog_ = nlohmann::json::array();

    std::mutex grantsMutex_;
    std::map<std::string, IssuedCode> codes_;
    std::map<std::string, IssuedRefreshToken> refreshTokens_;
    std::map<std::string, std::int64_t> accessTokenExpiry_;
};

}  // namespace fake_broker
