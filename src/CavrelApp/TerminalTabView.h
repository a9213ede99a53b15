#pragma once

#include <QPointer>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

namespace cavrel {

class TerminalViewFactory;

// The terminal of the shown agent tab. On creation it has the factory start the user's
// interactive login shell in the tab's folder and type the agent command into it; it holds
// that terminal view for its whole life, so destroying this widget destroys the view and
// hangs its shell up. One is built each time another tab becomes the shown one. Focusing it
// focuses the terminal.
class TerminalTabView : public QWidget {
    Q_OBJECT

public:
    TerminalTabView(const QUuid& tabID, const QString& tool, const QString& projectPath,
                    const QString& cavrelBinaryPath, std::function<void(std::optional<int>)> onExit,
                    TerminalViewFactory& factory, QWidget* parent = nullptr);

    const QUuid& tabID() const { return m_tabID; }
    QWidget* terminalView() const { return m_terminalView; }

private:
    QUuid m_tabID;
    QPointer<QWidget> m_terminalView;
};

} // namespace cavrel
