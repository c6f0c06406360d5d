#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/auth_config.h"

namespace morva {

// The pieces of the interactive sign-in that do not depend on a browser or a window.

// "https://<authHost>/authorize?response_type=code&client_id=..&redirect_uri=..&scope=.." with the
// client id, redirect URI and scope percent-encoded: the plain code flow, nothing else.
std::u16string BuildAuthorizeUrl(const AuthConfig& config);

// Whether a navigation target is the end of the sign-in: it begins with the redirect URI, unit for
// unit and case-sensitively.
bool IsRedirect(std::u16string_view uri, std::u16string_view redirectUri);

// The decoded "code" of a redirect, empty when there is none. Throws MorvaError
// "Authorization error: <error> (<error_description>|no description)" when the server sent an
// error, even alongside a code.
std::u16string ReadAuthorizationCode(std::u16string_view redirect);

// What the browser shows once the redirect has been caught.
inline constexpr std::u16string_view kCompletionPage =
    u"<div style=\"text-align:center;margin-top:50px;\"><h1>Completed authorization</h1>"
    u"<p>Please close the window.</p></div>";

// The browser's data folder for one provider: the temporary directory joined with
// "MORVA_Orderbook_WebView_" and `now` in whole seconds since 1970. Throws the standard library's
// filesystem error when there is no temporary directory.
std::filesystem::path SignInDataFolder(std::chrono::system_clock::time_point now);

}  // namespace morva
