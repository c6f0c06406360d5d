#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fake_broker {

using QueryParameters = std::vector<std::pair<std::string, std::string>>;

// RFC 3986 unreserved characters stay, every other byte becomes %XX.
std::string PercentEncode(std::string_view text);

// Appends the parameters to a URI that may already carry a query (a redirect URI can).
std::string AppendQuery(const std::string& uri, const QueryParameters& parameters);

// Whether a space-separated OAuth scope holds the word.
bool ScopeHas(std::string_view scope, std::string_view word);

std::string HtmlEscape(std::string_view text);

}  // namespace fake_broker
