// What the view does for the program in its terminal and for its host: the bell, titles, focus
// and window-size reports, and opening links.

#include "DiagnosticsCapture.h"
#include "ViewFixture.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

QWidget* visualBellFlash(TerminalView& view) {
    return view.findChild<QWidget*>(QStringLiteral("visualBell"));
}

TEST(Bell, EachStyleRingsItsWay) {
    struct Case {
        BellStyle style;
        bool sound;
        bool flash;
    };
    const Case cases[] = {
        {BellStyle::none, false, false},
        {BellStyle::sound, true, false},
        {BellStyle::visual, false, true},
        {BellStyle::soundAndVisual, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(tagName(c.style).toStdString());
        ViewFixture f;
        f.view().setBellStyle(c.style);
        bool flashBeforeSound = false;
        f.host.onBell = [&] { flashBeforeSound = visualBellFlash(f.view()) != nullptr; };
        f.feed("\a");
        EXPECT_EQ(f.host.calls == std::vector<std::string>{"bell"}, c.sound);
        EXPECT_FALSE(flashBeforeSound) << "the sound comes first";
        QWidget* flash = visualBellFlash(f.view());
        EXPECT_EQ(flash != nullptr, c.flash);
        if (flash != nullptr) {
            EXPECT_EQ(flash->geometry(), f.view().rect()) << "over the whole view";
            // The flash lasts 0.2 s, then it is gone.
            EXPECT_TRUE(QTest::qWaitFor([&] { return visualBellFlash(f.view()) == nullptr; }));
        }
    }
}

TEST(Bell, StylesByTagName) {
    EXPECT_EQ(bellStyleFromTagName("soundAndVisual"), BellStyle::soundAndVisual);
    EXPECT_EQ(bellStyleFromTagName("none"), BellStyle::none);
    EXPECT_EQ(bellStyleFromTagName("Sound"), std::nullopt) << "the display name is no tag";
    EXPECT_EQ(bellStyleFromTagName(""), std::nullopt);
    EXPECT_EQ(displayName(BellStyle::soundAndVisual), "Sound and Visual");
}

TEST(HostOperations, TitlesSetByTheProgramReachTheHost) {
    ViewFixture f;
    f.feed("\x1b]2;make test\x07\x1b]0;vim note.txt\x1b\\\x1b]1;icon only\x07");
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"title make test", "title vim note.txt"}))
        << "an icon title is not the window's";
}

TEST(HostOperations, FocusIsReportedWhenTheProgramAsks) {
    ViewFixture f;
    const auto focus = [&](QEvent::Type type, Qt::FocusReason reason) {
        f.host.clearSent();
        QFocusEvent event(type, reason);
        QCoreApplication::sendEvent(&f.view(), &event);
        return f.host.sent;
    };
    EXPECT_EQ(focus(QEvent::FocusIn, Qt::MouseFocusReason), "");
    EXPECT_TRUE(f.view().terminalHasFocus());
    f.feed("\x1b[?1004h");
    EXPECT_EQ(focus(QEvent::FocusOut, Qt::MouseFocusReason), "\x1b[O");
    EXPECT_FALSE(f.view().terminalHasFocus());
    EXPECT_EQ(focus(QEvent::FocusIn, Qt::TabFocusReason), "\x1b[I");
    // The window going to the back and coming forward is no focus change of the view.
    EXPECT_EQ(focus(QEvent::FocusOut, Qt::ActiveWindowFocusReason), "");
    EXPECT_EQ(focus(QEvent::FocusIn, Qt::ActiveWindowFocusReason), "");
    // With 8-bit controls the report starts with the one-byte CSI.
    f.feed("\x1b G");
    EXPECT_EQ(focus(QEvent::FocusOut, Qt::MouseFocusReason), "\x9bO");
}

TEST(WindowReports, ProgramsLearnTheSizeInCellsAndPixels) {
    ViewFixture f;
    const QSizeF cell = f.view().cellDimension();
    const std::string h = std::to_string(int(cell.height()));
    const std::string w = std::to_string(int(cell.width()));
    const std::string areaH = std::to_string(std::llround(cell.height() * 25));
    const std::string areaW = std::to_string(std::llround(cell.width() * 80));
    struct Case {
        const char* request;
        std::string reply;
    };
    const Case cases[] = {
        {"\x1b[18t", "\x1b[8;25;80t"},
        {"\x1b[14t", "\x1b[4;" + areaH + ";" + areaW + "t"},
        {"\x1b[16t", "\x1b[6;" + h + ";" + w + "t"},
        {"\x1b[8;10;20t", ""}, // a program cannot resize the window
        {"\x1b G\x1b[14t", "\x9b"
                           "4;" +
                               areaH + ";" + areaW + "t"},
        {"\x1b G\x1b[16t", "\x9b"
                           "6;" +
                               h + ";" + w + "t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request + 1);
        f.feed("\x1b F"); // 7-bit replies
        f.host.clearSent();
        f.feed(c.request);
        EXPECT_EQ(f.host.sent, c.reply);
    }
    EXPECT_EQ(f.terminal().cols(), 80);
}

TEST(WindowReports, ResizeRequestsAreLoggedWithoutFloodingOrWaiting) {
    DiagnosticsCapture capture;
    capture.freeze(true); // the whole flood arrives at one instant
    ViewFixture f;
    std::string flood;
    for (int i = 0; i < 100'000; ++i) {
        flood += "\x1b[4;1;1t";
    }
    f.feed(flood);
    // A burst of lines, the rest counted; written through the diagnostics' non-blocking writer,
    // never to a standard output that may be a pipe nobody drains.
    ASSERT_EQ(capture.captured().size(), size_t(DiagnosticSite::burst));
    EXPECT_EQ(capture.captured().front(), "Request to resize to 1x1");

    capture.advance(DiagnosticSite::interval);
    f.feed("\x1b[4;300;400t");
    EXPECT_EQ(capture.captured().size(), size_t(DiagnosticSite::burst) + 2);
    EXPECT_EQ(capture.captured().at(DiagnosticSite::burst),
              "Info: 99990 similar diagnostic lines suppressed");
    EXPECT_EQ(capture.captured().back(), "Request to resize to 400x300");
    EXPECT_EQ(f.terminal().cols(), 80) << "a program cannot resize the window";
}

// Receives the URLs the system would open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

TEST(Links, AHostWithoutItsOwnLinkHandlingOpensThemWithTheSystem) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("main.c"));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    UrlRecorder recorder;
    for (const char* scheme : {"https", "file"}) {
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder, "open");
    }
    ViewFixture f;
    f.host.requestOpenLink(f.view(), QStringLiteral("https://example.com/a?b=c"), {});
    f.host.requestOpenLink(f.view(), source + ":12:3", {});
    f.host.requestOpenLink(f.view(), dir.filePath(QStringLiteral("missing.c")), {});
    for (const char* scheme : {"https", "file"}) {
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    EXPECT_EQ(recorder.opened, (QList<QUrl>{QUrl(QStringLiteral("https://example.com/a?b=c")),
                                            QUrl::fromLocalFile(source)}))
        << "text that names nothing opens nothing";
}

TEST(Links, WhatALinksTextOpens) {
    const QString cwd = QDir::currentPath();
    const QString home = QDir::homePath();
    const auto exists = [&](const QString& path) {
        return path == cwd + "/src/main.c" || path == "src/main.c" || path == "main.c" ||
               path == home + "/notes.txt" || path == "/etc/hosts";
    };
    struct Case {
        const char* link;
        std::optional<QUrl> url;
    };
    const QUrl mainC = QUrl::fromLocalFile(cwd + "/src/main.c");
    const Case cases[] = {
        {"https://example.com/x", QUrl("https://example.com/x")},
        {"mailto:someone@example.com", QUrl("mailto:someone@example.com")},
        {"https://nothing.invalid/", QUrl("https://nothing.invalid/")},
        {"/etc/hosts", QUrl::fromLocalFile("/etc/hosts")},
        {"~/notes.txt", QUrl::fromLocalFile(home + "/notes.txt")},
        {"src/main.c:12", mainC},
        {"src/main.c:12:3", mainC},
        {"src/main.c:12:", std::nullopt},
        {"main.c:7", QUrl::fromLocalFile(cwd + "/main.c")},
        {"no such thing", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_EQ(TerminalView::defaultLinkURL(QString::fromUtf8(c.link), exists), c.url);
    }
}

} // namespace

#include "HostTest.moc"
