#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/terminal_info.h"
#include "books/strata_client.h"
#include "http/http_client.h"
#include "http/http_headers.h"
#include "http/http_response.h"
#include "util/clock.h"

namespace morva {

namespace strata_detail {

// "%FT%TZ" in UTC for any 64-bit count of seconds since 1970, earlier times included; the year
// has at least four digits (a minus sign before them for years before 1).
std::u16string FormatUtcTime(std::int64_t seconds);

// "/v3/instruments/<instrument>/<kind>", plus "?time=<UTC text>" unless time is 0; instrument and
// time text percent-encoded.
std::u16string BuildBookPath(std::u16string_view kind, std::u16string_view instrument,
                             std::int64_t time);

// Returns for status 200; otherwise throws "<operation> failed (HTTP <status>): <message>", as
// InvalidInstrumentError for 400 and 404, as MorvaError for every other status.
void CheckBookResponse(const char* operation, const HttpResponse& response);

}  // namespace strata_detail

// StrataClient over the shared HTTPS transport. Immutable after construction, so any number of
// threads may call it at once.
class HttpStrataClient final : public StrataClient {
  public:
    HttpStrataClient(std::u16string host, TerminalInfo terminal, std::shared_ptr<HttpClient> http,
                     std::shared_ptr<const Clock> clock = RealClock());

    StrataBook GetOrderBook(const AccessToken& token, const std::u16string& instrument,
                            std::int64_t time) override;
    StrataBook GetPositionBook(const AccessToken& token, const std::u16string& instrument,
                               std::int64_t time) override;
    bool CanAccessPremium(const AccessToken& token, const std::u16string& instrument) override;

  private:
    struct BookTexts;

    StrataBook GetBook(const BookTexts& texts, const AccessToken& token,
                       const std::u16string& instrument, std::int64_t time) const;
    HttpResponse SendBookRequest(std::u16string_view kind, const AccessToken& token,
                                 const std::u16string& instrument, std::int64_t time) const;
    HttpHeaders BuildRequestHeaders(const AccessToken& token) const;
    std::int64_t NowSeconds() const;

    const std::u16string host_;
    const std::u16string server_;
    const std::u16string account_;
    const std::u16string platform_;
    const std::u16string language_;
    const std::shared_ptr<HttpClient> http_;
    const std::shared_ptr<const Clock> clock_;
};

}  // namespace morva
