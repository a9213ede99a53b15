#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace cavrel {

// A process we launched detached (the hub or its watcher). It is never monitored; the handle
// only lets an explicit stop() signal it later. Releasing the handle leaves the process
// running. The process is addressed through a pidfd taken right after the launch, so a signal
// can never reach an unrelated process that was given a recycled pid.
class ProcessHandle {
public:
    ProcessHandle() = default;
    ProcessHandle(qint64 pid, int pidfd);
    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    ~ProcessHandle();

    // 0 for a handle that names no process (a launch that was only recorded, as in tests).
    qint64 pid() const { return m_pid; }

    // Sends the termination signal and does not wait. Does nothing once the process is gone.
    void terminate();

private:
    qint64 m_pid = 0;
    int m_pidfd = -1;
};

// The outcome of launching a program: a handle, or the launch error's description.
struct LaunchResult {
    std::optional<ProcessHandle> process;
    QString error;
};

// Launches `program` with `arguments` in its own session with standard output and error on the
// null device; standard input, environment and working directory are ours. The child outlives
// us and is reaped by the system, not by this process.
LaunchResult launchDetached(const QString& program, const QStringList& arguments);

} // namespace cavrel
