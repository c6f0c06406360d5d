#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>

#include "deadline.h"
#include "exports.h"
#include "options.h"

// The calls an indicator makes around its books: set-up, sign-in, premium and update checks.
// Each is repeated until the library answers, with a line for every new text on the way; a text
// that is not one of waiting throws Failure with that text as the library wrote it.
class Session {
  public:
    Session(const Exports& exports, std::ostream& out);

    void InitDll(const Options& options, const Deadline& deadline);
    void InitCreds(const Deadline& deadline);
    // Prints "Premium data for X: yes|no".
    void CheckPremium(const std::string& instrument, const Deadline& deadline);
    // Prints "Update available: V (optional|mandatory)" or "No update available".
    void CheckForUpdates(const Deadline& deadline);

  private:
    // Calls `attempt` until it reports the call done (nullopt); otherwise it returns the text to
    // wait on, shown once when it changes, or throws Failure for an answer that is no answer.
    void Poll(const std::string& name, const std::function<std::optional<std::string>()>& attempt,
              const Deadline& deadline);
    // Calls `attempt` until it returns an empty text; texts listed in `waiting` mean "call again".
    void PollUntilEmpty(const std::string& name, const std::function<std::string()>& attempt,
                        std::initializer_list<const char*> waiting, const Deadline& deadline);
    void Say(const std::string& line);

    const Exports& exports_;
    std::ostream& out_;
};

// How long an indicator leaves the library alone between two polls.
inline constexpr std::chrono::milliseconds kPollPause{150};
