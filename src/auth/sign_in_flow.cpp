#include "auth/sign_in_flow.h"

#include "base/morva_error.h"
#include "util/uri.h"
#include "util/utf.h"

namespace morva {

std::u16string BuildAuthorizeUrl(const AuthConfig& config, const AuthorizationRequest& request) {
    std::u16string url = u"https://" + config.authHost + u"/authorize";
    url += u"?response_type=code";
    url += u"&client_id=" + EncodeUriComponent(Utf8ToUtf16(config.clientId));
    url += u"&redirect_uri=" + EncodeUriComponent(config.redirectUri);
    url += u"&scope=" + EncodeUriComponent(u"openid offline_access");
    url += u"&state=" + EncodeUriComponent(Utf8ToUtf16(request.state));
    url += u"&code_challenge=" + EncodeUriComponent(Utf8ToUtf16(request.codeChallenge));
    url += u"&code_challenge_method=S256";
    return url;
}

bool IsRedirect(std::u16string_view uri, std::u16string_view redirectUri) {
    return uri.substr(0, redirectUri.size()) == redirectUri;
}

std::u16string ReadAuthorizationCode(std::u16string_view redirect,
                                     const std::string& expectedState) {
    const QueryMap query = ParseQueryParameters(redirect);
    const auto state = query.find(u"state");
    if (expectedState.empty() || state == query.end() ||
        state->second != Utf8ToUtf16(expectedState)) {
        throw MorvaError("Authorization refused: the sign-in page answered with a wrong state");
    }
    if (const auto error = query.find(u"error"); error != query.end()) {
        const auto description = query.find(u"error_description");
        throw MorvaError(
            "Authorization error: %ls (%ls)", error->second,
            description != query.end() ? description->second : std::u16string(u"no description"));
    }
    const auto code = query.find(u"code");
    return code != query.end() ? code->second : std::u16string();
}

bool FollowsNewWindow(std::u16string_view uri, std::u16string_view redirectUri) {
    return IsRedirect(uri, redirectUri) || uri.starts_with(u"https://") ||
           uri.starts_with(u"http://");
}

}  // namespace morva
