#include "base/log_line_formatter.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

namespace morva::log {

namespace {

constexpr std::size_t kSeverityWidth = 5;

void Append(spdlog::memory_buf_t& dest, std::string_view text) {
    dest.append(text.data(), text.data() + text.size());
}

// Texts from callers and from the network may hold line breaks or terminal escapes: shown as
// \r, \n, \t or \xHH, they can neither start a record of their own nor restyle a console.
void AppendEscaped(spdlog::memory_buf_t& dest, std::string_view text) {
    constexpr char kHex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            dest.push_back(c);
        } else if (c == '\r') {
            Append(dest, "\\r");
        } else if (c == '\n') {
            Append(dest, "\\n");
        } else if (c == '\t') {
            Append(dest, "\\t");
        } else {
            const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
            Append(dest, std::string_view(escaped, sizeof escaped));
        }
    }
}

}  // namespace

std::string_view SeverityName(spdlog::level::level_enum level) noexcept {
    switch (level) {
        case spdlog::level::critical:
            return "FATAL";
        case spdlog::level::err:
            return "ERROR";
        case spdlog::level::warn:
            return "WARN";
        case spdlog::level::info:
            return "INFO";
        case spdlog::level::debug:
            return "DEBUG";
        case spdlog::level::trace:
            return "VERB";
        default:
            return "NONE";
    }
}

LogLineFormatter::LogLineFormatter(std::string eol) : eol_(std::move(eol)) {}

void LogLineFormatter::CacheStamp(std::chrono::sys_seconds second) {
    using namespace std::chrono;
    const sys_days day = floor<days>(second);
    const year_month_day date(day);
    const hh_mm_ss time(second - day);
    const auto result =
        fmt::format_to_n(cachedStamp_.data(), cachedStamp_.size(),
                         "{:04}-{:02}-{:02} {:02}:{:02}:{:02}", static_cast<int>(date.year()),
                         static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                         time.hours().count(), time.minutes().count(), time.seconds().count());
    cachedLength_ = std::min(result.size, cachedStamp_.size());
    cachedSecond_ = second;
}

void LogLineFormatter::format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) {
    using namespace std::chrono;
    const sys_seconds second = floor<seconds>(msg.time);
    if (cachedLength_ == 0 || second != cachedSecond_) {
        CacheStamp(second);
    }
    Append(dest, std::string_view(cachedStamp_.data(), cachedLength_));

    const auto millis =
        static_cast<unsigned>(duration_cast<milliseconds>(msg.time - second).count());
    const char fraction[] = {'.', static_cast<char>('0' + millis / 100),
                             static_cast<char>('0' + millis / 10 % 10),
                             static_cast<char>('0' + millis % 10), ' '};
    Append(dest, std::string_view(fraction, sizeof fraction));

    const std::string_view severity = SeverityName(msg.level);
    Append(dest, severity);
    for (std::size_t i = severity.size(); i < kSeverityWidth; ++i) {
        dest.push_back(' ');
    }

    Append(dest, " [");
    const fmt::format_int thread(msg.thread_id);
    Append(dest, std::string_view(thread.data(), thread.size()));
    Append(dest, "] [");
    if (msg.source.funcname != nullptr) {
        Append(dest, msg.source.funcname);
    }
    dest.push_back('@');
    const fmt::format_int line(msg.source.line);
    Append(dest, std::string_view(line.data(), line.size()));
    Append(dest, "] ");
    AppendEscaped(dest, std::string_view(msg.payload.data(), msg.payload.size()));
    Append(dest, eol_);
}

std::unique_ptr<spdlog::formatter> LogLineFormatter::clone() const {
    return std::make_unique<LogLineFormatter>(eol_);
}

}  // namespace morva::log
