#include "base/rolling_file_sink.h"

#include <algorithm>
#include <string>
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
      maxFiles_(std::max<std::size_t>(maxFiles, 1)) {}

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
    const std::uintmax_t existing = std::filesystem::file_size(path_, error);
    size_ = error ? 0 : existing;
    // Appending: a roll whose renaming failed keeps the old content rather than truncating it.
    file_.open(path_, std::ios::binary | std::ios::app);
    if (!file_.is_open()) {
        file_.clear();
        return false;
    }
    if (size_ == 0) {
        file_.write(kByteOrderMark, sizeof kByteOrderMark);
        if (!file_) {
            file_.close();
            file_.clear();
            return false;
        }
        size_ = sizeof kByteOrderMark;
    }
    return true;
}

void RollingFileSink::Roll() {
    file_.close();
    file_.clear();
    std::error_code ignored;  // a file that cannot move stays where it is; logging goes on
    if (maxFiles_ > 1) {
        std::filesystem::remove(RolledPath(path_, maxFiles_ - 1), ignored);
        for (std::size_t index = maxFiles_ - 2; index >= 1; --index) {
            std::filesystem::rename(RolledPath(path_, index), RolledPath(path_, index + 1),
                                    ignored);
        }
        std::filesystem::rename(path_, RolledPath(path_, 1), ignored);
    } else {
        std::filesystem::remove(path_, ignored);
    }
    Open();
}

void RollingFileSink::sink_it_(const spdlog::details::log_msg& msg) {
    try {
        spdlog::memory_buf_t line;
        formatter_->format(msg, line);
        if (!file_.is_open() && !Open()) {
            return;
        }
        if (size_ > maxSize_) {
            Roll();
            if (!file_.is_open()) {
                return;
            }
        }
        file_.write(line.data(), static_cast<std::streamsize>(line.size()));
        file_.flush();
        if (!file_) {
            file_.close();  // reopened by the next record
            file_.clear();
            return;
        }
        size_ += line.size();
    } catch (...) {
        // Logging never fails its caller; the record is lost.
    }
}

void RollingFileSink::flush_() {
    if (file_.is_open()) {
        file_.flush();
    }
}

}  // namespace morva::log
