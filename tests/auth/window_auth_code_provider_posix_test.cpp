// The GTK provider where there is no display: it must say so at once rather than wait forever.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
        try {
            provider.GetAuthCode(Config());
            ADD_FAILURE() << "GetAuthCode returned without a display";
        } catch (const MorvaError& e) {
            EXPECT_STREQ(e.what(),
                         "Open display for auth window failed. No display: DISPLAY is not set");
        }
    }
}

TEST(WindowAuthCodeProviderWithoutDisplay, BrowserDataFolderIsPerProviderAndRemoved) {
    std::filesystem::path folder;
    {
        WindowAuthCodeProvider provider(nullptr);
        folder = provider.userDataFolder();
        EXPECT_EQ(folder.filename().string().rfind("MORVA_Orderbook_WebView_", 0), 0u);
        std::filesystem::create_directories(folder / "data");
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace morva
