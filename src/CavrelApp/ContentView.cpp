#include "ContentView.h"
#include "AppState.h"
#include "ContentUnavailableView.h"
#include "HubStatusBanner.h"
#include "LastPathComponent.h"
#include "MemoryView.h"
#include "RulesView.h"
#include "SessionsView.h"
#include "SkillsView.h"
#include "TerminalTabsContainerView.h"
#include "TerminalViewFactory.h"
#include "ToolbarButtonsView.h"
#include "UiStyle.h"

#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QSplitter>
#include <QVBoxLayout>

namespace cavrel {

namespace {

// Lays every child over the whole of its area, in stacking order: the agent tab area stays
// laid out at full size under the hub layer, so its terminal keeps the window's size while a
// hub screen covers it.
class OverlayStack : public QWidget {
public:
    using QWidget::QWidget;

    QSize sizeHint() const override { return combined(&QWidget::sizeHint); }
    QSize minimumSizeHint() const override { return combined(&QWidget::minimumSizeHint); }

protected:
    void resizeEvent(QResizeEvent*) override {
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            child->setGeometry(rect());
        }
    }

    void childEvent(QChildEvent* event) override {
        QWidget::childEvent(event);
        if (event->added() && event->child()->isWidgetType()) {
            static_cast<QWidget*>(event->child())->setGeometry(rect());
        }
    }

private:
    QSize combined(QSize (QWidget::*hint)() const) const {
        QSize size(0, 0);
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isHidden()) {
                size = size.expandedTo((child->*hint)());
            }
        }
        return size;
    }
};

} // namespace

ContentView::ContentView(AppState& appState, WindowServices services, QWidget* parent)
    : QWidget(parent), m_appState(appState), m_services(std::move(services)) {
    setObjectName(QStringLiteral("contentView"));
    setWindowTitle(QGuiApplication::applicationDisplayName());
    setMinimumSize(900, 600);
    if (!m_services.terminalViewFactory) {
        m_services.terminalViewFactory = std::make_shared<LocalProcessTerminalViewFactory>();
    }
    if (!m_services.cavrelBinaryPath) {
        m_services.cavrelBinaryPath = [] { return AppState::cavrelBinaryPath(); };
    }

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter);

    m_sidebar = new SidebarView(m_appState.projectStore(), m_services.pickFolder, splitter);
    m_sidebar->setMinimumWidth(180);
    splitter->addWidget(m_sidebar);

    auto* detail = new QWidget(splitter);
    detail->setObjectName(QStringLiteral("detail"));
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_banner = new HubStatusBanner(m_appState, detail);
    column->addWidget(m_banner);

    m_toolbarRow = new QWidget(detail);
    auto* toolbarColumn = new QVBoxLayout(m_toolbarRow);
    toolbarColumn->setContentsMargins(0, 0, 0, 0);
    toolbarColumn->setSpacing(0);
    m_toolbar = new ToolbarButtonsView(m_appState.projectStore(), m_appState.terminalSessions(),
                                       ToolbarButtonsView::defaultTools(), m_toolbarRow);
    toolbarColumn->addWidget(m_toolbar, 0, Qt::AlignHCenter);
    toolbarColumn->addWidget(horizontalDivider(m_toolbarRow));
    column->addWidget(m_toolbarRow);

    auto* stack = new OverlayStack(detail);
    m_terminalTabs = new TerminalTabsContainerView(m_appState.terminalSessions(),
                                                   *m_services.terminalViewFactory,
                                                   m_services.cavrelBinaryPath, stack);
    m_hubLayer = new QWidget(stack);
    m_hubLayer->setObjectName(QStringLiteral("hubLayer"));
    m_hubLayer->setBackgroundRole(QPalette::Window);
    m_hubLayer->setAutoFillBackground(true);
    auto* hubLayout = new QVBoxLayout(m_hubLayer);
    hubLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(stack, 1);

    splitter->addWidget(detail);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 1060});

    auto* newWindow = new QAction(tr("New Window"), this);
    newWindow->setShortcut(QKeySequence::New);
    connect(newWindow, &QAction::triggered, this, [this] { openNewWindow(); });
    addAction(newWindow);

    connect(m_sidebar, &SidebarView::selectionChanged, this, &ContentView::setSelection);
    connect(&m_appState, &AppState::apiClientChanged, this, [this] { refresh(false); });
    connect(&m_appState.projectStore(), &ProjectStore::activeProjectChanged, this,
            [this] { refresh(false); });
    refresh(true);
}

ContentView::~ContentView() {
    // The start belongs to this window: closing it ends the wait for the hub.
    m_start.cancel();
}

ContentView* ContentView::openNewWindow() {
    auto* window = new ContentView(m_appState, m_services);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(size());
    window->show();
    return window;
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        m_start = m_appState.start();
    }
}

void ContentView::setSelection(NavItem item) {
    if (item == m_selection) {
        return;
    }
    m_selection = item;
    m_sidebar->setSelection(item);
    refresh(true);
    if (item == NavItem::terminals) {
        // Back on Agents, the keys go to the terminal, not to the sidebar row just clicked
        // (where a letter would jump to another screen).
        m_terminalTabs->focusTerminal();
    }
}

HubScreen* ContentView::hubScreen() const {
    return qobject_cast<HubScreen*>(m_hubContent.data());
}

ContentView::Gate ContentView::gate() const {
    if (m_selection == NavItem::terminals) {
        return Gate::none;
    }
    const std::optional<ProjectStore::Project>& project = m_appState.projectStore().activeProject();
    if (!m_appState.apiClient() || !project) {
        return Gate::noProject;
    }
    if (!project->gitRemoteURL || project->gitRemoteURL->isEmpty()) {
        return Gate::noRemote;
    }
    return Gate::screen;
}

void ContentView::refresh(bool rebuild) {
    const Gate current = gate();
    const bool agents = current == Gate::none;
    m_toolbarRow->setVisible(agents);
    // Hidden under the hub layer, the tab area keeps its terminal but takes no clicks or keys.
    m_terminalTabs->setEnabled(agents);
    m_hubLayer->setVisible(!agents);
    if (!agents) {
        m_hubLayer->raise();
    }

    const std::optional<ProjectStore::Project>& project = m_appState.projectStore().activeProject();
    const QString folder = project ? lastPathComponent(project->path) : QString();
    if (rebuild || current != m_shownGate ||
        (current == Gate::noRemote && folder != m_shownFolder)) {
        if (m_hubContent) {
            m_hubLayer->layout()->removeWidget(m_hubContent);
            m_hubContent->hide();
            m_hubContent->deleteLater();
        }
        m_hubContent = buildHubContent(current);
        if (m_hubContent) {
            m_hubLayer->layout()->addWidget(m_hubContent);
        }
        m_shownGate = current;
        m_shownFolder = folder;
        return;
    }
    if (HubScreen* screen = hubScreen()) {
        screen->setApiClient(*m_appState.apiClient());
        screen->setProject(*project);
    }
}

QWidget* ContentView::buildHubContent(Gate current) {
    switch (current) {
    case Gate::none:
        return nullptr;
    case Gate::noProject:
        return new ContentUnavailableView(tr("No project selected"), QStringLiteral("tray"), {},
                                          m_hubLayer);
    case Gate::noRemote:
        return new ContentUnavailableView(
            tr("No git remote for this project"), QStringLiteral("exclamationmark.triangle"),
            tr("\"%1\" has no git \"origin\" remote configured, so cavrel can't identify it for "
               "the hub. Pick a folder that's a git repository with a remote.")
                .arg(lastPathComponent(m_appState.projectStore().activeProject()->path)),
            m_hubLayer);
    case Gate::screen:
        break;
    }
    const CavrelAPIClient& client = *m_appState.apiClient();
    const ProjectStore::Project& project = *m_appState.projectStore().activeProject();
    switch (m_selection) {
    case NavItem::sessions:
        return new SessionsView(client, project, m_hubLayer);
    case NavItem::rules:
        return new RulesView(client, project, m_hubLayer);
    case NavItem::skills:
        return new SkillsView(client, project, m_hubLayer);
    case NavItem::memory:
        return new MemoryView(client, project, m_hubLayer);
    case NavItem::terminals:
        break;
    }
    return nullptr;
}

} // namespace cavrel
