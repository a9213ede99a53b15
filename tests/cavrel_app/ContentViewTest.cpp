#include "AppTestSupport.h"
#include "ContentUnavailableView.h"
#include "HubStatusBanner.h"
#include "MemoryView.h"
#include "RulesView.h"
#include "SessionsView.h"
#include "SidebarView.h"
#include "SkillsView.h"
#include "TerminalTabsContainerView.h"
#include "ToolbarButtonsView.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace cavrel;
using cavrel::test::HubWindowFixture;
using cavrel::test::waitUntil;
using Kind = CavrelHubManager::Status::Kind;

namespace {

ContentUnavailableView* placeholder(const ContentView& window) {
    return qobject_cast<ContentUnavailableView*>(window.hubContent());
}

QString placeholderTitle(const ContentView& window) {
    const ContentUnavailableView* shown = placeholder(window);
    return shown ? shown->title() : QString();
}

TEST(ContentViewGate, PlaceholderOrScreenByClientProjectAndRemote) {
    struct Case {
        const char* name;
        bool hubRuns;
        std::optional<std::pair<QString, std::optional<QString>>> project;
        QString title; // empty: the Rules screen
        QString description;
    };
    const QString remote = "https://example.invalid/team/shop.git";
    const QString noRemote = "\"shop\" has no git \"origin\" remote configured, so cavrel can't "
                             "identify it for the hub. Pick a folder that's a git repository "
                             "with a remote.";
    const Case cases[] = {
        {"no hub, no project", false, std::nullopt, "No project selected", ""},
        {"no hub, a project with a remote",
         false,
         {{"/work/shop", remote}},
         "No project selected",
         ""},
        {"a hub, no project", true, std::nullopt, "No project selected", ""},
        {"a project without a remote",
         true,
         {{"/work/shop", std::nullopt}},
         "No git remote for this project",
         noRemote},
        {"an empty remote counts as none",
         true,
         {{"/work/shop/", QString("")}},
         "No git remote for this project",
         noRemote},
        {"a hub and a project with a remote", true, {{"/work/shop", remote}}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HubWindowFixture fixture;
        if (!c.hubRuns) {
            fixture.useClosedPort();
        }
        if (c.project) {
            fixture.openProject(c.project->first, c.project->second);
        }
        ContentView& window = fixture.startedWindow();
        window.setSelection(NavItem::rules);
        EXPECT_EQ(fixture.appState().apiClient().has_value(), c.hubRuns);
        if (c.title.isEmpty()) {
            auto* rules = qobject_cast<RulesView*>(window.hubScreen());
            ASSERT_NE(rules, nullptr);
            EXPECT_EQ(rules->project().gitRemoteURL, remote);
            EXPECT_EQ(rules->apiClient().baseURL(), fixture.hub().baseUrl());
            continue;
        }
        EXPECT_EQ(placeholderTitle(window), c.title);
        EXPECT_EQ(placeholder(window)->description(), c.description);
        EXPECT_EQ(placeholder(window)->symbol(),
                  c.description.isEmpty() ? "tray" : "exclamationmark.triangle");
    }
}

TEST(ContentViewGate, AScreenSelectedWhileTheHubStartsAppearsWhenTheClientIsPublished) {
    HubWindowFixture fixture;
    fixture.openProject("/work/shop", "https://example.invalid/shop.git");
    ContentView window(fixture.appState(), fixture.services());
    window.setSelection(NavItem::sessions);
    window.show();
    EXPECT_EQ(placeholderTitle(window), "No project selected") << "no progress indicator";
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<SessionsView*>(window.hubScreen()); }));
}

TEST(ContentViewGate, ScreensAreBuiltAfreshOnSelectionAndGateChangesOnly) {
    HubWindowFixture fixture;
    fixture.openProject("/work/shop", "https://example.invalid/shop.git");
    ContentView& window = fixture.startedWindow();
    window.setSelection(NavItem::rules);
    QPointer<HubScreen> rules = window.hubScreen();
    ASSERT_TRUE(qobject_cast<RulesView*>(rules));
    EXPECT_FALSE(window.toolbar()->isVisible());
    EXPECT_FALSE(window.terminalTabs()->isEnabled()) << "the hidden tab area takes no input";

    // Another project on the same branch of the gate: the same screen, given the project.
    fixture.openProject("/work/cart", "https://example.invalid/cart.git");
    EXPECT_EQ(window.hubScreen(), rules.data());
    EXPECT_EQ(rules->project().path, "/work/cart");

    // Rules, Skills, back to Rules: a new screen each time.
    window.setSelection(NavItem::skills);
    EXPECT_TRUE(qobject_cast<SkillsView*>(window.hubScreen()));
    window.setSelection(NavItem::rules);
    EXPECT_NE(window.hubScreen(), rules.data());
    EXPECT_TRUE(waitUntil([&] { return rules.isNull(); })) << "the old screen is destroyed";
    rules = window.hubScreen();

    // Losing the remote, then gaining it again, goes through the placeholder to a new screen.
    fixture.openProject("/work/scratch", std::nullopt);
    EXPECT_EQ(placeholderTitle(window), "No git remote for this project");
    EXPECT_TRUE(placeholder(window)->description().startsWith("\"scratch\" has no git"));
    fixture.openProject("/work/notes", std::nullopt);
    EXPECT_TRUE(placeholder(window)->description().startsWith("\"notes\" has no git"))
        << "the placeholder names the folder now active";
    fixture.openProject("/work/cart", "https://example.invalid/cart.git");
    EXPECT_TRUE(qobject_cast<RulesView*>(window.hubScreen()));
    EXPECT_NE(window.hubScreen(), rules.data());

    window.setSelection(NavItem::memory);
    EXPECT_TRUE(qobject_cast<MemoryView*>(window.hubScreen()));
    window.setSelection(NavItem::terminals);
    EXPECT_EQ(window.hubContent(), nullptr);
    EXPECT_TRUE(window.hubLayer()->isHidden());
    EXPECT_TRUE(window.toolbar()->isVisible());
    EXPECT_TRUE(window.terminalTabs()->isEnabled());
}

TEST(ContentViewBanner, ShowsTheFailureAndRetryStartsAgain) {
    HubWindowFixture fixture;
    fixture.useClosedPort();
    fixture.openProject("/work/shop", "https://example.invalid/shop.git");
    ContentView& window = fixture.window();
    window.setSelection(NavItem::rules);
    HubStatusBanner* banner = window.banner();
    EXPECT_TRUE(banner->isHidden()) << "no banner while starting";
    ASSERT_TRUE(waitUntil([&] { return banner->isVisible(); }));
    EXPECT_EQ(banner->text(),
              "cavrel hub failed to start: cavrel serve did not become healthy within 5 seconds");
    EXPECT_EQ(banner->retryButton()->text(), "Retry");
    EXPECT_EQ(placeholderTitle(window), "No project selected");

    // A hub answers now: Retry hides the banner at once and the gate opens once it runs.
    fake::FakeHub hub({"test-token"});
    fixture.releaseClosedPort();
    ASSERT_TRUE(hub.listen(fixture.configuredPort())) << hub.errorString().toStdString();
    QTest::mouseClick(banner->retryButton(), Qt::LeftButton);
    EXPECT_EQ(fixture.appState().hubManager().status().kind, Kind::starting);
    EXPECT_TRUE(banner->isHidden());
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<RulesView*>(window.hubScreen()); }));
    EXPECT_TRUE(banner->isHidden());

    // It goes away again: the banner is back and the screen keeps the client it had.
    hub.close();
    QPointer<HubScreen> screen = window.hubScreen();
    QTest::mouseClick(banner->retryButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return banner->isVisible(); }));
    EXPECT_EQ(window.hubScreen(), screen.data());
    EXPECT_TRUE(fixture.appState().apiClient());
}

TEST(ContentViewBanner, ClosingTheWindowCancelsItsStart) {
    HubWindowFixture fixture;
    fixture.useClosedPort();
    ContentView* window = new ContentView(fixture.appState(), fixture.services());
    window->show();
    ASSERT_EQ(fixture.appState().hubManager().status().kind, Kind::starting);
    delete window;
    ASSERT_TRUE(
        waitUntil([&] { return fixture.appState().hubManager().status().kind == Kind::failed; }));
    EXPECT_NE(fixture.appState().hubManager().status().message,
              "cavrel serve did not become healthy within 5 seconds");
}

TEST(ContentViewWindow, HasAMinimumSizeAndOpensOnAgents) {
    HubWindowFixture fixture;
    ContentView& window = fixture.window();
    EXPECT_EQ(window.minimumSize(), QSize(900, 600));
    EXPECT_EQ(window.selection(), NavItem::terminals);
    EXPECT_EQ(window.sidebar()->list()->selectedItems(),
              QList<QListWidgetItem*>{window.sidebar()->navItem(NavItem::terminals)});

    // A second window shares the projects and tabs and runs its own start.
    fixture.openProject("/work/shop", "https://example.invalid/shop.git");
    window.setSelection(NavItem::rules);
    std::unique_ptr<ContentView> second(window.openNewWindow());
    second->setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(second->selection(), NavItem::terminals);
    EXPECT_EQ(second->sidebar()->projectItems().size(), 1);
}

TEST(ContentViewAgents, TheTabAreaSurvivesHubScreens) {
    HubWindowFixture fixture;
    fixture.openProject("/work/shop", "https://example.invalid/shop.git");
    ContentView& window = fixture.startedWindow();
    window.toolbar()->buttons().first()->click();
    ASSERT_EQ(fixture.terminals().launches().size(), 1);
    QPointer<QWidget> terminal = fixture.terminals().launches().first().view;

    window.setSelection(NavItem::rules);
    window.setSelection(NavItem::sessions);
    window.setSelection(NavItem::terminals);
    ASSERT_TRUE(waitUntil([&] { return terminal && terminal->isVisible(); }));
    EXPECT_EQ(fixture.terminals().launches().size(), 1) << "no new shell";
}

TEST(ContentViewSidebar, OpensFoldersAndRecentProjectsWithoutTouchingTheSelection) {
    HubWindowFixture fixture;
    ContentView& window = fixture.window();
    SidebarView* sidebar = window.sidebar();
    window.setSelection(NavItem::skills);
    EXPECT_TRUE(sidebar->projectItems().isEmpty()) << "only \"Open Folder…\"";
    EXPECT_EQ(sidebar->openFolderItem()->text(), "Open Folder…");

    const auto click = [sidebar](QListWidgetItem* item) {
        const QRect rect = sidebar->list()->visualItemRect(item);
        QTest::mouseClick(sidebar->list()->viewport(), Qt::LeftButton, {}, rect.center());
    };

    fixture.setPickedFolder(std::nullopt);
    click(sidebar->openFolderItem());
    EXPECT_FALSE(fixture.appState().projectStore().activeProject()) << "cancelled";

    // Folder names are shown as they are, markup and ampersands included.
    fixture.remotes()["/work/R&D <b>x"] = std::nullopt;
    fixture.remotes()["/work/shop"] = QString("https://example.invalid/shop.git");
    fixture.setPickedFolder("/work/R&D <b>x");
    click(sidebar->openFolderItem());
    fixture.setPickedFolder("/work/shop");
    click(sidebar->openFolderItem());
    ASSERT_EQ(sidebar->projectItems().size(), 2);
    EXPECT_EQ(sidebar->projectItems()[0]->text(), "shop");
    EXPECT_EQ(sidebar->projectItems()[1]->text(), "R&D <b>x");
    const QColor accent = sidebar->palette().color(QPalette::Highlight);
    EXPECT_EQ(sidebar->projectItems()[0]->foreground().color(), accent);
    EXPECT_NE(sidebar->projectItems()[1]->foreground().color(), accent);

    // A recent row opens its folder again: the remote is resolved anew and it moves up.
    const int calls = fixture.resolverCalls();
    click(sidebar->projectItems()[1]);
    EXPECT_EQ(fixture.resolverCalls(), calls + 1);
    EXPECT_EQ(fixture.appState().projectStore().activeProject()->path, "/work/R&D <b>x");
    EXPECT_EQ(sidebar->projectItems()[0]->text(), "R&D <b>x");
    EXPECT_EQ(sidebar->projectItems()[0]->foreground().color(), accent);
    EXPECT_EQ(window.selection(), NavItem::skills) << "a project never changes the screen";

    // A screen row selects the screen; one stays selected whatever the click.
    click(sidebar->navItem(NavItem::memory));
    EXPECT_EQ(window.selection(), NavItem::memory);
    const QRect memory = sidebar->list()->visualItemRect(sidebar->navItem(NavItem::memory));
    QTest::mouseClick(sidebar->list()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      memory.center());
    EXPECT_EQ(sidebar->list()->selectedItems(),
              QList<QListWidgetItem*>{sidebar->navItem(NavItem::memory)});
    click(sidebar->projectItems()[1]);
    EXPECT_EQ(sidebar->list()->selectedItems(),
              QList<QListWidgetItem*>{sidebar->navItem(NavItem::memory)});
    EXPECT_EQ(fixture.appState().projectStore().activeProject()->path, "/work/shop");
}

TEST(ContentViewSidebar, OnlyTheActiveProjectIsMarkedAfterTheListReorders) {
    HubWindowFixture fixture;
    fixture.openProject("/work/cart", std::nullopt);
    fixture.openProject("/work/shop", std::nullopt);
    ContentView& window = fixture.window();
    SidebarView* sidebar = window.sidebar();
    QListWidget* list = sidebar->list();
    list->setFocus();
    const QColor accent = sidebar->palette().color(QPalette::Highlight);
    const auto marked = [&] {
        QStringList found;
        for (QListWidgetItem* item : sidebar->projectItems()) {
            if (item->foreground().color() == accent) {
                found.append(item->text());
            }
        }
        return found;
    };

    // The list's current row is framed while it has the focus: it stays on the screen's row,
    // never on a project row that the reordering fills with another project.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(sidebar->projectItems()[1]).center());
    ASSERT_EQ(sidebar->projectItems()[0]->text(), "cart");
    EXPECT_EQ(marked(), QStringList{"cart"});
    EXPECT_EQ(list->currentItem(), sidebar->navItem(NavItem::terminals));

    // The keys move the frame among the screens only.
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(list->currentItem(), sidebar->navItem(NavItem::terminals));
    EXPECT_EQ(list->selectedItems(), QList<QListWidgetItem*>{sidebar->navItem(NavItem::terminals)});
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentItem(), sidebar->navItem(NavItem::sessions));
    EXPECT_EQ(window.selection(), NavItem::sessions);
    EXPECT_EQ(marked(), QStringList{"cart"});
}

} // namespace
