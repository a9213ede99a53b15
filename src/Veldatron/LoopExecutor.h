#pragma once

#include "Executor.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace veldatron {

/// A headless run loop: the thread that calls `run` (or `runUntil`) runs the posted and timed
/// tasks until it is told to stop. Tasks may be posted, and handles cancelled, from any thread;
/// a task runs with no lock held, so it may post, cancel or stop freely.
class LoopExecutor final : public Executor {
public:
    using Predicate = std::function<bool()>;

    LoopExecutor() = default;
    ~LoopExecutor() override;

    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    /// True on the thread that is inside `run` or `runUntil`.
    bool isCurrent() const override;

    /// Runs tasks until `stop()`.
    void run();
    /// Runs tasks until the deadline has passed (true) or `stop()` came first (false).
    bool runUntil(Clock::time_point deadline);
    /// Runs tasks until `done()` holds, checked before the first task and after each one; gives
    /// up at the deadline or on `stop()`. Returns whether `done()` held.
    bool runUntil(const Predicate& done, Clock::time_point deadline = Clock::time_point::max());
    /// Ends the running loop after the task in progress, or, when none runs, the next one to start.
    void stop();

private:
    struct Timer {
        Clock::time_point due;
        std::uint64_t sequence;
        ScheduledTask task;
    };
    enum class Exit : std::uint8_t { done, deadline, stopped };
    Exit loop(const Predicate* done, Clock::time_point deadline);
    void purgeCancelledTimers(std::vector<Timer>& removed);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<ScheduledTask> m_ready;
    std::vector<Timer> m_timers; // a min-heap on (due, sequence)
    std::size_t m_purgeAt = 64;
    std::uint64_t m_nextSequence = 0;
    bool m_stopRequested = false;
    std::atomic<std::thread::id> m_runner{};
};

} // namespace veldatron
