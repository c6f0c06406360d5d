#pragma once

#include <filesystem>
#include <memory>

#include "auth/sign_in_browser.h"

namespace morva {

// WebKitGTK browsers for the sign-in window: a WebKitWebView inside the GtkWindow it is given. Its
// navigation-policy decisions are the navigation starts, its committed loads the source changes.
// The browser keeps cookies and caches in `userDataFolder`. Everything, the factory's own end
// included, happens on the GTK thread.
std::shared_ptr<SignInBrowserFactory> CreateWebKitBrowserFactory(
    std::filesystem::path userDataFolder);

}  // namespace morva
