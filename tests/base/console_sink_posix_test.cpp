#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spdlog/details/log_msg.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/console_sink.h"

namespace morva::log {
namespace {

// Standard output pointed at a fresh pipe for the test's length (never a terminal).
class PipedStdout : public ::testing::Test {
  protected:
    void SetUp() override {
        std::fflush(stdout);
        ASSERT_EQ(pipe(ends_.data()), 0);
        saved_ = dup(STDOUT_FILENO);
        ASSERT_GE(saved_, 0);
        ASSERT_EQ(dup2(ends_[1], STDOUT_FILENO), STDOUT_FILENO);
        close(ends_[1]);
    }
    void TearDown() override {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        if (ends_[0] >= 0) {
            close(ends_[0]);
        }
        unsetenv("MORVA_LOG_STDOUT");
    }

    static void Log(ConsoleSink& sink) {
        const spdlog::details::log_msg msg(spdlog::source_loc{"f.cpp", 1, "F"}, "morva",
                                           spdlog::level::info, "text");
        sink.log(msg);
    }
    // What reached the pipe so far: a line at most.
    std::string Drain() {
        fcntl(ends_[0], F_SETFL, O_NONBLOCK);
        std::array<char, 4096> chunk{};
        const ssize_t n = read(ends_[0], chunk.data(), chunk.size());
        return std::string(chunk.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    }

    std::array<int, 2> ends_{-1, -1};
    int saved_ = -1;
};

TEST_F(PipedStdout, AHostsPipeGetsNoLinesUnlessAsked) {
    unsetenv("MORVA_LOG_STDOUT");
    ConsoleSink quiet;
    Log(quiet);
    EXPECT_EQ(Drain(), "");

    setenv("MORVA_LOG_STDOUT", "1", 1);
    ConsoleSink asked;
    Log(asked);
    EXPECT_NE(Drain().find("] [F@1] text\n"), std::string::npos);
}

// A closed pipe would raise SIGPIPE and end the whole host; a full one would hold the caller.
TEST_F(PipedStdout, AClosedOrFullPipeNeitherKillsNorBlocks) {
    setenv("MORVA_LOG_STDOUT", "1", 1);
    ConsoleSink sink;

    // Filled to the brim through a non-blocking write, then blocking again, as a host's pipe is.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, 'x');
    while (write(STDOUT_FILENO, block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    fcntl(STDOUT_FILENO, F_SETFL, flags);
    Log(sink);  // returns: the line is dropped

    close(ends_[0]);
    ends_[0] = -1;
    Log(sink);  // the test process survives
    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

}  // namespace
}  // namespace morva::log
