#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace veldatron {

class TerminalView;

/// The host of a TerminalView: every outward notice of the view goes to it. Each operation
/// receives the calling view first. The view holds its host without owning it; a host that goes
/// away before its view clears it with TerminalView::setTerminalDelegate(nullptr).
///
/// Everything is called on the view's (the GUI) thread.
class TerminalViewDelegate {
public:
    virtual ~TerminalViewDelegate() = default;

    /// The terminal now has this many columns and rows (as the view computed them from its size,
    /// before the terminal's own minimum of 2 columns and 1 row).
    virtual void sizeChanged(TerminalView& source, int newCols, int newRows) = 0;
    /// The program set the window title (OSC 0 or 2).
    virtual void setTerminalTitle(TerminalView& source, const QString& title) = 0;
    /// The program reported its working directory (OSC 7).
    virtual void hostCurrentDirectoryUpdate(TerminalView& source,
                                            const std::optional<QString>& directory) = 0;
    /// Bytes for the program: user input and the terminal's replies. Valid during the call.
    virtual void send(TerminalView& source, std::span<const uint8_t> data) = 0;
    /// The viewport moved: 0 is the top of the scrollback, 1 the bottom.
    virtual void scrolled(TerminalView& source, double position) = 0;
    /// The terminal rang the bell. Default: the system beep.
    virtual void bell(TerminalView& source);
    /// The user asked to open a link (its text, and the parameters of a hyperlink). Default:
    /// TerminalView::openDefaultLink.
    virtual void requestOpenLink(TerminalView& source, const QString& link,
                                 const std::map<QString, QString>& params);
    /// The program asked to place text on the clipboard (OSC 52). Default: nothing.
    virtual void clipboardCopy(TerminalView& source, std::span<const uint8_t> content);
    /// The program asked for the clipboard's text (OSC 52). Default: none.
    virtual std::optional<std::vector<uint8_t>> clipboardRead(TerminalView& source);
    /// An OSC 1337 payload the terminal does not handle itself. Default: nothing.
    virtual void iTermContent(TerminalView& source, std::span<const uint8_t> content);
    /// Screen rows startY...endY were redrawn (only while notifyUpdateChanges is on).
    virtual void rangeChanged(TerminalView& source, int startY, int endY) = 0;
};

} // namespace veldatron
