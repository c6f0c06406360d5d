// Credential Manager: one generic credential per target, kept for this user on this machine.
#include <windows.h>

// needs windows.h first
#include <wincred.h>

#include <cstring>

#include "auth/credential_store.h"
#include "base/last_error.h"
#include "base/morva_error.h"
#include "base/unique_any.h"
#include "util/size_conversion.h"

namespace morva {

namespace {

// A plain function: an imported __stdcall function's address is no template argument.
void FreeCredential(PCREDENTIALW credential) noexcept {
    CredFree(credential);
}
using UniqueCredential = UniqueAny<PCREDENTIALW, FreeCredential>;

wchar_t* Wide(std::u16string& text) {
    return reinterpret_cast<wchar_t*>(text.data());
}

}  // namespace

void WriteCredentials(const std::u16string& target, const Credentials& credentials) {
    // Our own copies: the entry points into them until CredWriteW returns.
    std::u16string targetName = target;
    std::u16string userName = credentials.userName;
    std::u16string secret = credentials.secret;
    const DWORD blobSize = ToDWord(std::uint64_t{secret.size()} * sizeof(char16_t));

    CREDENTIALW entry{};
    entry.Flags = 0;
    entry.Type = CRED_TYPE_GENERIC;
    entry.TargetName = Wide(targetName);
    entry.Comment = nullptr;
    entry.CredentialBlobSize = blobSize;
    entry.CredentialBlob = reinterpret_cast<LPBYTE>(secret.data());
    entry.Persist = CRED_PERSIST_LOCAL_MACHINE;
    entry.AttributeCount = 0;
    entry.Attributes = nullptr;
    entry.TargetAlias = nullptr;
    entry.UserName = Wide(userName);
    if (!CredWriteW(&entry, 0)) {
        ThrowLastError("Write credentials to Credential Manager");
    }
}

std::optional<Credentials> ReadCredentials(const std::u16string& target) {
    UniqueCredential entry;
    if (!CredReadW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0, entry.put())) {
        if (GetLastError() == ERROR_NOT_FOUND) {
            return std::nullopt;
        }
        throw MorvaError("Failed to read credentials from Credential Manager");
    }
    const CREDENTIALW& stored = *entry.get();

    Credentials credentials;
    if (stored.UserName != nullptr) {
        credentials.userName = reinterpret_cast<const char16_t*>(stored.UserName);
    }
    // An odd last byte cannot hold a code unit and is dropped.
    const std::size_t units = stored.CredentialBlobSize / sizeof(char16_t);
    credentials.secret.resize(units);
    if (units != 0) {
        std::memcpy(credentials.secret.data(), stored.CredentialBlob, units * sizeof(char16_t));
    }
    return credentials;
}

}  // namespace morva
