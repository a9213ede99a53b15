#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <sys/ioctl.h>

namespace veldatron {

class LocalProcess;

/// The host of a `LocalProcess`: it receives the child's output and its end, and says how large
/// the terminal is when a child starts. Every call arrives on the process's executor.
class LocalProcessDelegate {
public:
    virtual ~LocalProcessDelegate() = default;

    /// The child has exited, after all the output read before its end was delivered. `exitCode`
    /// is always present: the raw status word of `waitpid` (the exit code in bits 8-15, or the
    /// signal number in the low seven bits), not a decoded exit code; 0 when the child had been
    /// waited for elsewhere.
    virtual void processTerminated(LocalProcess& source, std::optional<std::int32_t> exitCode) = 0;
    /// Output of the child, in order. The bytes are valid for the call only.
    virtual void dataReceived(std::span<const std::uint8_t> slice) = 0;
    /// The size the pseudo-terminal is created with (rows, columns, pixel width and height).
    virtual winsize getWindowSize() = 0;
};

} // namespace veldatron
