#pragma once

#include <string>

namespace morva {

// The sign-in settings of one environment.
struct AuthConfig {
    std::u16string credentialTarget;  // credential-store entry holding the refresh token
    std::u16string authHost;          // authorization server host name
    std::string clientId;             // OAuth client identifier: 32 ASCII letters and digits
    std::u16string redirectUri;       // "morva://" + authHost + "/metatrader/morva/callback"
};

}  // namespace morva
