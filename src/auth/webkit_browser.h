#pragma once

#include <memory>

#include "auth/sign_in_browser.h"

namespace morva {

// WebKitGTK browsers for the sign-in window: a WebKitWebView inside the GtkWindow it is given. Its
// navigation-policy decisions are the navigation starts, its committed loads the source changes.
// Each browser has a web context of its own that keeps cookies and caches in the sign-in's data
// folder. Everything, the factory's own end included, happens on the GTK thread.
std::shared_ptr<SignInBrowserFactory> CreateWebKitBrowserFactory();

// Marks WebKitGTK, and with it the libraries it depends on, never to be unloaded. Loading it
// starts a JavaScriptCore thread (its memory scavenger) that nothing can stop; had a host unloaded
// the library before any InitDLL, that thread would wake up in unmapped code. Failures are
// logged.
void KeepWebKitLoaded() noexcept;

}  // namespace morva
