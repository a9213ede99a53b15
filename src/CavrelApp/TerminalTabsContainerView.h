#pragma once

#include "TabChip.h"
#include "TerminalTabView.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace cavrel {

class ContentUnavailableView;

class TerminalSessionManager;

class TerminalViewFactory;

// The agent tab area of a window: the strip of tab chips (shown while there are tabs) and,
// below it, the terminal of the active tab or "No agent running". Only the active tab has a
// terminal; each time another tab becomes the active one, the shown terminal is destroyed and
// a new one starts a fresh shell for the new tab. Lives as long as its window.
class TerminalTabsContainerView : public QWidget {
    Q_OBJECT

public:
    TerminalTabsContainerView(TerminalSessionManager& terminalSessions,
                              TerminalViewFactory& factory,
                              std::function<QString()> cavrelBinaryPath, QWidget* parent = nullptr);

    QList<TabChip*> chips() const;
    QWidget* strip() const { return m_strip; }
    TerminalTabView* shownTab() const { return m_shown; }
    ContentUnavailableView* emptyState() const { return m_empty; }

    // Gives the shown tab's terminal the keyboard focus, as a user expects of a terminal they
    // have just opened, selected or come back to; nothing while the tab area is disabled under
    // a hub screen. The window calls it when it shows the Agents screen again.
    void focusTerminal();

private:
    void sync();
    void syncChips();
    void syncTerminal();

    TerminalSessionManager& m_terminalSessions;
    TerminalViewFactory& m_factory;
    std::function<QString()> m_cavrelBinaryPath;
    QWidget* m_strip;
    QWidget* m_divider;
    QWidget* m_activeArea;
    QList<QPointer<TabChip>> m_chips;
    QPointer<TerminalTabView> m_shown;
    ContentUnavailableView* m_empty;
};

} // namespace cavrel
