#include "LoopExecutor.h"

#include <algorithm>
#include <iterator>
#include <cassert>
#include <optional>

namespace veldatron {
namespace {

template <typename Timer> bool laterThan(const Timer& a, const Timer& b) {
    return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
}

} // namespace

LoopExecutor::~LoopExecutor() = default;

void LoopExecutor::post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_ready.emplace_back(std::move(task), ScheduledTask::Kind::plain);
    }
    m_wake.notify_one();
}

TaskHandle LoopExecutor::postAfter(Duration delay, Task task) {
    ScheduledTask scheduled(std::move(task), ScheduledTask::Kind::cancellable);
    TaskHandle handle = scheduled.handle();
    const Clock::time_point now = Clock::now();
    // Saturating: a delay of Duration::max() means "never", not an overflow.
    const Clock::time_point due = delay >= Clock::time_point::max() - now
                                      ? Clock::time_point::max()
                                      : now + std::max(delay, Duration::zero());
    std::vector<Timer> removed; // destroyed after the lock is released
    {
        std::lock_guard lock(m_mutex);
        if (m_timers.size() >= m_purgeAt) {
            purgeCancelledTimers(removed);
        }
        m_timers.push_back(Timer{due, m_nextSequence++, std::move(scheduled)});
        std::push_heap(m_timers.begin(), m_timers.end(), laterThan<Timer>);
    }
    m_wake.notify_one();
    return handle;
}

bool LoopExecutor::isCurrent() const {
    return m_runner.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void LoopExecutor::run() {
    loop(nullptr, Clock::time_point::max());
}

bool LoopExecutor::runUntil(Clock::time_point deadline) {
    return loop(nullptr, deadline) == Exit::deadline;
}

bool LoopExecutor::runUntil(const Predicate& done, Clock::time_point deadline) {
    return loop(&done, deadline) == Exit::done;
}

void LoopExecutor::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_wake.notify_all();
}

LoopExecutor::Exit LoopExecutor::loop(const Predicate* done, Clock::time_point deadline) {
    assert(m_runner.load() == std::thread::id() && "LoopExecutor run loops do not nest");
    m_runner.store(std::this_thread::get_id(), std::memory_order_release);
    struct Leave {
        std::atomic<std::thread::id>& runner;
        ~Leave() { runner.store(std::thread::id(), std::memory_order_release); }
    } leave{m_runner};

    for (;;) {
        if (done != nullptr && (*done)()) {
            return Exit::done;
        }
        std::optional<ScheduledTask> next;
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                if (m_stopRequested) {
                    m_stopRequested = false;
                    return Exit::stopped;
                }
                const Clock::time_point now = Clock::now();
                if (now >= deadline) {
                    return Exit::deadline;
                }
                while (!m_timers.empty() && m_timers.front().due <= now) {
                    std::pop_heap(m_timers.begin(), m_timers.end(), laterThan<Timer>);
                    m_ready.push_back(std::move(m_timers.back().task));
                    m_timers.pop_back();
                }
                if (!m_ready.empty()) {
                    next.emplace(std::move(m_ready.front()));
                    m_ready.pop_front();
                    break;
                }
                const Clock::time_point wake =
                    m_timers.empty() ? deadline : std::min(deadline, m_timers.front().due);
                if (wake == Clock::time_point::max()) {
                    m_wake.wait(lock);
                } else {
                    m_wake.wait_until(lock, wake);
                }
            }
        }
        next->run();
    }
}

void LoopExecutor::purgeCancelledTimers(std::vector<Timer>& removed) {
    auto cancelled = std::partition(m_timers.begin(), m_timers.end(),
                                    [](const Timer& t) { return !t.task.isCancelled(); });
    std::move(cancelled, m_timers.end(), std::back_inserter(removed));
    m_timers.erase(cancelled, m_timers.end());
    std::make_heap(m_timers.begin(), m_timers.end(), laterThan<Timer>);
    m_purgeAt = std::max<std::size_t>(64, 2 * m_timers.size());
}

} // namespace veldatron
