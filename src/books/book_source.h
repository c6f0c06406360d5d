#pragma once

#include <cstdint>
#include <string>

#include "auth/access_token.h"
#include "books/strata_book.h"

namespace morva {

// Loads one kind of book; the book services are written once for both kinds.
class BookSource {
  public:
    // Blocks for the download; may run on any thread. Errors of the client pass through.
    virtual StrataBook GetBook(AccessToken token, const std::u16string& instrument,
                               std::int64_t time) = 0;
    virtual ~BookSource() = default;
};

}  // namespace morva
