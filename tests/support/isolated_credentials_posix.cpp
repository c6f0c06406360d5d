#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <system_error>

#include "support/isolated_credentials.h"

namespace morva::test {

IsolatedCredentials::IsolatedCredentials() {
    std::random_device random;
    std::ostringstream name;
    name << "morva_credentials_" << std::hex << random() << random();
    folder_ = (std::filesystem::temp_directory_path() / name.str()).string();
    if (const char* previous = std::getenv("XDG_DATA_HOME")) {
        hadDataHome_ = true;
        previousDataHome_ = previous;
    }
    ::setenv("XDG_DATA_HOME", folder_.c_str(), 1);
}

IsolatedCredentials::~IsolatedCredentials() {
    if (hadDataHome_) {
        ::setenv("XDG_DATA_HOME", previousDataHome_.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::u16string IsolatedCredentials::Target(std::u16string_view name) {
    targets_.emplace_back(name);
    return targets_.back();
}

}  // namespace morva::test
