#include "TerminalTabsContainerView.h"
#include "ContentUnavailableView.h"
#include "TabChip.h"
#include "TerminalSessionManager.h"
#include "TerminalTabView.h"
#include "UiStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace cavrel {

TerminalTabsContainerView::TerminalTabsContainerView(TerminalSessionManager& terminalSessions,
                                                     TerminalViewFactory& factory,
                                                     std::function<QString()> cavrelBinaryPath,
                                                     QWidget* parent)
    : QWidget(parent), m_terminalSessions(terminalSessions), m_factory(factory),
      m_cavrelBinaryPath(std::move(cavrelBinaryPath)) {
    setObjectName(QStringLiteral("terminalTabs"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_strip = new QWidget(this);
    m_strip->setObjectName(QStringLiteral("tabStrip"));
    // The strip has no scroll view: many tabs overflow it rather than widen the window.
    m_strip->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* stripLayout = new QHBoxLayout(m_strip);
    stripLayout->setContentsMargins(6, 6, 6, 6);
    stripLayout->setSpacing(4);
    stripLayout->addStretch(1);
    stripLayout->addStretch(1);
    layout->addWidget(m_strip);
    m_divider = horizontalDivider(this);
    layout->addWidget(m_divider);

    m_activeArea = new QWidget(this);
    auto* activeLayout = new QVBoxLayout(m_activeArea);
    activeLayout->setContentsMargins(0, 0, 0, 0);
    m_empty = new ContentUnavailableView(tr("No agent running"), QStringLiteral("terminal"),
                                         tr("Pick a project, then click an agent button above."),
                                         m_activeArea);
    activeLayout->addWidget(m_empty);
    layout->addWidget(m_activeArea, 1);

    connect(&m_terminalSessions, &TerminalSessionManager::tabsChanged, this,
            &TerminalTabsContainerView::sync);
    connect(&m_terminalSessions, &TerminalSessionManager::activeTabIDChanged, this,
            &TerminalTabsContainerView::sync);
    sync();
}

QList<TabChip*> TerminalTabsContainerView::chips() const {
    QList<TabChip*> chips;
    for (const QPointer<TabChip>& chip : m_chips) {
        chips.append(chip);
    }
    return chips;
}

void TerminalTabsContainerView::sync() {
    const bool hasTabs = !m_terminalSessions.tabs().isEmpty();
    m_strip->setVisible(hasTabs);
    m_divider->setVisible(hasTabs);
    syncChips();
    syncTerminal();
}

void TerminalTabsContainerView::syncChips() {
    const QList<TerminalSessionManager::Tab>& tabs = m_terminalSessions.tabs();
    const std::optional<QUuid>& activeID = m_terminalSessions.activeTabID();
    auto* stripLayout = static_cast<QHBoxLayout*>(m_strip->layout());

    // Chips of closed tabs go later, not now: the click on a chip's close button is still
    // being delivered when the tab list changes.
    QList<QPointer<TabChip>> kept;
    for (const QPointer<TabChip>& chip : std::as_const(m_chips)) {
        const bool open = std::any_of(tabs.begin(), tabs.end(),
                                      [&chip](const auto& tab) { return tab.id == chip->tabID(); });
        if (open) {
            kept.append(chip);
        } else {
            stripLayout->removeWidget(chip);
            chip->hide();
            chip->deleteLater();
        }
    }
    m_chips.clear();
    for (const TerminalSessionManager::Tab& tab : tabs) {
        auto existing = std::find_if(kept.begin(), kept.end(),
                                     [&tab](const auto& chip) { return chip->tabID() == tab.id; });
        TabChip* chip = nullptr;
        if (existing != kept.end()) {
            chip = *existing;
        } else {
            const QUuid id = tab.id;
            chip = new TabChip(
                id, tab.title,
                [this, id] {
                    m_terminalSessions.setActiveTabID(id);
                    // Also when the tab was the active one already and kept its terminal.
                    focusTerminal();
                },
                [this, id] { m_terminalSessions.closeTab(id); }, m_strip);
        }
        chip->setActive(activeID == tab.id);
        m_chips.append(chip);
    }
    // Between the two stretches, in the order of the tab list.
    for (qsizetype i = 0; i < m_chips.size(); ++i) {
        stripLayout->removeWidget(m_chips[i]);
        stripLayout->insertWidget(static_cast<int>(i) + 1, m_chips[i]);
    }
}

void TerminalTabsContainerView::syncTerminal() {
    const QList<TerminalSessionManager::Tab>& tabs = m_terminalSessions.tabs();
    const std::optional<QUuid>& activeID = m_terminalSessions.activeTabID();
    const auto active = std::find_if(tabs.begin(), tabs.end(), [&activeID](const auto& tab) {
        return activeID && tab.id == *activeID;
    });
    if (m_shown && (active == tabs.end() || m_shown->tabID() != active->id)) {
        // Destroyed, not hidden: a hidden view would keep its shell and agent running unseen.
        delete m_shown;
    }
    if (active != tabs.end() && !m_shown) {
        m_shown = new TerminalTabView(
            active->id, active->tool, active->projectPath, m_cavrelBinaryPath(),
            [](std::optional<int>) {}, m_factory, m_activeArea);
        m_activeArea->layout()->addWidget(m_shown);
        m_empty->setVisible(false);
        m_shown->show();
        // The new tab takes the keys: typing right after a click on an agent button goes to
        // its shell, not to the button (where a space or Return would open yet another tab).
        focusTerminal();
    }
    m_empty->setVisible(!m_shown);
}

void TerminalTabsContainerView::focusTerminal() {
    if (m_shown) {
        m_shown->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace cavrel
