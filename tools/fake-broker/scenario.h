#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "book.h"
#include "jwt.h"

namespace fake_broker {

// A scenario that does not fit the schema; the text names the offending member.
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What goes wrong on the wire for a book request: the connection reset mid-body, the body held
// back mid-way, no answer at all, a body shorter than its Content-Length, texts that are not
// UTF-8, a body that trickles out too slowly to end in time, or one that never ends.
enum class Fault { Reset, Stall, NoAnswer, Truncate, InvalidUtf8, Trickle, Endless };

inline constexpr int kDefaultHoldMs = 90'000;
// Longer than a client's two-minute limit, yet short enough that a client without one still ends.
inline constexpr int kDefaultTrickleMs = 135'000;

struct InstrumentScenario {
    bool missing = false;
    std::optional<int> missingStatus;
    std::optional<int> status;        // answer every book request with this status
    std::optional<std::string> body;  // with status: exact body ("" for none); unset: errorMessage
    std::optional<int> latencyMs;
    std::optional<bool> premium;
    // Setting a price makes an instrument that has no built-in profile available.
    std::optional<double> price;
    std::optional<double> bucketWidth;
    std::optional<int> decimals;
    std::optional<Fault> fault;
    std::optional<int> holdMs;     // how long "stall" and "noAnswer" keep the connection silent
    std::optional<int> trickleMs;  // how long "trickle" takes over the whole body
    std::optional<int> buckets;    // bucket count of both kinds of book, for very large books
};

struct BooksScenario {
    bool premium = false;
    int latencyMs = 0;
    int missingStatus = 404;
    int latencyJitterMs = 0;  // up to this much more latency, drawn per request
    double faultRate = 0.0;   // share of book requests that fail in a random way
    int seed = 1;             // of the draws above, so a run can be repeated
    std::map<std::string, InstrumentScenario> instruments;
};

// How /authorize answers: with a code at once, with a sign-in page, with an error, or with a
// redirect someone else made up (another state, an error and a description of its own).
enum class AuthorizeMode { Auto, Page, Error, ForgedState };

struct TokenFailure {
    int status = 500;
    std::string error = "server_error";
    std::string errorDescription = "The token endpoint is failing on purpose";
    std::optional<std::string> body;  // exact body instead of the OAuth error object
    std::vector<std::string> grants;  // empty: every grant fails
};

struct AuthScenario {
    bool checkTokens = true;
    AuthorizeMode authorizeMode = AuthorizeMode::Auto;
    std::string authorizeError = "access_denied";
    std::string authorizeErrorDescription = "The user denied access";
    std::optional<TokenFailure> tokenFailure;
    int tokenLifetime = 3600;
    bool rotateRefreshTokens = false;
    JwtAlgorithm algorithm = JwtAlgorithm::None;
    std::string subject = "morva|100042";
    nlohmann::json privileges = {{"live", {{"canAccessPremium", 0}}},
                                 {"demo", {{"canAccessPremium", 1}}}};
    int latencyMs = 0;
    int tokenTrickleMs = 0;  // token answers spread over this long; 0 sends them at once
};

struct FileOverride {
    int status = 200;
    std::string content;
};

struct MetadataScenario {
    std::string version = "1.16.5.0";
    std::string minVersion = "1.16.0.0";
    int status = 200;
    int latencyMs = 0;
    std::optional<nlohmann::json> source;       // replaces the generated "source"
    std::optional<nlohmann::json> servers;      // replaces "servers" of the production document
    std::optional<nlohmann::json> testServers;  // replaces "servers" of the test document
    std::optional<nlohmann::json> document;     // served verbatim at both paths
    std::optional<FileOverride> rawDocument;    // status and bytes at both paths, even non-JSON
    std::map<std::string, FileOverride> files;  // by file name
    // A release's update tree (scripts/release.sh): its documents and files are served by path,
    // in place of everything generated above.
    std::optional<std::string> tree;
};

struct Scenario {
    BooksScenario books;
    AuthScenario auth;
    MetadataScenario metadata;
};

// Strict: unknown members are errors, so a typo in a test's scenario fails loudly.
Scenario ParseScenario(const nlohmann::json& document);
nlohmann::json ScenarioToJson(const Scenario& scenario);

std::string_view AuthorizeModeName(AuthorizeMode mode);
std::string_view FaultName(Fault fault);
std::optional<Fault> ParseFault(std::string_view name);

// The scenario's entry for an instrument; an empty entry when it names none.
InstrumentScenario InstrumentEntry(const BooksScenario& books, const std::string& instrument);

// The profile books are generated from: the built-in one adjusted by the entry, one made from the
// entry's price alone, or none for an instrument the broker does not know.
std::optional<InstrumentProfile> ResolveInstrument(const InstrumentScenario& entry,
                                                   const std::string& instrument);

}  // namespace fake_broker
