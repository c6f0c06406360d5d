#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "books/strata_client.h"
#include "user/i_user_service.h"

namespace morva {

// The token's live premium claim decides when it grants premium; otherwise the book API's answer
// header does. Holds no state of its own, so any thread may call it.
class UserService : public IUserService {
  public:
    explicit UserService(std::shared_ptr<StrataClient> strataClient);

    // The claim itself when it is positive (2 stays 2), else 1 or 0 from the book API. Never
    // throws: a query that fails is logged and answers 0.
    std::int32_t CheckPremium(const AccessToken& token, const std::u16string& instrument) override;

  private:
    const std::shared_ptr<StrataClient> strataClient_;
};

}  // namespace morva
