#include "LastPathComponent.h"
#include "PrintTo.h"
#include "TerminalSessionManager.h"

#include <gtest/gtest.h>

using cavrel::TerminalSessionManager;
using Tab = TerminalSessionManager::Tab;

namespace {

TEST(TerminalTabs, TitleIsToolDashFolderName) {
    struct Case {
        QString projectPath;
        QString title;
    };
    const Case cases[] = {
        {"/Users/me/code/api/", "claude \u2014 api"},
        {"/Users/me/code/api", "claude \u2014 api"},
        {"/srv/a b//", "claude \u2014 a b"},
        {"relative", "claude \u2014 relative"},
        {"/", "claude \u2014 /"},
        {"//", "claude \u2014 /"},
        {"", "claude \u2014 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.projectPath.toStdString());
        EXPECT_EQ(Tab(QUuid::createUuid(), "claude", c.projectPath).title, c.title);
    }
}

TEST(TerminalTabs, OpeningAppendsAndActivatesANewTab) {
    TerminalSessionManager manager;
    EXPECT_TRUE(manager.tabs().isEmpty());
    EXPECT_FALSE(manager.activeTabID());

    QStringList seen;
    QObject::connect(&manager, &TerminalSessionManager::tabsChanged,
                     [&] { seen.append("tabs " + QString::number(manager.tabs().size())); });
    QObject::connect(&manager, &TerminalSessionManager::activeTabIDChanged, [&] {
        seen.append(manager.activeTabID() == manager.tabs().last().id ? "active last" : "active ?");
    });

    const Tab first = manager.openTab("claude", "/w/api/");
    const Tab second = manager.openTab("claude", "/w/api/");
    EXPECT_EQ(first.title, second.title);
    EXPECT_NE(first.id, second.id);
    EXPECT_EQ(manager.tabs(), (QList<Tab>{first, second}));
    EXPECT_EQ(manager.activeTabID(), second.id);
    EXPECT_EQ(second.tool, "claude");
    EXPECT_EQ(second.projectPath, "/w/api/");
    EXPECT_EQ(seen, (QStringList{"tabs 1", "active last", "tabs 2", "active last"}));

    // The tab strip may write any identity; it is not checked.
    const QUuid stranger = QUuid::createUuid();
    manager.setActiveTabID(stranger);
    EXPECT_EQ(manager.activeTabID(), stranger);
}

TEST(TerminalTabs, ClosingTheActiveTabActivatesTheLastOne) {
    struct Case {
        const char* name;
        int tabCount;
        int active; // index, or -1 for none
        int closed; // index, or -1 for an identity that names no tab
        QList<int> remaining;
        int expectedActive; // index into the original tabs, or -1 for none
    };
    const Case cases[] = {
        {"active middle tab: the last becomes active, not a neighbour", 3, 1, 1, {0, 2}, 2},
        {"active first tab", 3, 0, 0, {1, 2}, 2},
        {"active last tab", 3, 2, 2, {0, 1}, 1},
        {"a tab that is not active", 3, 1, 0, {1, 2}, 1},
        {"the last tab while the first is active", 3, 0, 2, {0, 1}, 0},
        {"an identity that names no tab", 3, 1, -1, {0, 1, 2}, 1},
        {"the only tab", 1, 0, 0, {}, -1},
        {"with no active tab", 2, -1, 0, {1}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalSessionManager manager;
        QList<Tab> opened;
        for (int i = 0; i < c.tabCount; ++i) {
            opened.append(manager.openTab("codex", "/p" + QString::number(i)));
        }
        manager.setActiveTabID(c.active >= 0 ? std::optional(opened[c.active].id) : std::nullopt);
        int tabSignals = 0;
        QObject::connect(&manager, &TerminalSessionManager::tabsChanged, [&] { ++tabSignals; });

        manager.closeTab(c.closed >= 0 ? opened[c.closed].id : QUuid::createUuid());

        QList<Tab> expected;
        for (int index : c.remaining) {
            expected.append(opened[index]);
        }
        EXPECT_EQ(manager.tabs(), expected);
        EXPECT_EQ(manager.activeTabID(), c.expectedActive >= 0
                                             ? std::optional(opened[c.expectedActive].id)
                                             : std::nullopt);
        EXPECT_EQ(tabSignals, c.closed >= 0 ? 1 : 0);
    }
}

} // namespace
