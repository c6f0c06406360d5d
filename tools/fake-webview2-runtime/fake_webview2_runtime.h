#pragma once

// What a test asks the fake WebView2 runtime (EmbeddedBrowserWebView.dll built beside this file),
// through exports it resolves with GetProcAddress: the journal of what the library made the browser
// do, and how many of the runtime's COM objects are still alive.
//
// Journal entries, one per line:
//   start loader=<0|1> type=<installed|fixed> folder=<user data folder> folder-exists=<0|1>
//         options=<none|given>
//   environment
//   controller parent=<class name of the parent window>
//   controller-aborted                      the parent window went before the controller was made
//   visible <0|1>      bounds <width>x<height>      setting <name>=<0|1>
//   navigate <url>     page <html>          (NavigateToString)
//   navigation-starting <url>   then   cancelled <url>   or   loaded <url>
//   source <url>                            the view's source changed
//   close                                   the controller was closed
//   wrong-thread <method>                   called off the thread that made the object
#include <windows.h>

#include <cstddef>

namespace morva::test::fake_webview2 {

// Told of each journal entry as it is written, with the browser's parent window once there is one.
using Observer = void (*)(const wchar_t* entry, HWND parent, void* context);

// Empties the journal. With a `signInCode` the broker signs in at once: the authorize page
// redirects to its redirect_uri with that code and the page's state. Without one the page waits
// for the user.
using ResetFn = void (*)(const wchar_t* signInCode, Observer observer, void* context);
inline constexpr const char* kReset = "FakeWebView2Reset";

// Copies up to `capacity` characters of the journal (no terminating zero); returns its length.
using JournalFn = std::size_t (*)(wchar_t* buffer, std::size_t capacity);
inline constexpr const char* kJournal = "FakeWebView2Journal";

// The environments, controllers, views, settings and event arguments not yet released.
using LiveObjectsFn = long (*)();
inline constexpr const char* kLiveObjects = "FakeWebView2LiveObjects";

}  // namespace morva::test::fake_webview2
