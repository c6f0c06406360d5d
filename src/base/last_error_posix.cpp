#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/last_error.h"

namespace morva {

namespace {

// strerror_r comes in two shapes: the GNU one returns the text (not always in the buffer), the
// XSI one returns a status and fills the buffer. Overloads pick whichever the C library declares.
[[maybe_unused]] const char* StrerrorText(const char* result, const char* /*buffer*/) noexcept {
    return result != nullptr ? result : "";
}
[[maybe_unused]] const char* StrerrorText(int result, const char* buffer) noexcept {
    return result == 0 ? buffer : "";
}

class ErrnoKeeper {
  public:
    explicit ErrnoKeeper(int code) noexcept : code_(code) {}
    ~ErrnoKeeper() { errno = code_; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

  private:
    int code_;
};

}  // namespace

std::string LastErrorText() {
    const int code = errno;
    if (code == 0) {
        return {};
    }
    const ErrnoKeeper keeper(code);
    std::array<char, 256> buffer{};
    std::string text = StrerrorText(strerror_r(code, buffer.data(), buffer.size()), buffer.data());
    text += '[';
    text += std::to_string(code);
    text += ']';
    return text;
}

}  // namespace morva
