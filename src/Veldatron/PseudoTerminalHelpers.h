#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/ioctl.h>
#include <sys/types.h>

namespace veldatron {

/// Operations on pseudo-terminals: starting a program on a new one, and the two window-size and
/// byte-count queries a host makes on the master side. Static operations only.
class PseudoTerminalHelpers {
public:
    PseudoTerminalHelpers() = delete;

    struct ForkResult {
        pid_t pid;
        int masterFd;
    };

    /// Starts `andExec` (a path; no search) on a new pseudo-terminal of the given size that
    /// becomes its controlling terminal, standard input, output and error, with `args` as its
    /// complete argument list (the first is the name the program sees) and `env` as its complete
    /// environment, in `currentDirectory` when given (a directory that cannot be entered is
    /// ignored). A program that cannot be executed ends with status 127.
    ///
    /// The child keeps no other descriptor of this process and starts with an empty signal mask
    /// and default signal dispositions. The master descriptor returned is close-on-exec and
    /// non-blocking. Returns nothing when the arrays cannot be built or the fork fails.
    static std::optional<ForkResult> fork(const std::string& andExec,
                                          const std::vector<std::string>& args,
                                          const std::vector<std::string>& env,
                                          const std::optional<std::string>& currentDirectory,
                                          const winsize& desiredWindowSize);

    /// Sets the window size of the pseudo-terminal (`TIOCSWINSZ`); the kernel tells the
    /// foreground process group with SIGWINCH. Returns the call's result (-1 with errno on error).
    static int setWinSize(int masterPtyDescriptor, const winsize& windowSize);

    struct AvailableBytes {
        int status;
        int size;
    };
    /// The number of bytes ready to read on the descriptor (`FIONREAD`); `status` is the call's
    /// result.
    static AvailableBytes availableBytes(int fd);
};

} // namespace veldatron
