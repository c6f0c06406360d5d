#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/console_sink.h"

namespace morva::log {

namespace {

// A pipe that reports room for writing takes this much without blocking.
constexpr std::size_t kChunk = PIPE_BUF;

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end the host. The signal is
// held back on this thread for the write, and one it raised is taken before it is let go again.
class PipeSignalHeld {
  public:
    PipeSignalHeld() noexcept {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        // One already pending was meant for someone else and stays.
        wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~PipeSignalHeld() {
        if (raised_ && !wasPending_) {
            const timespec now{};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

    void Raised() noexcept { raised_ = true; }

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
    bool raised_ = false;
};

}  // namespace

bool ConsoleSink::StandardOutputWanted() noexcept {
    const char* asked = std::getenv("MORVA_LOG_STDOUT");
    return isatty(STDOUT_FILENO) == 1 || (asked != nullptr && std::strcmp(asked, "1") == 0);
}

bool ConsoleSink::StandardOutputIsConsole() noexcept {
    return false;
}

void ConsoleSink::Write(std::string_view line) noexcept {
    const int savedErrno = errno;
    PipeSignalHeld held;
    while (!line.empty()) {
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        if (poll(&output, 1, 0) != 1 || (output.revents & POLLOUT) == 0) {
            break;  // full, closed or no output: the rest of the line is lost
        }
        const ssize_t written = write(STDOUT_FILENO, line.data(), std::min(line.size(), kChunk));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (errno == EPIPE) {
                held.Raised();
            }
            break;
        }
        line.remove_prefix(static_cast<std::size_t>(written));
    }
    errno = savedErrno;
}

}  // namespace morva::log
