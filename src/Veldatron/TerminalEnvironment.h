#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron {

/// The environment a program started in the terminal sees when its host supplies none: the
/// terminal type, 24-bit colour, a UTF-8 locale and a few identity and session variables copied
/// from the hosting process. Nothing else of the host's environment reaches the child (no search
/// path, no shell, no tokens the application itself was given).
struct TerminalEnvironment {
    /// The terminal type announced when the caller names none.
    static constexpr std::string_view defaultTermName = "xterm-256color";

    /// The child's complete environment, each entry a name, "=" and the value, in this order:
    /// "TERM=" and `termName` (the default when absent; an empty name stays empty),
    /// "COLORTERM=truecolor" when `trueColor`, "LANG=" with "en_US.UTF-8" when the system has
    /// that locale and "C.UTF-8" otherwise, then the host's value of each copied variable that it
    /// sets. "USER" is copied twice, "LC_TYPE" is copied under that very name, and names match
    /// exactly (letter case included). Reads the host environment afresh on every call.
    static std::vector<std::string>
    getEnvironmentVariables(std::optional<std::string_view> termName, bool trueColor);

    /// The value given to LANG: "en_US.UTF-8" when `newlocale` can load it, else "C.UTF-8".
    static std::string_view utf8LocaleName();
};

} // namespace veldatron
