#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>
#include <type_traits>

#include "base/log.h"
#include "base/terminal_info.h"
#include "util/printf_format.h"
#include "util/stopwatch.h"

namespace morva::frame {

// The call text in log lines: 127 characters and the terminating zero.
inline constexpr std::size_t kCallTextSize = 128;

using CallText = std::array<char, kCallTextSize>;

// Writes UTF-8 `text` into the error buffer as UTF-16, cut to fit and terminated.
void WriteError(char16_t* error, std::string_view text) noexcept;
// The same for text that is UTF-16 already.
void WriteError(char16_t* error, std::u16string_view text) noexcept;

template <class... Args>
CallText FormatCallText(const char* format, const Args&... args) noexcept {
    CallText text{};
    FormatTruncated(text.data(), text.size(), std::string_view(), format, args...);
    return text;
}

}  // namespace morva::frame

// Runs one export's body: empties the caller's error buffer, times and logs the call, and turns
// every exception into -1 and a text in the buffer, so that nothing ever crosses the export as an
// exception. The call text is formatted only when a line needs it (DEBUG admitted, or a failure).
// Returns the body's int32_t, or nothing for a body that returns nothing.
template <class Body, class... Args>
auto ExecuteDll(char16_t* error, Body&& body, const char* callFormat,
                const Args&... args) noexcept {
    using BodyResult = std::invoke_result_t<Body&>;
    static_assert(std::is_void_v<BodyResult> || std::is_same_v<BodyResult, std::int32_t>,
                  "an export body returns nothing or an int32_t");
    using morva::log::Severity;

    if (error != nullptr) {
        error[0] = u'\0';
    }
    const morva::Stopwatch stopwatch;
    if (morva::log::Admitting(Severity::Debug) != nullptr) {
        MORVA_LOG_DEBUG("Executing {}", morva::frame::FormatCallText(callFormat, args...).data());
    }

    std::int32_t result = 0;
    try {
        if constexpr (std::is_void_v<BodyResult>) {
            body();
        } else {
            result = body();
        }
    } catch (const std::exception& e) {
        result = -1;
        morva::frame::WriteError(error, e.what());
        MORVA_LOG_ERROR("{} failed: {}", morva::frame::FormatCallText(callFormat, args...).data(),
                        e.what());
    } catch (...) {
        result = -1;
        morva::frame::WriteError(error, "Unknown error");
        MORVA_LOG_ERROR("{} failed: Unknown error",
                        morva::frame::FormatCallText(callFormat, args...).data());
    }

    if (morva::log::Admitting(Severity::Debug) != nullptr) {
        MORVA_LOG_DEBUG("Executed {} = {} in {:.6f}s",
                        morva::frame::FormatCallText(callFormat, args...).data(), result,
                        stopwatch.Seconds());
    }
    if constexpr (!std::is_void_v<BodyResult>) {
        return result;
    }
}
