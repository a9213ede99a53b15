#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace veldatron {

class LocalProcessTerminalView;
class TerminalView;

/// The program around a LocalProcessTerminalView: it hears of size, title, directory and the
/// end of the child. Called on the GUI thread, only while set; the view does not own it.
class LocalProcessTerminalViewDelegate {
public:
    virtual ~LocalProcessTerminalViewDelegate() = default;

    /// The pseudo-terminal was given a new size.
    virtual void sizeChanged(LocalProcessTerminalView& source, int newCols, int newRows) = 0;
    /// The program set the title (OSC 0 or 2).
    virtual void setTerminalTitle(LocalProcessTerminalView& source, const QString& title) = 0;
    /// The program reported its working directory (OSC 7).
    virtual void hostCurrentDirectoryUpdate(TerminalView& source,
                                            const std::optional<QString>& directory) = 0;
    /// The child has exited, once. `exitCode` is the raw wait status (exit code 1 is 256), always
    /// present.
    virtual void processTerminated(TerminalView& source, std::optional<int32_t> exitCode) = 0;
};

} // namespace veldatron
