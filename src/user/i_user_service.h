#pragma once

#include <cstdint>
#include <string>

#include "auth/access_token.h"

namespace morva {

// Whether the signed-in user may see premium book data.
class IUserService {
  public:
    // A positive value grants premium, 0 refuses it.
    virtual std::int32_t CheckPremium(const AccessToken& token,
                                      const std::u16string& instrument) = 0;
    virtual ~IUserService() = default;
};

}  // namespace morva
