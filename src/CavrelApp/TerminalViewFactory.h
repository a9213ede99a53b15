#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace cavrel {

// What a tab's terminal runs and types: a child process on a pseudo-terminal, started in
// `currentDirectory`, with `initialText` sent as typed input right after the start.
struct TerminalLaunch {
    QString executable;
    QStringList args;
    std::optional<QStringList> environment; // none: the terminal's default environment
    std::optional<QString> execName;        // none: the child's argv[0] is `executable`
    QString currentDirectory;
    QString initialText;
    // Called with the child's exit status when it ends (none when it was killed by a signal).
    std::function<void(std::optional<int> exitCode)> onExit;
};

// Makes the terminal view of the active agent tab. The view it returns has started its
// process and sent the initial text; destroying the view hangs its process up. The agent
// screen owns each view and destroys it when another tab is shown.
class TerminalViewFactory {
public:
    virtual ~TerminalViewFactory() = default;
    virtual QWidget* createTerminalView(const TerminalLaunch& launch, QWidget* parent) = 0;
};

// Stands in until the terminal emulator's view is built into the application: a read-only
// panel that shows the shell and the command a tab would run, and starts nothing.
class PlaceholderTerminalViewFactory : public TerminalViewFactory {
public:
    QWidget* createTerminalView(const TerminalLaunch& launch, QWidget* parent) override;
};

} // namespace cavrel
