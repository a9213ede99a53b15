#include "PseudoTerminalHelpers.h"

#include <climits>
#include <csignal>
#include <new>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

namespace veldatron {

namespace {

// A NUL-terminated array of C strings for execve, built before the fork: the child of a
// multi-threaded process may only make async-signal-safe calls, so it must not allocate.
class CStringArray {
public:
    explicit CStringArray(const std::vector<std::string>& strings) : m_strings(strings) {
        m_pointers.reserve(m_strings.size() + 1);
        for (std::string& s : m_strings) {
            m_pointers.push_back(s.data());
        }
        m_pointers.push_back(nullptr);
    }
    char* const* data() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

// The highest descriptor number a fallback close loop must cover, computed before the fork.
int highestDescriptor() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur <= static_cast<rlim_t>(INT_MAX)) {
        return static_cast<int>(limit.rlim_cur) - 1;
    }
    return 65535;
}

// A new pseudo-terminal pair, both sides close-on-exec from the start so that a program another
// thread starts meanwhile cannot inherit them (an inherited slave would keep this terminal from
// ever seeing the end of its output). Returns false with both descriptors closed on failure.
bool openPair(int& master, int& slave, const winsize& size) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return false;
    }
    ::ioctl(slave, TIOCSWINSZ, &size);
    return true;
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void execInChild(int slave, const char* path, char* const* argv, char* const* envp,
                              const char* directory, int highestFd) {
    // A session of its own with the slave as controlling terminal, standard input, output and
    // error. The slave is close-on-exec; dup2 clears that on the copies, and the explicit clear
    // covers a slave that already is 0, 1 or 2 (a host started with a standard stream closed).
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::fcntl(slave, F_SETFD, 0);
    for (int stream = 0; stream <= 2; ++stream) {
        if (slave != stream) {
            ::dup2(slave, stream);
        }
    }
    // Descriptors the application opened without close-on-exec (other tabs' masters, sockets,
    // pipes of other children) must not reach the program: an inherited master would also keep
    // another tab's shell from seeing its hang-up.
    if (::close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd <= highestFd; ++fd) {
            ::close(fd);
        }
    }
    // Handlers are reset by execve, but ignored signals and the blocked mask survive it: a child
    // that inherits an ignored SIGPIPE or SIGINT, or a mask from the thread that forked,
    // misbehaves.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) {
            ::sigaction(signal, &byDefault, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (directory != nullptr) {
        [[maybe_unused]] int ignored = ::chdir(directory);
    }
    ::execve(path, argv, envp);
    ::_exit(127);
}

} // namespace

std::optional<PseudoTerminalHelpers::ForkResult>
PseudoTerminalHelpers::fork(const std::string& andExec, const std::vector<std::string>& args,
                            const std::vector<std::string>& env,
                            const std::optional<std::string>& currentDirectory,
                            const winsize& desiredWindowSize) {
    std::optional<CStringArray> argv;
    std::optional<CStringArray> envp;
    try {
        argv.emplace(args);
        envp.emplace(env);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    const int highestFd = highestDescriptor();

    int master = -1;
    int slave = -1;
    if (!openPair(master, slave, desiredWindowSize)) {
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        execInChild(slave, andExec.c_str(), argv->data(), envp->data(),
                    currentDirectory ? currentDirectory->c_str() : nullptr, highestFd);
    }
    ::close(slave);
    if (pid < 0) {
        ::close(master);
        return std::nullopt;
    }
    const int flags = ::fcntl(master, F_GETFL);
    ::fcntl(master, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
    return ForkResult{pid, master};
}

int PseudoTerminalHelpers::setWinSize(int masterPtyDescriptor, const winsize& windowSize) {
    return ::ioctl(masterPtyDescriptor, TIOCSWINSZ, &windowSize);
}

PseudoTerminalHelpers::AvailableBytes PseudoTerminalHelpers::availableBytes(int fd) {
    int size = 0;
    const int status = ::ioctl(fd, FIONREAD, &size);
    return AvailableBytes{status, size};
}

} // namespace veldatron
