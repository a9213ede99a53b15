#include "ProcessHandle.h"

#include <QProcess>

#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace cavrel {

namespace {

// Direct system calls: glibc 2.36's <sys/pidfd.h> declares its wrappers without C linkage.
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

void signalPidfd(int pidfd, int signal) {
    ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0);
}

} // namespace

ProcessHandle::ProcessHandle(qint64 pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : m_pid(std::exchange(other.m_pid, 0)), m_pidfd(std::exchange(other.m_pidfd, -1)) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        if (m_pidfd >= 0) {
            ::close(m_pidfd);
        }
        m_pid = std::exchange(other.m_pid, 0);
        m_pidfd = std::exchange(other.m_pidfd, -1);
    }
    return *this;
}

ProcessHandle::~ProcessHandle() {
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
    }
}

void ProcessHandle::terminate() {
    if (m_pidfd >= 0) {
        // ESRCH (already exited) is the expected outcome for a process that ended on its own.
        signalPidfd(m_pidfd, SIGTERM);
    }
}

LaunchResult launchDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        QString error = process.errorString();
        if (error.isEmpty()) {
            error = QStringLiteral("Could not launch %1").arg(program);
        }
        return {std::nullopt, error};
    }
    // pidfds are close-on-exec, so later children never inherit this one.
    const int pidfd = pid > 0 ? openPidfd(static_cast<pid_t>(pid)) : -1;
    return {ProcessHandle(pid, pidfd), QString()};
}

} // namespace cavrel
