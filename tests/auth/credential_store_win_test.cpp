#include <windows.h>

// needs windows.h first
#include <wincred.h>

#include <memory>

#include "auth/credential_store.h"
#include "gtest/gtest.h"
#include "support/isolated_credentials.h"

namespace morva {
namespace {

struct CredentialDeleter {
    void operator()(CREDENTIALW* credential) const { CredFree(credential); }
};

std::unique_ptr<CREDENTIALW, CredentialDeleter> ReadRaw(const std::u16string& target) {
    PCREDENTIALW raw = nullptr;
    if (!CredReadW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0, &raw)) {
        return nullptr;
    }
    return std::unique_ptr<CREDENTIALW, CredentialDeleter>(raw);
}

void WriteRaw(const std::u16string& target, BYTE* blob, DWORD size, wchar_t* userName) {
    std::u16string name = target;
    CREDENTIALW entry{};
    entry.Type = CRED_TYPE_GENERIC;
    entry.TargetName = reinterpret_cast<wchar_t*>(name.data());
    entry.CredentialBlobSize = size;
    entry.CredentialBlob = blob;
    entry.Persist = CRED_PERSIST_LOCAL_MACHINE;
    entry.UserName = userName;
    ASSERT_TRUE(CredWriteW(&entry, 0)) << GetLastError();
}

TEST(CredentialManager, StoresTheSecretAsItsCodeUnitsOnlyAndReadsOthersEntries) {
    test::IsolatedCredentials store;
    const auto target = store.Target(u"MORVA_Orderbook");
    WriteCredentials(target, {u"user", u"abc"});
    const auto entry = ReadRaw(target);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Type, static_cast<DWORD>(CRED_TYPE_GENERIC));
    EXPECT_EQ(entry->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
    ASSERT_EQ(entry->CredentialBlobSize, 6u);  // no terminating zero
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(entry->CredentialBlob), 3), u"abc");

    WriteCredentials(target, {u"user", u""});
    EXPECT_EQ(ReadRaw(target)->CredentialBlobSize, 0u);

    // Entries written by others.
    const auto odd = store.Target(u"odd");
    BYTE blob[] = {'a', 0, 'b', 0, 'c'};  // an odd last byte holds no code unit
    WriteRaw(odd, blob, sizeof blob, nullptr);
    const auto read = ReadCredentials(odd);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->secret, u"ab");
    EXPECT_TRUE(read->userName.empty());
}

}  // namespace
}  // namespace morva
