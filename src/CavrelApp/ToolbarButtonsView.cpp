#include "ToolbarButtonsView.h"
#include "ProjectStore.h"
#include "TerminalSessionManager.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace cavrel {

QList<ToolbarButtonsView::Tool> ToolbarButtonsView::defaultTools() {
    return {
        {QStringLiteral("Claude"), QStringLiteral("claude")},
        {QStringLiteral("Codex"), QStringLiteral("codex")},
        {QStringLiteral("Cursor"), QStringLiteral("cursor")},
        {QStringLiteral("OpenCode"), QStringLiteral("opencode")},
        {QStringLiteral("Antigravity"), QStringLiteral("agy")},
    };
}

ToolbarButtonsView::ToolbarButtonsView(ProjectStore& projectStore,
                                       TerminalSessionManager& terminalSessions, QList<Tool> tools,
                                       QWidget* parent)
    : QWidget(parent), m_projectStore(projectStore), m_terminalSessions(terminalSessions) {
    setObjectName(QStringLiteral("agentToolbar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    for (const Tool& tool : tools) {
        QString title = tool.label;
        auto* button = new QPushButton(title.replace(u'&', QStringLiteral("&&")), this);
        button->setObjectName(tool.arg);
        layout->addWidget(button);
        m_buttons.append(button);
        connect(button, &QPushButton::clicked, this, [this, arg = tool.arg] {
            if (const std::optional<ProjectStore::Project>& project =
                    m_projectStore.activeProject()) {
                m_terminalSessions.openTab(arg, project->path);
            }
        });
    }
    connect(&m_projectStore, &ProjectStore::activeProjectChanged, this,
            &ToolbarButtonsView::refresh);
    refresh();
}

void ToolbarButtonsView::refresh() {
    const bool enabled = m_projectStore.activeProject().has_value();
    for (QPushButton* button : m_buttons) {
        button->setEnabled(enabled);
    }
}

} // namespace cavrel
