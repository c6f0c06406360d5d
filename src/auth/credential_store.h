#pragma once

#include <memory>
#include <optional>
#include <string>

namespace morva {

// One stored credential: the user it belongs to and the secret (the refresh token).
struct Credentials {
    std::u16string userName;
    std::u16string secret;
};

// The user's persistent credential store (Credential Manager on Windows, a private file elsewhere).
// Writing replaces the entry of that target. Reading a target never written gives no value; every
// other failure throws MorvaError.
void WriteCredentials(const std::u16string& target, const Credentials& credentials);
std::optional<Credentials> ReadCredentials(const std::u16string& target);

// The same two operations behind an interface, so the token service can be tested with a store
// that fails on demand.
class CredentialStore {
  public:
    virtual void Write(const std::u16string& target, const Credentials& credentials) = 0;
    virtual std::optional<Credentials> Read(const std::u16string& target) = 0;
    virtual ~CredentialStore() = default;
};

// The platform's store, through the two functions above.
std::shared_ptr<CredentialStore> CreatePlatformCredentialStore();

}  // namespace morva
