#pragma once

#include <future>

#include "auth/access_token.h"

namespace morva {

// Where the rest of the library gets an access token.
class AuthService {
  public:
    // Blocks for as long as refresh and sign-in take; throws MorvaError when no token can be had.
    virtual AccessToken GetAccessToken() = 0;
    // Returns at once; the future may not be ready yet and may hold the sign-in's failure.
    virtual std::shared_future<AccessToken> GetAccessTokenAsync() = 0;
    virtual ~AuthService() = default;
};

}  // namespace morva
