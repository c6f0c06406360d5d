#include "auth/file_credential_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "auth/credential_store.h"
#include "base/morva_error.h"
#include "support/files.h"
#include "support/isolated_credentials.h"

namespace morva {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

TEST(FileCredentialStore, FileIsPrivateUnderTheDataHomeAndOutlivesACrashsLeftovers) {
    test::IsolatedCredentials store;
    const fs::path path = file_store_detail::CredentialsFilePath();
    EXPECT_EQ(path, fs::path(std::getenv("XDG_DATA_HOME")) / "morva" / "credentials.json");

    const auto target = store.Target(u"MORVA_Orderbook");
    WriteCredentials(target, {u"user", u"old"});
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ModeOf(path.parent_path()), 0700u);
    const fs::path temporary = fs::path(path).concat(".tmp");
    EXPECT_FALSE(fs::exists(temporary));

    // The leftovers of a crash do not hurt.
    test::WriteFile(temporary, "{\"half\":");  // a write cut short before its rename
    fs::permissions(temporary, fs::perms::all);

    EXPECT_EQ(ReadCredentials(target)->secret, u"old");
    WriteCredentials(target, {u"user", u"new"});
    EXPECT_EQ(ReadCredentials(target)->secret, u"new");
    EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(FileCredentialStore, UnreadableStoreIsAnErrorAndNeverOverwritten) {
    test::IsolatedCredentials store;
    const auto target = store.Target(u"MORVA_Orderbook");
    WriteCredentials(target, {u"user", u"secret"});
    const fs::path path = file_store_detail::CredentialsFilePath();

    for (const char* content :
         {"{\"MORVA_Orderbook\": {\"secret\": \"refresh-tok", R"({"MORVA_Orderbook": "flat"})",
          R"({"MORVA_Orderbook": {"userName": "u"}})"}) {
        test::WriteFile(path, content);
        EXPECT_THAT([&] { ReadCredentials(target); },
                    testing::ThrowsMessage<MorvaError>(
                        "Failed to read credentials from Credential Manager"))
            << content;
    }
    // A store that is not valid JSON may hold other entries: leave it be, and never quote it.
    test::WriteFile(path, "{\"other\": {\"secret\": \"refresh-tok");
    EXPECT_THAT(
        [&] {
            WriteCredentials(target, {u"user", u"secret"});
        },
        testing::ThrowsMessage<MorvaError>(
            testing::AllOf(testing::HasSubstr("Write credentials to Credential Manager failed."),
                           testing::Not(testing::HasSubstr("refresh-tok")))));
    EXPECT_EQ(test::ReadFile(path), "{\"other\": {\"secret\": \"refresh-tok");

    // Unknown targets in a good store are "not found"; their neighbours are kept on write.
    test::WriteFile(path, R"({"other": {"userName": "o", "secret": "s"}})");
    EXPECT_FALSE(ReadCredentials(target).has_value());
    WriteCredentials(target, {u"user", u"mine"});
    EXPECT_EQ(ReadCredentials(u"other")->secret, u"s");
    EXPECT_EQ(ReadCredentials(target)->secret, u"mine");
}

}  // namespace
}  // namespace morva
