#pragma once

#include "CavrelHubManager.h"
#include "NavItem.h"
#include "SidebarView.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace cavrel {

class AppState;
class ContentUnavailableView;
class HubScreen;
class HubStatusBanner;
class TerminalTabsContainerView;
class TerminalViewFactory;
class ToolbarButtonsView;

// What a window needs from outside besides the application state: how it asks for a folder,
// how it makes a tab's terminal view, and where the `cavrel` program is (read each time a tab's
// terminal is made). Tests replace all three.
struct WindowServices {
    FolderPicker pickFolder = &pickFolderWithDialog;
    std::shared_ptr<TerminalViewFactory> terminalViewFactory;
    std::function<QString()> cavrelBinaryPath;
};

// The root of an application window: the project sidebar beside the detail column, which
// holds the hub failure banner, the Agents toolbar (on Agents only) and, stacked, the agent tab
// area, which lives as long as the window, under the hub screen selected in the sidebar.
//
// A hub screen is shown only once the hub runs and the active project has a git origin;
// otherwise a placeholder says what is missing. The screen is built afresh whenever it is
// selected or the gate's outcome changes, and is handed the new project or client when only
// those change. The window starts the hub when it is first shown and cancels that start when
// it is closed.
class ContentView : public QWidget {
    Q_OBJECT

public:
    // Each window opens on Agents. Several windows may share one state.
    ContentView(AppState& appState, WindowServices services, QWidget* parent = nullptr);
    ~ContentView() override;

    // The window opened by "New Window", with the same services.
    ContentView* openNewWindow();

    NavItem selection() const { return m_selection; }
    void setSelection(NavItem item);

    SidebarView* sidebar() const { return m_sidebar; }
    HubStatusBanner* banner() const { return m_banner; }
    ToolbarButtonsView* toolbar() const { return m_toolbar; }
    TerminalTabsContainerView* terminalTabs() const { return m_terminalTabs; }
    QWidget* hubLayer() const { return m_hubLayer; }
    // What the hub layer shows: a screen or one of the gate's placeholders; none on Agents.
    QWidget* hubContent() const { return m_hubContent; }
    HubScreen* hubScreen() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum class Gate { none, noProject, noRemote, screen };

    Gate gate() const;
    void refresh(bool rebuild);
    QWidget* buildHubContent(Gate gate);

    AppState& m_appState;
    WindowServices m_services;
    NavItem m_selection = NavItem::terminals;
    Gate m_shownGate = Gate::none;
    QString m_shownFolder;
    CavrelHubManager::StartHandle m_start;
    bool m_started = false;

    SidebarView* m_sidebar;
    HubStatusBanner* m_banner;
    QWidget* m_toolbarRow;
    ToolbarButtonsView* m_toolbar;
    TerminalTabsContainerView* m_terminalTabs;
    QWidget* m_hubLayer;
    QPointer<QWidget> m_hubContent;
};

} // namespace cavrel
