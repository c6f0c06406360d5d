#include "base/rolling_file_sink.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/log_line_formatter.h"

namespace morva::log {

namespace {

constexpr char kByteOrderMark[] = {'\xEF', '\xBB', '\xBF'};

}  // namespace

RollingFileSink::RollingFileSink(std::filesystem::path path, std::uintmax_t maxSize,
                                 std::size_t maxFiles)
    : base_sink(std::make_unique<LogLineFormatter>("\r\n")),
      path_(std::move(path)),
      maxSize_(maxSize),
      maxFiles_(std::max<std::size_t>(maxFiles, 1)),
      retryAfter_(std::max<std::uintmax_t>(maxSize / 16, 1)),
      sinceFailedRoll_(retryAfter_) {}

std::filesystem::path RollingFileSink::RolledPath(const std::filesystem::path& path,
                                                  std::size_t index) {
    std::filesystem::path name = path.stem();
    name += ".";
    name += std::to_string(index);
    name += path.extension();
    return path.parent_path() / name;
}

bool RollingFileSink::Open() {
    std::error_code error;
    // Appending: a roll whose renaming failed keeps the old content rather than truncating it.
    file_ = SharedAppendFile::Open(path_);
    if (!file_) {
        return false;
    }
    const std::uintmax_t existing = std::filesystem::file_size(path_, error);
    size_ = error ? 0 : existing;
    if (size_ == 0) {
        if (!file_.Append(std::string_view(kByteOrderMark, sizeof kByteOrderMark))) {
            file_.Close();
            return false;
        }
        size_ = sizeof kByteOrderMark;
    }
    return true;
}

bool RollingFileSink::Roll() {
    file_.Close();
    std::error_code error;  // an older file that cannot move stays where it is; logging goes on
    if (maxFiles_ > 1) {
        std::error_code ignored;
        std::filesystem::remove(RolledPath(path_, maxFiles_ - 1), ignored);
        for (std::size_t index = maxFiles_ - 2; index >= 1; --index) {
            std::filesystem::rename(RolledPath(path_, index), RolledPath(path_, index + 1),
                                    ignored);
        }
        std::filesystem::rename(path_, RolledPath(path_, 1), error);
    } else {
        std::filesystem::remove(path_, error);
    }
    Open();
    return !error;
}

void RollingFileSink::sink_it_(const spdlog::details::log_msg& msg) {
    try {
        spdlog::memory_buf_t line;
        formatter_->format(msg, line);
        if (!file_ && !Open()) {
            return;
        }
        if (size_ > maxSize_ && sinceFailedRoll_ >= retryAfter_) {
            sinceFailedRoll_ = Roll() ? retryAfter_ : 0;
            if (!file_) {
                return;
            }
        }
        if (size_ > maxSize_ && sinceFailedRoll_ < retryAfter_) {
            sinceFailedRoll_ += line.size();
            if (size_ > 2 * maxSize_) {
                return;  // dropped: the roll is blocked and the file is full
            }
        }
        if (!file_.Append(std::string_view(line.data(), line.size()))) {
            file_.Close();  // reopened by the next record
            return;
        }
        size_ += line.size();
    } catch (...) {
        // Logging never fails its caller; the record is lost.
    }
}

void RollingFileSink::flush_() {
    // Every record is handed to the system as it comes.
}

}  // namespace morva::log
