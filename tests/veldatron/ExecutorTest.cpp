#include "LoopExecutor.h"
#include "ManualExecutor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veldatron {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ManualExecutor, RunsDueTasksInTimeOrderAndPostingOrderAmongEqualTimes) {
    ManualExecutor executor;
    std::vector<std::string> ran;
    auto record = [&](std::string name) {
        return [&ran, &executor, name] {
            ran.push_back(name + "@" + std::to_string(executor.now() / 1ms));
        };
    };
    executor.postAfter(30ms, record("c"));
    executor.postAfter(10ms, record("a"));
    executor.postAfter(10ms, record("b"));
    executor.post(record("now"));
    executor.postAfter(-5ms, record("negative"));
    executor.postAfter(31ms, record("late"));

    executor.advance(30ms);
    EXPECT_THAT(ran, ElementsAre("now@0", "negative@0", "a@10", "b@10", "c@30"));
    EXPECT_EQ(executor.now(), 30ms);
    EXPECT_EQ(executor.pendingCount(), 1u);
    executor.advance(1ms);
    EXPECT_EQ(ran.back(), "late@31");

    // Delays saturate instead of overflowing the clock.
    executor.postAfter(ManualExecutor::Duration::max(), record("end of time"));
    executor.advance(24h);
    EXPECT_EQ(ran.back(), "late@31");
    executor.advance(ManualExecutor::Duration::max());
    EXPECT_EQ(executor.now(), ManualExecutor::Duration::max());
    EXPECT_EQ(ran.back().rfind("end of time@", 0), 0u);
}

TEST(ManualExecutor, TasksPostedWhileRunningRunInTheSameAdvanceWhenDue) {
    ManualExecutor executor;
    std::vector<std::string> ran;
    executor.postAfter(10ms, [&] {
        ran.push_back("first");
        executor.post([&] { ran.push_back("posted"); });
        executor.postAfter(
            5ms, [&] { ran.push_back("chained@" + std::to_string(executor.now() / 1ms)); });
        executor.postAfter(50ms, [&] { ran.push_back("too late"); });
    });
    executor.postAfter(12ms, [&] { ran.push_back("second"); });
    executor.advance(20ms);
    EXPECT_THAT(ran, ElementsAre("first", "posted", "second", "chained@15"));
    EXPECT_EQ(executor.pendingCount(), 1u);
}

TEST(ManualExecutor, CancelledTasksNeverRunAndCancelWorksFromInsideATask) {
    ManualExecutor executor;
    std::vector<std::string> ran;
    TaskHandle later = executor.postAfter(20ms, [&] { ran.push_back("later"); });
    TaskHandle self;
    self = executor.postAfter(10ms, [&] {
        ran.push_back("self");
        EXPECT_FALSE(self.isPending());
        EXPECT_FALSE(self.cancel()); // already running: nothing to cancel
        EXPECT_TRUE(later.cancel());
    });
    TaskHandle early = executor.postAfter(5ms, [&] { ran.push_back("early"); });
    EXPECT_TRUE(early.cancel());
    EXPECT_FALSE(early.cancel());
    EXPECT_FALSE(early.isPending());

    executor.advance(1s);
    EXPECT_THAT(ran, ElementsAre("self"));
    EXPECT_FALSE(self.cancel()); // finished
    EXPECT_FALSE(TaskHandle().cancel());
    EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST(ManualExecutor, IsCurrentOnlyOnTheCreatingThread) {
    ManualExecutor executor;
    EXPECT_TRUE(executor.isCurrent());
    bool elsewhere = true;
    std::thread([&] { elsewhere = executor.isCurrent(); }).join();
    EXPECT_FALSE(elsewhere);
}

// Generous limits: these tests wait for conditions, never for a fixed time.
constexpr auto patience = 10s;

TEST(LoopExecutor, RunsTasksPostedFromOtherThreadsOnTheLoopThread) {
    LoopExecutor executor;
    std::mutex mutex;
    std::vector<int> ran;
    bool allOnLoop = true;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                executor.post([&, t, i] {
                    std::lock_guard lock(mutex);
                    allOnLoop &= executor.isCurrent();
                    ran.push_back(t * 1000 + i);
                });
            }
        });
    }
    const bool done = executor.runUntil(
        [&] {
            std::lock_guard lock(mutex);
            return ran.size() == 400;
        },
        LoopExecutor::Clock::now() + patience);
    for (auto& poster : posters) {
        poster.join();
    }
    ASSERT_TRUE(done);
    EXPECT_TRUE(allOnLoop);
    EXPECT_FALSE(executor.isCurrent());
    // Each poster's tasks ran in its posting order.
    for (int t = 0; t < 4; ++t) {
        int last = -1;
        for (int v : ran) {
            if (v / 1000 == t) {
                EXPECT_GT(v, last);
                last = v;
            }
        }
    }
}

TEST(LoopExecutor, TimedTasksRunInDueOrderAndCancelledOnesNever) {
    LoopExecutor executor;
    std::vector<std::string> ran;
    const auto start = LoopExecutor::Clock::now();
    executor.postAfter(100ms, [&] { ran.push_back("100"); });
    TaskHandle cancelled = executor.postAfter(20ms, [&] { ran.push_back("cancelled"); });
    executor.postAfter(10ms, [&] { ran.push_back("10"); });
    executor.post([&] { ran.push_back("now"); });
    EXPECT_TRUE(cancelled.cancel());
    ASSERT_TRUE(executor.runUntil([&] { return ran.size() == 3; }, start + patience));
    EXPECT_THAT(ran, ElementsAre("now", "10", "100"));
    EXPECT_GE(LoopExecutor::Clock::now() - start, 100ms);
}

TEST(LoopExecutor, CancelFromInsideARunningTaskNeitherBlocksNorRunsTheTask) {
    LoopExecutor executor;
    std::vector<std::string> ran;
    TaskHandle victim = executor.postAfter(5ms, [&] { ran.push_back("victim"); });
    TaskHandle self;
    self = executor.postAfter(1ms, [&] {
        EXPECT_FALSE(self.cancel());
        EXPECT_TRUE(victim.cancel());
        ran.push_back("canceller");
    });
    executor.postAfter(30ms, [&] { ran.push_back("end"); });
    ASSERT_TRUE(executor.runUntil([&] { return !ran.empty() && ran.back() == "end"; },
                                  LoopExecutor::Clock::now() + patience));
    EXPECT_THAT(ran, ElementsAre("canceller", "end"));
}

TEST(LoopExecutor, StopEndsRunFromAnyThread) {
    LoopExecutor executor;
    std::thread stopper([&] { executor.post([&] { executor.stop(); }); });
    executor.run(); // returns once the posted task has stopped it
    stopper.join();

    // A stop that arrives before the loop starts is not lost.
    executor.stop();
    EXPECT_FALSE(executor.runUntil(LoopExecutor::Clock::now() + patience));

    std::thread remote([&] { executor.stop(); });
    EXPECT_FALSE(executor.runUntil([] { return false; }, LoopExecutor::Clock::now() + patience));
    remote.join();
}

TEST(LoopExecutor, RunUntilADeadlineReturnsWithTasksStillPending) {
    LoopExecutor executor;
    bool ran = false;
    TaskHandle far = executor.postAfter(1h, [&] { ran = true; });
    EXPECT_TRUE(executor.runUntil(LoopExecutor::Clock::now() + 5ms));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(far.isPending());

    TaskHandle never = executor.postAfter(LoopExecutor::Duration::max(), [&] { ran = true; });
    EXPECT_TRUE(executor.runUntil(LoopExecutor::Clock::now() + 5ms));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(never.isPending());
}

TEST(LoopExecutor, ManyCancelledTimersDoNotAccumulate) {
    // A timer re-armed on every frame leaves its cancelled predecessors behind; they must be
    // purged long before they come due.
    LoopExecutor executor;
    std::vector<std::weak_ptr<int>> captures;
    TaskHandle timer;
    for (int i = 0; i < 1000; ++i) {
        timer.cancel();
        auto capture = std::make_shared<int>(i);
        captures.push_back(capture);
        timer = executor.postAfter(1h, [capture] {});
    }
    int alive = 0;
    for (const auto& c : captures) {
        alive += !c.expired();
    }
    EXPECT_LT(alive, 200);
}

} // namespace
} // namespace veldatron
