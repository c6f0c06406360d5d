#pragma once

#include <cstdint>

#include "base/unique_any.h"

namespace morva {

// The sign-in window's class "Morva_MetaTrader_Orderbook_Auth", registered once per process when
// the library is attached and unregistered when it is detached. Only Windows has window classes:
// elsewhere registration gives an empty owner.

// A class is unregistered by its atom together with the module that registered it.
struct SignInWindowClassRegistration {
    std::uint16_t atom = 0;
    void* moduleInstance = nullptr;
    bool operator==(const SignInWindowClassRegistration&) const = default;
};

void UnregisterSignInWindowClass(SignInWindowClassRegistration registration) noexcept;

using SignInWindowClass = UniqueAny<SignInWindowClassRegistration, UnregisterSignInWindowClass>;

// Throws MorvaError "Register auth window class failed. <last error>".
SignInWindowClass RegisterSignInWindowClass(void* moduleInstance);

}  // namespace morva
