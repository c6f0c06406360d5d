#pragma once

#include <string>

#include "auth/authorization_request.h"
#include "config/auth_config.h"

namespace morva {

// Obtains an OAuth authorization code by letting the user sign in.
class AuthCodeProvider {
  public:
    // Blocks until the user finishes or abandons the sign-in, which asks with `request`'s state and
    // code challenge and takes only a redirect that brings that state back. Returns the code, or
    // an empty text when the window was closed without one; throws MorvaError on failure.
    virtual std::u16string GetAuthCode(const AuthConfig& config,
                                       const AuthorizationRequest& request) = 0;
    virtual ~AuthCodeProvider() = default;
};

}  // namespace morva
