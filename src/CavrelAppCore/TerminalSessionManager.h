#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace cavrel {

// The agent tabs: which are open, in opening order, and which one is shown. It knows nothing of
// terminals or processes; the UI builds a terminal for the active tab from a tab's fields and
// owns whatever runs in it. The list lives in memory only.
//
// Owned by the application state for the application's life; main thread only.
class TerminalSessionManager : public QObject {
    Q_OBJECT

public:
    struct Tab {
        Tab(QUuid id, QString tool, QString projectPath);

        QUuid id;
        QString tool;        // the agent's command name, e.g. "claude"
        QString projectPath; // the folder the agent runs in
        QString title;       // "<tool> — <folder name>"

        bool operator==(const Tab&) const = default;
    };

    explicit TerminalSessionManager(QObject* parent = nullptr);

    const QList<Tab>& tabs() const { return m_tabs; }
    const std::optional<QUuid>& activeTabID() const { return m_activeTabID; }

    // The tab strip writes the identity of a tapped tab; it is not checked against the list.
    void setActiveTabID(std::optional<QUuid> id);

    // Appends a tab with a new identity and makes it active.
    Tab openTab(const QString& tool, const QString& projectPath);

    // Removes the tab. When it was the active one, the tab now last in the list becomes active,
    // or none when the list is empty.
    void closeTab(const QUuid& id);

signals:
    void tabsChanged();
    void activeTabIDChanged();

private:
    QList<Tab> m_tabs;
    std::optional<QUuid> m_activeTabID;
};

} // namespace cavrel
