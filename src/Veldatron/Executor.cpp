#include "Executor.h"

namespace veldatron {

bool TaskHandle::cancel() noexcept {
    if (!m_control) {
        return false;
    }
    std::uint8_t expected = pending;
    return m_control->state.compare_exchange_strong(expected, cancelled, std::memory_order_acq_rel);
}

bool TaskHandle::isPending() const noexcept {
    return m_control && m_control->state.load(std::memory_order_acquire) == pending;
}

ScheduledTask::ScheduledTask(std::function<void()> task, Kind kind)
    : m_control(kind == Kind::cancellable ? std::make_shared<TaskHandle::Control>() : nullptr),
      m_task(std::move(task)) {}

bool ScheduledTask::isCancelled() const noexcept {
    return m_control && m_control->state.load(std::memory_order_acquire) == TaskHandle::cancelled;
}

void ScheduledTask::run() {
    if (m_control) {
        std::uint8_t expected = TaskHandle::pending;
        if (!m_control->state.compare_exchange_strong(expected, TaskHandle::running,
                                                      std::memory_order_acq_rel)) {
            return; // cancelled
        }
    }
    struct Finish {
        TaskHandle::Control* control;
        ~Finish() {
            if (control) {
                control->state.store(TaskHandle::finished, std::memory_order_release);
            }
        }
    } finish{m_control.get()};
    if (m_task) {
        m_task();
    }
}

} // namespace veldatron
