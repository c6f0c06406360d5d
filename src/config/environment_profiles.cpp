#include "config/environment_profiles.h"

#include <array>
#include <string>
#include <string_view>

#include "config/deployment_settings.h"
#include "util/no_destructor.h"

namespace morva {

namespace {

constexpr std::int32_t kBookCacheLifetime = 10;
constexpr std::int32_t kMetadataCacheLifetime = 60;

AuthConfig MakeAuth(std::u16string credentialTarget, std::u16string authHost,
                    std::string clientId) {
    std::u16string redirectUri = u"morva://" + authHost + u"/metatrader/morva/callback";
    return AuthConfig{std::move(credentialTarget), std::move(authHost), std::move(clientId),
                      std::move(redirectUri)};
}

EnvironmentProfile MakeProfile(std::u16string_view pattern, std::u16string bookApiHost,
                               AuthConfig auth, std::u16string metadataPath) {
    return EnvironmentProfile{
        .serverNamePattern = NamePattern(pattern),
        .asynchronous = true,
        .bookCacheLifetime = kBookCacheLifetime,
        .bookApiHost = std::move(bookApiHost),
        .auth = std::move(auth),
        .configHost = deployment::kConfigHost,
        .metadataPath = std::move(metadataPath),
        .metadataCacheLifetime = kMetadataCacheLifetime,
    };
}

}  // namespace

std::span<const EnvironmentProfile> EnvironmentProfiles() {
    // Never destroyed: InitDLL on a terminal thread may still select one while the process exits.
    static NoDestructor<const std::array<EnvironmentProfile, 2>> profiles(
        std::array<EnvironmentProfile, 2>{
            MakeProfile(u"MORVATest.*", deployment::kStagingBookApiHost,
                        MakeAuth(u"MORVA_Orderbook_Staging", deployment::kStagingAuthHost,
                                 deployment::kStagingClientId),
                        u"/media/documents/OrderbookMetadataTest.json"),
            MakeProfile(u"MORVA.*", deployment::kProductionBookApiHost,
                        MakeAuth(u"MORVA_Orderbook", deployment::kProductionAuthHost,
                                 deployment::kProductionClientId),
                        u"/media/documents/OrderbookMetadata.json"),
        });
    return *profiles;
}

const EnvironmentProfile* SelectProfile(std::u16string_view serverName) {
    for (const EnvironmentProfile& profile : EnvironmentProfiles()) {
        if (profile.serverNamePattern.Matches(serverName)) {
            return &profile;
        }
    }
    return nullptr;
}

}  // namespace morva
