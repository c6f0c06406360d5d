#pragma once

#include <string>
#include <vector>

namespace morva::test {

// Gives a test credential targets of its own and removes whatever it stored: under Wine, entries
// in Credential Manager with unique names that are deleted afterwards; on Linux, a private
// XDG_DATA_HOME for as long as the object lives.
class IsolatedCredentials {
  public:
    IsolatedCredentials();
    ~IsolatedCredentials();
    IsolatedCredentials(const IsolatedCredentials&) = delete;
    IsolatedCredentials& operator=(const IsolatedCredentials&) = delete;

    // A target name no other test or run uses.
    std::u16string Target(std::u16string_view name);

  private:
    std::u16string prefix_;
    std::vector<std::u16string> targets_;
    std::string folder_;  // Linux: the private data folder
    std::string previousDataHome_;
    bool hadDataHome_ = false;
};

}  // namespace morva::test
