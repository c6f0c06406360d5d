#include "scenario.h"

#include <initializer_list>
#include <limits>
#include <utility>

namespace fake_broker {
namespace {

using nlohmann::json;

// Reads one JSON object, remembering where it sits for error texts.
class ObjectReader {
  public:
    ObjectReader(const json& value, std::string path) : value_(value), path_(std::move(path)) {
        if (!value_.is_object()) {
            Fail(path_, "must be an object");
        }
    }

    [[noreturn]] static void Fail(const std::string& path, const std::string& what) {
        throw ScenarioError("scenario: " + path + " " + what);
    }

    void AllowOnly(std::initializer_list<std::string_view> names) const {
        for (const auto& [name, unused] : value_.items()) {
            bool known = false;
            for (const auto allowed : names) {
                known = known || name == allowed;
            }
            if (!known) {
                Fail(Path(name), "is not a known member");
            }
        }
    }

    std::string Path(std::string_view name) const { return path_ + "." + std::string(name); }
    const json* Find(std::string_view name) const {
        const auto it = value_.find(name);
        return it == value_.end() ? nullptr : &*it;
    }

    void Read(std::string_view name, bool& out) const {
        if (const json* v = Find(name)) {
            if (!v->is_boolean()) {
                Fail(Path(name), "must be true or false");
            }
            out = v->get<bool>();
        }
    }

    void Read(std::string_view name, std::string& out) const {
        if (const json* v = Find(name)) {
            if (!v->is_string()) {
                Fail(Path(name), "must be a string");
            }
            out = v->get<std::string>();
        }
    }

    void Read(std::string_view name, double& out) const {
        if (const json* v = Find(name)) {
            if (!v->is_number()) {
                Fail(Path(name), "must be a number");
            }
            out = v->get<double>();
        }
    }

    void Read(std::string_view name, int& out, int low, int high) const {
        if (const json* v = Find(name)) {
            if (!v->is_number_integer() || v->get<std::int64_t>() < low ||
                v->get<std::int64_t>() > high) {
                Fail(Path(name), "must be an integer from " + std::to_string(low) + " to " +
                                     std::to_string(high));
            }
            out = v->get<int>();
        }
    }

    template <typename T, typename... Limits>
    void Read(std::string_view name, std::optional<T>& out, Limits... limits) const {
        if (Find(name) != nullptr) {
            T value{};
            Read(name, value, limits...);
            out = value;
        }
    }

    void ReadObject(std::string_view name, std::optional<json>& out) const {
        if (const json* v = Find(name)) {
            if (!v->is_object()) {
                Fail(Path(name), "must be an object");
            }
            out = *v;
        }
    }

    void ReadArray(std::string_view name, std::optional<json>& out) const {
        if (const json* v = Find(name)) {
            if (!v->is_array()) {
                Fail(Path(name), "must be an array");
            }
            out = *v;
        }
    }

  private:
    const json& value_;
    std::string path_;
};

constexpr int kMaxLatencyMs = 120'000;
constexpr int kMaxHoldMs = 600'000;
constexpr int kMaxBuckets = 1'000'000;

void ReadStatus(const ObjectReader& reader, std::string_view name, std::optional<int>& out) {
    reader.Read(name, out, 100, 599);
}

InstrumentScenario ParseInstrument(const json& value, const std::string& path) {
    const ObjectReader reader(value, path);
    reader.AllowOnly({"missing", "missingStatus", "status", "body", "latencyMs", "premium", "price",
                      "bucketWidth", "decimals", "fault", "holdMs", "trickleMs", "buckets"});
    InstrumentScenario out;
    reader.Read("missing", out.missing);
    ReadStatus(reader, "missingStatus", out.missingStatus);
    ReadStatus(reader, "status", out.status);
    reader.Read("body", out.body);
    reader.Read("latencyMs", out.latencyMs, 0, kMaxLatencyMs);
    reader.Read("premium", out.premium);
    reader.Read("price", out.price);
    reader.Read("bucketWidth", out.bucketWidth);
    reader.Read("decimals", out.decimals, 0, 10);
    std::optional<std::string> fault;
    reader.Read("fault", fault);
    if (fault) {
        out.fault = ParseFault(*fault);
        if (!out.fault) {
            ObjectReader::Fail(reader.Path("fault"),
                               "must be \"reset\", \"stall\", \"noAnswer\", \"truncate\", "
                               "\"invalidUtf8\", \"trickle\" or \"endless\"");
        }
    }
    reader.Read("holdMs", out.holdMs, 0, kMaxHoldMs);
    reader.Read("trickleMs", out.trickleMs, 1, kMaxHoldMs);
    reader.Read("buckets", out.buckets, 1, kMaxBuckets);
    if (out.price && *out.price <= 0.0) {
        ObjectReader::Fail(reader.Path("price"), "must be positive");
    }
    if (out.bucketWidth && *out.bucketWidth <= 0.0) {
        ObjectReader::Fail(reader.Path("bucketWidth"), "must be positive");
    }
    return out;
}

BooksScenario ParseBooks(const json& value) {
    const ObjectReader reader(value, "books");
    reader.AllowOnly({"premium", "latencyMs", "missingStatus", "latencyJitterMs", "faultRate",
                      "seed", "instruments"});
    BooksScenario out;
    reader.Read("premium", out.premium);
    reader.Read("latencyMs", out.latencyMs, 0, kMaxLatencyMs);
    reader.Read("missingStatus", out.missingStatus, 100, 599);
    reader.Read("latencyJitterMs", out.latencyJitterMs, 0, kMaxLatencyMs);
    reader.Read("faultRate", out.faultRate);
    if (out.faultRate < 0.0 || out.faultRate > 1.0) {
        ObjectReader::Fail(reader.Path("faultRate"), "must be a number from 0 to 1");
    }
    reader.Read("seed", out.seed, 0, std::numeric_limits<int>::max());
    if (const json* instruments = reader.Find("instruments")) {
        const ObjectReader all(*instruments, "books.instruments");
        for (const auto& [name, entry] : instruments->items()) {
            out.instruments[name] = ParseInstrument(entry, all.Path(name));
        }
    }
    return out;
}

TokenFailure ParseTokenFailure(const json& value) {
    const ObjectReader reader(value, "auth.tokenFailure");
    reader.AllowOnly({"status", "error", "errorDescription", "body", "grants"});
    TokenFailure out;
    reader.Read("status", out.status, 100, 599);
    reader.Read("error", out.error);
    reader.Read("errorDescription", out.errorDescription);
    reader.Read("body", out.body);
    if (const json* grants = reader.Find("grants")) {
        if (!grants->is_array()) {
            ObjectReader::Fail(reader.Path("grants"), "must be an array of grant type names");
        }
        for (const auto& grant : *grants) {
            if (!grant.is_string()) {
                ObjectReader::Fail(reader.Path("grants"), "must be an array of grant type names");
            }
            out.grants.push_back(grant.get<std::string>());
        }
    }
    return out;
}

AuthScenario ParseAuth(const json& value) {
    const ObjectReader reader(value, "auth");
    reader.AllowOnly({"checkTokens", "authorizeMode", "authorizeError", "authorizeErrorDescription",
                      "tokenFailure", "tokenLifetime", "rotateRefreshTokens", "algorithm",
                      "subject", "privileges", "latencyMs", "tokenTrickleMs"});
    AuthScenario out;
    reader.Read("checkTokens", out.checkTokens);
    std::string mode(AuthorizeModeName(out.authorizeMode));
    reader.Read("authorizeMode", mode);
    if (mode == "auto") {
        out.authorizeMode = AuthorizeMode::Auto;
    } else if (mode == "page") {
        out.authorizeMode = AuthorizeMode::Page;
    } else if (mode == "error") {
        out.authorizeMode = AuthorizeMode::Error;
    } else if (mode == "forgedState") {
        out.authorizeMode = AuthorizeMode::ForgedState;
    } else {
        ObjectReader::Fail(reader.Path("authorizeMode"),
                           "must be \"auto\", \"page\", \"error\" or \"forgedState\"");
    }
    reader.Read("authorizeError", out.authorizeError);
    reader.Read("authorizeErrorDescription", out.authorizeErrorDescription);
    if (const json* failure = reader.Find("tokenFailure");
        failure != nullptr && !failure->is_null()) {
        out.tokenFailure = ParseTokenFailure(*failure);
    }
    reader.Read("tokenLifetime", out.tokenLifetime, 1, std::numeric_limits<int>::max());
    reader.Read("rotateRefreshTokens", out.rotateRefreshTokens);
    std::string algorithm(JwtAlgorithmName(out.algorithm));
    reader.Read("algorithm", algorithm);
    const auto parsed = ParseJwtAlgorithm(algorithm);
    if (!parsed) {
        ObjectReader::Fail(reader.Path("algorithm"), "must be \"none\" or \"HS256\"");
    }
    out.algorithm = *parsed;
    reader.Read("subject", out.subject);
    std::optional<json> privileges;
    reader.ReadObject("privileges", privileges);
    if (privileges) {
        out.privileges = *privileges;
    }
    reader.Read("latencyMs", out.latencyMs, 0, kMaxLatencyMs);
    reader.Read("tokenTrickleMs", out.tokenTrickleMs, 0, kMaxHoldMs);
    return out;
}

FileOverride ParseFile(const json& value, const std::string& path) {
    FileOverride out;
    if (value.is_string()) {
        out.content = value.get<std::string>();
        return out;
    }
    const ObjectReader reader(value, path);
    reader.AllowOnly({"status", "text", "base64"});
    reader.Read("status", out.status, 100, 599);
    reader.Read("text", out.content);
    if (const json* encoded = reader.Find("base64")) {
        std::optional<std::string> bytes;
        if (encoded->is_string()) {
            std::string text = encoded->get<std::string>();
            for (char& c : text) {
                c = c == '+' ? '-' : c == '/' ? '_' : c;
            }
            bytes = Base64UrlDecode(text);
        }
        if (!bytes) {
            ObjectReader::Fail(reader.Path("base64"), "must be a Base64 string");
        }
        out.content = *bytes;
    }
    return out;
}

MetadataScenario ParseMetadata(const json& value) {
    const ObjectReader reader(value, "metadata");
    reader.AllowOnly({"version", "minVersion", "status", "latencyMs", "source", "servers",
                      "testServers", "document", "rawDocument", "files", "tree"});
    MetadataScenario out;
    reader.Read("version", out.version);
    reader.Read("minVersion", out.minVersion);
    reader.Read("status", out.status, 100, 599);
    reader.Read("latencyMs", out.latencyMs, 0, kMaxLatencyMs);
    reader.ReadObject("source", out.source);
    reader.ReadArray("servers", out.servers);
    reader.ReadArray("testServers", out.testServers);
    if (const json* document = reader.Find("document");
        document != nullptr && !document->is_null()) {
        out.document = *document;  // any JSON at all: a broken document is a fair test
    }
    if (const json* raw = reader.Find("rawDocument"); raw != nullptr && !raw->is_null()) {
        out.rawDocument = ParseFile(*raw, reader.Path("rawDocument"));
    }
    if (const json* tree = reader.Find("tree"); tree != nullptr && !tree->is_null()) {
        if (!tree->is_string() || tree->get<std::string>().empty() ||
            tree->get<std::string>().front() != '/') {
            ObjectReader::Fail(reader.Path("tree"), "must be an absolute folder path");
        }
        out.tree = tree->get<std::string>();
    }
    if (const json* files = reader.Find("files")) {
        const ObjectReader all(*files, "metadata.files");
        for (const auto& [name, entry] : files->items()) {
            out.files[name] = ParseFile(entry, all.Path(name));
        }
    }
    return out;
}

}  // namespace

namespace {

constexpr std::pair<Fault, std::string_view> kFaultNames[] = {
    {Fault::Reset, "reset"},
    {Fault::Stall, "stall"},
    {Fault::NoAnswer, "noAnswer"},
    {Fault::Truncate, "truncate"},
    {Fault::InvalidUtf8, "invalidUtf8"},
    {Fault::Trickle, "trickle"},
    {Fault::Endless, "endless"},
};

}  // namespace

std::string_view FaultName(Fault fault) {
    for (const auto& [value, name] : kFaultNames) {
        if (value == fault) {
            return name;
        }
    }
    return "reset";
}

std::optional<Fault> ParseFault(std::string_view name) {
    for (const auto& [value, known] : kFaultNames) {
        if (known == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::string_view AuthorizeModeName(AuthorizeMode mode) {
    switch (mode) {
        case AuthorizeMode::Page:
            return "page";
        case AuthorizeMode::Error:
            return "error";
        case AuthorizeMode::ForgedState:
            return "forgedState";
        case AuthorizeMode::Auto:
            break;
    }
    return "auto";
}

Scenario ParseScenario(const json& document) {
    const ObjectReader reader(document, "(top)");
    reader.AllowOnly({"books", "auth", "metadata", "description"});
    Scenario out;
    if (const json* books = reader.Find("books")) {
        out.books = ParseBooks(*books);
    }
    if (const json* auth = reader.Find("auth")) {
        out.auth = ParseAuth(*auth);
    }
    if (const json* metadata = reader.Find("metadata")) {
        out.metadata = ParseMetadata(*metadata);
    }
    return out;
}

json ScenarioToJson(const Scenario& scenario) {
    json instruments = json::object();
    for (const auto& [name, entry] : scenario.books.instruments) {
        json item = {{"missing", entry.missing}};
        const auto put = [&item](const char* key, const auto& optional) {
            if (optional) {
                item[key] = *optional;
            }
        };
        put("missingStatus", entry.missingStatus);
        put("status", entry.status);
        put("body", entry.body);
        put("latencyMs", entry.latencyMs);
        put("premium", entry.premium);
        put("price", entry.price);
        put("bucketWidth", entry.bucketWidth);
        put("decimals", entry.decimals);
        if (entry.fault) {
            item["fault"] = FaultName(*entry.fault);
        }
        put("holdMs", entry.holdMs);
        put("trickleMs", entry.trickleMs);
        put("buckets", entry.buckets);
        instruments[name] = std::move(item);
    }

    const AuthScenario& auth = scenario.auth;
    json tokenFailure = nullptr;
    if (auth.tokenFailure) {
        tokenFailure = {{"status", auth.tokenFailure->status},
                        {"error", auth.tokenFailure->error},
                        {"errorDescription", auth.tokenFailure->errorDescription},
                        {"grants", auth.tokenFailure->grants}};
        if (auth.tokenFailure->body) {
            tokenFailure["body"] = *auth.tokenFailure->body;
        }
    }

    const MetadataScenario& metadata = scenario.metadata;
    const auto fileJson = [](const FileOverride& file) {
        std::string encoded = Base64UrlEncode(file.content);
        for (char& c : encoded) {
            c = c == '-' ? '+' : c == '_' ? '/' : c;
        }
        return json{{"status", file.status}, {"base64", encoded}};
    };
    json files = json::object();
    for (const auto& [name, file] : metadata.files) {
        files[name] = fileJson(file);
    }
    json metadataJson = {{"version", metadata.version},
                         {"minVersion", metadata.minVersion},
                         {"status", metadata.status},
                         {"latencyMs", metadata.latencyMs},
                         {"files", std::move(files)}};
    if (metadata.source) {
        metadataJson["source"] = *metadata.source;
    }
    if (metadata.tree) {
        metadataJson["tree"] = *metadata.tree;
    }
    if (metadata.servers) {
        metadataJson["servers"] = *metadata.servers;
    }
    if (metadata.testServers) {
        metadataJson["testServers"] = *metadata.testServers;
    }
    if (metadata.document) {
        metadataJson["document"] = *metadata.document;
    }
    if (metadata.rawDocument) {
        metadataJson["rawDocument"] = fileJson(*metadata.rawDocument);
    }

    return {
        {"books",
         {{"premium", scenario.books.premium},
          {"latencyMs", scenario.books.latencyMs},
          {"missingStatus", scenario.books.missingStatus},
          {"latencyJitterMs", scenario.books.latencyJitterMs},
          {"faultRate", scenario.books.faultRate},
          {"seed", scenario.books.seed},
          {"instruments", std::move(instruments)}}},
        {"auth",
         {{"checkTokens", auth.checkTokens},
          {"authorizeMode", AuthorizeModeName(auth.authorizeMode)},
          {"authorizeError", auth.authorizeError},
          {"authorizeErrorDescription", auth.authorizeErrorDescription},
          {"tokenFailure", std::move(tokenFailure)},
          {"tokenLifetime", auth.tokenLifetime},
          {"rotateRefreshTokens", auth.rotateRefreshTokens},
          {"algorithm", JwtAlgorithmName(auth.algorithm)},
          {"subject", auth.subject},
          {"privileges", auth.privileges},
          {"latencyMs", auth.latencyMs},
          {"tokenTrickleMs", auth.tokenTrickleMs}}},
        {"metadata", std::move(metadataJson)},
    };
}

InstrumentScenario InstrumentEntry(const BooksScenario& books, const std::string& instrument) {
    const auto it = books.instruments.find(instrument);
    return it == books.instruments.end() ? InstrumentScenario{} : it->second;
}

std::optional<InstrumentProfile> ResolveInstrument(const InstrumentScenario& entry,
                                                   const std::string& instrument) {
    if (entry.missing) {
        return std::nullopt;
    }
    auto profile = FindDefaultInstrument(instrument);
    if (entry.price) {
        InstrumentProfile custom{instrument, *entry.price, *entry.price * 0.0005, 5};
        if (profile) {
            custom = *profile;
            custom.basePrice = *entry.price;
        }
        profile = custom;
    }
    if (profile && entry.bucketWidth) {
        profile->bucketWidth = *entry.bucketWidth;
    }
    if (profile && entry.decimals) {
        profile->decimals = *entry.decimals;
    }
    return profile;
}

}  // namespace fake_broker
