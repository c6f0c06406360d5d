#pragma once

#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>

// needs windows.h first
#include <wincred.h>

#include <random>
#else
#include <cstdlib>
#include <optional>

#include "support/files.h"
#endif

namespace morva::test {

// Gives a test credential targets of its own and removes whatever it stored: under Wine, entries
// in Credential Manager with unique names that are deleted afterwards; on Linux, a private
// XDG_DATA_HOME for as long as the object lives.
class IsolatedCredentials {
  public:
#ifdef _WIN32
    IsolatedCredentials() : prefix_(u"MORVA_Test_") {
        std::random_device random;
        for (const unsigned digit : {random(), random()}) {
            for (unsigned value = digit; value != 0; value /= 16) {
                prefix_ += static_cast<char16_t>(u"0123456789ABCDEF"[value % 16]);
            }
        }
        prefix_ += u'_';
    }
    ~IsolatedCredentials() {
        for (const auto& target : targets_) {
            CredDeleteW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0);
        }
    }
#else
    IsolatedCredentials() {
        if (const char* previous = std::getenv("XDG_DATA_HOME")) {
            previousDataHome_ = previous;
        }
        ::setenv("XDG_DATA_HOME", folder_.path().c_str(), 1);
    }
    ~IsolatedCredentials() {
        if (previousDataHome_) {
            ::setenv("XDG_DATA_HOME", previousDataHome_->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }
#endif
    IsolatedCredentials(const IsolatedCredentials&) = delete;
    IsolatedCredentials& operator=(const IsolatedCredentials&) = delete;

    // A target name no other test or run uses.
    std::u16string Target(std::u16string_view name) {
        targets_.push_back(prefix_ + std::u16string(name));
        return targets_.back();
    }

  private:
    std::u16string prefix_;  // Windows: "MORVA_Test_" and random digits
    std::vector<std::u16string> targets_;
#ifndef _WIN32
    TempFolder folder_{"morva_credentials_"};
    std::optional<std::string> previousDataHome_;
#endif
};

}  // namespace morva::test
