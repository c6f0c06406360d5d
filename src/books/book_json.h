#pragma once

#include <string_view>

#include "books/strata_book.h"
#include "http/http_response.h"

namespace morva {

// Parses the body of a book API response; `kind` names the member that holds the book
// ("orderBook" or "positionBook"). Throws the JSON library's and the standard conversions' errors
// (all std::exception) on the first deviation; never returns a partial record.
StrataBook ParseBook(const HttpResponse& response, std::string_view kind);

}  // namespace morva
