// Saves a PNG of every screen of the application window at 1280×800, for a person to look at
// the layout: the window runs against the in-process fake hub with its demo records, on a
// throw-away git repository with an origin remote.
//
//   cavrel-app-screenshots <output folder>
//
// scripts/screenshot runs it under Xvfb; CTest runs it offscreen so that it keeps working.
// Exits non-zero when a screen never reached the state it is photographed in.

#include "AppState.h"
#include "ContentView.h"
#include "EditEntrySheet.h"
#include "EntryScreen.h"
#include "FakeHub.h"
#include "HubStatusBanner.h"
#include "HubTestSupport.h"
#include "LocalProcessTerminalView.h"
#include "SessionRow.h"
#include "SessionsView.h"
#include "SidebarView.h"
#include "TerminalViewFactory.h"
#include "ToolbarButtonsView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace cavrel;

namespace {

// Lets layouts, deferred deletions and repaints settle before a picture is taken.
void settle() {
    QDeadlineTimer deadline(150);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Whether the shown agent terminal has printed its prompt after the typed command.
bool shellPrompted(ContentView& window) {
    auto* view = window.findChild<veldatron::LocalProcessTerminalView*>();
    if (view == nullptr) {
        return false;
    }
    veldatron::Buffer& buffer = view->terminal().buffer();
    int prompts = 0;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const std::u32string line =
            view->terminal().translateBufferLineToString(buffer, row, 0, -1);
        if (line.rfind(U"shop$ ", 0) == 0) {
            ++prompts;
        }
    }
    return prompts >= 2;
}

// Whether the shown agent terminal has printed a line that starts with `marker`.
bool terminalPrinted(ContentView& window, const std::u32string& marker) {
    auto* view = window.findChild<veldatron::LocalProcessTerminalView*>();
    if (view == nullptr) {
        return false;
    }
    veldatron::Buffer& buffer = view->terminal().buffer();
    for (int row = 0; row < buffer.lines().count(); ++row) {
        if (view->terminal().translateBufferLineToString(buffer, row, 0, -1).rfind(marker, 0) ==
            0) {
            return true;
        }
    }
    return false;
}

// A test picture: a sky-to-grass gradient with a sun, a red square and a striped bar, with
// transparent corners, so that scaling, colours and transparency all show.
bool writeTestPicture(const QString& path) {
    QImage picture(320, 200, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 200);
    sky.setColorAt(0, QColor(40, 110, 230));
    sky.setColorAt(0.65, QColor(170, 210, 250));
    sky.setColorAt(0.66, QColor(60, 170, 70));
    sky.setColorAt(1, QColor(20, 100, 30));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(0, 0, 320, 200), 30, 30);
    painter.setBrush(QColor(255, 210, 40));
    painter.drawEllipse(QPointF(250, 50), 28, 28);
    painter.setBrush(QColor(220, 30, 30));
    painter.drawRect(QRectF(40, 95, 60, 60));
    for (int i = 0; i < 8; ++i) {
        painter.setBrush(i % 2 == 0 ? QColor(250, 250, 250) : QColor(20, 20, 20));
        painter.drawRect(QRectF(130 + i * 20, 150, 20, 20));
    }
    painter.end();
    return picture.save(path);
}

bool git(const QStringList& arguments) {
    QProcess process;
    process.setProgram(QStringLiteral("git"));
    process.setArguments(arguments);
    process.start();
    return process.waitForFinished(10'000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

class Shooter {
public:
    Shooter(ContentView& window, QString folder) : m_window(window), m_folder(std::move(folder)) {}

    // The window with any open sheet or alert drawn where it sits over the window.
    bool shoot(const QString& name) {
        settle();
        QPixmap picture = m_window.grab();
        QPainter painter(&picture);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget != &m_window && widget->isVisible() && widget->isWindow() &&
                qobject_cast<QDialog*>(widget)) {
                // Framed, as a window manager would; grab() leaves a dialog's own background out.
                const QRect at(widget->geometry().topLeft() - m_window.geometry().topLeft(),
                               widget->size());
                painter.fillRect(at, widget->palette().color(QPalette::Window));
                painter.drawPixmap(at.topLeft(), widget->grab());
                painter.setPen(widget->palette().color(QPalette::Dark));
                painter.drawRect(at.adjusted(0, 0, -1, -1));
            }
        }
        painter.end();
        const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
        if (!picture.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
        return true;
    }

private:
    ContentView& m_window;
    QString m_folder;
};

// A title of about 200 characters with blanks, and a path of about 290 characters without any:
// text that must wrap at the width there is, inside the word where nothing else will do.
const QString longTitle = QStringLiteral(
    "Before touching anything under the vendored third-party folders, read the notes the "
    "maintainers keep beside them, ask on the team channel, and record the reason for the change "
    "in the commit message");
QString longPath() {
    QString path = QStringLiteral("/home/builder/checkouts/shop");
    while (path.size() < 270) {
        path += QStringLiteral("/generated_sources_for_the_payment_service");
    }
    return path + QStringLiteral("/index.ts");
}

// Entries with the long title and the long word, after the demo records of the project.
void addLongEntries(fake::FakeHub& hub, const QString& project) {
    hub.addRecord(fake::FakeHub::Kind::Rules, project,
                  {{"scope", "project"},
                   {"title", longTitle},
                   {"body", "Short body under a long title."},
                   {"updated_by", "demo"}});
    hub.addRecord(fake::FakeHub::Kind::Rules, project,
                  {{"scope", "project"},
                   {"title", "Leave generated code alone"},
                   {"body", "Never edit " + longPath() + " by hand; run the generator instead."},
                   {"updated_by", "demo"}});
}

// A session whose transcript holds the long word, listed before the demo sessions.
qint64 addLongSession(fake::FakeHub& hub, const QString& project) {
    return hub.addRecord(
        fake::FakeHub::Kind::Sessions, project,
        {{"tool", "claude"},
         {"source", "watch"},
         {"started_at", "2025-01-07T10:00:00Z"},
         {"ended_at", "2025-01-07T10:20:00Z"},
         {"summary", "Regenerated the payment client."},
         {"status", "completed"},
         {"messages",
          QJsonArray{QJsonObject{{"seq", 1}, {"role", "user"}, {"content", "Regenerate it."}},
                     QJsonObject{{"seq", 2},
                                 {"role", "assistant"},
                                 {"content", "Wrote " + longPath() + " and its test."}}}}});
}

bool fail(const char* what) {
    std::fprintf(stderr, "cavrel-app-screenshots: %s\n", what);
    return false;
}

bool run(const QString& output) {
    QTemporaryDir home;
    if (!home.isValid() || !QDir().mkpath(output)) {
        return fail("no temporary or output folder");
    }
    qputenv("HOME", QFile::encodeName(home.path()));
    // A Retry at the end must fail quickly and start nothing that stays.
    qputenv("CAVREL_BINARY", "/bin/true");
    // The agent tabs run a real login shell: a plain one, with a prompt of its own.
    qputenv("SHELL", "/bin/sh");
    QFile profile(home.filePath(QStringLiteral(".profile")));
    if (!profile.open(QIODevice::WriteOnly) || profile.write("PS1='shop$ '\n") < 0) {
        return fail("cannot write the shell profile");
    }
    profile.close();

    fake::FakeHub hub({QStringLiteral("demo-token")});
    hub.setDemoMode(true);
    if (!hub.listen()) {
        return fail("the fake hub cannot listen");
    }
    QDir().mkpath(home.filePath(QStringLiteral(".cavrel")));
    QFile config(home.filePath(QStringLiteral(".cavrel/config.yaml")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(
            CavrelHubManager::configText(
                {hub.port(), home.filePath(QStringLiteral(".cavrel/cavrel.db")), hub.token()})
                .toUtf8()) < 0) {
        return fail("cannot write the hub configuration");
    }
    config.close();

    const QString shop = home.filePath(QStringLiteral("work/shop"));
    const QString scratch = home.filePath(QStringLiteral("work/scratch"));
    QDir().mkpath(shop);
    QDir().mkpath(scratch);
    if (!git({QStringLiteral("init"), QStringLiteral("-q"), shop}) ||
        !git({QStringLiteral("-C"), shop, QStringLiteral("remote"), QStringLiteral("add"),
              QStringLiteral("origin"), QStringLiteral("https://example.invalid/team/shop.git")})) {
        return fail("git cannot make the demo repository");
    }

    AppState::Setup setup;
    setup.defaults = std::make_unique<QSettings>(home.filePath(QStringLiteral("settings.conf")),
                                                 QSettings::IniFormat);
    setup.hubTiming.probePause = std::chrono::milliseconds(10);
    AppState appState(std::move(setup));

    WindowServices services;
    services.pickFolder = [](QWidget*) { return std::nullopt; };
    services.terminalViewFactory = std::make_shared<LocalProcessTerminalViewFactory>();
    services.cavrelBinaryPath = [] { return QStringLiteral("/usr/local/bin/cavrel"); };
    ContentView window(appState, services);
    window.resize(1280, 800);
    window.show();
    Shooter shooter(window, output);
    if (!cavrel::test::waitUntil([&] { return appState.apiClient().has_value(); })) {
        return fail("the window never reached the fake hub");
    }

    bool ok = shooter.shoot(QStringLiteral("01-agents-no-project"));
    window.setSelection(NavItem::rules);
    ok = shooter.shoot(QStringLiteral("02-no-project-selected")) && ok;
    appState.projectStore().openProject(scratch);
    ok = shooter.shoot(QStringLiteral("03-no-git-remote")) && ok;

    appState.projectStore().openProject(shop);
    window.setSelection(NavItem::terminals);
    window.toolbar()->buttons().at(0)->click();
    window.toolbar()->buttons().at(1)->click();
    // The shell prints its prompt after the typed command has failed (no such program here).
    QDeadlineTimer promptDeadline(5000);
    while (!promptDeadline.hasExpired() && !shellPrompted(window)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ok = shooter.shoot(QStringLiteral("04-agents")) && ok;

    // Inline images in the agent tab: the test picture through chafa (kitty graphics) and
    // img2sixel (sixel), under a progress report of 40 per cent.
    const QString picture = home.filePath(QStringLiteral("picture.png"));
    if (!writeTestPicture(picture)) {
        return fail("cannot write the test picture");
    }
    if (auto* view = window.findChild<veldatron::LocalProcessTerminalView*>()) {
        view->send(QStringLiteral("clear; printf '\\033]9;4;1;40\\033\\\\'; "
                                  "chafa -f kitty --size 30x9 %1; img2sixel -w 240 %1; "
                                  "echo images-shown\n")
                       .arg(picture));
    }
    QDeadlineTimer imagesDeadline(10000);
    while (!imagesDeadline.hasExpired() && !terminalPrinted(window, U"images-shown")) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (!terminalPrinted(window, U"images-shown")) {
        return fail("the images never showed in the agent tab");
    }
    ok = shooter.shoot(QStringLiteral("terminal-images")) && ok;

    const QString shopURL = QStringLiteral("https://example.invalid/team/shop.git");
    const qint64 longSession = addLongSession(hub, shopURL);
    window.setSelection(NavItem::sessions);
    auto* sessions = qobject_cast<SessionsView*>(window.hubScreen());
    if (!sessions || !cavrel::test::waitUntil([&] { return !sessions->isLoading(); }) ||
        sessions->rows().isEmpty()) {
        return fail("the sessions never loaded");
    }
    // The first demo session, with its transcript.
    const QList<SessionRow*> rows = sessions->rows();
    const auto demo = std::find_if(
        rows.begin(), rows.end(), [&](SessionRow* row) { return row->sessionID() != longSession; });
    if (demo == rows.end()) {
        return fail("the demo sessions are missing");
    }
    sessions->setExpanded((*demo)->sessionID(), true);
    if (!cavrel::test::waitUntil([&] { return sessions->detail().has_value(); })) {
        return fail("the transcript never loaded");
    }
    ok = shooter.shoot(QStringLiteral("05-sessions")) && ok;
    sessions->setExpanded(longSession, true);
    if (!cavrel::test::waitUntil([&] { return sessions->detail().has_value(); })) {
        return fail("the long transcript never loaded");
    }
    ok = shooter.shoot(QStringLiteral("05-sessions-long-word")) && ok;

    addLongEntries(hub, shopURL);

    const std::pair<NavItem, const char*> entryScreens[] = {{NavItem::rules, "06-rules"},
                                                            {NavItem::skills, "07-skills"},
                                                            {NavItem::memory, "08-memory"}};
    for (const auto& [item, name] : entryScreens) {
        window.setSelection(item);
        auto* screen = qobject_cast<EntryScreen*>(window.hubScreen());
        if (!screen || !cavrel::test::waitUntil([&] { return !screen->isLoading(); })) {
            return fail("an entry screen never loaded");
        }
        ok = shooter.shoot(QString::fromLatin1(name)) && ok;
        if (item == NavItem::rules) {
            // The long entries where they are hardest to fit: at the window's smallest size.
            window.resize(window.minimumSize());
            ok = shooter.shoot(QStringLiteral("06-rules-smallest-window")) && ok;
            window.resize(1280, 800);
        }
        screen->edit(screen->entries().value(0));
        ok = shooter.shoot(QString::fromLatin1(name) + QStringLiteral("-edit")) && ok;
        screen->editSheet()->reject();
        cavrel::test::waitUntil([&] { return !screen->editSheet(); });
    }

    window.setSelection(NavItem::rules);
    auto* rules = qobject_cast<EntryScreen*>(window.hubScreen());
    if (!rules || !cavrel::test::waitUntil([&] { return !rules->isLoading(); })) {
        return fail("the rules never loaded");
    }
    // A failed start keeps the client it had: the screen stays under the banner.
    hub.close();
    window.banner()->retryButton()->click();
    if (!cavrel::test::waitUntil([&] { return window.banner()->isVisible(); })) {
        return fail("the banner never showed");
    }
    ok = shooter.shoot(QStringLiteral("09-hub-failed")) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Cavrel"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: cavrel-app-screenshots <output folder>\n");
        return 2;
    }
    return run(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
