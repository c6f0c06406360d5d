#pragma once

#include <fmt/format.h>
#include <spdlog/logger.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "util/qualified_name.h"
#include "util/utf.h"

namespace morva::log {

// Severities in the order the log file names them: FATAL ERROR WARN INFO DEBUG VERB.
enum class Severity { None = 0, Fatal = 1, Error = 2, Warn = 3, Info = 4, Debug = 5, Verb = 6 };

constexpr spdlog::level::level_enum ToSpdlog(Severity severity) noexcept {
    switch (severity) {
        case Severity::Fatal:
            return spdlog::level::critical;
        case Severity::Error:
            return spdlog::level::err;
        case Severity::Warn:
            return spdlog::level::warn;
        case Severity::Info:
            return spdlog::level::info;
        case Severity::Debug:
            return spdlog::level::debug;
        case Severity::Verb:
            return spdlog::level::trace;
        case Severity::None:
            break;
    }
    return spdlog::level::off;
}

// The process's logger, or null before set-up (or when set-up failed): records then go nowhere.
spdlog::logger* Logger() noexcept;

// Installs `logger` as the process's logger, kept until the process ends (even past static
// destructors) or until the next Install releases it; null makes later records go nowhere.
// Replacing a logger is for set-up and tests: no other thread may be logging through the old one.
void Install(std::shared_ptr<spdlog::logger> logger);

// The logger when it admits `severity`, else null: one load and one comparison.
inline spdlog::logger* Admitting(Severity severity) noexcept {
    spdlog::logger* logger = Logger();
    return logger != nullptr && logger->should_log(ToSpdlog(severity)) ? logger : nullptr;
}

// Wide text on its way into a log line, where it is written as UTF-8. fmt refuses UTF-16 text in a
// narrow format outright (even with a formatter of our own), so the logging macros wrap every
// wide argument in this view first.
class WideText {
  public:
    explicit constexpr WideText(std::u16string_view text) noexcept : text_(text) {}
    // A null pointer is written as "(null)", as the C runtime prints one.
    explicit constexpr WideText(const char16_t* text) noexcept
        : text_(text != nullptr ? std::u16string_view(text) : std::u16string_view()),
          null_(text == nullptr) {}

    std::u16string_view text() const noexcept { return text_; }
    bool null() const noexcept { return null_; }

  private:
    std::u16string_view text_;
    bool null_ = false;
};

// Wide text becomes a WideText; every other argument passes through untouched, by reference.
template <class T>
constexpr decltype(auto) Loggable(const T& value) noexcept {
    if constexpr (std::is_convertible_v<const T&, const char16_t*>) {
        return WideText(static_cast<const char16_t*>(value));
    } else if constexpr (std::is_convertible_v<const T&, std::u16string_view>) {
        return WideText(static_cast<std::u16string_view>(value));
    } else {
        return value;
    }
}

template <class T>
using LoggableType = decltype(Loggable(std::declval<const T&>()));

namespace detail {

// The format string is checked at compile time against the arguments as fmt will see them.
template <class... Args>
void Write(spdlog::logger& logger, spdlog::source_loc where, Severity severity,
           fmt::format_string<LoggableType<Args>...> format, const Args&... args) {
    logger.log(where, ToSpdlog(severity), format, Loggable(args)...);
}

}  // namespace detail

}  // namespace morva::log

template <>
struct fmt::formatter<morva::log::WideText> : fmt::formatter<fmt::string_view> {
    template <class FormatContext>
    auto format(const morva::log::WideText& wide, FormatContext& ctx) const {
        if (wide.null()) {
            return fmt::formatter<fmt::string_view>::format("(null)", ctx);
        }
        // Cut at the first null character, as a C string would be.
        const std::string text = morva::Utf16ToUtf8(std::u16string(wide.text()));
        return fmt::formatter<fmt::string_view>::format(fmt::string_view(text), ctx);
    }
};

// Logs an fmt-style message under the qualified name of the enclosing function (lambdas and local
// classes log under the function that contains them). Nothing is formatted unless the logger
// admits the severity. Wide text (std::u16string, std::u16string_view, const char16_t*) is
// written as UTF-8.
#define MORVA_LOG(severity, ...)                                                                  \
    do {                                                                                          \
        if (::spdlog::logger* morva_logger_ = ::morva::log::Admitting(severity)) {                \
            static constexpr auto morva_function_ =                                               \
                ::morva::QualifiedName<sizeof(__PRETTY_FUNCTION__)>(__PRETTY_FUNCTION__);         \
            ::morva::log::detail::Write(                                                          \
                *morva_logger_, ::spdlog::source_loc{__FILE__, __LINE__, morva_function_.data()}, \
                severity, __VA_ARGS__);                                                           \
        }                                                                                         \
    } while (false)

#define MORVA_LOG_FATAL(...) MORVA_LOG(::morva::log::Severity::Fatal, __VA_ARGS__)
#define MORVA_LOG_ERROR(...) MORVA_LOG(::morva::log::Severity::Error, __VA_ARGS__)
#define MORVA_LOG_WARN(...) MORVA_LOG(::morva::log::Severity::Warn, __VA_ARGS__)
#define MORVA_LOG_INFO(...) MORVA_LOG(::morva::log::Severity::Info, __VA_ARGS__)
#define MORVA_LOG_DEBUG(...) MORVA_LOG(::morva::log::Severity::Debug, __VA_ARGS__)
#define MORVA_LOG_VERB(...) MORVA_LOG(::morva::log::Severity::Verb, __VA_ARGS__)
