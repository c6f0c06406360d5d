#include "url.h"

#include <gtest/gtest.h>

namespace fake_broker {
namespace {

// Values keep the unreserved characters and have every other byte percent-encoded.
TEST(RedirectQuery, StartsOrContinuesTheQuery) {
    EXPECT_EQ(AppendQuery("morva://login.morva.example/callback",
                          {{"code", "aZ09-._~ /:?&=\xc3\xa9"}, {"state", "s"}}),
              "morva://login.morva.example/callback?code=aZ09-._~%20%2F%3A%3F%26%3D%C3%A9&state=s");
    EXPECT_EQ(AppendQuery("https://x/cb?keep=1", {{"error", "access_denied"}}),
              "https://x/cb?keep=1&error=access_denied");
    EXPECT_EQ(AppendQuery("https://x/cb", {}), "https://x/cb");
}

TEST(Scope, MatchesWholeWordsOnly) {
    EXPECT_TRUE(ScopeHas("openid offline_access", "offline_access"));
    EXPECT_TRUE(ScopeHas("openid offline_access", "openid"));
    EXPECT_FALSE(ScopeHas("openid_extra offline", "openid"));
    EXPECT_FALSE(ScopeHas("", "openid"));
}

TEST(Html, EscapesAttributeBreakers) {
    EXPECT_EQ(HtmlEscape(R"(a"b'<c>&)"), "a&quot;b&#39;&lt;c&gt;&amp;");
}

}  // namespace
}  // namespace fake_broker
