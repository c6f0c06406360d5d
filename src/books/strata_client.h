#pragma once

#include <cstdint>
#include <string>

#include "auth/access_token.h"
#include "books/strata_book.h"

namespace morva {

// The book data API.
class StrataClient {
  public:
    // time: UTC seconds since 1970, 0 for the latest book. Throws InvalidInstrumentError for an
    // instrument the API rejects (400/404), MorvaError for every other failure.
    virtual StrataBook GetOrderBook(const AccessToken& token, const std::u16string& instrument,
                                    std::int64_t time) = 0;
    virtual StrataBook GetPositionBook(const AccessToken& token, const std::u16string& instrument,
                                       std::int64_t time) = 0;
    // Reads only the "X-Can-Access-Premium" header of an order-book answer.
    virtual bool CanAccessPremium(const AccessToken& token, const std::u16string& instrument) = 0;
    virtual ~StrataClient() = default;
};

}  // namespace morva
