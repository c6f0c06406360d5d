#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
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

    // The port the HTTPS side listens on, which the metadata documents name as the file server's.
    void SetServicePort(int port);

    // Ends every connection held silent by a fault now; when closing, later ones are not held.
    void ReleaseHolds(bool closing);

  private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    struct IssuedCode {
        std::string clientId;
        std::string redirectUri;
        std::string scope;
        std::string codeChallenge;  // S256; the exchange must bring its verifier
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

    // What one book request meets: extra latency and, at the scenario's fault rate, a failure.
    struct Fate {
        int extraLatencyMs = 0;
        std::optional<Fault> fault;
        std::optional<int> status;
    };
    Fate DrawFate(const BooksScenario& books);
    // Waits, unless the holds are released first; true when they were.
    bool Hold(int milliseconds);
    void SendFaultyBody(const httplib::Request& request, httplib::Response& response,
                        std::string body, Fault fault, int holdMs);
    // The whole body promised by Content-Length, sent evenly over `totalMs`.
    void SendTrickle(httplib::Response& response, std::string body, const char* contentType,
                     int totalMs);
    // `head`, then `repeated` again and again until the client or the broker hangs up.
    void SendEndless(httplib::Response& response, std::string head, std::string repeated);

    void ServeBook(const httplib::Request& request, httplib::Response& response);
    void ServeAuthorize(const httplib::Request& request, httplib::Response& response);
    void ServeAuthorizeDecision(const httplib::Request& request, httplib::Response& response);
    void ServeToken(const httplib::Request& request, httplib::Response& response);
    void ServeMetadata(const httplib::Request& request, httplib::Response& response,
                       bool testDocument);
    void ServeFile(const httplib::Request& request, httplib::Response& response);
    void ServeFromTree(const std::string& tree, std::string_view path, const char* contentType,
                       httplib::Response& response);

    // Issues the code and answers with the redirect to the client.
    void RedirectWithCode(const std::string& clientId, const std::string& redirectUri,
                          const std::string& scope, const std::string& state,
                          const std::string& codeChallenge, httplib::Response& response);
    nlohmann::json IssueTokens(const std::string& host, const std::string& clientId,
                               const std::string& subject, const std::string& scope,
                               const std::string& audience, bool withRefreshToken,
                               const std::string& keptRefreshToken);
    bool IsAccessTokenValid(const std::string& token);
    std::int64_t Now() const;
    FileServer CurrentFileServer() const;

    BrokerSettings settings_;

    mutable std::mutex scenarioMutex_;
    Scenario scenario_;

    std::mutex randomMutex_;
    std::mt19937_64 random_;

    std::mutex holdMutex_;
    std::condition_variable holdReleased_;
    std::uint64_t holdGeneration_ = 0;
    bool closing_ = false;

    std::mutex requestLogMutex_;
    nlohmann::json requestLog_ = nlohmann::json::array();

    std::mutex grantsMutex_;
    std::map<std::string, IssuedCode> codes_;
    std::map<std::string, IssuedRefreshToken> refreshTokens_;
    std::map<std::string, std::int64_t> accessTokenExpiry_;
};

}  // namespace fake_broker
