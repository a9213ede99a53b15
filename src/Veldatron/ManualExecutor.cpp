#include "ManualExecutor.h"

#include <algorithm>
#include <optional>

namespace veldatron {
namespace {

Executor::Duration saturatingAdd(Executor::Duration a, Executor::Duration b) {
    b = std::max(b, Executor::Duration::zero());
    return b >= Executor::Duration::max() - a ? Executor::Duration::max() : a + b;
}

template <typename Entry> bool laterThan(const Entry& a, const Entry& b) {
    return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
}

} // namespace

ManualExecutor::ManualExecutor() : m_owner(std::this_thread::get_id()) {}

void ManualExecutor::post(Task task) {
    std::lock_guard lock(m_mutex);
    push(m_now, ScheduledTask(std::move(task), ScheduledTask::Kind::plain));
}

TaskHandle ManualExecutor::postAfter(Duration delay, Task task) {
    ScheduledTask scheduled(std::move(task), ScheduledTask::Kind::cancellable);
    TaskHandle handle = scheduled.handle();
    std::lock_guard lock(m_mutex);
    push(saturatingAdd(m_now, delay), std::move(scheduled));
    return handle;
}

bool ManualExecutor::isCurrent() const {
    return std::this_thread::get_id() == m_owner;
}

Executor::Duration ManualExecutor::now() const {
    std::lock_guard lock(m_mutex);
    return m_now;
}

void ManualExecutor::advance(Duration delay) {
    Duration target;
    {
        std::lock_guard lock(m_mutex);
        target = saturatingAdd(m_now, delay);
    }
    for (;;) {
        std::optional<ScheduledTask> next;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty() || m_queue.front().due > target) {
                m_now = std::max(m_now, target);
                return;
            }
            std::pop_heap(m_queue.begin(), m_queue.end(), laterThan<Entry>);
            m_now = std::max(m_now, m_queue.back().due);
            next.emplace(std::move(m_queue.back().task));
            m_queue.pop_back();
        }
        next->run(); // unlocked: the task may post, cancel or read the clock
    }
}

std::size_t ManualExecutor::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(
        m_queue.begin(), m_queue.end(), [](const Entry& e) { return !e.task.isCancelled(); }));
}

void ManualExecutor::push(Duration due, ScheduledTask task) {
    m_queue.push_back(Entry{due, m_nextSequence++, std::move(task)});
    std::push_heap(m_queue.begin(), m_queue.end(), laterThan<Entry>);
}

} // namespace veldatron
