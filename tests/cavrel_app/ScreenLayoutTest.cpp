// How the screens lay out what they are given, in a window at its smallest size: texts of any
// length stay inside the lists, and the placeholders' pictures all have one size.

#include "AppTestSupport.h"
#include "ContentUnavailableView.h"
#include "EntryScreen.h"
#include "HubListArea.h"
#include "SessionRow.h"
#include "SessionsView.h"

#include <QFontMetricsF>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace cavrel;
using cavrel::fake::FakeHub;
using cavrel::test::HubWindowFixture;
using cavrel::test::shopURL;
using cavrel::test::waitUntil;

namespace {

// 300 characters in 60 words, and one word of 300 letters: no line breaks inside it at all.
const QString longTitle = QStringLiteral("wrap ").repeated(60).trimmed();
const QString longWord = QStringLiteral("abcdefghij").repeated(30);

// What keeps the list's texts and buttons from being seen whole without scrolling sideways,
// one line per fault; empty when there is none.
QStringList reachProblems(QScrollArea* list) {
    QStringList problems;
    const QWidget* viewport = list->viewport();
    if (list->horizontalScrollBar()->maximum() > 0) {
        problems.append(QStringLiteral("the list scrolls sideways"));
    }
    const auto outside = [viewport](const QWidget* widget) {
        const QRect at(widget->mapTo(viewport, QPoint(0, 0)), widget->size());
        return at.left() < 0 || at.right() >= viewport->width();
    };
    for (const QPushButton* button : list->widget()->findChildren<QPushButton*>()) {
        if (button->isVisibleTo(list) && outside(button)) {
            problems.append(button->text() + QStringLiteral(" is out of reach"));
        }
    }
    for (const QLabel* label : list->widget()->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(list) || label->text().isEmpty()) {
            continue;
        }
        const QString name = label->objectName() + QStringLiteral(" \"") + label->text().left(20) +
                             QStringLiteral("…\"");
        if (outside(label)) {
            problems.append(name + QStringLiteral(" runs past the edge"));
        }
        // Whole: room for at least as many lines as each line of the text needs at this width.
        const QFontMetricsF metrics(label->font(), label);
        const int width = label->contentsRect().width();
        int needed = 0;
        for (const QString& line : label->text().split(u'\n')) {
            needed += qMax(1, int(std::ceil(metrics.horizontalAdvance(line) / width)));
        }
        const int room = int(label->contentsRect().height() / metrics.height());
        if (room < needed) {
            problems.append(name + QStringLiteral(" is cut: room for %1 of %2 lines of %3 pixels")
                                       .arg(room)
                                       .arg(needed)
                                       .arg(width));
        }
    }
    return problems;
}

QScrollArea* listOf(const QWidget* screen) {
    return screen->findChild<HubListArea*>()->findChild<QScrollArea*>("list");
}

// Waits for the layout to settle with nothing out of reach.
::testing::AssertionResult allInReach(const QWidget* screen) {
    QScrollArea* list = listOf(screen);
    if (waitUntil([list] { return reachProblems(list).isEmpty(); }, 2000)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << reachProblems(list).join(QStringLiteral("\n")).toStdString();
}

TEST(ScreenLayout, LongTextsWrapAndEveryRowKeepsItsButtonsAtTheSmallestWindowSize) {
    HubWindowFixture fixture;
    FakeHub& hub = fixture.hub();
    const QString bodyWithWord = "See " + longWord + " before you start.";
    hub.addRecord(
        FakeHub::Kind::Rules, shopURL,
        {{"scope", "project"}, {"title", longTitle}, {"body", bodyWithWord}, {"updated_by", "u"}});
    hub.addRecord(FakeHub::Kind::Rules, shopURL,
                  {{"scope", "project"},
                   {"title", "Short"},
                   {"body", "A body\nof several\nlines"},
                   {"updated_by", "u"}});
    hub.addRecord(FakeHub::Kind::Skills, shopURL,
                  {{"scope", "project"},
                   {"name", longWord},
                   {"description", longTitle},
                   {"body", bodyWithWord},
                   {"updated_by", "u"}});
    hub.addRecord(FakeHub::Kind::Memory, shopURL,
                  {{"scope", "project"}, {"type", longWord}, {"title", longTitle}, {"body", "b"}});
    hub.addRecord(FakeHub::Kind::Memory, shopURL,
                  {{"scope", "project"}, {"type", "user"}, {"title", "t"}, {"body", bodyWithWord}});
    const qint64 session = hub.addRecord(
        FakeHub::Kind::Sessions, shopURL,
        {{"tool", longWord},
         {"source", "watch"},
         {"started_at", "2025-01-05T15:04:05Z"},
         {"ended_at", "2025-01-05T16:00:00Z"},
         {"summary", longTitle},
         {"status", "completed"},
         {"messages",
          QJsonArray{QJsonObject{{"seq", 1}, {"role", "user"}, {"content", longTitle}},
                     QJsonObject{{"seq", 2}, {"role", "assistant"}, {"content", bodyWithWord}}}}});
    fixture.openProject("/work/shop", shopURL);
    ContentView& window = fixture.startedWindow();
    window.resize(window.minimumSize());

    for (const NavItem item : {NavItem::rules, NavItem::skills, NavItem::memory}) {
        SCOPED_TRACE(rawValue(item).toStdString());
        window.setSelection(item);
        auto* screen = qobject_cast<EntryScreen*>(window.hubScreen());
        ASSERT_NE(screen, nullptr);
        ASSERT_TRUE(waitUntil([screen] { return !screen->isLoading(); }));
        ASSERT_FALSE(screen->rows().isEmpty());
        EXPECT_TRUE(allInReach(screen));
    }

    window.setSelection(NavItem::sessions);
    auto* sessions = qobject_cast<SessionsView*>(window.hubScreen());
    ASSERT_NE(sessions, nullptr);
    ASSERT_TRUE(waitUntil([sessions] { return !sessions->isLoading(); }));
    sessions->setExpanded(session, true);
    ASSERT_TRUE(waitUntil([sessions] {
        return !sessions->rows().isEmpty() && sessions->rows().first()->showsTranscript();
    }));
    EXPECT_TRUE(allInReach(sessions));
}

// The non-transparent part of a picture.
QRect inkedBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

TEST(ScreenLayout, EveryPlaceholderPictureHasOneSize) {
    // The symbols of the window's, the Agents screen's and the hub screens' placeholders.
    const char* symbols[] = {"tray",
                             "exclamationmark.triangle",
                             "terminal",
                             "clock.arrow.circlepath",
                             "list.bullet.clipboard",
                             "wrench.and.screwdriver",
                             "brain"};
    for (const char* symbol : symbols) {
        SCOPED_TRACE(symbol);
        ContentUnavailableView placeholder(QStringLiteral("Nothing here"), symbol);
        const auto* picture = placeholder.findChild<QLabel*>(QStringLiteral("symbol"));
        ASSERT_NE(picture, nullptr);
        const QPixmap pixmap = picture->pixmap();
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(48, 48))
            << pixmap.deviceIndependentSize().width() << "x"
            << pixmap.deviceIndependentSize().height();
        // Drawn across the picture, not a small image in a large transparent square.
        const QRect inked = inkedBounds(pixmap.toImage());
        const qreal extent = qMax(inked.width(), inked.height()) / pixmap.devicePixelRatio();
        EXPECT_GE(extent, 40) << "inked " << inked.width() << "x" << inked.height();
    }
}

} // namespace
