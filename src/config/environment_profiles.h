#pragma once

#include <span>
#include <string_view>

#include "config/environment_profile.h"

namespace morva {

// The built-in profiles, staging first: a staging server's name matches both patterns and the
// first match wins. Built once, on first use, and never changed.
std::span<const EnvironmentProfile> EnvironmentProfiles();

// The first profile whose pattern matches the whole server name, or null.
const EnvironmentProfile* SelectProfile(std::u16string_view serverName);

}  // namespace morva
