#include "books/http_strata_client.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/morva_error.h"
#include "books/book_json.h"
#include "http/http_request.h"
#include "util/calendar.h"
#include "util/uri.h"
#include "util/utf.h"

namespace morva {

namespace strata_detail {

namespace {

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
    const time_detail::CalendarTime date = time_detail::CalendarFromSeconds(seconds);

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
    AppendPadded(text, date.hour, 2);
    text += u':';
    AppendPadded(text, date.minute, 2);
    text += u':';
    AppendPadded(text, date.second, 2);
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
    // The largest real book, some thousands of buckets, is well under a megabyte; a book of
    // 130,000 buckets is 10 MB and still fits.
    request.maxResponseBytes = 32 * 1024 * 1024;
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
