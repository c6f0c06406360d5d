#include "base/file_handle_win.h"

#include <algorithm>

namespace morva {

bool file_handle_detail::Close(HANDLE file) noexcept {
    return ::CloseHandle(file) != FALSE;
}

bool WriteAll(HANDLE file, std::span<const std::byte> data) noexcept {
    constexpr std::size_t kMostAtOnce = 1U << 30;  // WriteFile counts in 32 bits
    while (!data.empty()) {
        const auto size = static_cast<DWORD>(std::min(data.size(), kMostAtOnce));
        DWORD written = 0;
        if (::WriteFile(file, data.data(), size, &written, nullptr) == FALSE || written == 0) {
            return false;
        }
        data = data.subspan(written);
    }
    return true;
}

}  // namespace morva
