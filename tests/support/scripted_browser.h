#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "auth/sign_in_browser.h"
#include "base/morva_error.h"
#include "util/utf.h"

namespace morva::test {

// What a scripted browser was asked, in order, and which of its calls fail.
struct BrowserLog {
    std::vector<std::string> calls;
    // By call ("SetVisible(true)") or by name alone ("SetVisible"); requests' calls by
    // "Navigation.GetUri", "Navigation.Cancel", "NewWindow.GetUri", "NewWindow.Refuse".
    std::map<std::string, SignInStatus> failures;
    bool closed = false;

    SignInStatus StatusOf(const std::string& call, const std::string& name) const {
        auto found = failures.find(call);
        if (found == failures.end()) {
            found = failures.find(name);
        }
        return found != failures.end() ? found->second : kSignInOk;
    }
    SignInStatus Record(const std::string& name, const std::string& detail = "") {
        calls.push_back(detail.empty() ? name : name + "(" + detail + ")");
        return StatusOf(calls.back(), name);
    }
};

class ScriptedBrowser final : public SignInBrowser {
  public:
    explicit ScriptedBrowser(std::shared_ptr<BrowserLog> log) : log_(std::move(log)) {}
    SignInStatus SetVisible(bool visible) override {
        return log_->Record("SetVisible", visible ? "true" : "false");
    }
    SignInStatus SetBounds(const SignInRect& bounds) override {
        return log_->Record("SetBounds", std::to_string(bounds.right - bounds.left) + "x" +
                                             std::to_string(bounds.bottom - bounds.top));
    }
    void Configure() override {
        if (log_->Record("Configure") < 0) {
            throw MorvaError("WebView not available for configuration");
        }
    }
    SignInStatus SubscribeSourceChanged() override { return log_->Record("SubscribeSource"); }
    SignInStatus SubscribeNavigationStarting() override {
        return log_->Record("SubscribeNavigation");
    }
    SignInStatus SubscribeNewWindowRequested() override {
        return log_->Record("SubscribeNewWindow");
    }
    SignInStatus Navigate(const std::u16string& url) override {
        return log_->Record("Navigate", Utf16ToUtf8(url));
    }
    SignInStatus NavigateToString(const std::u16string& html) override {
        return log_->Record("NavigateToString", Utf16ToUtf8(html));
    }
    void Close() noexcept override {
        log_->calls.push_back("Close");
        log_->closed = true;
    }

  private:
    std::shared_ptr<BrowserLog> log_;
};

// A navigation about to start ("Navigation") or a page's request for a window of its own
// ("NewWindow"); its calls fail as `log` says, when there is one.
struct ScriptedRequest final : SignInNavigation, SignInNewWindow {
    explicit ScriptedRequest(std::u16string target, std::string kind = "Navigation",
                             const BrowserLog* log = nullptr)
        : uri(std::move(target)), kind_(std::move(kind)), log_(log) {}
    SignInStatus GetUri(std::u16string& out) override {
        out = uri;
        return Status("GetUri");
    }
    SignInStatus Cancel() override {
        stopped = true;
        return Status("Cancel");
    }
    SignInStatus Refuse() override {
        stopped = true;
        return Status("Refuse");
    }

    std::u16string uri;
    bool stopped = false;  // cancelled, or its window refused

  private:
    SignInStatus Status(const std::string& call) const {
        return log_ != nullptr ? log_->StatusOf(kind_ + "." + call, kind_ + "." + call) : kSignInOk;
    }
    std::string kind_;
    const BrowserLog* log_;
};

}  // namespace morva::test
