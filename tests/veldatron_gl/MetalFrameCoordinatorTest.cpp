#include "ExecutorClock.h"
#include "ManualExecutor.h"
#include "MetalFrameCoordinator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

using namespace veldatron;
using veldatron::testing::ExecutorClock;
using Status = MetalTrackedCommandBufferStatus;
using Reason = MetalFrameRefusalReason;

namespace {

// A coordinator on virtual time, with every action recorded in one list (in call order) and the
// time it came at.
class FrameCoordinator : public ::testing::Test {
protected:
    struct Event {
        enum Kind { draw, recovery, idle } kind;
        double at = 0;
        Reason reason = Reason::activeFrame;
        MetalRendererRecoveryReport report;
    };

    FrameCoordinator() {
        coordinator = MetalFrameCoordinator::create(
            clock, scheduler,
            {.isRetryEligible = [this] { return eligible.load(); },
             .requestDraw =
                 [this](Reason reason) {
                     events.push_back({Event::draw, clock.now(), reason, {}});
                     if (onDraw) {
                         onDraw(reason);
                     }
                 },
             .requestRecovery =
                 [this](const MetalRendererRecoveryReport& report) {
                     events.push_back({Event::recovery, clock.now(), Reason::activeFrame, report});
                 },
             .becameIdle = [this] { ++idleCount; }});
    }

    void advanceTo(double seconds) {
        const auto target = std::chrono::duration_cast<Executor::Duration>(
            std::chrono::duration<double>(seconds));
        executor.advance(target - executor.now());
    }

    std::vector<Event> eventsOf(Event::Kind kind) const {
        std::vector<Event> found;
        for (const Event& event : events) {
            if (event.kind == kind) {
                found.push_back(event);
            }
        }
        return found;
    }

    // A frame that reaches the GPU, whose work then reports `status`.
    MetalFrameCoordinator::Token submittedFrame(Status status,
                                                std::optional<std::string> error = {}) {
        const auto token = coordinator->beginFrame();
        EXPECT_TRUE(token);
        coordinator->didSubmit(
            *token, [status] { return status; }, [error] { return error; });
        return *token;
    }

    ManualExecutor executor;
    ExecutorClock clock{executor};
    DispatchMetalRecoveryScheduler scheduler{executor};
    std::atomic<bool> eligible{true};
    std::atomic<int> idleCount{0};
    std::vector<Event> events;
    std::function<void(Reason)> onDraw;
    std::shared_ptr<MetalFrameCoordinator> coordinator;
};

TEST_F(FrameCoordinator, TokensStartAtOneAndOnlyAdmittedFramesTakeOne) {
    const auto first = coordinator->beginFrame();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->value, 1u);
    EXPECT_FALSE(coordinator->beginFrame()) << "a frame is in flight";
    coordinator->refuse(*first, Reason::missingDrawable);
    const auto second = coordinator->beginFrame();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->value, 2u) << "the refused call took no token";
}

TEST_F(FrameCoordinator, ADrawDuringAFrameIsRetriedOnceAndRedrawnWhenTheFrameEnds) {
    const auto token = submittedFrame(Status::committed);
    EXPECT_FALSE(coordinator->beginFrame());
    EXPECT_FALSE(coordinator->beginFrame()) << "a second refusal adds no second retry";
    EXPECT_TRUE(coordinator->activeFrame()->pendingRedraw);

    advanceTo(0.016);
    ASSERT_EQ(eventsOf(Event::draw).size(), 1u);
    EXPECT_NEAR(events[0].at, 0.016, 1e-9);
    EXPECT_EQ(events[0].reason, Reason::activeFrame);

    events.clear();
    coordinator->complete(token, Status::completed, std::nullopt);
    EXPECT_EQ(idleCount, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Event::draw) << "the refused draw follows the idle transition";
    EXPECT_EQ(events[0].reason, Reason::activeFrame);
}

TEST_F(FrameCoordinator, StaleTokensChangeNothing) {
    const auto old = coordinator->beginFrame();
    coordinator->refuse(*old, Reason::missingDrawable);
    const auto current = coordinator->beginFrame();
    const int idleBefore = idleCount;
    coordinator->refuse(*old, Reason::missingCommandBuffer);
    coordinator->complete(*old, Status::error, "graphics reset: guilty");
    coordinator->didSubmit(
        *old, [] { return Status::completed; }, [] { return std::nullopt; });
    EXPECT_EQ(idleCount, idleBefore);
    ASSERT_TRUE(coordinator->activeFrame());
    EXPECT_EQ(coordinator->activeFrame()->token, *current);
    EXPECT_FALSE(coordinator->activeFrame()->commandBuffer);
    EXPECT_TRUE(eventsOf(Event::recovery).empty());
}

// The frame loop as a view that has nothing to draw into: every requested draw is refused.
TEST_F(FrameCoordinator, RefusedFramesAreRetriedWithBackOffAndReportedOncePerEpisode) {
    Reason refusal = Reason::missingDrawable;
    onDraw = [&](Reason) {
        if (const auto token = coordinator->beginFrame()) {
            coordinator->refuse(*token, refusal);
        }
    };
    coordinator->refuse(*coordinator->beginFrame(), refusal);
    advanceTo(0.5);
    refusal = Reason::missingRenderPassDescriptor;
    advanceTo(3.0);

    std::vector<double> gaps;
    double last = 0;
    for (const Event& event : eventsOf(Event::draw)) {
        if (event.at > 1.3) {
            break;
        }
        gaps.push_back(event.at - last);
        last = event.at;
    }
    const std::vector<double> expected = {0.016, 0.033, 0.066, 0.125, 0.25, 0.25, 0.25};
    ASSERT_GE(gaps.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(gaps[i], expected[i], 1e-6) << "retry " << i;
    }

    const auto reports = eventsOf(Event::recovery);
    ASSERT_EQ(reports.size(), 1u) << "one report for the whole run of refusals";
    EXPECT_NEAR(reports[0].at, 1.0, 1e-9);
    EXPECT_EQ(reports[0].report,
              (MetalRendererRecoveryReport{Reason::missingRenderPassDescriptor, 1.0, std::nullopt,
                                           std::nullopt}))
        << "the latest refusal's reason";

    // A frame that reaches the GPU ends the episode and its retries; the next run starts over.
    onDraw = nullptr;
    events.clear();
    const auto token = coordinator->beginFrame();
    ASSERT_TRUE(token);
    coordinator->didSubmit(
        *token, [] { return Status::completed; }, [] { return std::nullopt; });
    coordinator->complete(*token, Status::completed, std::nullopt);
    advanceTo(10.0);
    EXPECT_TRUE(events.empty()) << "no retry and no report after a submission";

    onDraw = [&](Reason) {
        if (const auto next = coordinator->beginFrame()) {
            coordinator->refuse(*next, refusal);
        }
    };
    coordinator->refuse(*coordinator->beginFrame(), Reason::missingCommandBuffer);
    advanceTo(10.0 + 0.016);
    ASSERT_EQ(eventsOf(Event::draw).size(), 1u);
    EXPECT_NEAR(eventsOf(Event::draw)[0].at, 10.016, 1e-6);
    advanceTo(11.5);
    ASSERT_EQ(eventsOf(Event::recovery).size(), 1u) << "a new episode reports again";
    EXPECT_NEAR(eventsOf(Event::recovery)[0].at, 11.0, 1e-9);
}

TEST_F(FrameCoordinator, AFrameStuckOnTheGpuIsReportedOnceWithItsStatus) {
    for (const Status status :
         {Status::notEnqueued, Status::enqueued, Status::committed, Status::scheduled}) {
        SCOPED_TRACE(std::string(name(status)));
        events.clear();
        const double start = clock.now();
        submittedFrame(status, "still working");
        advanceTo(start + 0.999);
        EXPECT_TRUE(events.empty());
        advanceTo(start + 1.0);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].report,
                  (MetalRendererRecoveryReport{Reason::activeFrame, 1.0, status, "still working"}));
        EXPECT_FALSE(coordinator->beginFrame()) << "the stuck frame stays in flight";
        advanceTo(start + 5.0);
        EXPECT_EQ(eventsOf(Event::recovery).size(), 1u) << "one report per frame";
        // Unstick it for the next row.
        coordinator->complete(coordinator->activeFrame()->token, Status::completed,
                              std::nullopt);
    }
}

TEST_F(FrameCoordinator, TheWatchdogEndsAFrameWhoseWorkHasEnded) {
    submittedFrame(Status::completed);
    advanceTo(1.0);
    EXPECT_TRUE(eventsOf(Event::recovery).empty()) << "finished work is no failure";
    EXPECT_EQ(idleCount, 1);
    EXPECT_FALSE(coordinator->activeFrame());

    submittedFrame(Status::error, "graphics reset: innocent");
    advanceTo(2.0);
    const auto reports = eventsOf(Event::recovery);
    ASSERT_EQ(reports.size(), 1u) << "reported once, by the completion";
    EXPECT_EQ(reports[0].report.commandBufferStatus, Status::error);
    EXPECT_EQ(reports[0].report.commandBufferError, "graphics reset: innocent");
    EXPECT_EQ(idleCount, 2);
}

TEST_F(FrameCoordinator, AFrameNeverSubmittedIsReportedWithoutStatus) {
    ASSERT_TRUE(coordinator->beginFrame());
    advanceTo(1.0);
    const auto reports = eventsOf(Event::recovery);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].report,
              (MetalRendererRecoveryReport{Reason::activeFrame, 1.0, std::nullopt, std::nullopt}));
}

TEST_F(FrameCoordinator, TheWatchdogStopsWhenTheFrameCompletes) {
    const auto token = submittedFrame(Status::committed);
    advanceTo(0.5);
    coordinator->complete(token, Status::completed, std::nullopt);
    EXPECT_EQ(executor.pendingCount(), 0u) << "no timer left behind";
    advanceTo(5.0);
    EXPECT_TRUE(events.empty());
}

TEST_F(FrameCoordinator, GpuErrorsAreReportedAtOnceEvenWhenTheViewCannotShowAnything) {
    eligible = false;
    advanceTo(0.25);
    const auto token = submittedFrame(Status::committed);
    advanceTo(0.75);
    coordinator->complete(token, Status::error, "graphics reset: guilty");
    EXPECT_EQ(idleCount, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].report, (MetalRendererRecoveryReport{Reason::activeFrame, 0.5,
                                                             Status::error,
                                                             "graphics reset: guilty"}));
}

TEST_F(FrameCoordinator, AnInvalidatedCoordinatorOnlyBecomesIdle) {
    const auto token = submittedFrame(Status::committed);
    EXPECT_FALSE(coordinator->beginFrame()); // a retry is pending now
    coordinator->invalidate();
    EXPECT_EQ(idleCount, 0) << "submitted work is left to complete";
    coordinator->complete(token, Status::error, "graphics reset: guilty");
    EXPECT_EQ(idleCount, 1);
    advanceTo(5.0);
    EXPECT_TRUE(events.empty()) << "no draw, retry or report";
    EXPECT_FALSE(coordinator->beginFrame());
    EXPECT_EQ(executor.pendingCount(), 0u);

    // A frame that never reached the GPU is dropped by the invalidation itself.
    MetalFrameCoordinator::Actions actions;
    actions.becameIdle = [this] { ++idleCount; };
    auto other = MetalFrameCoordinator::create(clock, scheduler, actions);
    ASSERT_TRUE(other->beginFrame());
    other->invalidate();
    EXPECT_EQ(idleCount, 2);
    EXPECT_FALSE(other->activeFrame());
}

TEST_F(FrameCoordinator, AnIneligibleViewGetsNoRetriesAndNoTimers) {
    eligible = false;
    const auto token = coordinator->beginFrame();
    ASSERT_TRUE(token);
    coordinator->refuse(*token, Reason::missingDrawable);
    EXPECT_EQ(idleCount, 1);
    EXPECT_EQ(executor.pendingCount(), 0u);
    advanceTo(5.0);
    EXPECT_TRUE(events.empty());

    // Becoming eligible while a frame hangs: the next refused draw arms its watchdog.
    ASSERT_TRUE(coordinator->beginFrame());
    eligible = true;
    EXPECT_FALSE(coordinator->beginFrame());
    advanceTo(6.0);
    EXPECT_EQ(eventsOf(Event::recovery).size(), 1u);
}

TEST_F(FrameCoordinator, GoneCoordinatorsIgnoreTheirTimers) {
    ASSERT_TRUE(coordinator->beginFrame());
    EXPECT_FALSE(coordinator->beginFrame());
    coordinator.reset();
    advanceTo(5.0);
    EXPECT_TRUE(events.empty());
}

// GPU work completes on another thread while the frame loop keeps asking for frames: every
// frame ends exactly once and nothing deadlocks.
TEST_F(FrameCoordinator, CompletionFromAnotherThread) {
    constexpr int frames = 2000;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<MetalFrameCoordinator::Token> submitted;
    bool done = false;
    std::thread gpu([&] {
        for (;;) {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return done || !submitted.empty(); });
            if (submitted.empty()) {
                return;
            }
            const auto token = submitted.front();
            submitted.pop_front();
            lock.unlock();
            coordinator->complete(token, Status::completed, std::nullopt);
        }
    });
    int admitted = 0;
    while (admitted < frames) {
        const auto token = coordinator->beginFrame();
        if (!token) {
            continue;
        }
        ++admitted;
        coordinator->didSubmit(
            *token, [] { return Status::committed; }, [] { return std::nullopt; });
        std::lock_guard lock(mutex);
        submitted.push_back(*token);
        ready.notify_one();
    }
    {
        std::lock_guard lock(mutex);
        done = true;
        ready.notify_one();
    }
    gpu.join();
    EXPECT_EQ(idleCount, frames);
    EXPECT_FALSE(coordinator->activeFrame());
}

} // namespace
