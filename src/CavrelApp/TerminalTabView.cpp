#include "TerminalTabView.h"
#include "LoginShell.h"
#include "TerminalViewFactory.h"

#include <QVBoxLayout>

namespace cavrel {

TerminalTabView::TerminalTabView(const QUuid& tabID, const QString& tool,
                                 const QString& projectPath, const QString& cavrelBinaryPath,
                                 std::function<void(std::optional<int>)> onExit,
                                 TerminalViewFactory& factory, QWidget* parent)
    : QWidget(parent), m_tabID(tabID) {
    setObjectName(QStringLiteral("terminalTabView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    TerminalLaunch launch;
    launch.executable = loginShellPath();
    launch.args = loginShellArguments();
    launch.currentDirectory = projectPath;
    // Typed before the shell has printed anything: the pseudo-terminal keeps the bytes until
    // the shell reads its first line.
    launch.initialText = agentCommandLine(cavrelBinaryPath, tool);
    launch.onExit = std::move(onExit);
    m_terminalView = factory.createTerminalView(launch, this);
    if (m_terminalView) {
        layout->addWidget(m_terminalView);
        setFocusProxy(m_terminalView);
    }
}

} // namespace cavrel
