#include "util/pending_result.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/gate.h"

namespace {

using morva::PendingResult;
using morva::PendingResults;
using morva::WorkerPool;
using morva::test::Gate;

TEST(PendingResult, StartsOneTaskAtATimeAndHandsEachResultOutOnce) {
    WorkerPool pool(2);
    Gate gate;
    gate.Close();
    std::atomic<int> started{0};
    const auto echo = [&](int value) {
        ++started;
        const Gate::Pass pass(gate);
        return value;
    };
    PendingResult<int> pending;

    EXPECT_EQ(pending.Poll(pool, echo, 1), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, echo, 2), std::nullopt);  // polls the first, starts nothing
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, echo, 3), 1);
    EXPECT_EQ(started, 1);

    // Handed out, so the next poll starts a task with its own arguments.
    gate.Close();
    EXPECT_EQ(pending.Poll(pool, echo, 4), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, echo, 5), 4);
    EXPECT_EQ(started, 2);
}

// The worker lets go of a finished task at its own pace, often after the poller has handled the
// failure: the thread sanitizer reports it unless the failure belongs to the poller alone.
TEST(PendingResult, HandsEachFailureToThePollerAloneOnceThenStartsOver) {
    WorkerPool pool(1);
    PendingResult<int> pending;
    const auto fail = []() -> int { throw std::runtime_error("lookup failed"); };
    for (int round = 0; round < 2000; ++round) {
        try {
            while (!pending.Poll(pool, fail)) {
                pending.Wait();
            }
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            ASSERT_STREQ(error.what(), "lookup failed");
        }
    }
    std::optional<int> result;
    while (!(result = pending.Poll(pool, [] { return 7; }))) {
        pending.Wait();
    }
    EXPECT_EQ(result, 7);
}

TEST(PendingResults, RunsOneTaskPerKeyAndHandsEachOutcomeOutOnce) {
    WorkerPool pool(2);
    Gate gate;
    gate.Close();
    std::atomic<int> started{0};
    const auto load = [&](const std::string& key) -> std::string {
        ++started;
        const Gate::Pass pass(gate);
        if (key == "bad") {
            throw std::runtime_error("no such key");
        }
        return key + " loaded";
    };
    PendingResults<std::string, std::string> pending;

    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, "bad", load), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(started, 2);
    EXPECT_THROW(pending.Poll(pool, "bad", load), std::runtime_error);
    EXPECT_EQ(pending.Poll(pool, "a", load), "a loaded");

    gate.Close();
    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, "a", load), "a loaded");
    EXPECT_EQ(started, 3);
}

}  // namespace
