#pragma once

#include <cstdint>
#include <string>

#include "config/auth_config.h"
#include "util/name_pattern.h"

namespace morva {

// Everything that differs between the broker's production and staging environments.
struct EnvironmentProfile {
    NamePattern serverNamePattern;       // letter case significant, must match the whole name
    bool asynchronous = true;            // true: the module builds the non-blocking services
    std::int32_t bookCacheLifetime = 0;  // seconds
    std::u16string bookApiHost;
    AuthConfig auth;
    std::u16string configHost;
    std::u16string metadataPath;             // absolute path of the metadata document on configHost
    std::int32_t metadataCacheLifetime = 0;  // seconds
};

}  // namespace morva
