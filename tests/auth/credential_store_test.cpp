#include "auth/credential_store.h"

#include <gtest/gtest.h>

#include "support/isolated_credentials.h"

namespace morva {
namespace {

// Each environment's entry on its own, overwritten whole, empty fields and all.
TEST(CredentialStore, ReadsBackWhatWasWrittenForEachTarget) {
    test::IsolatedCredentials store;
    const auto production = store.Target(u"MORVA_Orderbook");
    const auto staging = store.Target(u"MORVA_Orderbook_Staging");
    EXPECT_FALSE(ReadCredentials(production).has_value());

    WriteCredentials(production, {u"auth0|\u0416\u0435\u043D\u044F", u"refresh-\U0001F511-token"});
    const auto read = ReadCredentials(production);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->userName, u"auth0|\u0416\u0435\u043D\u044F");
    EXPECT_EQ(read->secret, u"refresh-\U0001F511-token");
    EXPECT_FALSE(ReadCredentials(staging).has_value());

    WriteCredentials(staging, {u"", u""});
    WriteCredentials(production, {u"second", u"renewed"});
    EXPECT_EQ(ReadCredentials(production)->userName, u"second");
    EXPECT_EQ(ReadCredentials(production)->secret, u"renewed");
    const auto empty = ReadCredentials(staging);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->userName.empty());
    EXPECT_TRUE(empty->secret.empty());
}

}  // namespace
}  // namespace morva
