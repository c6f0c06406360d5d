#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/unique_any.h"

namespace morva {

namespace registry_key_detail {
void Close(HKEY key) noexcept;
}  // namespace registry_key_detail

// An open registry key, as RegOpenKeyExW returns it.
using UniqueRegistryKey = UniqueAny<HKEY, registry_key_detail::Close>;

// Opens `subKey` of `root` for reading in the given view (KEY_WOW64_32KEY or KEY_WOW64_64KEY);
// empty when it does not exist or cannot be read.
UniqueRegistryKey OpenRegistryKeyForReading(HKEY root, const wchar_t* subKey, REGSAM view) noexcept;

// A string value of an open key; nothing when it is missing or not a string. The registry holds
// what any program wrote there: the text is cut at its first zero and never read beyond its size.
std::optional<std::u16string> ReadRegistryString(HKEY key, const wchar_t* name);

}  // namespace morva
