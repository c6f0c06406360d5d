#pragma once

#include <cstdint>
#include <string_view>

namespace morva {

class Module;

// The texts the two update exports write to the error buffer for a status; empty for the
// statuses that report nothing (NoUpdates, UpdateAvailable; Updated).
std::u16string_view UpdatesCheckStatusText(std::int32_t status) noexcept;
std::u16string_view UpdateStatusText(std::int32_t status) noexcept;

// The bodies of CheckForUpdates and UpdateIndicator: each returns the service's status and
// writes its text to the error buffer. Null outputs or paths throw MorvaError.
std::int32_t CheckForUpdates(Module& module, char16_t* version, bool* force, char16_t* error);
std::int32_t UpdateIndicator(Module& module, const char16_t* dataFolder,
                             const char16_t* indicatorPath, char16_t* error);

}  // namespace morva
