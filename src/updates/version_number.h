#pragma once

#include <string>
#include <string_view>

namespace morva {

// Compares two dotted version texts part by part as numbers (1.10 is newer than 1.9); the shorter
// list is padded with zeros (1.2 equals 1.2.0.0). Parts are split as a stream reads them with "."
// as the delimiter and read like std::stoi: white space and a sign first, digits up to the first
// other character ("5-beta" is 5). Returns -1, 0 or 1. Throws std::invalid_argument "invalid
// stoi argument" for a part without a leading number, std::out_of_range "stoi argument out of
// range" for one beyond 32 bits.
int CompareVersions(const std::string& left, const std::string& right);

// True for one to four parts of ASCII digits joined by single dots, nothing else: the only kind
// of published version that may become part of a file name.
bool IsPlainVersion(std::u16string_view version);

}  // namespace morva
