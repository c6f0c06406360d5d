#include "books/http_strata_client.h"

#include <chrono>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "books/book_json.h"
#include "host/morva_error.h"
#include "http/http_request.h"
#include "util/uri.h"
#include "util/utf.h"

namespace morva {

namespace strata_detail {

namespace {

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// Proleptic Gregorian date of a day count since 1970-01-01 (H. Hinnant's civil_from_days), in
// 64 bits so that every day a 64-bit second count can reach converts without overflow;
// std::chrono::year stops at +-32767.
CivilDate CivilFromDays(std::int64_t days) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;  // [0, 146096]
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
    const std::int64_t dayOfYear =
        dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);  // [0, 365], from March
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;         // [0, 11], March is 0
    const auto day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const auto month =
        static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

void AppendPadded(std::u16string& out, std::uint64_t value, std::size_t width) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    if (digits.size() < width) {
        out.append(width - digits.size(), u'0');
    }
    out += digits;
}

}  // namespace

std::u16string FormatUtcTime(std::int64_t seconds) {
    // Floored division by hand: std::chrono::floor<days> multiplies back into seconds, which
    // overflows near the 64-bit limits. Flooring keeps a time before 1970 on the right day.
    constexpr std::int64_t kSecondsPerDay = 86'400;
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    const CivilDate date = CivilFromDays(days);
    const std::chrono::hh_mm_ss clock{std::chrono::seconds(secondOfDay)};

    std::u16string text;
    if (date.year < 0) {
        text += u'-';
    }
    AppendPadded(text, static_cast<std::uint64_t>(date.year < 0 ? -date.year : date.year), 4);
    text += u'-';
    AppendPadded(text, date.month, 2);
    text += u'-';
    AppendPadded(text, date.day, 2);
    text += u'T';
    AppendPadded(text, static_cast<std::uint64_t>(clock.hours().count()), 2);
    text += u':';
    AppendPadded(text, static_cast<std::uint64_t>(clock.minutes().count()), 2);
    text += u':';
    AppendPadded(text, static_cast<std::uint64_t>(clock.seconds().count()), 2);
    text += u'Z';
    return text;
}

std::u16string BuildBookPath(std::u16string_view kind, std::u16string_view instrument,
                             std::int64_t time) {
    std::u16string path = u"/v3/instruments/";
    path += EncodeUriComponent(instrument);
    path += u'/';
    path += kind;
    if (time != 0) {
        path += u"?time=";
        path += EncodeUriComponent(FormatUtcTime(time));
    }
    return path;
}

void CheckBookResponse(const char* operation, const HttpResponse& response) {
    if (response.status == 200) {
        return;
    }
    std::string message = response.body;
    try {
        const auto body = nlohmann::json::parse(response.body);
        if (body.is_object() && body.contains("errorMessage")) {
            message = body.at("errorMessage").get<std::string>();
        }
    } catch (const std::exception&) {
        // Not JSON, or an errorMessage that is not text: the body says it best as it stands.
        message = response.body;
    }
    if (response.status == 400 || response.status == 404) {
        throw InvalidInstrumentError("%s failed (HTTP %d): %s", operation, response.status,
                                     message);
    }
    throw MorvaError("%s failed (HTTP %d): %s", operation, response.status, message);
}

}  // namespace strata_detail

struct HttpStrataClient::BookTexts {
    const char* missingToken;
    const char* missingInstrument;
    std::u16string_view pathKind;
    const char* operation;
    std::string_view member;
    const char* parseFailure;
};

namespace {

constexpr std::u16string_view kOrderBookKind = u"orderBook";

void CheckArguments(const AccessToken& token, const std::u16string& instrument,
                    const char* missingToken, const char* missingInstrument) {
    if (token.token.empty() || token.tokenType.empty()) {
        throw MorvaError(missingToken);
    }
    if (instrument.empty()) {
        throw MorvaError(missingInstrument);
    }
}

}  // namespace

HttpStrataClient::HttpStrataClient(std::u16string host, TerminalInfo terminal,
                                   std::shared_ptr<HttpClient> http,
                                   std::shared_ptr<const Clock> clock)
    : host_(std::move(host)),
      server_(std::move(terminal.server)),
      account_(std::move(terminal.account)),
      platform_(std::move(terminal.platform)),
      language_(std::move(terminal.language)),
      http_(std::move(http)),
      clock_(std::move(clock)) {}

StrataBook HttpStrataClient::GetOrderBook(const AccessToken& token,
                                          const std::u16string& instrument, std::int64_t time) {
    static constexpr BookTexts kTexts{
        "Invalid OrderBook request: missing access token",
        "Invalid OrderBook request: missing instrument",
        kOrderBookKind,
        "Get order book",
        "orderBook",
        "Failed to parse order book: %s",
    };
    return GetBook(kTexts, token, instrument, time);
}

StrataBook HttpStrataClient::GetPositionBook(const AccessToken& token,
                                             const std::u16string& instrument, std::int64_t time) {
    static constexpr BookTexts kTexts{
        "Invalid PositionBook request: missing access token",
        "Invalid PositionBook request: missing instrument",
        u"positionBook",
        "Get position book",
        "positionBook",
        "Failed to parse position book: %s",
    };
    return GetBook(kTexts, token, instrument, time);
}

bool HttpStrataClient::CanAccessPremium(const AccessToken& token,
                                        const std::u16string& instrument) {
    CheckArguments(token, instrument, "Invalid OrderBook request: missing access token",
                   "Invalid OrderBook request: missing instrument");
    // Any answer carries the verdict in its headers, whatever its status or body.
    const HttpResponse response = SendBookRequest(kOrderBookKind, token, instrument, NowSeconds());
    const auto header = response.headers.find(std::u16string_view(u"X-Can-Access-Premium"));
    return header != response.headers.end() && header->second == u"true";
}

StrataBook HttpStrataClient::GetBook(const BookTexts& texts, const AccessToken& token,
                                     const std::u16string& instrument, std::int64_t time) const {
    CheckArguments(token, instrument, texts.missingToken, texts.missingInstrument);
    // The API has nothing after now: a future time is asked for as the latest book.
    const std::int64_t requested = time > NowSeconds() ? 0 : time;
    const HttpResponse response = SendBookRequest(texts.pathKind, token, instrument, requested);
    strata_detail::CheckBookResponse(texts.operation, response);
    try {
        return ParseBook(response, texts.member);
    } catch (const std::exception& e) {
        throw MorvaError(texts.parseFailure, e.what());
    }
}

HttpResponse HttpStrataClient::SendBookRequest(std::u16string_view kind, const AccessToken& token,
                                               const std::u16string& instrument,
                                               std::int64_t time) const {
    HttpRequest request;
    request.host = host_;
    request.port = 443;
    request.path = strata_detail::BuildBookPath(kind, instrument, time);
    request.headers = BuildRequestHeaders(token);
    return http_->Send(u"GET", request);
}

HttpHeaders HttpStrataClient::BuildRequestHeaders(const AccessToken& token) const {
    HttpHeaders headers = JsonAcceptingHeaders();
    SetHeader(headers, u"Authorization", Utf8ToUtf16(token.tokenType + " " + token.token));
    SetHeader(headers, u"X-Request-Source", u"MorvaOrderbookIndicator");
    SetHeader(headers, u"X-Indicator-Version", u"" MORVA_VERSION);
    SetHeader(headers, u"X-Indicator-Platform", platform_);
    SetHeader(headers, u"X-Indicator-Language", language_);
    SetHeader(headers, u"X-Indicator-Account", account_);
    SetHeader(headers, u"X-Indicator-Server", server_);
    return headers;
}

std::int64_t HttpStrataClient::NowSeconds() const {
    // duration_cast truncates toward zero, as "whole seconds" asks.
    return std::chrono::duration_cast<std::chrono::seconds>(clock_->SystemNow().time_since_epoch())
        .count();
}

}  // namespace morva
