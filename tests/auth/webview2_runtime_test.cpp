#include "auth/webview2_runtime.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace morva {
namespace {

TEST(WebView2RuntimeTest, VersionsAreFourDecimalNumbersWithin32Bits) {
    EXPECT_EQ(ParseWebView2Version(u"120.0.2210.91"), (WebView2Version{120, 0, 2210, 91}));
    EXPECT_EQ(ParseWebView2Version(u"4294967295.0.0.0"), (WebView2Version{4294967295U, 0, 0, 0}));
    for (const char16_t* text : {u"", u"120.0.2210", u"120.0.2210.91.1", u"120.0..91",
                                 u"120.0.2210.91 ", u"4294967296.0.0.0", u"-1.0.0.0", u"a.b.c.d"}) {
        EXPECT_EQ(ParseWebView2Version(text), std::nullopt);
    }
}

TEST(WebView2RuntimeTest, ChoosesTheNewestRuntimeWhoseLibraryExistsForTheArchitecture) {
    const std::set<std::u16string> files = {
        u"C:\\A\\99.0.1150.9\\EBWebView\\x64\\EmbeddedBrowserWebView.dll",
        u"C:\\B\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll",
        u"C:\\C\\120.0.2210.100\\EBWebView\\x86\\EmbeddedBrowserWebView.dll",
        u"C:\\D\\86.0.615.9\\EBWebView\\x64\\EmbeddedBrowserWebView.dll",
        u"C:\\F\\120.0.2210.99x\\EBWebView\\x64\\EmbeddedBrowserWebView.dll",
    };
    const auto exists = [&](const std::u16string& path) { return files.contains(path); };
    // Newer runtimes without an x64 library, too old or unreadably named, and missing ones lose; a
    // folder's trailing separator is not doubled.
    const std::vector<std::u16string> folders = {
        u"C:\\A\\99.0.1150.9", u"C:\\C\\120.0.2210.100", u"C:\\B\\120.0.2210.91\\",
        u"C:\\D\\86.0.615.9",  u"C:\\E\\130.0.0.0",      u"C:\\F\\120.0.2210.99x",
        u"130.0.0.0",
    };
    EXPECT_EQ(ChooseInstalledWebView2Runtime(folders, u"x64", exists),
              u"C:\\B\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
    EXPECT_EQ(ChooseInstalledWebView2Runtime(folders, u"x86", exists),
              u"C:\\C\\120.0.2210.100\\EBWebView\\x86\\EmbeddedBrowserWebView.dll");
    // The same folder from two registry views, in either order.
    EXPECT_EQ(ChooseInstalledWebView2Runtime({folders[2], folders[0], folders[2]}, u"x64", exists),
              u"C:\\B\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
    EXPECT_EQ(ChooseInstalledWebView2Runtime({folders[3], folders[4]}, u"x64", exists),
              std::nullopt);
    EXPECT_EQ(ChooseInstalledWebView2Runtime({}, u"x64", exists), std::nullopt);
}

}  // namespace
}  // namespace morva
