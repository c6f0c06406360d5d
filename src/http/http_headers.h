#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace morva {

// Orders header names without regard to ASCII letter case, so that a lookup finds a header in
// whatever case the server wrote it and a map holds one value per name.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept;
};

// Header name -> value; storing a name already present (in any letter case) replaces its value.
using HttpHeaders = std::map<std::u16string, std::u16string, CaseInsensitiveLess>;

// Stores `value` under `name`, replacing the value of a name that differs only in letter case
// (std::map's operator[] would keep the first spelling's key, which is fine, and the new value).
void SetHeader(HttpHeaders& headers, std::u16string_view name, std::u16string_view value);

// "Accept: application/json": where every JSON API request starts.
const HttpHeaders& JsonAcceptingHeaders();
// "Accept" and "Content-Type" both "application/json": for requests that send JSON.
const HttpHeaders& JsonExchangingHeaders();

// Parses a raw response header block (lines separated by line feeds, each optionally ending in a
// carriage return): a line without a colon is skipped (the status line, the blank end); the name
// is everything before the first colon, unchanged; the value everything after it, leading blanks
// and tabs removed; of repeated names the last wins.
HttpHeaders ParseResponseHeaders(std::u16string_view raw);

// The body length a response promises: its Content-Length when that is a plain decimal number and
// no Transfer-Encoding overrides it; otherwise none. A transport that reads until the connection
// closes uses it to tell a complete body from one cut short.
std::optional<std::uint64_t> DeclaredBodyLength(const HttpHeaders& headers);

}  // namespace morva
