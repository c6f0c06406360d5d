#include "broker.h"

#include <httplib.h>
#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include "book.h"
#include "connection_reset.h"
#include "jwt.h"
#include "pkce.h"
#include "url.h"

namespace fake_broker {
namespace {

using nlohmann::json;

constexpr const char* kJson = "application/json";
constexpr const char* kOctets = "application/octet-stream";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr long kMaxSlowMs = 60'000;
constexpr long long kMaxBytes = 256LL * 1024 * 1024;
// An "endless" answer: more than the library reads of any book (32 MiB) or test answer.
constexpr std::size_t kEndlessBytes = 40 * 1024 * 1024;

std::string Dump(const json& value) {
    // Logged bodies may be binary; replace rather than throw on invalid UTF-8.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void SendJson(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_content(Dump(body), kJson);
}

void SendErrorMessage(httplib::Response& response, int status, const std::string& message) {
    SendJson(response, status, {{"errorMessage", message}});
}

void SendOAuthError(httplib::Response& response, int status, const std::string& error,
                    const std::string& description) {
    response.set_header("Cache-Control", "no-store");
    SendJson(response, status, {{"error", error}, {"error_description", description}});
}

void Pause(int milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

std::string RandomToken(std::size_t bytes) {
    std::string buffer(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(buffer.data()), static_cast<int>(bytes)) != 1) {
        throw std::runtime_error("RAND_bytes failed");
    }
    return Base64UrlEncode(buffer);
}

bool Contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

std::optional<long long> ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoll(text);
}

std::string DefaultStatusMessage(int status) {
    switch (status) {
        case 429:
            return "Rate limit violation. Too many requests";
        case 500:
            return "Internal server error";
        case 502:
            return "Bad gateway";
        case 503:
            return "Service unavailable";
        default:
            return "status " + std::to_string(status);
    }
}

std::string AuthorizePage(const std::map<std::string, std::string>& fields) {
    std::string hidden;
    for (const auto& [name, value] : fields) {
        hidden += "<input type=\"hidden\" name=\"" + HtmlEscape(name) + "\" value=\"" +
                  HtmlEscape(value) + "\">\n";
    }
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<title>MORVA sign-in</title></head>\n<body style=\"font-family:sans-serif;"
           "max-width:360px;margin:60px auto\">\n<h1>Sign in to MORVA</h1>\n"
           "<form id=\"sign-in-form\" method=\"post\" action=\"/authorize/decision\">\n" +
           hidden +
           "<p><label>User <input id=\"username\" name=\"username\" value=\"trader\"></label></p>\n"
           "<p><label>Password <input id=\"password\" name=\"password\" type=\"password\" "
           "value=\"secret\"></label></p>\n"
           "<p><button id=\"sign-in\" type=\"submit\" name=\"decision\" value=\"allow\">Sign in"
           "</button> <button id=\"deny\" type=\"submit\" name=\"decision\" value=\"deny\">Cancel"
           "</button></p>\n</form>\n</body></html>\n";
}

// The OAuth error a request without an S256 code challenge gets, or none (RFC 7636, 4.4.1).
QueryParameters ChallengeError(const std::string& challenge, const std::string& method) {
    if (challenge.empty() || method != "S256") {
        return {
            {"error", "invalid_request"},
            {"error_description", "code_challenge with code_challenge_method=S256 is required"}};
    }
    return {};
}

// An error redirect, carrying the request's state back as OAuth requires.
void RedirectWithError(const std::string& redirectUri, QueryParameters error,
                       const std::string& state, httplib::Response& response) {
    if (!state.empty()) {
        error.emplace_back("state", state);
    }
    response.set_redirect(AppendQuery(redirectUri, error), 302);
}

}  // namespace

Broker::Broker(BrokerSettings settings, Scenario scenario)
    : settings_(std::move(settings)),
      scenario_(std::move(scenario)),
      random_(static_cast<std::uint64_t>(scenario_.books.seed)) {}

Scenario Broker::CurrentScenario() const {
    const std::lock_guard lock(scenarioMutex_);
    return scenario_;
}

void Broker::ReplaceScenario(Scenario scenario) {
    const std::lock_guard lock(scenarioMutex_);
    {
        // A new scenario starts its random draws afresh, so a run with a seed repeats.
        const std::lock_guard randomLock(randomMutex_);
        random_.seed(static_cast<std::uint64_t>(scenario.books.seed));
    }
    scenario_ = std::move(scenario);
}

void Broker::SetServicePort(int port) {
    const std::lock_guard lock(scenarioMutex_);
    settings_.fileServer.port = port;
}

FileServer Broker::CurrentFileServer() const {
    const std::lock_guard lock(scenarioMutex_);
    return settings_.fileServer;
}

void Broker::ReleaseHolds(bool closing) {
    {
        const std::lock_guard lock(holdMutex_);
        ++holdGeneration_;
        closing_ = closing_ || closing;
    }
    holdReleased_.notify_all();
}

bool Broker::Hold(int milliseconds) {
    std::unique_lock lock(holdMutex_);
    const std::uint64_t generation = holdGeneration_;
    return holdReleased_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [&] { return closing_ || holdGeneration_ != generation; });
}

void Broker::SendTrickle(httplib::Response& response, std::string body, const char* contentType,
                         int totalMs) {
    using Clock = std::chrono::steady_clock;
    auto shared = std::make_shared<const std::string>(std::move(body));
    const auto start = std::make_shared<const Clock::time_point>(Clock::now());
    const auto total = std::chrono::milliseconds(std::max(totalMs, 1));
    response.set_content_provider(
        shared->size(), contentType,
        [this, shared, start, total](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            const auto size = static_cast<long double>(shared->size());
            for (;;) {
                const auto elapsed = Clock::now() - *start;
                const auto due = static_cast<std::size_t>(std::min<long double>(
                    size, size * static_cast<long double>(elapsed.count()) /
                              static_cast<long double>(
                                  std::chrono::duration_cast<Clock::duration>(total).count())));
                if (due > offset) {
                    return sink.write(shared->data() + offset, due - offset);
                }
                // Wakes a little after the next byte falls due; never busy.
                const auto next = std::chrono::duration_cast<std::chrono::milliseconds>(
                    total * static_cast<long double>(offset + 1) / size - elapsed);
                if (Hold(static_cast<int>(std::clamp<long long>(next.count() + 1, 1, 1000)))) {
                    return false;
                }
            }
        });
}

void Broker::SendEndless(httplib::Response& response, std::string head, std::string repeated) {
    auto block = std::make_shared<std::string>();
    while (block->size() < 64 * 1024) {
        *block += repeated;
    }
    auto first = std::make_shared<const std::string>(std::move(head));
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(holdMutex_);
        generation = holdGeneration_;
    }
    response.set_chunked_content_provider(
        kJson, [this, block, first, generation](std::size_t offset, httplib::DataSink& sink) {
            {
                // Ends like a held connection when the holds are released.
                const std::lock_guard lock(holdMutex_);
                if (closing_ || holdGeneration_ != generation) {
                    return false;
                }
            }
            if (offset == 0 && !sink.write(first->data(), first->size())) {
                return false;
            }
            // Past every limit the library sets on what it reads, then cut off: WinInet (under
            // Wine at least) reads the rest of an answer it was closed early on, to reuse the
            // connection, and a truly endless one would hold the client's thread for good.
            if (offset >= kEndlessBytes) {
                return false;
            }
            return sink.write(block->data(), block->size());
        });
}

Broker::Fate Broker::DrawFate(const BooksScenario& books) {
    Fate fate;
    if (books.latencyJitterMs == 0 && books.faultRate == 0.0) {
        return fate;
    }
    const std::lock_guard lock(randomMutex_);
    if (books.latencyJitterMs > 0) {
        fate.extraLatencyMs = std::uniform_int_distribution<int>(0, books.latencyJitterMs)(random_);
    }
    if (books.faultRate > 0.0 &&
        std::uniform_real_distribution<double>()(random_) < books.faultRate) {
        switch (std::uniform_int_distribution<int>(0, 4)(random_)) {
            case 0:
                fate.status = 503;
                break;
            case 1:
                fate.status = 429;
                break;
            case 2:
                fate.status = 500;
                break;
            case 3:
                fate.fault = Fault::Truncate;
                break;
            default:
                fate.fault = Fault::Reset;
                break;
        }
    }
    return fate;
}

void Broker::SendFaultyBody(const httplib::Request& request, httplib::Response& response,
                            std::string body, Fault fault, int holdMs) {
    const int localPort = request.local_port;
    const int remotePort = request.remote_port;
    auto shared = std::make_shared<const std::string>(std::move(body));
    // The headers promise the whole body; half of it goes out before the fault strikes.
    response.set_content_provider(
        shared->size(), kJson,
        [this, shared, fault, holdMs, localPort, remotePort](std::size_t offset, std::size_t,
                                                             httplib::DataSink& sink) {
            const std::size_t half = shared->size() / 2;
            if (offset < half && !sink.write(shared->data() + offset, half - offset)) {
                return false;
            }
            if (fault == Fault::Stall) {
                Hold(holdMs);
            } else if (fault == Fault::Reset) {
                // Let the first half reach the client before the reset overtakes it.
                Pause(100);
                ResetConnection(localPort, remotePort);
            }
            return false;  // httplib drops the connection without sending the rest
        });
}

std::int64_t Broker::Now() const {
    if (settings_.now) {
        return settings_.now();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::size_t Broker::RecordRequest(const httplib::Request& request) {
    json headers = json::object();
    for (const auto& [name, value] : request.headers) {
        // httplib files the socket addresses among the headers; they never crossed the wire.
        if (name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" ||
            name == "REMOTE_PORT") {
            continue;
        }
        auto& slot = headers[name];
        slot = slot.is_null() ? json(value) : json(slot.get<std::string>() + ", " + value);
    }
    json entry = {
        {"time", Now()},
        {"method", request.method},
        {"host", request.get_header_value("Host")},
        {"path", request.target},
        {"headers", std::move(headers)},
        {"body", request.body},
        {"status", nullptr},
    };
    std::fprintf(stderr, "fake-broker: %s %s%s\n", request.method.c_str(),
                 request.get_header_value("Host").c_str(), request.target.c_str());
    const std::lock_guard lock(requestLogMutex_);
    requestLog_.push_back(std::move(entry));
    return requestLog_.size() - 1;
}

void Broker::RecordStatus(std::size_t index, int status) {
    const std::lock_guard lock(requestLogMutex_);
    // The log may have been cleared while the request ran.
    if (index < requestLog_.size()) {
        requestLog_[index]["status"] = status;
    }
}

Broker::Handler Broker::Recorded(Handler handler) {
    return [this, handler = std::move(handler)](const httplib::Request& request,
                                                httplib::Response& response) {
        const std::size_t index = RecordRequest(request);
        handler(request, response);
        RecordStatus(index, response.status);
    };
}

void Broker::RegisterService(httplib::Server& server) {
    server.Get(R"(/v3/instruments/(.+)/(orderBook|positionBook))",
               Recorded([this](const auto& rq, auto& rs) { ServeBook(rq, rs); }));

    server.Get("/authorize",
               Recorded([this](const auto& rq, auto& rs) { ServeAuthorize(rq, rs); }));
    server.Post("/authorize/decision",
                Recorded([this](const auto& rq, auto& rs) { ServeAuthorizeDecision(rq, rs); }));
    server.Post("/oauth/token", Recorded([this](const auto& rq, auto& rs) { ServeToken(rq, rs); }));

    server.Get(std::string(kProductionMetadataPath),
               Recorded([this](const auto& rq, auto& rs) { ServeMetadata(rq, rs, false); }));
    server.Get(std::string(kTestMetadataPath),
               Recorded([this](const auto& rq, auto& rs) { ServeMetadata(rq, rs, true); }));

    server.Get("/test/headers", Recorded([](const httplib::Request&, httplib::Response& rs) {
                   // httplib writes "name: value"; these values make the exact lines.
                   rs.set_header("X-Case", "first");
                   rs.set_header("x-case", "second");
                   rs.set_header("X-Empty", "");
                   rs.set_header("X-Spaces", " \tvalue ");
                   rs.set_content("ok", "text/plain");
               }));
    server.Get(R"(/test/status/(\d{1,3}))",
               Recorded([](const httplib::Request& rq, httplib::Response& rs) {
                   const int status = std::stoi(rq.matches[1].str());
                   if (status < 200 || status > 599) {
                       SendErrorMessage(rs, 400, "status must be from 200 to 599");
                       return;
                   }
                   rs.status = status;
                   // These statuses carry no body on the wire.
                   if (status != 204 && status != 304) {
                       rs.set_content(
                           "{\"errorMessage\":\"status " + std::to_string(status) + "\"}", kJson);
                   }
               }));
    server.Get("/test/empty",
               Recorded([](const httplib::Request&, httplib::Response& rs) { rs.status = 200; }));
    server.Get("/test/bytes", Recorded([](const httplib::Request& rq, httplib::Response& rs) {
                   const auto size = ParseCount(rq.get_param_value("size"));
                   if (!size || *size > kMaxBytes) {
                       SendErrorMessage(rs, 400, "size must be a count of bytes up to 256 MiB");
                       return;
                   }
                   auto body = std::make_shared<std::string>(static_cast<std::size_t>(*size), '\0');
                   for (std::size_t i = 0; i < body->size(); ++i) {
                       (*body)[i] = static_cast<char>((i * 31 + 7) % 251);
                   }
                   if (rq.get_param_value("chunked") != "1") {
                       rs.set_content(*body, kOctets);
                       return;
                   }
                   // No Content-Length: the client learns the size only at the end.
                   rs.set_chunked_content_provider(
                       kOctets, [body](std::size_t offset, httplib::DataSink& sink) {
                           const std::size_t piece =
                               std::min<std::size_t>(body->size() - offset, 64 * 1024);
                           if (piece > 0 && !sink.write(body->data() + offset, piece)) {
                               return false;
                           }
                           if (offset + piece == body->size()) {
                               sink.done();
                           }
                           return true;
                       });
               }));
    server.Get("/test/endless", Recorded([this](const httplib::Request&, httplib::Response& rs) {
                   SendEndless(rs, "", "0123456789abcdef");
               }));
    server.Get("/test/trickle", Recorded([this](const httplib::Request& rq, httplib::Response& rs) {
                   const auto size = ParseCount(rq.get_param_value("size"));
                   const auto ms = ParseCount(rq.get_param_value("ms"));
                   if (!size || *size == 0 || *size > kMaxBytes || !ms || *ms > kMaxSlowMs) {
                       SendErrorMessage(rs, 400, "size must be 1 to 256 MiB, ms up to 60000");
                       return;
                   }
                   SendTrickle(rs, std::string(static_cast<std::size_t>(*size), 't'), kOctets,
                               static_cast<int>(*ms));
               }));
    server.Get("/test/redirect", Recorded([](const httplib::Request& rq, httplib::Response& rs) {
                   const std::string host = rq.get_param_value("host");
                   if (host.empty()) {
                       SendErrorMessage(rs, 400, "host must name where to send the client");
                       return;
                   }
                   const std::string port =
                       rq.local_port == 443 ? "" : ":" + std::to_string(rq.local_port);
                   rs.set_redirect("https://" + host + port + "/test/headers", 302);
                   rs.set_content("moved", "text/plain");
               }));
    server.Get("/test/cookie", Recorded([](const httplib::Request&, httplib::Response& rs) {
                   rs.set_header("Set-Cookie", "morva_probe=1; Path=/; Max-Age=600; Secure");
                   rs.set_content("ok", "text/plain");
               }));
    server.Post("/test/echo", Recorded([](const httplib::Request& rq, httplib::Response& rs) {
                    rs.set_header("X-Received-Content-Type", rq.get_header_value("Content-Type"));
                    rs.set_content(rq.body, kOctets);
                }));
    server.Get("/test/slow", Recorded([](const httplib::Request& rq, httplib::Response& rs) {
                   const auto ms = ParseCount(rq.get_param_value("ms"));
                   if (!ms) {
                       SendErrorMessage(rs, 400, "ms must be a count of milliseconds");
                       return;
                   }
                   Pause(static_cast<int>(std::min<long long>(*ms, kMaxSlowMs)));
                   rs.set_content("ok", "text/plain");
               }));

    // Everything else: the update files, or a recorded 404.
    server.Get(".*", Recorded([this](const auto& rq, auto& rs) { ServeFile(rq, rs); }));
    const auto notFound = Recorded([](const httplib::Request& rq, httplib::Response& rs) {
        SendErrorMessage(rs, 404, "No route for " + rq.method + " " + rq.path);
    });
    server.Post(".*", notFound);
    server.Put(".*", notFound);
    server.Delete(".*", notFound);
    server.Patch(".*", notFound);
}

void Broker::RegisterControl(httplib::Server& server) {
    server.Get("/health", [](const httplib::Request&, httplib::Response& rs) {
        SendJson(rs, 200, {{"status", "ok"}});
    });
    server.Get("/requests", [this](const httplib::Request&, httplib::Response& rs) {
        const std::lock_guard lock(requestLogMutex_);
        rs.set_content(Dump(requestLog_), kJson);
    });
    server.Delete("/requests", [this](const httplib::Request&, httplib::Response& rs) {
        const std::lock_guard lock(requestLogMutex_);
        requestLog_ = json::array();
        rs.status = 204;
    });
    server.Get("/scenario", [this](const httplib::Request&, httplib::Response& rs) {
        SendJson(rs, 200, ScenarioToJson(CurrentScenario()));
    });
    server.Put("/scenario", [this](const httplib::Request& rq, httplib::Response& rs) {
        try {
            Scenario scenario = ParseScenario(json::parse(rq.body));
            const json normalised = ScenarioToJson(scenario);
            ReplaceScenario(std::move(scenario));
            SendJson(rs, 200, normalised);
        } catch (const std::exception& e) {
            SendJson(rs, 400, {{"error", e.what()}});
        }
    });
    // A refresh token as if a sign-in had issued it, for runs that cannot show a browser:
    // {"clientId": "...", "subject"?: "..."} -> {"refresh_token": "..."}.
    server.Post("/tokens/refresh", [this](const httplib::Request& rq, httplib::Response& rs) {
        try {
            const json request = json::parse(rq.body);
            const std::string clientId = request.at("clientId").get<std::string>();
            const std::string subject = request.value("subject", CurrentScenario().auth.subject);
            const std::string token = RandomToken(32);
            {
                const std::lock_guard lock(grantsMutex_);
                refreshTokens_[token] = IssuedRefreshToken{clientId, subject, "offline_access"};
            }
            SendJson(rs, 200, {{"refresh_token", token}});
        } catch (const std::exception& e) {
            SendJson(rs, 400, {{"error", e.what()}});
        }
    });
    // Forgets every issued code and token, so the next start must sign in again.
    server.Delete("/tokens", [this](const httplib::Request&, httplib::Response& rs) {
        const std::lock_guard lock(grantsMutex_);
        codes_.clear();
        refreshTokens_.clear();
        accessTokenExpiry_.clear();
        rs.status = 204;
    });
}

bool Broker::IsAccessTokenValid(const std::string& token) {
    const std::lock_guard lock(grantsMutex_);
    const auto it = accessTokenExpiry_.find(token);
    return it != accessTokenExpiry_.end() && it->second > Now();
}

void Broker::ServeBook(const httplib::Request& request, httplib::Response& response) {
    const Scenario scenario = CurrentScenario();
    const std::string instrument = request.matches[1].str();
    const BookKind kind = *ParseKind(request.matches[2].str());

    if (scenario.auth.checkTokens) {
        const std::string authorization = request.get_header_value("Authorization");
        constexpr std::string_view kBearer = "bearer ";
        std::string scheme = authorization.substr(0, kBearer.size());
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (scheme != kBearer) {
            SendErrorMessage(response, 401, "Insufficient authorization to perform request.");
            return;
        }
        if (!IsAccessTokenValid(authorization.substr(kBearer.size()))) {
            SendErrorMessage(response, 401,
                             "The access token provided is invalid, expired or revoked.");
            return;
        }
    }

    const InstrumentScenario entry = InstrumentEntry(scenario.books, instrument);
    const Fate fate = DrawFate(scenario.books);
    Pause(entry.latencyMs.value_or(scenario.books.latencyMs) + fate.extraLatencyMs);
    const std::optional<Fault> fault = entry.fault ? entry.fault : fate.fault;
    const int holdMs = entry.holdMs.value_or(kDefaultHoldMs);
    if (fault == Fault::NoAnswer) {
        // Not a byte back: the client sees a connection that accepted its request and went quiet.
        Hold(holdMs);
        ResetConnection(request.local_port, request.remote_port);
        response.status = 504;
        return;
    }
    // Only a caller the service knows learns its privileges, so a 401 above carries no header.
    response.set_header("X-Can-Access-Premium",
                        entry.premium.value_or(scenario.books.premium) ? "true" : "false");

    if (const std::optional<int> status = entry.status ? entry.status : fate.status) {
        response.status = *status;
        std::string body =
            entry.body ? *entry.body : Dump({{"errorMessage", DefaultStatusMessage(*status)}});
        if (fault == Fault::InvalidUtf8) {
            // Bytes no JSON parser accepts as a string: a lone continuation and a stray 0xFF.
            body = "{\"errorMessage\":\"Book store \xC3( says \xFF\"}";
        }
        if (!body.empty()) {
            response.set_content(body, entry.body && !fault ? "text/plain" : kJson);
        }
        return;
    }

    const auto profile = ResolveInstrument(entry, instrument);
    if (!profile) {
        SendErrorMessage(response, entry.missingStatus.value_or(scenario.books.missingStatus),
                         "Invalid value specified for 'instrument': " + instrument);
        return;
    }

    std::optional<std::int64_t> requested;
    if (request.has_param("time")) {
        requested = ParseBookTime(request.get_param_value("time"));
        if (!requested) {
            SendErrorMessage(response, 400, "Invalid value specified for 'time'");
            return;
        }
    }
    std::string body =
        Dump(GenerateBook(*profile, kind, SnapshotTime(requested, Now()), entry.buckets));
    if (!fault) {
        response.set_content(body, kJson);
        return;
    }
    if (fault == Fault::Trickle) {
        SendTrickle(response, std::move(body), kJson, entry.trickleMs.value_or(kDefaultTrickleMs));
        return;
    }
    if (fault == Fault::Endless) {
        SendEndless(
            response, body.substr(0, body.find("\"buckets\":[") + 11),
            R"({"price":"1.00000","longCountPercent":"0.0000","shortCountPercent":"0.0000"},)");
        return;
    }
    if (fault == Fault::InvalidUtf8) {
        const std::string name = "\"instrument\":" + Dump(instrument);
        if (const auto at = body.find(name); at != std::string::npos) {
            body.insert(at + name.size() - 1, "\xC3(\xFF");
        }
        response.set_content(body, kJson);
        return;
    }
    SendFaultyBody(request, response, std::move(body), *fault, holdMs);
}

void Broker::RedirectWithCode(const std::string& clientId, const std::string& redirectUri,
                              const std::string& scope, const std::string& state,
                              const std::string& codeChallenge, httplib::Response& response) {
    const std::string code = RandomToken(24);
    {
        const std::lock_guard lock(grantsMutex_);
        codes_[code] =
            IssuedCode{clientId, redirectUri, scope, codeChallenge, Now() + settings_.codeLifetime};
    }
    QueryParameters query = {{"code", code}};
    if (!state.empty()) {
        query.emplace_back("state", state);
    }
    response.set_redirect(AppendQuery(redirectUri, query), 302);
}

void Broker::ServeAuthorize(const httplib::Request& request, httplib::Response& response) {
    const Scenario scenario = CurrentScenario();
    const std::string clientId = request.get_param_value("client_id");
    const std::string redirectUri = request.get_param_value("redirect_uri");
    const std::string state = request.get_param_value("state");
    const std::string scope = request.get_param_value("scope");
    const std::string challenge = request.get_param_value("code_challenge");
    const std::string challengeMethod = request.get_param_value("code_challenge_method");
    // Without a valid redirect there is nowhere to send an error: tell the user instead.
    if (redirectUri.empty() || clientId.empty()) {
        response.status = 400;
        response.set_content(
            "<!DOCTYPE html><html><body><h1>Invalid request</h1><p>client_id and redirect_uri "
            "are required.</p></body></html>",
            kHtml);
        return;
    }
    Pause(scenario.auth.latencyMs);

    if (scenario.auth.authorizeMode == AuthorizeMode::ForgedState) {
        // What anyone may send a browser to: the client's redirect with words of their choosing.
        response.set_redirect(AppendQuery(redirectUri, {{"error", scenario.auth.authorizeError},
                                                        {"error_description",
                                                         scenario.auth.authorizeErrorDescription},
                                                        {"state", "forged-" + RandomToken(12)}}),
                              302);
        return;
    }

    QueryParameters error;
    if (request.get_param_value("response_type") != "code") {
        error = {{"error", "unsupported_response_type"},
                 {"error_description", "Only response_type=code is supported"}};
    } else if (scenario.auth.authorizeMode == AuthorizeMode::Error) {
        error = {{"error", scenario.auth.authorizeError},
                 {"error_description", scenario.auth.authorizeErrorDescription}};
    } else {
        error = ChallengeError(challenge, challengeMethod);
    }
    if (!error.empty()) {
        RedirectWithError(redirectUri, std::move(error), state, response);
        return;
    }

    if (scenario.auth.authorizeMode == AuthorizeMode::Page) {
        std::map<std::string, std::string> fields = {{"client_id", clientId},
                                                     {"redirect_uri", redirectUri},
                                                     {"scope", scope},
                                                     {"code_challenge", challenge},
                                                     {"code_challenge_method", challengeMethod}};
        if (!state.empty()) {
            fields["state"] = state;
        }
        response.set_header("Cache-Control", "no-store");
        response.set_content(AuthorizePage(fields), kHtml);
        return;
    }
    RedirectWithCode(clientId, redirectUri, scope, state, challenge, response);
}

void Broker::ServeAuthorizeDecision(const httplib::Request& request, httplib::Response& response) {
    const std::string clientId = request.get_param_value("client_id");
    const std::string redirectUri = request.get_param_value("redirect_uri");
    const std::string state = request.get_param_value("state");
    if (redirectUri.empty() || clientId.empty()) {
        response.status = 400;
        response.set_content("<!DOCTYPE html><html><body><h1>Invalid request</h1></body></html>",
                             kHtml);
        return;
    }
    if (request.get_param_value("decision") == "deny") {
        RedirectWithError(
            redirectUri,
            {{"error", "access_denied"}, {"error_description", "The user cancelled the sign-in"}},
            state, response);
        return;
    }
    const std::string challenge = request.get_param_value("code_challenge");
    if (QueryParameters error =
            ChallengeError(challenge, request.get_param_value("code_challenge_method"));
        !error.empty()) {
        RedirectWithError(redirectUri, std::move(error), state, response);
        return;
    }
    RedirectWithCode(clientId, redirectUri, request.get_param_value("scope"), state, challenge,
                     response);
}

json Broker::IssueTokens(const std::string& host, const std::string& clientId,
                         const std::string& subject, const std::string& scope,
                         const std::string& audience, bool withRefreshToken,
                         const std::string& keptRefreshToken) {
    const Scenario scenario = CurrentScenario();
    const std::int64_t now = Now();
    AccessTokenClaims claims;
    claims.issuer = "https://" + (host.empty() ? std::string("login.morva.example") : host) + "/";
    claims.subject = subject;
    claims.audience = audience;
    claims.clientId = clientId;
    claims.scope = scope;
    claims.claimsOrigin = settings_.claimsOrigin;
    claims.tokenId = RandomToken(12);
    claims.privileges = scenario.auth.privileges;
    claims.issuedAt = now;
    claims.lifetime = scenario.auth.tokenLifetime;
    const std::string accessToken =
        BuildJwt(AccessTokenPayload(claims), scenario.auth.algorithm, settings_.signingSecret);

    json body = {{"access_token", accessToken},
                 {"token_type", "Bearer"},
                 {"expires_in", scenario.auth.tokenLifetime}};
    if (!scope.empty()) {
        body["scope"] = scope;
    }
    if (ScopeHas(scope, "openid")) {
        const json idClaims = {{"iss", claims.issuer},
                               {"sub", subject},
                               {"aud", clientId},
                               {"iat", now},
                               {"exp", now + scenario.auth.tokenLifetime}};
        body["id_token"] = BuildJwt(idClaims, scenario.auth.algorithm, settings_.signingSecret);
    }

    const std::lock_guard lock(grantsMutex_);
    accessTokenExpiry_[accessToken] = now + scenario.auth.tokenLifetime;
    if (withRefreshToken) {
        const bool rotate = keptRefreshToken.empty() || scenario.auth.rotateRefreshTokens;
        if (rotate) {
            if (!keptRefreshToken.empty()) {
                refreshTokens_.erase(keptRefreshToken);
            }
            const std::string refreshToken = RandomToken(32);
            refreshTokens_[refreshToken] = IssuedRefreshToken{clientId, subject, scope};
            body["refresh_token"] = refreshToken;
        }
    }
    return body;
}

void Broker::ServeToken(const httplib::Request& request, httplib::Response& response) {
    const Scenario scenario = CurrentScenario();
    Pause(scenario.auth.latencyMs);

    std::map<std::string, std::string> fields;
    // The library posts JSON; a form body (curl's default) is accepted too, as OAuth servers do.
    const auto firstChar = request.body.find_first_not_of(" \t\r\n");
    const bool jsonBody = firstChar != std::string::npos && request.body[firstChar] == '{';
    if (!jsonBody &&
        Contains(request.get_header_value("Content-Type"), "application/x-www-form-urlencoded")) {
        for (const auto& [name, value] : request.params) {
            fields[name] = value;
        }
    } else {
        const json body = json::parse(request.body, nullptr, false);
        if (!body.is_object()) {
            SendOAuthError(response, 400, "invalid_request",
                           "The request body must be a JSON object");
            return;
        }
        for (const auto& [name, value] : body.items()) {
            if (value.is_string()) {
                fields[name] = value.get<std::string>();
            }
        }
    }
    const auto field = [&fields](const std::string& name) {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };
    const std::string grantType = field("grant_type");
    if (grantType.empty()) {
        SendOAuthError(response, 400, "invalid_request", "Missing required parameter: grant_type");
        return;
    }

    if (const auto& failure = scenario.auth.tokenFailure;
        failure &&
        (failure->grants.empty() || std::find(failure->grants.begin(), failure->grants.end(),
                                              grantType) != failure->grants.end())) {
        if (failure->body) {
            response.status = failure->status;
            response.set_content(*failure->body, "text/plain");
        } else {
            SendOAuthError(response, failure->status, failure->error, failure->errorDescription);
        }
        return;
    }

    const std::string host = request.get_header_value("Host");
    const std::string clientId = field("client_id");
    if (clientId.empty()) {
        SendOAuthError(response, 400, "invalid_request", "Missing required parameter: client_id");
        return;
    }

    json tokens;
    if (grantType == "authorization_code") {
        IssuedCode code;
        {
            const std::lock_guard lock(grantsMutex_);
            const auto it = codes_.find(field("code"));
            if (it == codes_.end() || it->second.expiresAt < Now()) {
                SendOAuthError(response, 400, "invalid_grant", "Invalid authorization code");
                return;
            }
            code = it->second;
            codes_.erase(it);  // single use
        }
        if (code.clientId != clientId) {
            SendOAuthError(response, 400, "invalid_grant",
                           "The authorization code was issued to another client");
            return;
        }
        if (code.redirectUri != field("redirect_uri")) {
            SendOAuthError(
                response, 400, "invalid_grant",
                "The redirect_uri does not match the one used in the authorization request");
            return;
        }
        if (!VerifierMatches(field("code_verifier"), code.codeChallenge)) {
            SendOAuthError(response, 400, "invalid_grant",
                           "The code_verifier does not match the code_challenge of the "
                           "authorization request");
            return;
        }
        tokens = IssueTokens(host, clientId, scenario.auth.subject, code.scope, "",
                             ScopeHas(code.scope, "offline_access"), "");
    } else if (grantType == "refresh_token") {
        const std::string refreshToken = field("refresh_token");
        IssuedRefreshToken issued;
        {
            const std::lock_guard lock(grantsMutex_);
            const auto it = refreshTokens_.find(refreshToken);
            if (it == refreshTokens_.end()) {
                SendOAuthError(response, 400, "invalid_grant", "Unknown or invalid refresh token.");
                return;
            }
            issued = it->second;
        }
        if (issued.clientId != clientId) {
            SendOAuthError(response, 400, "invalid_grant",
                           "The refresh token was issued to another client");
            return;
        }
        tokens = IssueTokens(host, clientId, issued.subject, issued.scope, "", true, refreshToken);
    } else if (grantType == "client_credentials") {
        if (field("client_secret").empty()) {
            SendOAuthError(response, 401, "invalid_client", "Client authentication failed");
            return;
        }
        tokens =
            IssueTokens(host, clientId, clientId + "@clients", "", field("audience"), false, "");
    } else {
        SendOAuthError(response, 400, "unsupported_grant_type",
                       "Grant type '" + grantType + "' not allowed for the client.");
        return;
    }
    response.set_header("Cache-Control", "no-store");
    response.set_header("Pragma", "no-cache");
    if (scenario.auth.tokenTrickleMs > 0) {
        SendTrickle(response, Dump(tokens), kJson, scenario.auth.tokenTrickleMs);
        return;
    }
    SendJson(response, 200, tokens);
}

void Broker::ServeMetadata(const httplib::Request& /*request*/, httplib::Response& response,
                           bool testDocument) {
    const Scenario scenario = CurrentScenario();
    Pause(scenario.metadata.latencyMs);
    if (const auto& tree = scenario.metadata.tree) {
        ServeFromTree(*tree, testDocument ? kTestMetadataPath : kProductionMetadataPath, kJson,
                      response);
        return;
    }
    if (const auto& raw = scenario.metadata.rawDocument) {
        response.status = raw->status;
        response.set_content(raw->content, kJson);
        return;
    }
    if (scenario.metadata.status != 200) {
        response.status = scenario.metadata.status;
        response.set_content(
            "<html><body><h1>" + std::to_string(scenario.metadata.status) + "</h1></body></html>",
            kHtml);
        return;
    }
    SendJson(response, 200, MetadataDocument(scenario.metadata, testDocument, CurrentFileServer()));
}

void Broker::ServeFile(const httplib::Request& request, httplib::Response& response) {
    const Scenario scenario = CurrentScenario();
    if (const auto& tree = scenario.metadata.tree) {
        Pause(scenario.metadata.latencyMs);
        ServeFromTree(*tree, request.path, kOctets, response);
        return;
    }
    const std::string base = FileBasePath(scenario.metadata, CurrentFileServer()) + "/";
    const std::string& path = request.path;
    if (path.size() > base.size() && path.compare(0, base.size(), base) == 0) {
        const std::string name = path.substr(base.size());
        Pause(scenario.metadata.latencyMs);
        if (const auto it = scenario.metadata.files.find(name);
            it != scenario.metadata.files.end()) {
            response.status = it->second.status;
            response.set_content(it->second.content, kOctets);
            return;
        }
        if (IsUpdateFileName(name, scenario.metadata.version)) {
            response.set_content(GenerateFileBytes(name), kOctets);
            return;
        }
    }
    SendErrorMessage(response, 404, "Not found: " + path);
}

void Broker::ServeFromTree(const std::string& tree, std::string_view path, const char* contentType,
                           httplib::Response& response) {
    if (std::optional<std::string> bytes = ReadTreeFile(tree, path)) {
        response.set_content(std::move(*bytes), contentType);
        return;
    }
    SendErrorMessage(response, 404, "Not found: " + std::string(path));
}

}  // namespace fake_broker
