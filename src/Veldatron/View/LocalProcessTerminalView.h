#pragma once

#include "LocalProcess.h"
#include "LocalProcessDelegate.h"
#include "TerminalView.h"
#include "TerminalViewDelegate.h"

#include <QStringList>

#include <memory>
#include <optional>

namespace veldatron {

class LocalProcessTerminalViewDelegate;

/// A TerminalView running a child program on a pseudo-terminal, wired to it both ways: the
/// child's output is fed to the terminal, everything the view sends (typed text, the terminal's
/// replies) is written to the child, a new view size becomes the pseudo-terminal's window size,
/// and the program's clipboard requests (OSC 52) use the system clipboard.
///
/// The view is its own host (TerminalViewDelegate) and its process's delegate; the process
/// delivers on the view's executor (the GUI thread). Destroying the view hangs the child up
/// without signalling it (its pseudo-terminal closes); the child is reaped in the background
/// when it exits and nothing more is reported.
class LocalProcessTerminalView : public TerminalView,
                                 public TerminalViewDelegate,
                                 public LocalProcessDelegate {
    Q_OBJECT

public:
    explicit LocalProcessTerminalView(QWidget* parent = nullptr);
    LocalProcessTerminalView(QWidget* parent, const std::optional<QFont>& font,
                             const TerminalOptions& options, Scheduling scheduling = {});
    ~LocalProcessTerminalView() override;

    LocalProcess& process() { return *m_process; }
    LocalProcessTerminalViewDelegate* processDelegate() const { return m_processDelegate; }
    void setProcessDelegate(LocalProcessTerminalViewDelegate* delegate) {
        m_processDelegate = delegate;
    }

    /// Starts `executable` unless a child runs: `args` after the program name, `environment`
    /// complete (none: the terminal's default environment), `execName` as the name the child
    /// sees (none: `executable`), in `currentDirectory` (none: here). The pseudo-terminal gets
    /// the view's current size. A start that fails leaves the view without a child, silently.
    void startProcess(const QString& executable, const QStringList& args = {},
                      const std::optional<QStringList>& environment = std::nullopt,
                      const std::optional<QString>& execName = std::nullopt,
                      const std::optional<QString>& currentDirectory = std::nullopt);
    /// Sends SIGTERM to the child and closes its pseudo-terminal; no termination is reported.
    void terminate();
    void setHostLogging(const std::optional<QString>& directory);

    // The view's own host, and the terminal's (the names overlap: both are in scope).
    using TerminalView::clipboardCopy;
    using TerminalView::clipboardRead;
    using TerminalView::scrolled;
    using TerminalView::send;
    using TerminalView::setTerminalTitle;
    using TerminalView::sizeChanged;

    // ---- TerminalViewDelegate ----------------------------------------------------------------
    void sizeChanged(TerminalView& source, int newCols, int newRows) override;
    void setTerminalTitle(TerminalView& source, const QString& title) override;
    void hostCurrentDirectoryUpdate(TerminalView& source,
                                    const std::optional<QString>& directory) override;
    void send(TerminalView& source, std::span<const uint8_t> data) override;
    void scrolled(TerminalView& source, double position) override;
    void clipboardCopy(TerminalView& source, std::span<const uint8_t> content) override;
    std::optional<std::vector<uint8_t>> clipboardRead(TerminalView& source) override;
    void rangeChanged(TerminalView& source, int startY, int endY) override;

    // ---- LocalProcessDelegate ----------------------------------------------------------------
    void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) override;
    void dataReceived(std::span<const uint8_t> slice) override;
    /// Rows and columns of the terminal, and its size in device pixels (each at most 65535).
    winsize getWindowSize() override;

private:
    std::unique_ptr<LocalProcess> m_process;
    LocalProcessTerminalViewDelegate* m_processDelegate = nullptr;
};

} // namespace veldatron
