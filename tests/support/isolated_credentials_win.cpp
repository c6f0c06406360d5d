#include <windows.h>

// needs windows.h first
#include <wincred.h>

#include <random>

#include "support/isolated_credentials.h"

namespace morva::test {

IsolatedCredentials::IsolatedCredentials() {
    std::random_device random;
    prefix_ = u"MORVA_Test_";
    for (const unsigned digit : {random(), random()}) {
        for (unsigned value = digit; value != 0; value /= 16) {
            prefix_ += static_cast<char16_t>(u"0123456789ABCDEF"[value % 16]);
        }
    }
    prefix_ += u'_';
}

IsolatedCredentials::~IsolatedCredentials() {
    for (const auto& target : targets_) {
        CredDeleteW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0);
    }
}

std::u16string IsolatedCredentials::Target(std::u16string_view name) {
    targets_.push_back(prefix_ + std::u16string(name));
    return targets_.back();
}

}  // namespace morva::test
