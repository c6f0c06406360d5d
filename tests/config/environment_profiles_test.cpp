#include "config/environment_profiles.h"

#include <gtest/gtest.h>

#include <string>

namespace morva {
namespace {

std::u16string Target(std::u16string_view serverName) {
    const EnvironmentProfile* profile = SelectProfile(serverName);
    return profile != nullptr ? profile->auth.credentialTarget : u"<none>";
}

TEST(EnvironmentProfiles, ServerNameSelectsTheEnvironmentByFullMatch) {
    EXPECT_EQ(Target(u"MORVATest-Demo"), u"MORVA_Orderbook_Staging");
    EXPECT_EQ(Target(u"MORVA-Live"), u"MORVA_Orderbook");
    // Letter case counts: module_test.cpp's failed match.
    EXPECT_EQ(Target(u"Broker-MORVA"), u"<none>") << "must match from the first character";
    // std::wregex recursed once per character here and overflowed the stack.
    EXPECT_EQ(Target(u"MORVA-" + std::u16string(1'000'000, u'x')), u"<none>")
        << "longer than any server name";
}

TEST(EnvironmentProfiles, EnvironmentsShareOnlyTheConfigurationHost) {
    const auto profiles = EnvironmentProfiles();
    ASSERT_EQ(profiles.size(), 2u);
    const EnvironmentProfile& staging = profiles[0];
    const EnvironmentProfile& production = profiles[1];

    EXPECT_NE(staging.bookApiHost, production.bookApiHost);
    EXPECT_NE(staging.auth.authHost, production.auth.authHost);
    EXPECT_NE(staging.auth.clientId, production.auth.clientId);
    EXPECT_EQ(staging.configHost, production.configHost);
    EXPECT_EQ(staging.metadataPath, u"/media/documents/OrderbookMetadataTest.json");
    EXPECT_EQ(production.metadataPath, u"/media/documents/OrderbookMetadata.json");

    for (const EnvironmentProfile& profile : profiles) {
        EXPECT_TRUE(profile.asynchronous);
        EXPECT_EQ(profile.bookCacheLifetime, 10);
        EXPECT_EQ(profile.metadataCacheLifetime, 60);
        EXPECT_EQ(profile.auth.clientId.size(), 32u);
        EXPECT_EQ(profile.auth.redirectUri,
                  u"morva://" + profile.auth.authHost + u"/metatrader/morva/callback");
    }
}

}  // namespace
}  // namespace morva
