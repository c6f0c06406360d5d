#include "auth/credential_store.h"

namespace morva {

namespace {

class PlatformCredentialStore : public CredentialStore {
  public:
    void Write(const std::u16string& target, const Credentials& credentials) override {
        WriteCredentials(target, credentials);
    }
    std::optional<Credentials> Read(const std::u16string& target) override {
        return ReadCredentials(target);
    }
};

}  // namespace

std::shared_ptr<CredentialStore> CreatePlatformCredentialStore() {
    return std::make_shared<PlatformCredentialStore>();
}

}  // namespace morva
