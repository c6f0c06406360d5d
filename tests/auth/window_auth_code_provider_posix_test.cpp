// The GTK provider where there is no display: it must say so at once rather than wait forever.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "auth/window_auth_code_provider.h"
#include "base/morva_error.h"

namespace morva {
namespace {

AuthConfig Config() {
    return {u"MORVA_Orderbook", u"login.morva.example", "ABC",
            u"morva://login.morva.example/metatrader/morva/callback"};
}

TEST(WindowAuthCodeProviderWithoutDisplay, FailsAtOnceWithAClearText) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    WindowAuthCodeProvider provider(nullptr);
    for (int attempt = 0; attempt < 2; ++attempt) {  // a failed start is tried afresh
        EXPECT_THAT([&] { provider.GetAuthCode(Config(), AuthorizationRequest::Create()); },
                    testing::ThrowsMessage<MorvaError>(
                        "Open display for auth window failed. No display: DISPLAY is not set"));
    }
}

}  // namespace
}  // namespace morva
