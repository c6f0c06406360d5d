// Credential Manager: one generic credential per target, kept for this user on this machine.
#include <windows.h>

// needs windows.h first
#include <wincred.h>

#include <cstring>
#include <memory>

#include "auth/credential_store.h"
#include "host/morva_error.h"
#include "util/last_error.h"
#include "util/size_conversion.h"

namespace morva {

namespace {

struct CredentialDeleter {
    void operator()(CREDENTIALW* credential) const noexcept { CredFree(credential); }
};
using CredentialOwner = std::unique_ptr<CREDENTIALW, CredentialDeleter>;

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
    PCREDENTIALW raw = nullptr;
    if (!CredReadW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0, &raw)) {
        if (GetLastError() == ERROR_NOT_FOUND) {
            return std::nullopt;
        }
        throw MorvaError("Failed to read credentials from Credential Manager");
    }
    const CredentialOwner entry(raw);

    Credentials credentials;
    if (entry->UserName != nullptr) {
        credentials.userName = reinterpret_cast<const char16_t*>(entry->UserName);
    }
    // An odd last byte cannot hold a code unit and is dropped.
    const std::size_t units = entry->CredentialBlobSize / sizeof(char16_t);
    credentials.secret.resize(units);
    if (units != 0) {
        std::memcpy(credentials.secret.data(), entry->CredentialBlob, units * sizeof(char16_t));
    }
    return credentials;
}

}  // namespace morva
