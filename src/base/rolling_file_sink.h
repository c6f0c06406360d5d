#pragma once

#include <spdlog/sinks/base_sink.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>

#include "base/shared_append_file.h"

namespace morva::log {

// A UTF-8 log file that rolls by size: once the file has grown beyond `maxSize` bytes, the next
// record moves it to "<stem>.1<ext>" (and the older rolled files up by one, dropping the oldest)
// and starts a fresh file. At most `maxFiles` files exist, the current one included. Every new
// or empty file starts with a byte order mark; lines are CRLF-terminated by the formatter.
// A record that cannot be written is lost; the next record tries again. The file is shared with
// other writers, readers and renamers (another copy of the library, a log viewer). When one of
// them still keeps the roll from renaming the file, the roll is tried again only after another
// sixteenth of `maxSize` of records, and records beyond twice `maxSize` are dropped until it
// succeeds: the file stays bounded. Never throws.
class RollingFileSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    RollingFileSink(std::filesystem::path path, std::uintmax_t maxSize, std::size_t maxFiles);

    // Rolled file `index` (1 is the newest) of `path`: "MORVA_Orderbook.log" ->
    // "MORVA_Orderbook.1.log".
    static std::filesystem::path RolledPath(const std::filesystem::path& path, std::size_t index);

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

  private:
    bool Open();
    // False when the current file could not be moved aside; it is then appended to again.
    bool Roll();

    std::filesystem::path path_;
    std::uintmax_t maxSize_;
    std::size_t maxFiles_;
    std::uintmax_t retryAfter_;  // bytes of records between two attempts at a blocked roll
    SharedAppendFile file_;
    std::uintmax_t size_ = 0;  // of the open file, byte order mark included
    std::uintmax_t sinceFailedRoll_;
};

}  // namespace morva::log
