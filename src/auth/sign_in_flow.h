#pragma once

#include <string>
#include <string_view>

#include "auth/authorization_request.h"
#include "config/auth_config.h"

namespace morva {

// The pieces of the interactive sign-in that do not depend on a browser or a window.

// "https://<authHost>/authorize?response_type=code&client_id=..&redirect_uri=..&scope=..&state=..
// &code_challenge=..&code_challenge_method=S256", every value percent-encoded: the code flow with
// the request's state and PKCE challenge.
std::u16string BuildAuthorizeUrl(const AuthConfig& config, const AuthorizationRequest& request);

// Whether a navigation target is the end of the sign-in: it begins with the redirect URI, unit for
// unit and case-sensitively.
bool IsRedirect(std::u16string_view uri, std::u16string_view redirectUri);

// The decoded "code" of a redirect, empty when there is none. Throws MorvaError
// "Authorization refused: the sign-in page answered with a wrong state" when its state is not
// `expectedState` (or missing): whoever made that redirect up wrote its error too, so nothing of
// it is shown. Otherwise throws "Authorization error: <error> (<error_description>|no
// description)" when the server sent an error, even alongside a code.
std::u16string ReadAuthorizationCode(std::u16string_view redirect,
                                     const std::string& expectedState);

// Whether the sign-in's own view goes where a page wanted a new window opened: to the redirect
// and to web pages (http, https), where navigation is watched as everywhere else; not to
// "about:blank" (a script's empty window), "javascript:", "data:" or "file:".
bool FollowsNewWindow(std::u16string_view uri, std::u16string_view redirectUri);

// What the browser shows once the redirect has been caught.
inline constexpr std::u16string_view kCompletionPage =
    u"<div style=\"text-align:center;margin-top:50px;\"><h1>Completed authorization</h1>"
    u"<p>Please close the window.</p></div>";

}  // namespace morva
