#include "auth/credential_store.h"

#include <gtest/gtest.h>

#include "support/isolated_credentials.h"

namespace morva {
namespace {

TEST(CredentialStore, ReadsBackWhatWasWritten) {
    test::IsolatedCredentials store;
    const auto target = store.Target(u"MORVA_Orderbook");
    EXPECT_FALSE(ReadCredentials(target).has_value());

    WriteCredentials(target, {u"auth0|\u0416\u0435\u043D\u044F", u"refresh-\U0001F511-token"});
    const auto read = ReadCredentials(target);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->userName, u"auth0|\u0416\u0435\u043D\u044F");
    EXPECT_EQ(read->secret, u"refresh-\U0001F511-token");
}

TEST(CredentialStore, EmptyFieldsAndOverwrites) {
    test::IsolatedCredentials store;
    const auto target = store.Target(u"MORVA_Orderbook");
    WriteCredentials(target, {u"", u""});
    auto read = ReadCredentials(target);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->userName.empty());
    EXPECT_TRUE(read->secret.empty());

    WriteCredentials(target, {u"first", u"one"});
    WriteCredentials(target, {u"second", u"two"});
    read = ReadCredentials(target);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->userName, u"second");
    EXPECT_EQ(read->secret, u"two");
}

TEST(CredentialStore, EnvironmentsLiveSideBySide) {
    test::IsolatedCredentials store;
    const auto production = store.Target(u"MORVA_Orderbook");
    const auto staging = store.Target(u"MORVA_Orderbook_Staging");
    WriteCredentials(production, {u"live-user", u"live-secret"});
    EXPECT_FALSE(ReadCredentials(staging).has_value());
    WriteCredentials(staging, {u"staging-user", u"staging-secret"});
    WriteCredentials(production, {u"live-user", u"renewed"});

    EXPECT_EQ(ReadCredentials(production)->secret, u"renewed");
    EXPECT_EQ(ReadCredentials(staging)->secret, u"staging-secret");
    EXPECT_EQ(ReadCredentials(staging)->userName, u"staging-user");
}

}  // namespace
}  // namespace morva
