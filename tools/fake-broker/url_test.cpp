#include "url.h"

#include <gtest/gtest.h>

namespace fake_broker {
namespace {

TEST(PercentEncoding, KeepsUnreservedAndEncodesEverythingElse) {
    EXPECT_EQ(PercentEncode("aZ09-._~"), "aZ09-._~");
    EXPECT_EQ(PercentEncode("a b/c:d?e&f=g"), "a%20b%2Fc%3Ad%3Fe%26f%3Dg");
    EXPECT_EQ(PercentEncode("\xc3\xa9"), "%C3%A9");
}

TEST(RedirectQuery, StartsOrContinuesTheQuery) {
    EXPECT_EQ(AppendQuery("morva://login.morva.example/metatrader/morva/callback",
                          {{"code", "a/b"}, {"state", "s 1"}}),
              "morva://login.morva.example/metatrader/morva/callback?code=a%2Fb&state=s%201");
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
