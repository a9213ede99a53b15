#pragma once

#include "Executor.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace veldatron {

/// An executor on a virtual clock, for tests: nothing runs until the test advances the clock, and
/// then every task that has come due runs in time order (posting order among equal times),
/// including tasks posted by the running tasks once they are due. Time starts at zero.
///
/// `post` and `postAfter` may be called from any thread; `advance` and `runReady` belong to the
/// thread that created the executor, which is also the thread `isCurrent()` names.
class ManualExecutor final : public Executor {
public:
    ManualExecutor();

    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

    /// Virtual time since construction.
    Duration now() const;
    /// Moves the clock forward by `delay`, running each task as the clock reaches its time.
    void advance(Duration delay);
    /// Runs the tasks due now (and those they post for now); the clock stays.
    void runReady() { advance(Duration::zero()); }
    /// Tasks waiting to run, not counting cancelled ones.
    std::size_t pendingCount() const;

private:
    struct Entry {
        Duration due;
        std::uint64_t sequence;
        ScheduledTask task;
    };
    void push(Duration due, ScheduledTask task);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_queue; // a min-heap on (due, sequence)
    Duration m_now{};
    std::uint64_t m_nextSequence = 0;
    std::thread::id m_owner;
};

} // namespace veldatron
