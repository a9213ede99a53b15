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
    // Called when the child ends, with its raw wait status (exit code 1 arrives as 256).
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

// The application's terminal: a terminal emulator view running the launch's program on a
// pseudo-terminal, with the default options, font, colours and environment. The child's title,
// directory and size reports are ignored; its end is passed to `onExit`.
class LocalProcessTerminalViewFactory : public TerminalViewFactory {
public:
    QWidget* createTerminalView(const TerminalLaunch& launch, QWidget* parent) override;
};

} // namespace cavrel
