#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QPushButton;

namespace cavrel {

class ProjectStore;
class TerminalSessionManager;

// The agent buttons above the tab area: one per tool, each opening a new tab for that tool in
// the active project's folder; all disabled while no project is active.
class ToolbarButtonsView : public QWidget {
    Q_OBJECT

public:
    struct Tool {
        QString label; // the button's title
        QString arg;   // the tool name typed into the shell; unique in the list
    };
    static QList<Tool> defaultTools();

    ToolbarButtonsView(ProjectStore& projectStore, TerminalSessionManager& terminalSessions,
                       QList<Tool> tools = defaultTools(), QWidget* parent = nullptr);

    const QList<QPushButton*>& buttons() const { return m_buttons; }

private:
    void refresh();

    ProjectStore& m_projectStore;
    TerminalSessionManager& m_terminalSessions;
    QList<QPushButton*> m_buttons;
};

} // namespace cavrel
