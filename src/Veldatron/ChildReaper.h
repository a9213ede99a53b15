#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace veldatron {

/// Waits for the children that their hosts have let go (a terminal closed or replaced while its
/// program still runs), so that none of them lingers as a zombie once it exits. One per process,
/// created on first use and never destroyed; its thread polls the adopted process descriptors
/// and reaps each child by its own pid, never with a wait for any child, so children that other
/// parts of the application start and wait for are left alone.
class ChildReaper {
public:
    static ChildReaper& shared();

    /// Takes `pidfd` (a process descriptor of the child `pid`, which nobody has waited for) and
    /// reaps the child when it exits, closing the descriptor then. Safe from any thread.
    void adopt(int pidfd, pid_t pid);

    /// Children adopted and not yet reaped.
    std::size_t pendingCount() const;

private:
    ChildReaper();
    void run();

    struct Child {
        int pidfd;
        pid_t pid;
    };

    mutable std::mutex m_lock;
    std::vector<Child> m_adopted;
    int m_wake = -1;
    std::thread m_thread;
};

} // namespace veldatron
