#include <windows.h>

#include <array>
#include <string>

#include "base/last_error.h"

namespace morva {

namespace {

// One line of text, no inserts: a message template with %1 would otherwise read missing arguments.
constexpr DWORD kFormatFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
static_assert(kFormatFlags == 0x12FF);
constexpr DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
static_assert(kLanguage == 0x400);

// FormatMessageA and the allocations below may overwrite the code the caller is reporting.
class LastErrorKeeper {
  public:
    explicit LastErrorKeeper(DWORD code) noexcept : code_(code) {}
    ~LastErrorKeeper() { SetLastError(code_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    DWORD code_;
};

}  // namespace

std::string LastErrorText() {
    const DWORD code = GetLastError();
    if (code == 0) {
        return {};
    }
    const LastErrorKeeper keeper(code);
    std::array<char, 128> buffer{};
    const DWORD length = FormatMessageA(kFormatFlags, nullptr, code, kLanguage, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr);
    std::string text;
    if (length > 0 && length < buffer.size()) {
        text.assign(buffer.data(), length);
    }
    text += '[';
    text += std::to_string(code);
    text += ']';
    return text;
}

}  // namespace morva
