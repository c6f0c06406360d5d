#pragma once

#include <cstdint>

namespace morva {

// The sign-in window's class "Morva_MetaTrader_Orderbook_Auth", registered once per process when
// the library is attached and unregistered when it is detached. Only Windows has window classes:
// elsewhere registration returns 0 and unregistration does nothing.

// Returns the class atom; throws MorvaError "Register auth window class failed. <last error>".
std::uint16_t RegisterSignInWindowClass(void* moduleInstance);
void UnregisterSignInWindowClass(std::uint16_t atom, void* moduleInstance) noexcept;

}  // namespace morva
