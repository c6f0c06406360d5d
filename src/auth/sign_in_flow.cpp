#include "auth/sign_in_flow.h"

#include "base/morva_error.h"
#include "util/uri.h"
#include "util/utf.h"

namespace morva {

std::u16string BuildAuthorizeUrl(const AuthConfig& config) {
    std::u16string url = u"https://" + config.authHost + u"/authorize";
    url += u"?response_type=code";
    url += u"&client_id=" + EncodeUriComponent(Utf8ToUtf16(config.clientId));
    url += u"&redirect_uri=" + EncodeUriComponent(config.redirectUri);
    url += u"&scope=" + EncodeUriComponent(u"openid offline_access");
    return url;
}

bool IsRedirect(std::u16string_view uri, std::u16string_view redirectUri) {
    return uri.substr(0, redirectUri.size()) == redirectUri;
}

std::u16string ReadAuthorizationCode(std::u16string_view redirect) {
    const QueryMap query = ParseQueryParameters(redirect);
    if (const auto error = query.find(u"error"); error != query.end()) {
        const auto description = query.find(u"error_description");
        throw MorvaError(
            "Authorization error: %ls (%ls)", error->second,
            description != query.end() ? description->second : std::u16string(u"no description"));
    }
    const auto code = query.find(u"code");
    return code != query.end() ? code->second : std::u16string();
}

std::filesystem::path SignInDataFolder(std::chrono::system_clock::time_point now) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return std::filesystem::temp_directory_path() /
           ("MORVA_Orderbook_WebView_" + std::to_string(seconds));
}

}  // namespace morva
