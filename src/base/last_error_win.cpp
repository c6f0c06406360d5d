#include <windows.h>

#include <array>
#include <exception>
#include <string>

#include "base/last_error.h"
#include "util/utf.h"

namespace morva {

namespace {

// One line of text, no inserts: a message template with %1 would otherwise read missing arguments.
constexpr DWORD kFormatFlags = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
static_assert(kFormatFlags == 0x2FF);
// WinInet's codes: their texts are in wininet.dll, not in the system's table.
constexpr DWORD kFirstInternetError = 12000;
constexpr DWORD kLastInternetError = 12999;
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
    // Wide: the ANSI code page's bytes are no UTF-8 on a French or Russian Windows.
    std::array<wchar_t, 512> buffer{};
    const HMODULE wininet = code >= kFirstInternetError && code <= kLastInternetError
                                ? GetModuleHandleW(L"wininet.dll")
                                : nullptr;
    const DWORD source =
        wininet != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD length = FormatMessageW(kFormatFlags | source, wininet, code, kLanguage,
                                        buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    std::string text;
    if (length > 0 && length < buffer.size()) {
        try {
            text = Utf16ToUtf8(
                std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), length));
        } catch (const std::exception&) {
            // Unpaired surrogates: the code alone.
        }
    }
    text += '[';
    text += std::to_string(code);
    text += ']';
    return text;
}

}  // namespace morva
