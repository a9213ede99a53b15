#pragma once

// An agent tab on a real X server and a user at it: key presses and clicks go to the X server
// (XTest, through xdotool), reach the window with the input focus and pass through the
// platform's events and the terminal view to the programs in the tab. What they did is read
// back from the screen and from files the programs write.

#include "AgentTabOnX11.h"
#include "SidebarView.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>

namespace cavrel::test {

class UserOnX11 : public AgentTabOnX11 {
protected:
    // Opens the tab with `shell` and gives its terminal the keyboard focus.
    void openFocusedTab(const QByteArray& shell) {
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            << "xdotool presses the keys (scripts/setup installs it)";
        ASSERT_NO_FATAL_FAILURE(openAgentTab(shell));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        terminal().setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == &terminal(); }));
    }

    // Opens vim on `file` in the focused tab by keys alone. No user settings, no swap file, no
    // history file: only the keys decide what it does.
    void openEditor(const QString& file) {
        type(QStringLiteral("vim -u NONE -N -i NONE -n ") + file);
        keys({"Return"});
        ASSERT_TRUE(waitUntil([&] { return terminal().terminal().isCurrentBufferAlternate(); }))
            << screen().toStdString();
    }

    // Presses keys on the X server: `xdotool key` names ("ctrl+w", "Home") or `xdotool type`
    // text. The events queue in the server in order; the application reads them afterwards.
    static void xdotool(const QString& command, const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("xdotool"),
                      QStringList{command, QStringLiteral("--delay"), QStringLiteral("20")} +
                          arguments);
        ASSERT_TRUE(process.waitForFinished(60'000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    static void keys(const QStringList& names) { xdotool(QStringLiteral("key"), names); }
    static void type(const QString& text) { xdotool(QStringLiteral("type"), {text}); }
    // `count` quick clicks of a mouse button (1 the first, 2 the middle one) at `point` of
    // `widget`, on the X server.
    static void click(const QWidget* widget, const QPoint& point, int count = 1, int button = 1) {
        const QPoint at = widget->mapToGlobal(point);
        QProcess process;
        process.start(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(at.x()),
                       QString::number(at.y()), QStringLiteral("click"), QStringLiteral("--repeat"),
                       QString::number(count), QStringLiteral("--delay"), QStringLiteral("60"),
                       QString::number(button)});
        ASSERT_TRUE(process.waitForFinished(60'000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    void clickSidebar(NavItem item) {
        QListWidget* list = window->sidebar()->list();
        click(list->viewport(), list->visualItemRect(window->sidebar()->navItem(item)).center());
    }

    QString screen() {
        veldatron::LocalProcessTerminalView* shown = shownTerminal();
        return shown ? terminalText(*shown) : QStringLiteral("(no terminal shown)");
    }

    // Waits for the screen to show `text` (or no longer show it).
    ::testing::AssertionResult waitForScreen(const QString& text, bool shown = true) {
        if (waitUntil([&] { return screen().contains(text) == shown; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << (shown ? "never showed \"" : "still shows \"") << text.toStdString() << "\":\n"
               << screen().toStdString();
    }

    ::testing::AssertionResult waitForFile(const QString& name, const QByteArray& contents) {
        QFile file(QDir(project).filePath(name));
        const auto read = [&] {
            if (!file.open(QIODevice::ReadOnly)) {
                return QByteArray();
            }
            const QByteArray data = file.readAll();
            file.close();
            return data;
        };
        if (waitUntil([&] { return read() == contents; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << name.toStdString() << " holds \"" << read().toStdString() << "\"; the screen:\n"
               << screen().toStdString();
    }
};

} // namespace cavrel::test
