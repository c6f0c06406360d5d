#include "session.h"

#include <algorithm>
#include <optional>
#include <string>

#include "failure.h"

namespace {

constexpr const char* kWaitingForConfiguration = "Waiting for server configuration";
constexpr const char* kWaitingForAuthorization = "Waiting for authorization";
constexpr const char* kCheckingPremium = "Checking premium in progress...";

constexpr std::int32_t kUpdatesInProgress = 1;
constexpr std::int32_t kNoUpdates = 3;
constexpr std::int32_t kUpdateAvailable = 4;

}  // namespace

Session::Session(const Exports& exports, std::ostream& out) : exports_(exports), out_(out) {}

void Session::Say(const std::string& line) {
    out_ << line << std::endl;
}

void Session::Poll(const std::string& name,
                   const std::function<std::optional<std::string>()>& attempt,
                   const Deadline& deadline) {
    std::string last;
    for (;;) {
        const std::optional<std::string> waiting = attempt();
        if (!waiting) {
            return;
        }
        if (*waiting != last) {
            Say(name + ": " + *waiting);
            last = *waiting;
        }
        if (deadline.Expired()) {
            throw Failure(name + " " + deadline.TimeoutText("an answer (last: " + *waiting + ")"));
        }
        deadline.Pause(kPollPause);
    }
}

void Session::PollUntilEmpty(const std::string& name, const std::function<std::string()>& attempt,
                             std::initializer_list<const char*> waiting, const Deadline& deadline) {
    Poll(
        name,
        [&]() -> std::optional<std::string> {
            const std::string text = attempt();
            if (text.empty()) {
                Say(name + ": ok");
                return std::nullopt;
            }
            if (std::find(waiting.begin(), waiting.end(), text) == waiting.end()) {
                throw Failure(name + " failed: " + text);
            }
            return text;
        },
        deadline);
}

void Session::InitDll(const Options& options, const Deadline& deadline) {
    const WideText server(options.server), account(options.account), platform(options.platform),
        language(options.language);
    PollUntilEmpty(
        "InitDLL",
        [&] {
            WideBuffer error;
            exports_.InitDLL(server.get(), account.get(), platform.get(), language.get(),
                             error.get());
            return error.Utf8();
        },
        {kWaitingForConfiguration}, deadline);
}

void Session::InitCreds(const Deadline& deadline) {
    PollUntilEmpty(
        "InitCreds",
        [&] {
            WideBuffer error;
            exports_.InitCreds(error.get());
            return error.Utf8();
        },
        {kWaitingForAuthorization}, deadline);
}

void Session::CheckPremium(const std::string& instrument, const Deadline& deadline) {
    const WideText wide(instrument);
    const std::string name = "CheckPremium(" + instrument + ")";
    Poll(
        name,
        [&]() -> std::optional<std::string> {
            WideBuffer error;
            const std::int32_t result = exports_.CheckPremium(wide.get(), error.get());
            const std::string text = error.Utf8();
            if (text.empty() && result >= 0) {
                Say("Premium data for " + instrument + ": " + (result > 0 ? "yes" : "no"));
                return std::nullopt;
            }
            if (text != kCheckingPremium && text != kWaitingForAuthorization) {
                throw Failure(name + " failed (" + std::to_string(result) +
                              "): " + (text.empty() ? "no text" : text));
            }
            return text;
        },
        deadline);
}

void Session::CheckForUpdates(const Deadline& deadline) {
    Poll(
        "CheckForUpdates",
        [&]() -> std::optional<std::string> {
            WideBuffer version, error;
            bool force = false;
            const std::int32_t status =
                exports_.CheckForUpdates(version.get(), &force, error.get());
            const std::string text = error.Utf8();
            if (status == kNoUpdates && text.empty()) {
                Say("No update available");
                return std::nullopt;
            }
            if (status == kUpdateAvailable && text.empty()) {
                Say("Update available: " + version.Utf8() +
                    (force ? " (mandatory)" : " (optional)"));
                return std::nullopt;
            }
            if (status != kUpdatesInProgress) {
                throw Failure("CheckForUpdates failed (" + std::to_string(status) +
                              "): " + (text.empty() ? "no text" : text));
            }
            return text;
        },
        deadline);
}
