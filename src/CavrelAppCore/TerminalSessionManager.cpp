#include "TerminalSessionManager.h"
#include "LastPathComponent.h"

namespace cavrel {

TerminalSessionManager::Tab::Tab(QUuid id, QString tool, QString projectPath)
    : id(id), tool(std::move(tool)), projectPath(std::move(projectPath)) {
    title = QStringLiteral("%1 \u2014 %2").arg(this->tool, lastPathComponent(this->projectPath));
}

TerminalSessionManager::TerminalSessionManager(QObject* parent) : QObject(parent) {}

void TerminalSessionManager::setActiveTabID(std::optional<QUuid> id) {
    m_activeTabID = id;
    emit activeTabIDChanged();
}

TerminalSessionManager::Tab TerminalSessionManager::openTab(const QString& tool,
                                                            const QString& projectPath) {
    Tab tab(QUuid::createUuid(), tool, projectPath);
    m_tabs.append(tab);
    emit tabsChanged();
    setActiveTabID(tab.id);
    return tab;
}

void TerminalSessionManager::closeTab(const QUuid& id) {
    if (m_tabs.removeIf([&id](const Tab& tab) { return tab.id == id; }) > 0) {
        emit tabsChanged();
    }
    if (m_activeTabID == id) {
        setActiveTabID(m_tabs.isEmpty() ? std::nullopt : std::optional(m_tabs.last().id));
    }
}

} // namespace cavrel
