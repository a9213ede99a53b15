#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace veldatron {

/// Refers to a task posted with `Executor::postAfter`. Copies refer to the same task; a
/// default-constructed handle refers to none.
class TaskHandle {
public:
    TaskHandle() = default;

    /// Keeps the task from running if it has not started yet; true when it will now never run.
    /// Safe from any thread and from inside any task, the task itself included (which is no
    /// longer pending, so nothing happens). Never blocks.
    bool cancel() noexcept;

    /// True while the task waits to run (neither started nor cancelled).
    bool isPending() const noexcept;

private:
    friend class ScheduledTask;
    enum : std::uint8_t { pending, running, finished, cancelled };
    struct Control {
        std::atomic<std::uint8_t> state{pending};
    };
    explicit TaskHandle(std::shared_ptr<Control> control) : m_control(std::move(control)) {}

    std::shared_ptr<Control> m_control;
};

/// A queued task as executors keep it: the function and, when it was posted with a handle, the
/// state the handle shares. For implementations of `Executor`.
class ScheduledTask {
public:
    enum class Kind : std::uint8_t { plain, cancellable };

    ScheduledTask(std::function<void()> task, Kind kind);

    /// A handle on the task (none for a plain one).
    TaskHandle handle() const { return TaskHandle(m_control); }
    bool isCancelled() const noexcept;
    /// Runs the task unless it was cancelled. Run once.
    void run();

private:
    std::shared_ptr<TaskHandle::Control> m_control;
    std::function<void()> m_task;
};

/// Where deferred work of the terminal runs: the replacement for a main dispatch queue with its
/// delayed, cancellable work items. The host installs one; the core never assumes a toolkit.
/// Tasks run one at a time on the executor's thread, in the order they become due (posting order
/// among tasks due at the same time).
class Executor {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;

    virtual ~Executor() = default;

    /// Runs the task on the executor's thread as soon as it gets to it. Safe from any thread.
    virtual void post(Task task) = 0;
    /// Runs the task once, no earlier than `delay` from now (a negative delay counts as none).
    virtual TaskHandle postAfter(Duration delay, Task task) = 0;
    /// True on the executor's thread.
    virtual bool isCurrent() const = 0;
};

} // namespace veldatron
