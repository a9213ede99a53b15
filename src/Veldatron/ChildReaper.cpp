#include "ChildReaper.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veldatron {

ChildReaper& ChildReaper::shared() {
    // Never destroyed: children may be adopted until the process ends, and a reaper torn down by
    // static destruction would leave zombies of hosts destroyed after it.
    static ChildReaper* reaper = new ChildReaper();
    return *reaper;
}

ChildReaper::ChildReaper() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    m_thread = std::thread([this] { run(); });
    m_thread.detach();
}

void ChildReaper::adopt(int pidfd, pid_t pid) {
    {
        std::lock_guard lock(m_lock);
        m_adopted.push_back(Child{pidfd, pid});
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(m_wake, &one, sizeof one);
}

std::size_t ChildReaper::pendingCount() const {
    std::lock_guard lock(m_lock);
    return m_adopted.size();
}

void ChildReaper::run() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back(pollfd{m_wake, POLLIN, 0});
        {
            std::lock_guard lock(m_lock);
            for (const Child& child : m_adopted) {
                fds.push_back(pollfd{child.pidfd, POLLIN, 0});
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            continue; // EINTR; nothing else can fail with valid descriptors
        }
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t got = ::read(m_wake, &count, sizeof count);
        }
        std::lock_guard lock(m_lock);
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            // Only this thread removes entries, so the adopted child is still at its place.
            for (auto it = m_adopted.begin(); it != m_adopted.end(); ++it) {
                if (it->pidfd != fds[i].fd) {
                    continue;
                }
                int status = 0;
                pid_t reaped;
                do {
                    reaped = ::waitpid(it->pid, &status, WNOHANG);
                } while (reaped < 0 && errno == EINTR);
                // 0: not yet a zombie (cannot happen once the descriptor is readable, but then it
                // stays adopted); -1 with ECHILD: someone reaped it after all.
                if (reaped != 0) {
                    ::close(it->pidfd);
                    m_adopted.erase(it);
                }
                break;
            }
        }
    }
}

} // namespace veldatron
