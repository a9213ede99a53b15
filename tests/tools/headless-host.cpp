// Runs a program on a new pseudo-terminal inside a terminal without a view, for tests that drive
// real programs:
//
//   headless-host [--cols N] [--rows N] [--timeout SECONDS] [--dump] -- COMMAND [ARG...]
//
// COMMAND (searched in PATH when it has no "/") gets the pseudo-terminal as its controlling
// terminal, standard input and output, sized N columns by N rows (default 80 by 25). Every byte
// it writes goes to the terminal, and every reply of the terminal goes back to it; the host
// answers window reports for a modelled window, reports titles and trusts the program, so
// programs that query their terminal run unattended. The tool's own standard input is typed
// into the program as it arrives (its end types nothing). The program's environment is the
// terminal's default one (TERM=xterm-256color, COLORTERM=truecolor, a UTF-8 LANG, the user's
// identity) plus this process's PATH.
//
// The tool exits with COMMAND's status once COMMAND has ended and all its output has been read
// (128 + the signal's number when a signal ended it; 127 when it could not be executed). --dump
// then prints the final screen, one line per row, and "cursor X,Y", as screen-dump does.
// --timeout ends a program still running after that many seconds: exit status 124. Bad options
// or a pseudo-terminal that cannot be made: a message and exit status 125.

#include "HeadlessHost.h"
#include "LoopExecutor.h"
#include "TerminalFixture.h"
#include "ToolOptions.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace veldatron;
using namespace veldatron::testing;

constexpr int usageStatus = 125;
constexpr int timeoutStatus = 124;

[[noreturn]] void usage(const std::string& message = {}) {
    if (!message.empty()) {
        std::fprintf(stderr, "headless-host: %s\n", message.c_str());
    }
    std::fprintf(stderr, "usage: headless-host [--cols N] [--rows N] [--timeout SECONDS] [--dump] "
                         "-- COMMAND [ARG...]\n");
    std::exit(usageStatus);
}

// The path execve needs: COMMAND itself when it names a path, else the first executable file of
// that name in PATH; COMMAND unchanged when none is found (the child then exits with 127).
std::string resolve(const std::string& command) {
    if (command.find('/') != std::string::npos) {
        return command;
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + command;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return command;
}

// A descriptor 0-2 that is closed would be handed to the next file this process opens (the
// pseudo-terminal's master, a wake-up pipe) and then read or written as if it were the tool's.
void ensureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

// Types the tool's standard input into the program from a thread of its own, until stopped.
class InputPump {
public:
    explicit InputPump(HeadlessTerminal& host) {
        if (::pipe2(m_stop, O_CLOEXEC) != 0) {
            std::perror("headless-host: pipe");
            std::exit(usageStatus);
        }
        m_thread = std::thread([this, &host] { run(host); });
    }
    ~InputPump() {
        const char byte = 0;
        [[maybe_unused]] ssize_t written = ::write(m_stop[1], &byte, 1);
        m_thread.join();
        ::close(m_stop[0]);
        ::close(m_stop[1]);
    }
    InputPump(const InputPump&) = delete;
    InputPump& operator=(const InputPump&) = delete;

private:
    void run(HeadlessTerminal& host) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        std::vector<uint8_t> buffer(4096);
        while (true) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if (fds[0].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
            if (n > 0) {
                host.send(std::span<const uint8_t>(buffer.data(), size_t(n)));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds[0].fd = -1; // the end of the input: nothing more to type
            }
        }
    }

    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

int exitStatusOf(int32_t status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return usageStatus;
}

} // namespace

int main(int argc, char** argv) {
    ensureStandardDescriptors();
    TerminalSpec spec{.cols = 80, .rows = 25, .scrollback = 500};
    std::optional<int> timeoutSeconds;
    bool dump = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--dump") {
            dump = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage("missing value for " + arg);
        }
        const std::string value = argv[++i];
        if (takeSizeOption(arg, value, spec)) {
            continue;
        }
        if (arg != "--timeout" || !(timeoutSeconds = parseCount(value, 1, 86400))) {
            usage("bad option " + arg + " " + value);
        }
    }
    if (i >= argc) {
        usage("no COMMAND");
    }
    const std::string command = argv[i];
    const std::vector<std::string> args(argv + i + 1, argv + argc);
    std::vector<std::string> environment =
        Terminal::getEnvironmentVariables("xterm-256color", true);
    if (const char* path = std::getenv("PATH")) {
        environment.push_back(std::string("PATH=") + path);
    }

    LoopExecutor loop;
    std::optional<int32_t> status;
    bool timedOut = false;
    HostedTerminal host(loop, optionsFor(spec), [&](std::optional<int32_t> exitCode) {
        status = exitCode.value_or(0);
        loop.stop();
    });
    host.process().startProcess(resolve(command), args, environment, command);
    // Not `running()`: a program that fails at once (127 for one that cannot be executed) may
    // have ended already, and its status is still to be reported. A start that failed left no
    // process number.
    if (host.process().shellPid() == 0) {
        std::fprintf(stderr, "headless-host: cannot start %s on a pseudo-terminal\n",
                     command.c_str());
        return usageStatus;
    }
    if (timeoutSeconds) {
        loop.postAfter(std::chrono::seconds(*timeoutSeconds), [&] {
            timedOut = true;
            loop.stop();
        });
    }
    {
        InputPump pump(host);
        loop.run();
    }
    if (timedOut) {
        host.process().terminate();
        std::fprintf(stderr, "headless-host: %s still ran after %d seconds\n", command.c_str(),
                     *timeoutSeconds);
    }
    if (dump) {
        for (const std::string& row : dumpScreen(host.terminal())) {
            std::printf("%s\n", row.c_str());
        }
        std::printf("cursor %s\n", cursorText(host.terminal()).c_str());
    }
    std::fflush(stdout);
    return timedOut ? timeoutStatus : exitStatusOf(status.value_or(0));
}
